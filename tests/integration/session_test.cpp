/*
 * A user's session on the panel over two phantom studies, run by the host
 * program's session runner: the second study is picked in the list, the
 * Oblique direction switched on, the angles set on the valuators, the
 * slices scrolled, "Update DB" pressed.  The frames the worker leaves are
 * then checked pixel by pixel against grey levels worked out here from the
 * phantom's formula and the rotation, with no help from the module.
 */
#include <math.h>
#include <stdio.h>

#include <algorithm>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "hostlib/structures/az_db.h"
#include "hostlib/tools/az_tools.h"
#include "host_run.h"
#include "tests/support/console_capture.h"

namespace {

/* Grey level of a point outside the study. */
const int grey_outside = 2147483646;

/* The rotation of the panel, its sizes and the mapping from a voxel of the
 * oblique direction to the study's voxel (column, row, frame), in double:
 * the study's centred voxel box in millimetres, turned about x by alpha
 * then about y by beta (row vectors), cut into the slices of its bounding
 * box. */
struct Oblique_Geometry {
    double turn[3][3];
    double half[3];       /* half the study's extent, in voxel steps */
    double corner[3];     /* the turned voxel box's far corner */
    double study_voxel[3];
    double voxel[3];      /* the oblique direction's voxel, mm */
    int dim[3];           /* the oblique direction's size */
};

void Turn_Make(double alpha, double beta, double turn[3][3])
{
    double ca = cos(alpha), sa = sin(alpha), cb = cos(beta), sb = sin(beta);
    // Row-vector rotations: p' = p Rx(alpha) Ry(beta).
    const double rx[3][3] = {{1, 0, 0}, {0, ca, sa}, {0, -sa, ca}};
    const double ry[3][3] = {{cb, 0, -sb}, {0, 1, 0}, {sb, 0, cb}};
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++) {
            turn[i][j] = 0.0;
            for (int k = 0; k < 3; k++)
                turn[i][j] += rx[i][k] * ry[k][j];
        }
}

Oblique_Geometry Geometry_Of(const AzStudy_Plan &plan, double alpha, double beta)
{
    Oblique_Geometry g;
    Turn_Make(alpha, beta, g.turn);
    const int ref[3] = {plan.width, plan.height, plan.slices};
    for (int i = 0; i < 3; i++) {
        g.half[i] = (ref[i] - 1) * 0.5;
        g.study_voxel[i] = plan.spacing[i];
    }
    for (int j = 0; j < 3; j++) {
        double extent = 0.0, extent_mm = 0.0;
        for (int i = 0; i < 3; i++) {
            extent += g.half[i] * fabs(g.turn[i][j]);
            extent_mm += g.half[i] * g.study_voxel[i] * fabs(g.turn[i][j]);
        }
        g.corner[j] = extent;
        g.dim[j] = static_cast<int>(2.0 * extent + 1.0);
        g.voxel[j] = 2.0 * extent_mm / g.dim[j];
    }
    return g;
}

/* Oblique voxel (x, y, s) -> study voxel (column, row, frame). */
void Geometry_Map(const Oblique_Geometry &g, double x, double y, double s, double study[3])
{
    const double p[3] = {x, y, s};
    double mm[3];
    for (int j = 0; j < 3; j++)
        mm[j] = (p[j] - g.corner[j]) * g.voxel[j];
    for (int i = 0; i < 3; i++) {
        double turned_back = 0.0;
        for (int j = 0; j < 3; j++)
            turned_back += mm[j] * g.turn[i][j];
        study[i] = turned_back / g.study_voxel[i] + g.half[i];
    }
}

/* The study's grey level at (column, row) of frame f: bilinear in the
 * frame's plane from the phantom's own values; the far edge reads the last
 * column or row. */
int Study_Grey(const AzStudy_Plan &plan, int t, double column, double row, double frame)
{
    int f = static_cast<int>(frame); // toward zero: -0.5 is still frame 0
    if (!(frame > -1.0) || f >= plan.slices || !(column >= 0.0 && column <= plan.width) ||
        !(row >= 0.0 && row <= plan.height))
        return grey_outside;
    int x0 = std::min(static_cast<int>(column), plan.width - 1);
    int y0 = std::min(static_cast<int>(row), plan.height - 1);
    int x1 = std::min(x0 + 1, plan.width - 1), y1 = std::min(y0 + 1, plan.height - 1);
    double fx = column - x0, fy = row - y0;
    double top = AzPhantom_GLI(plan, x0, y0, f, t) * (1 - fx) + AzPhantom_GLI(plan, x1, y0, f, t) * fx;
    double bottom = AzPhantom_GLI(plan, x0, y1, f, t) * (1 - fx) + AzPhantom_GLI(plan, x1, y1, f, t) * fx;
    return static_cast<int>(floor(top * (1 - fy) + bottom * fy + 0.5));
}

/* The grey levels an oblique pixel may show: the module works in float,
 * so a point within tolerance of a frame boundary, of the study's edge or
 * of a rounding step may fall either way. */
std::set<int> Grey_Expected(const AzStudy_Plan &plan, int t, const Oblique_Geometry &g, int x, int y, int s)
{
    const double tolerance = 2e-3;
    double study[3];
    Geometry_Map(g, x, y, s, study);
    std::set<int> greys;
    for (int a = -1; a <= 1; a++)
        for (int b = -1; b <= 1; b++)
            for (int c = -1; c <= 1; c++)
                greys.insert(Study_Grey(plan, t, study[0] + a * tolerance, study[1] + b * tolerance,
                                        study[2] + c * tolerance));
    return greys;
}

AzStudy_Plan Study_Plan(const char *name, int width, int height, int slices, float row_step, float slice_step)
{
    AzStudy_Plan plan;
    plan.width = width;
    plan.height = height;
    plan.slices = slices;
    plan.spacing[1] = row_step;
    plan.spacing[2] = slice_step;
    plan.name = name;
    return plan;
}

/* The panel's valuators of one orientation, by position (left/bottom first). */
std::vector<Valuators *> Panel_Valuators(HWND panel, int vertical)
{
    std::vector<Valuators *> found;
    for (int i = 0; Tools *tool = AzTools_Widget(panel, i); i++)
        if (Valuators *valuator = dynamic_cast<Valuators *>(tool))
            if (((valuator->style & 0x4u) != 0) == (vertical != 0))
                found.push_back(valuator);
    std::sort(found.begin(), found.end(),
              [vertical](Valuators *a, Valuators *b) { return vertical ? a->x < b->x : a->y < b->y; });
    return found;
}

float Slider_Value(HWND panel)
{
    Sliders *slider = dynamic_cast<Sliders *>(AzTools_Find(panel, "Demo Frame"));
    return slider ? slider->value : -1.0f;
}

/* Checks every pixel of a few frames of an oblique direction (first, last,
 * between) against the grey levels worked out from the phantom at time
 * point t, turned by alpha and beta. */
void Frames_Expect(const AzStudy_Plan &plan, int t, double alpha, double beta, Kelvra_Class *oblique)
{
    Oblique_Geometry geometry = Geometry_Of(plan, alpha, beta);
    ASSERT_NE(nullptr, oblique);
    ASSERT_EQ(geometry.dim[2], oblique->Child_Get_Nb());
    int last = geometry.dim[2] - 1;
    long checked = 0, ambiguous = 0, inside_middle = 0;
    for (int s : {0, 1, last / 3, last / 2, last - 1, last}) {
        AzFrame *frame = AzFrame_Cast(oblique->Child_Get_Pt(s));
        ASSERT_NE(nullptr, frame) << s;
        int width = 0, height = 0;
        ASSERT_EQ(1, AzFrame_Get_Dim(frame, &width, &height));
        ASSERT_EQ(geometry.dim[0], width);
        ASSERT_EQ(geometry.dim[1], height);
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++) {
                std::set<int> expected = Grey_Expected(plan, t, geometry, x, y, s);
                int grey = AzFrame_Get_GLI(frame, static_cast<float>(x), static_cast<float>(y));
                ASSERT_TRUE(expected.count(grey)) << "frame " << s << " pixel " << x << ", " << y << ": " << grey
                                                  << " where " << *expected.begin() << " was expected";
                checked++;
                ambiguous += expected.size() > 1;
                inside_middle += s == last / 2 && grey != grey_outside;
            }
    }
    // Most pixels have one answer only, and the middle cut shows the study in most of its area.
    EXPECT_LT(ambiguous * 10, checked) << ambiguous << " of " << checked;
    EXPECT_GT(inside_middle * 2, geometry.dim[0] * geometry.dim[1]) << inside_middle;
}

class Session_Run : public ::testing::Test {
  protected:
    void SetUp() override
    {
        folder = Output_Folder("session");
        ASSERT_FALSE(folder.empty());
        ASSERT_TRUE(Host_Start(&app));
        ASSERT_EQ(AZ_EXIT_OK, AzApp_Load_Built(&app, first, "phantom one"));
        ASSERT_EQ(AZ_EXIT_OK, AzApp_Load_Built(&app, second, "phantom two"));
    }
    void TearDown() override { AzApp_Stop(&app); }

    /* Runs session lines; the panel pictures they name land in the folder. */
    std::string Run(const std::string &text)
    {
        std::string with_folder = text;
        for (size_t at; (at = with_folder.find("@/")) != std::string::npos;)
            with_folder.replace(at, 2, folder + "/");
        return Host_Session(&app, with_folder, "session");
    }

    AzStudy_Plan first = Study_Plan("First", 20, 18, 8, 1.0f, 1.0f);
    // Sizes and steps that differ on every axis, so that no two axes can be mistaken.
    AzStudy_Plan second = Study_Plan("Second", 30, 24, 14, 1.25f, 2.0f);
    std::string folder;
    AzApp app;
};

} // namespace

TEST_F(Session_Run, TheSecondStudyTurnedOnThePanelGetsObliqueFramesOfTheMapping)
{
    ASSERT_EQ("", Run("open\nsave-panel @/1-open.png\n"));
    ASSERT_NE(nullptr, app.panel_window);
    EXPECT_EQ(0, AzApp_Study_Current(&app));

    // The wheel over the list moves to the next study and back; a click on its right arrow moves on again.
    ASSERT_EQ("", Run("wheel -1 \"Current Oblique\"\n"));
    EXPECT_EQ(1, AzApp_Study_Current(&app));
    ASSERT_EQ("", Run("wheel 1 \"Current Oblique\"\n"));
    EXPECT_EQ(0, AzApp_Study_Current(&app));
    ASSERT_EQ("", Run("wheel 1 \"Current Oblique\"\n")); // nothing before the first
    EXPECT_EQ(0, AzApp_Study_Current(&app));
    ASSERT_EQ("", Run("click \"Current Oblique\" 0.98 0.5\nsave-panel @/2-second.png\n"));
    ASSERT_EQ(1, AzApp_Study_Current(&app));

    // The Oblique direction, switched on; the angles from the valuators, by a click and by a drag.
    ASSERT_EQ("", Run("click \"Dir. Oblique\"\nclick \"On/Off\"\n"
                      "click rot-x-left 0.5 0.3\n"
                      "drag rot-y-top 0.5 0.5 rot-y-top 0.7 0.5 5\n"
                      "save-panel @/3-turned.png\n"));
    std::vector<Valuators *> vertical = Panel_Valuators(app.panel_window, 1);
    std::vector<Valuators *> horizontal = Panel_Valuators(app.panel_window, 0);
    ASSERT_EQ(2u, vertical.size());
    ASSERT_EQ(2u, horizontal.size());
    double alpha = vertical[0]->value, beta = horizontal[0]->value;
    EXPECT_EQ(vertical[0]->value, vertical[1]->value); // each pair moves together
    EXPECT_EQ(horizontal[0]->value, horizontal[1]->value);
    // Angles well away from 0 on both axes, so that both turns count.
    EXPECT_GT(fabs(alpha), 0.2) << alpha;
    EXPECT_GT(fabs(beta), 0.2) << beta;

    // The wheel over the preview scrolls the slices.
    float slice_before = Slider_Value(app.panel_window);
    ASSERT_EQ("", Run("wheel -3 preview\nsave-panel @/4-scrolled.png\n"));
    EXPECT_EQ(slice_before + 3.0f, Slider_Value(app.panel_window));

    ASSERT_EQ("", Run("click \"Update DB\"\nwait 120\nsave-panel @/5-applied.png\n"
                      "slice middle\nsave-panel @/6-middle.png\n"));
    EXPECT_GE(app.apply_s, 0.0);

    // Only the second study was applied.
    Kelvra_Class *untouched = AzApp_Direction(&app, 0, 1);
    ASSERT_NE(nullptr, untouched);
    EXPECT_EQ(0, untouched->Child_Get_Nb());
    EXPECT_EQ(first.slices, AzApp_Direction(&app, 0, 0)->Child_Get_Nb());
    EXPECT_EQ(second.slices, AzApp_Direction(&app, 1, 0)->Child_Get_Nb());

    Frames_Expect(second, 0, alpha, beta, AzApp_Direction(&app, 1, 1));
}

TEST(FourDPhantom, EntersWithTheFramesOfTheChosenTimePointAndIsReslicedThere)
{
    AzStudy_Plan plan = Study_Plan("Timed", 16, 14, 10, 1.5f, 1.0f);
    plan.times = 3;
    AzApp app;
    ASSERT_TRUE(Host_Start(&app, 2));
    ASSERT_EQ(AZ_EXIT_OK, AzApp_Load_Built(&app, plan, "timed phantom"));
    Kelvra_Class *original = AzApp_Direction(&app, 0, 0);
    ASSERT_NE(nullptr, original);
    ASSERT_EQ(plan.slices, original->Child_Get_Nb()); // one frame per slice
    for (int n = 0; n < plan.slices; n++) {
        AzFrame *frame = AzFrame_Cast(original->Child_Get_Pt(n));
        ASSERT_NE(nullptr, frame);
        EXPECT_EQ(2, frame->t) << n;
    }
    EXPECT_EQ(0u, Fct_Group_Test(original));
    std::string error = Host_Session(&app, "open\ndirection oblique on\nrotate 25 35\nclick \"Update DB\"\nwait 60\n",
                                     "timed");
    ASSERT_EQ("", error);
    std::vector<Valuators *> vertical = Panel_Valuators(app.panel_window, 1);
    std::vector<Valuators *> horizontal = Panel_Valuators(app.panel_window, 0);
    ASSERT_FALSE(vertical.empty());
    ASSERT_FALSE(horizontal.empty());
    Frames_Expect(plan, 2, vertical[0]->value, horizontal[0]->value, AzApp_Direction(&app, 0, 1));
    AzApp_Stop(&app);

    // A time point the study does not have.
    AzApp beyond;
    ASSERT_TRUE(Host_Start(&beyond, 3));
    Console_Capture console;
    EXPECT_EQ(AZ_EXIT_INPUT, AzApp_Load_Built(&beyond, plan, "timed phantom"));
    EXPECT_TRUE(beyond.studies.empty());
    EXPECT_EQ((std::vector<Console_Line>{{2, "timed phantom: no time point 3: the study has 3 time point(s)"}}),
              console.Lines())
        << Console_Dump(console.Lines());
    AzApp_Stop(&beyond);
}
