/*
 * A user's session on the panel over two phantom studies, run by the host
 * program's session runner: the second study picked in the list, the
 * Oblique direction switched on, the angles set on the valuators, the
 * slices scrolled, "Update DB" pressed.  The frames the worker leaves are
 * checked pixel by pixel against grey levels worked out here from the
 * phantom's formula and the rotation, with no help from the module.
 */
#include <math.h>

#include <algorithm>
#include <set>
#include <vector>

#include "app_test.h"
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
    ASSERT_NE(nullptr, oblique);
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

float Slider_Value(HWND panel) { return dynamic_cast<Sliders *>(AzTools_Find(panel, "Demo Frame"))->value; }

} // namespace

TEST_F(App_Test, TheSecondStudyTurnedOnThePanelGetsObliqueFramesOfTheMapping)
{
    std::string folder = Output_Folder("session");
    ASSERT_FALSE(folder.empty());
    AzPhantom_Plan first = Plan_Of("First", 20, 18, 8);
    // Sizes and steps that differ on every axis, so that no two axes can be mistaken.
    AzPhantom_Plan second = Plan_Of("Second", 30, 24, 14, 1.0f, 1.25f, 2.0f);
    ASSERT_TRUE(Start());
    ASSERT_EQ(AZ_EXIT_OK, AzApp_Load_Built(&app, first, "phantom one"));
    ASSERT_EQ(AZ_EXIT_OK, AzApp_Load_Built(&app, second, "phantom two"));
    std::string at = folder + "/";
    ASSERT_EQ("", Session("open\nsave-panel " + at + "1-open.png\nclick \"Dir. Oblique\"\n"));
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
    // Only the second study was applied.
    EXPECT_EQ(0, AzApp_Direction(&app, 0, 1)->Child_Get_Nb());
    EXPECT_EQ(first.slices, AzApp_Direction(&app, 0, 0)->Child_Get_Nb());
    EXPECT_EQ(second.slices, AzApp_Direction(&app, 1, 0)->Child_Get_Nb());
    Frames_Expect(second, 0, alpha, beta, AzApp_Direction(&app, 1, 1));
}

TEST_F(App_Test, FourDPhantomEntersAtTheChosenTimePointAndIsReslicedThere)
{
    AzPhantom_Plan plan = Plan_Of("Timed", 16, 14, 10, 1.0f, 1.5f, 1.0f);
    plan.times = 3;
    ASSERT_TRUE(Start(3));
    EXPECT_EQ(AZ_EXIT_INPUT, AzApp_Load_Built(&app, plan, "timed phantom"));
    EXPECT_TRUE(app.studies.empty());
    EXPECT_EQ((std::vector<Console_Line>{{2, "timed phantom: no time point 3: the study has 3 time point(s)"}}),
              console.Lines());
    AzApp_Stop(&app);

    ASSERT_TRUE(Start(2));
    ASSERT_EQ(AZ_EXIT_OK, AzApp_Load_Built(&app, plan, "timed phantom"));
    Kelvra_Class *original = AzApp_Direction(&app, 0, 0);
    ASSERT_EQ(plan.slices, original->Child_Get_Nb()); // one frame per slice
    for (int n = 0; n < plan.slices; n++)
        EXPECT_EQ(2, AzFrame_Cast(original->Child_Get_Pt(n))->t) << n;
    EXPECT_EQ(0u, Fct_Group_Test(original));
    ASSERT_EQ("", Session("open\ndirection oblique on\nrotate 25 35\nclick \"Update DB\"\nwait 60\n"));
    Frames_Expect(plan, 2, Panel_Angle(app.panel_window, 1), Panel_Angle(app.panel_window, 0),
                  AzApp_Direction(&app, 0, 1));
}
