/*
 * The host program's own set-up inside the test (AzApp with the shipped
 * module, on the shared host fixture, a folder for what a run writes under
 * the build folder, so that the pictures can be looked at), run as a user
 * runs it.
 *
 * A session on the panel over two 4-D phantom studies entering at their
 * third time point, with a second copy of the module loaded beside the
 * host's: the first click waits while the interface is locked; the second
 * study picked in the list, the Oblique direction switched on, the angles
 * set on the valuators, the slices scrolled, "Update DB" pressed.  The
 * frames the worker leaves are checked pixel by pixel against grey levels
 * worked out here from the phantom's formula; strokes painted on both
 * directions are saved and read back at the world position where they were
 * painted; the module is unloaded only after its last worker ended and
 * loads afresh.
 *
 * The sample brain re-sliced with its atlas, the cut and its tags exported
 * and read back with the host's NIfTI reader: at sampled world points
 * inside the brain the cut shows the brain's grey level there, and its tags
 * are the atlas's labels.
 */
#include <dlfcn.h>
#include <math.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "hostapp/lib/az_labels.h"
#include "hostapp/lib/az_read.h"
#include "hostapp/lib/az_session.h"
#include "hostlib/tools/az_tools.h"
#include "hostlib/win32/az_win.h"
#include "oblique/oblique_geometry.h"
#include "tests/support/host_steps.h"
#include "tests/support/host_test.h"

class App_Test : public Host_Test {
  protected:
    void TearDown() override
    {
        AzApp_Stop(&app);
        Host_Test::TearDown();
    }
    /* The host started with the shipped module, console at errors only, a
     * 4-D study entering at time_point. */
    bool Start(int time_point = 0)
    {
        AzApp_Options options;
        options.module_path = AZ_MODULE_PATH;
        options.console_level = 2;
        options.time_point = time_point;
        return AzApp_Start(&app, options) == AZ_EXIT_OK;
    }
    /* "" when the session's text ran, else the reason. */
    std::string Session(const std::string &text, const std::string &name = "test")
    {
        std::string error;
        return AzApp_Session(&app, text, name, &error) == AZ_EXIT_OK ? "" : error;
    }
    AzApp app;
};

namespace {

/* AZ_BUILD_DIR/integration/NAME, made afresh; "" when it cannot be. */
std::string Output_Folder(const std::string &name)
{
    std::filesystem::path folder = std::filesystem::path(AZ_BUILD_DIR) / "integration" / name;
    std::error_code error;
    std::filesystem::remove_all(folder, error);
    return std::filesystem::create_directories(folder, error) ? folder.string() : "";
}

/* The label value at a world point of a label volume read back: its
 * affine inverted here (Cramer's rule by cross products), nearest voxel;
 * -1 outside. */
int Value_At(const AzLabels &labels, AzVec3 world)
{
    const double (*a)[4] = labels.affine;
    AzVec3 col[3], d = {world.x - a[0][3], world.y - a[1][3], world.z - a[2][3]};
    for (int c = 0; c < 3; c++)
        col[c] = {a[0][c], a[1][c], a[2][c]};
    int v[3];
    for (int c = 0; c < 3; c++)
        v[c] = static_cast<int>(floor(AzVec3_Dot(d, AzVec3_Cross(col[(c + 1) % 3], col[(c + 2) % 3])) /
                                          AzVec3_Dot(col[0], AzVec3_Cross(col[1], col[2])) + 0.5));
    if (v[0] < 0 || v[1] < 0 || v[2] < 0 || v[0] >= labels.width || v[1] >= labels.height || v[2] >= labels.depth)
        return -1;
    return labels.values[labels.tags[(static_cast<size_t>(v[2]) * labels.height + v[1]) * labels.width + v[0]]];
}

const int grey_outside = 2147483646;

/* Bilinear in frame f's plane from the phantom's values; the far edge reads the last column or row. */
int Study_Grey(const AzPhantom_Plan &plan, int t, double column, double row, double frame)
{
    int f = static_cast<int>(frame); // toward zero: -0.5 is still frame 0
    if (!(frame > -1.0) || f >= plan.slices || !(column >= 0.0 && column <= plan.width) ||
        !(row >= 0.0 && row <= plan.height))
        return grey_outside;
    int x0 = std::min(static_cast<int>(column), plan.width - 1), y0 = std::min(static_cast<int>(row), plan.height - 1);
    int x1 = std::min(x0 + 1, plan.width - 1), y1 = std::min(y0 + 1, plan.height - 1);
    double fx = column - x0, fy = row - y0;
    double top = AzPhantom_GLI(plan, x0, y0, f, t) * (1 - fx) + AzPhantom_GLI(plan, x1, y0, f, t) * fx;
    double bottom = AzPhantom_GLI(plan, x0, y1, f, t) * (1 - fx) + AzPhantom_GLI(plan, x1, y1, f, t) * fx;
    return static_cast<int>(floor(top * (1 - fy) + bottom * fy + 0.5));
}

/* Every pixel of a few frames (first, last, between) against the grey
 * levels a point within float rounding of the mapping may show: the grid
 * and mapping the geometry gives the panel's angles (its own table checks
 * them), the levels the phantom's formula. */
void Frames_Expect(const AzPhantom_Plan &plan, int t, double alpha, double beta, Kelvra_Class *oblique)
{
    const Oblique_Dim study = {plan.width, plan.height, plan.slices};
    const Vect voxel(plan.spacing[0], plan.spacing[1], plan.spacing[2]);
    Matrix_4x4 turn = Oblique_Rotation(static_cast<float>(alpha), static_cast<float>(beta), 0.0f);
    Oblique_Grid g = Oblique_Grid_Rotate(study, voxel, turn);
    Matrix_4x4 mapping = Oblique_Matrix_Rotate(study, voxel, turn, g.voxel, g.corner);
    ASSERT_EQ(g.dim.z, oblique->Child_Get_Nb());
    const double e = 2e-3;
    int last = g.dim.z - 1;
    long checked = 0, ambiguous = 0, inside_middle = 0;
    for (int s : {0, 1, last / 3, last / 2, last - 1, last}) {
        AzFrame *frame = AzFrame_Cast(oblique->Child_Get_Pt(s));
        int width = 0, height = 0;
        ASSERT_EQ(1, AzFrame_Get_Dim(frame, &width, &height));
        ASSERT_EQ(Dim_Text(g.dim), Dim_Text({width, height, g.dim.z}));
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++) {
                Vect p(static_cast<float>(x), static_cast<float>(y), static_cast<float>(s));
                p *= mapping;
                std::set<int> expected;
                for (int n = 0; n < 27; n++)
                    expected.insert(Study_Grey(plan, t, p.x + (n % 3 - 1) * e, p.y + (n / 3 % 3 - 1) * e,
                                               p.z + (n / 9 - 1) * e));
                int grey = AzFrame_Get_GLI(frame, static_cast<float>(x), static_cast<float>(y));
                ASSERT_TRUE(expected.count(grey)) << "frame " << s << " pixel " << x << ", " << y << ": " << grey
                                                  << " where " << *expected.begin() << " was expected";
                checked++;
                ambiguous += expected.size() > 1;
                inside_middle += s == last / 2 && grey != grey_outside;
            }
    }
    EXPECT_LT(ambiguous * 10, checked) << ambiguous << " of " << checked;
    EXPECT_GT(inside_middle * 2, g.dim.x * g.dim.y) << inside_middle;
}

/* A widget's value, the widget found as a session names it. */
template <class Widget> float Value_Of(HWND panel, const char *name)
{
    return dynamic_cast<Widget *>(AzSession_Widget(panel, name))->value;
}

const char brain_path[] = "/usr/share/mricron/templates/ch2.nii.gz";
const char atlas_path[] = "/usr/share/mricron/templates/aal.nii.gz";
const int samples_wanted = 400;

/* A volume read back: frames in location order with their world geometry. */
struct Grid {
    AzSeries s;
    int W() const { return s.width; }
    int H() const { return s.height; }
    int D() const { return static_cast<int>(s.frames.size()); }
    /* World point -> continuous voxel (column, row, frame in location order). */
    void Voxel_Of(AzVec3 world, double v[3]) const
    {
        AzVec3 d = AzVec3_Sub(world, s.frames[0].position), axis[3] = {s.axis_row, s.axis_col, s.axis_normal};
        for (int i = 0; i < 3; i++)
            v[i] = AzVec3_Dot(d, axis[i]) / s.spacing[i];
    }
    AzVec3 World_Of(int x, int y, int k) const
    {
        return AzVec3_Add(s.frames[k].position, AzVec3_Add(AzVec3_Scale(s.axis_row, x * s.spacing[0]),
                                                           AzVec3_Scale(s.axis_col, y * s.spacing[1])));
    }
    int Grey(int x, int y, int k) const { return s.frames[k].gli[static_cast<size_t>(y) * W() + x]; }
    double Grey_At(double x, double y, int k) const // bilinear in frame k's plane
    {
        int x0 = std::min(static_cast<int>(x), W() - 2), y0 = std::min(static_cast<int>(y), H() - 2);
        double fx = x - x0, fy = y - y0;
        return (Grey(x0, y0, k) * (1 - fx) + Grey(x0 + 1, y0, k) * fx) * (1 - fy) +
               (Grey(x0, y0 + 1, k) * (1 - fx) + Grey(x0 + 1, y0 + 1, k) * fx) * fy;
    }
};

} // namespace

TEST_F(App_Test, ASessionOverTwoStudiesLocksTurnsPaintsAndUnloadsAfterItsWorker)
{
    std::string folder = Output_Folder("session"), at = folder + "/";
    ASSERT_FALSE(folder.empty());
    // A second copy of the module in the process must not take the module's own calls.
    ASSERT_EQ(0, system(("cp '" + std::string(AZ_MODULE_PATH) + "' '" + at + "other_copy.so'").c_str()));
    void *other = dlopen((at + "other_copy.so").c_str(), RTLD_NOW | RTLD_GLOBAL);
    ASSERT_NE(nullptr, other) << dlerror();
    AzPhantom_Plan first = Plan_Of("First", 20, 18, 8), second = Plan_Of("Second", 30, 24, 14, 1.0f, 1.25f, 2.0f);
    // Sizes and steps that differ on every axis, so that no two axes can be mistaken.
    first.times = 2; // one short of the time point asked for
    ASSERT_TRUE(Start(2));
    EXPECT_EQ(AZ_EXIT_INPUT, AzApp_Load_Built(&app, first, "phantom one"));
    EXPECT_TRUE(app.studies.empty());
    EXPECT_EQ((std::vector<Console_Line>{{2, "phantom one: no time point 2: the study has 2 time point(s)"}}),
              console.Lines());
    first.times = second.times = 3;
    ASSERT_EQ(AZ_EXIT_OK, AzApp_Load_Built(&app, first, "phantom one"));
    ASSERT_EQ(AZ_EXIT_OK, AzApp_Load_Built(&app, second, "phantom two"));
    ASSERT_EQ("", Session("open\nsave-panel " + at + "1-open.png\n"));

    // Locked: waits give up at once; the click reaches the panel only after the lock dropped (a thread
    // stands for the worker ending, noting whether the click came before).
    Buttons *watched = dynamic_cast<Buttons *>(AzTools_Find(app.panel_window, "Dir. Oblique"));
    ASSERT_TRUE(watched && watched->selected == 0);
    __atomic_store_n(AzDb_Lock_Focus(), 1, __ATOMIC_RELEASE);
    EXPECT_EQ(1, AzApp_Interface_Locked());
    EXPECT_EQ(0, AzApp_Input_Wait(&app, 0));
    EXPECT_EQ(0, AzApp_Wait(&app, 0)) << "a locked host is not idle";
    int selected_at_unlock = -1;
    std::thread worker([&] {
        Sleep(200);
        selected_at_unlock = watched->selected;
        __atomic_store_n(AzDb_Lock_Focus(), 0, __ATOMIC_RELEASE);
    });
    EXPECT_EQ("", Session("click \"Dir. Oblique\"\n"));
    worker.join();
    EXPECT_EQ(0, selected_at_unlock) << "the click was delivered while the interface was locked";
    EXPECT_EQ(1, watched->selected);
    EXPECT_EQ(0, AzApp_Interface_Locked());
    EXPECT_EQ(0, AzApp_Study_Current(&app));

    // The wheel over the list moves to the next study and back (the panel's current class is then a
    // direction the list did not start on); a click on its right arrow moves on again.
    for (const auto &step : std::vector<std::pair<const char *, int>>{
             {"wheel -1 \"Current Oblique\"", 1}, {"wheel 1 \"Current Oblique\"", 0},
             {"wheel 1 \"Current Oblique\"", 0}, {"click \"Current Oblique\" 0.98 0.5", 1}}) {
        ASSERT_EQ("", Session(std::string(step.first) + "\n"));
        ASSERT_EQ(step.second, AzApp_Study_Current(&app)) << step.first;
    }
    // The Oblique direction switched on; the angles from the valuators, by a click and by a drag.
    ASSERT_EQ("", Session("save-panel " + at + "2-second.png\nclick \"Dir. Oblique\"\nclick \"On/Off\"\n"
                          "click rot-x-left 0.5 0.3\ndrag rot-y-top 0.5 0.5 rot-y-top 0.7 0.5 5\n"
                          "save-panel " + at + "3-turned.png\n"));
    double alpha = Value_Of<Valuators>(app.panel_window, "rot-x-left");
    double beta = Value_Of<Valuators>(app.panel_window, "rot-y-top");
    EXPECT_EQ(alpha, Value_Of<Valuators>(app.panel_window, "rot-x-right")) << "each pair moves together";
    EXPECT_EQ(beta, Value_Of<Valuators>(app.panel_window, "rot-y-bottom"));
    EXPECT_GT(fabs(alpha), 0.2) << alpha; // both turns count
    EXPECT_GT(fabs(beta), 0.2) << beta;
    // The wheel over the preview scrolls the slices.
    float slice_before = Value_Of<Sliders>(app.panel_window, "Demo Frame");
    ASSERT_EQ("", Session("wheel -3 preview\nsave-panel " + at + "4-scrolled.png\n"));
    EXPECT_EQ(slice_before + 3.0f, Value_Of<Sliders>(app.panel_window, "Demo Frame"));
    ASSERT_EQ("", Session("click \"Update DB\"\nwait 120\nsave-panel " + at + "5-applied.png\nslice middle\n"
                          "save-panel " + at + "6-middle.png\n"));
    // Only the second study was applied, at the time point it entered.
    Kelvra_Class *original = AzApp_Direction(&app, 1, 0), *oblique = AzApp_Direction(&app, 1, 1);
    EXPECT_EQ(0, AzApp_Direction(&app, 0, 1)->Child_Get_Nb());
    EXPECT_EQ(first.slices, AzApp_Direction(&app, 0, 0)->Child_Get_Nb());
    ASSERT_EQ(second.slices, original->Child_Get_Nb()); // one frame per slice
    for (int n = 0; n < second.slices; n++)
        EXPECT_EQ(2, AzFrame_Cast(original->Child_Get_Pt(n))->t) << n;
    EXPECT_EQ(0u, Fct_Group_Test(original));
    Frames_Expect(second, 2, alpha, beta, oblique);

    // A disc on an oblique frame and a stroke across three slices of the Original direction.
    int n = oblique->Child_Get_Nb() / 2;
    ASSERT_EQ("", Session("paint oblique " + std::to_string(n) + " 10 8 2 200\n"
                          "paint original 6 22 16 2 201\npaint original 7 22 16 2 201\n"
                          "paint original 8 22 16 2 201\n"
                          "save-tags \"" + at + "study.nii.gz\" \"" + at + "oblique.nii.gz\"\n", "paint"));
    EXPECT_EQ(0, AzTags_Unsaved());
    Vect p = AzFrame_Get_Pos(AzFrame_Cast(oblique->Child_Get_Pt(n)), 10.0f, 8.0f);
    Vect q = AzFrame_Get_Pos(AzFrame_Cast(original->Child_Get_Pt(7)), 22.0f, 16.0f);
    AzVec3 on_oblique = {p.x, p.y, p.z}, on_original = {q.x, q.y, q.z};
    // Painting off the frame or with an unknown region stops the session with the reason.
    EXPECT_EQ("bad:1: nothing painted: (500, 40) lies off frame 2 of \"Second (dir:Oblique)\"",
              Session("paint oblique 2 500 40 1 7\n", "bad"));
    EXPECT_EQ("bad:1: no region is named \"Cortex\"", Session("paint oblique 2 5 5 1 Cortex\n", "bad"));
    for (const char *name : {"study.nii.gz", "oblique.nii.gz"}) {
        AzLabels saved;
        AzLoad_Report report;
        ASSERT_EQ(1, AzNifti_Read_Labels(at + name, &saved, &report)) << name;
        EXPECT_EQ(200, Value_At(saved, on_oblique)) << name;
        EXPECT_EQ(201, Value_At(saved, on_original)) << name;
        EXPECT_TRUE(std::filesystem::is_regular_file(AzTags_Beside(at + name, ".lut"))) << name;
    }

    // The angles of a session's rotate; without a progress window the worker's only posts are its updates
    // and redraws, the last ones made after it cleared the lock byte: the host's stop waits for it.
    ASSERT_EQ("", Session("rotate 20 -15\n"));
    EXPECT_NEAR(20.0, Value_Of<Valuators>(app.panel_window, "rot-x-left") * 180.0 / M_PI, 0.62)
        << "half a step of a 150-pixel valuator";
    AzHost_Script_Flag_Set(0x20);
    AzWin_Delay_Set(AZ_DELAY_POST, 100);
    ASSERT_EQ("", Session("click \"Update DB\"\n"));
    for (int i = 0; i < 10000 && __atomic_load_n(AzDb_Lock_Focus(), __ATOMIC_ACQUIRE); i++)
        Sleep(1);
    ASSERT_EQ(0, __atomic_load_n(AzDb_Lock_Focus(), __ATOMIC_ACQUIRE));
    AzApp_Stop(&app);
    EXPECT_EQ(0, AzWin_Threads_Alive()) << "the module was unloaded under its worker";
    AzWin_Delay_Off();
    dlclose(other);
    // Loaded again, the module starts afresh: what it held for its panel went with the library (the
    // sanitizer build's leak checker watches this).
    ASSERT_TRUE(Start());
    ASSERT_EQ(AZ_EXIT_OK, AzApp_Load_Built(&app, first, "phantom one"));
    EXPECT_EQ("", Session("open\nclick \"Dir. Oblique\"\n"));
    EXPECT_EQ(0u, console.Count("memory error")) << Console_Dump(console.Lines());
}

TEST_F(App_Test, ColinObliqueVolumeShowsTheBrainAndItsAtlasAtTheSameWorldPoints)
{
    if (!std::filesystem::exists(brain_path) || !std::filesystem::exists(atlas_path))
        GTEST_SKIP() << brain_path << " or " << atlas_path << " is absent (package mricron-data): nothing to test";
    std::string folder = Output_Folder("colin");
    ASSERT_FALSE(folder.empty());
    ASSERT_TRUE(Start());
    ASSERT_EQ(AZ_EXIT_OK, AzApp_Load(&app, std::vector<std::string>(1, brain_path), atlas_path));
    ASSERT_EQ("", Session(AzSession_Reslice(20.0, -15.0, 0) + "dump \"" + folder + "\"\n", "reslice"));
    AzApp_Stop(&app);

    Grid original, oblique; // the brain as read, the exported cut
    AzLabels atlas, oblique_tags;
    AzLoad_Report report;
    ASSERT_EQ(1, AzNifti_Read(brain_path, &original.s, &report));
    ASSERT_EQ(1, AzNifti_Read_Labels(atlas_path, &atlas, &report));
    ASSERT_EQ(1, AzNifti_Read(folder + "/oblique.nii.gz", &oblique.s, &report));
    ASSERT_EQ(1, AzNifti_Read_Labels(folder + "/oblique_tags.nii.gz", &oblique_tags, &report));
    ASSERT_TRUE(report.problems.empty()) << report.problems[0];
    // The cut leans away from the brain's slices.
    EXPECT_LT(fabs(AzVec3_Dot(oblique.s.axis_normal, original.s.axis_normal)), 0.99);

    std::mt19937 random(2545); // a fixed sequence: the same samples on every run
    auto next = [&random](int bound) { return static_cast<int>(random() % static_cast<unsigned>(bound)); };
    int sampled = 0, tries = 0, labels_equal = 0, labels_inner = 0;
    while (sampled < samples_wanted && tries++ < 200 * samples_wanted) {
        int x = next(oblique.W()), y = next(oblique.H()), n = next(oblique.D());
        double v[3];
        original.Voxel_Of(oblique.World_Of(x, y, n), v);
        int i = static_cast<int>(floor(v[0] + 0.5)), j = static_cast<int>(floor(v[1] + 0.5));
        int k = static_cast<int>(floor(v[2] + 0.5));
        if (i < 2 || j < 2 || k < 2 || i > original.W() - 3 || j > original.H() - 3 || k > original.D() - 3)
            continue;
        // The atlas's label at the voxel (13) and its 26 neighbours, looked up by world position.
        auto atlas_at = [&](int m) {
            return Value_At(atlas, original.World_Of(i + m % 3 - 1, j + m / 3 % 3 - 1, k + m / 9 - 1));
        };
        int label = atlas_at(13);
        if (label == 0)
            continue; // outside the brain
        sampled++;
        // The oblique voxel takes its grey level in-plane from one slice of the original, known to one
        // slice only (the exported plane runs through the stepping of the source slices along the cut):
        // between the lowest and highest in-plane level of the slices near the point, widened by one for
        // the rounding of the interpolation.
        double low = 1e9, high = -1e9;
        int below = static_cast<int>(floor(v[2]));
        for (int kk = std::max(0, below - 1); kk <= std::min(original.D() - 1, below + 2); kk++) {
            low = std::min(low, original.Grey_At(v[0], v[1], kk));
            high = std::max(high, original.Grey_At(v[0], v[1], kk));
        }
        int grey = oblique.Grey(x, y, n);
        ASSERT_TRUE(grey >= floor(low) - 1 && grey <= ceil(high) + 1)
            << "oblique " << x << " " << y << " " << n << ": " << grey << " at original " << v[0] << " " << v[1]
            << " " << v[2] << " between " << low << " and " << high;
        int tag = Value_At(oblique_tags, oblique.World_Of(x, y, n));
        labels_equal += tag == label;
        bool inner = true;
        for (int m = 0; m < 27; m++)
            inner = inner && atlas_at(m) == label;
        if (inner) {
            labels_inner++;
            ASSERT_EQ(label, tag) << "oblique " << x << " " << y << " " << n << " inside one atlas region";
        }
    }
    ASSERT_EQ(samples_wanted, sampled);
    EXPECT_GE(labels_equal * 100, sampled * 95) << labels_equal << " of " << sampled << " labels agree";
    EXPECT_GT(labels_inner * 2, sampled) << "most samples lie inside a region: " << labels_inner;
}
