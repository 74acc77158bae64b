/*
 * A user's session on the panel over two 4-D phantom studies entering at
 * their third time point, run by the host program's session runner, with a
 * second copy of the module loaded beside the host's: the first click waits
 * while the interface is locked; the second study picked in the list, the
 * Oblique direction switched on, the angles set on the valuators, the
 * slices scrolled, "Update DB" pressed.  The frames the worker leaves are
 * checked pixel by pixel against grey levels worked out here from the
 * phantom's formula and the rotation, with no help from the module; strokes
 * painted on both directions are saved and read back at the world position
 * where they were painted; the module is unloaded only after its last
 * worker ended.
 */
#include <dlfcn.h>
#include <math.h>
#include <stdlib.h>

#include <algorithm>
#include <set>
#include <vector>

#include "app_test.h"
#include "hostapp/lib/az_labels.h"
#include "hostapp/lib/az_read.h"
#include "hostlib/win32/az_win.h"
#include "tests/support/host_steps.h"

namespace {

const int grey_outside = 2147483646;

/* The panel's rotation (about x by alpha, then y by beta, row vectors) of
 * the study's centred voxel box, cut into the slices of its bounding box. */
struct Geometry {
    double turn[3][3], half[3], corner[3], study_voxel[3], voxel[3];
    int dim[3];

    Geometry(const AzPhantom_Plan &plan, double alpha, double beta)
    {
        double ca = cos(alpha), sa = sin(alpha), cb = cos(beta), sb = sin(beta);
        const double rx[3][3] = {{1, 0, 0}, {0, ca, sa}, {0, -sa, ca}};
        const double ry[3][3] = {{cb, 0, -sb}, {0, 1, 0}, {sb, 0, cb}};
        const int ref[3] = {plan.width, plan.height, plan.slices};
        for (int i = 0; i < 3; i++) {
            for (int j = 0; j < 3; j++)
                turn[i][j] = rx[i][0] * ry[0][j] + rx[i][1] * ry[1][j] + rx[i][2] * ry[2][j];
            half[i] = (ref[i] - 1) * 0.5;
            study_voxel[i] = plan.spacing[i];
        }
        for (int j = 0; j < 3; j++) {
            double extent = 0.0, extent_mm = 0.0;
            for (int i = 0; i < 3; i++) {
                extent += half[i] * fabs(turn[i][j]);
                extent_mm += half[i] * study_voxel[i] * fabs(turn[i][j]);
            }
            corner[j] = extent;
            dim[j] = static_cast<int>(2.0 * extent + 1.0);
            voxel[j] = 2.0 * extent_mm / dim[j];
        }
    }
    /* Oblique voxel (x, y, s) -> study voxel (column, row, frame). */
    void Map(double x, double y, double s, double study[3]) const
    {
        const double mm[3] = {(x - corner[0]) * voxel[0], (y - corner[1]) * voxel[1], (s - corner[2]) * voxel[2]};
        for (int i = 0; i < 3; i++)
            study[i] = (mm[0] * turn[i][0] + mm[1] * turn[i][1] + mm[2] * turn[i][2]) / study_voxel[i] + half[i];
    }
};

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
 * levels a point within float rounding of the mapping may show. */
void Frames_Expect(const AzPhantom_Plan &plan, int t, double alpha, double beta, Kelvra_Class *oblique)
{
    Geometry g(plan, alpha, beta);
    ASSERT_EQ(g.dim[2], oblique->Child_Get_Nb());
    const double e = 2e-3;
    int last = g.dim[2] - 1;
    long checked = 0, ambiguous = 0, inside_middle = 0;
    for (int s : {0, 1, last / 3, last / 2, last - 1, last}) {
        AzFrame *frame = AzFrame_Cast(oblique->Child_Get_Pt(s));
        int width = 0, height = 0;
        ASSERT_EQ(1, AzFrame_Get_Dim(frame, &width, &height));
        ASSERT_EQ(g.dim[0], width);
        ASSERT_EQ(g.dim[1], height);
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++) {
                double p[3];
                g.Map(x, y, s, p);
                std::set<int> expected;
                for (int n = 0; n < 27; n++)
                    expected.insert(Study_Grey(plan, t, p[0] + (n % 3 - 1) * e, p[1] + (n / 3 % 3 - 1) * e,
                                               p[2] + (n / 9 - 1) * e));
                int grey = AzFrame_Get_GLI(frame, static_cast<float>(x), static_cast<float>(y));
                ASSERT_TRUE(expected.count(grey)) << "frame " << s << " pixel " << x << ", " << y << ": " << grey
                                                  << " where " << *expected.begin() << " was expected";
                checked++;
                ambiguous += expected.size() > 1;
                inside_middle += s == last / 2 && grey != grey_outside;
            }
    }
    EXPECT_LT(ambiguous * 10, checked) << ambiguous << " of " << checked;
    EXPECT_GT(inside_middle * 2, g.dim[0] * g.dim[1]) << inside_middle;
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

AzVec3 World_Of(Kelvra_Class *cls, int frame, int x, int y)
{
    Vect p = AzFrame_Get_Pos(AzFrame_Cast(cls->Child_Get_Pt(frame)), static_cast<float>(x), static_cast<float>(y));
    return {p.x, p.y, p.z};
}

/* Stands for the worker ending: clears the interface lock from a message
 * the host carries out while it waits, noting whether the click came
 * before. */
const UINT unlock_message = WM_USER + 7;
Buttons *watched = nullptr;
int selected_at_unlock = -1;

LRESULT Unlock_Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message != unlock_message)
        return DefWindowProcA(window, message, wparam, lparam);
    selected_at_unlock = watched->selected;
    __atomic_store_n(AzDb_Lock_Focus(), 0, __ATOMIC_RELEASE);
    return 0;
}

float Slider_Value(HWND panel) { return dynamic_cast<Sliders *>(AzTools_Find(panel, "Demo Frame"))->value; }

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
    first.times = second.times = 3;
    AzPhantom_Plan short_run = Plan_Of("Short", 16, 14, 10);
    short_run.times = 2;
    ASSERT_TRUE(Start(2));
    EXPECT_EQ(AZ_EXIT_INPUT, AzApp_Load_Built(&app, short_run, "short phantom"));
    EXPECT_TRUE(app.studies.empty());
    EXPECT_EQ((std::vector<Console_Line>{{2, "short phantom: no time point 2: the study has 2 time point(s)"}}),
              console.Lines());
    ASSERT_EQ(AZ_EXIT_OK, AzApp_Load_Built(&app, first, "phantom one"));
    ASSERT_EQ(AZ_EXIT_OK, AzApp_Load_Built(&app, second, "phantom two"));
    ASSERT_EQ("", Session("open\nsave-panel " + at + "1-open.png\n"));

    // Locked: waits give up at once; the click reaches the panel only after the lock dropped.
    watched = dynamic_cast<Buttons *>(AzTools_Find(app.panel_window, "Dir. Oblique"));
    ASSERT_TRUE(watched && watched->selected == 0);
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = Unlock_Proc;
    window_class.lpszClassName = "AzTestUnlock";
    RegisterClassA(&window_class);
    HWND unlock = CreateWindowExA(0, "AzTestUnlock", "unlock", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, unlock);
    __atomic_store_n(AzDb_Lock_Focus(), 1, __ATOMIC_RELEASE);
    EXPECT_EQ(1, AzApp_Interface_Locked());
    EXPECT_EQ(0, AzApp_Input_Wait(&app, 0));
    EXPECT_EQ(0, AzApp_Wait(&app, 0)) << "a locked host is not idle";
    ASSERT_TRUE(PostMessageA(unlock, unlock_message, 0, 0));
    EXPECT_EQ("", Session("click \"Dir. Oblique\"\n"));
    EXPECT_EQ(0, selected_at_unlock) << "the click was delivered while the interface was locked";
    EXPECT_EQ(1, watched->selected);
    EXPECT_EQ(0, AzApp_Interface_Locked());
    DestroyWindow(unlock);
    EXPECT_EQ(0, AzApp_Study_Current(&app));

    // The wheel over the list moves to the next study and back (the panel's current class is then a
    // direction the list did not start on); a click on its right arrow moves on again.
    for (const auto &step : std::vector<std::pair<const char *, int>>{{"wheel -1 \"Current Oblique\"", 1},
                                                                        {"wheel 1 \"Current Oblique\"", 0},
                                                                        {"wheel 1 \"Current Oblique\"", 0},
                                                                        {"click \"Current Oblique\" 0.98 0.5", 1}}) {
        ASSERT_EQ("", Session(std::string(step.first) + "\n"));
        ASSERT_EQ(step.second, AzApp_Study_Current(&app)) << step.first;
    }
    // The Oblique direction switched on; the angles from the valuators, by a click and by a drag.
    ASSERT_EQ("", Session("save-panel " + at + "2-second.png\nclick \"Dir. Oblique\"\nclick \"On/Off\"\n"
                          "click rot-x-left 0.5 0.3\ndrag rot-y-top 0.5 0.5 rot-y-top 0.7 0.5 5\n"
                          "save-panel " + at + "3-turned.png\n"));
    double alpha = Panel_Angle(app.panel_window, 1), beta = Panel_Angle(app.panel_window, 0);
    EXPECT_GT(fabs(alpha), 0.2) << alpha; // both turns count
    EXPECT_GT(fabs(beta), 0.2) << beta;
    // The wheel over the preview scrolls the slices.
    float slice_before = Slider_Value(app.panel_window);
    ASSERT_EQ("", Session("wheel -3 preview\nsave-panel " + at + "4-scrolled.png\n"));
    EXPECT_EQ(slice_before + 3.0f, Slider_Value(app.panel_window));
    ASSERT_EQ("", Session("click \"Update DB\"\nwait 120\nsave-panel " + at + "5-applied.png\nslice middle\n"
                          "save-panel " + at + "6-middle.png\n"));
    EXPECT_GE(app.apply_s, 0.0);
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
    AzVec3 on_oblique = World_Of(oblique, n, 10, 8), on_original = World_Of(original, 7, 22, 16);
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
        EXPECT_TRUE(File_Exists(AzTags_Beside(at + name, ".lut"))) << name;
    }

    // The angles of a session's rotate; without a progress window the worker's only posts are its updates
    // and redraws, the last ones made after it cleared the lock byte: the host's stop waits for it.
    ASSERT_EQ("", Session("rotate 20 -15\n"));
    EXPECT_NEAR(20.0, Panel_Angle(app.panel_window, 1) * 180.0 / M_PI, 0.62) << "half a step of a 150-pixel valuator";
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
}
