/* The panel's state update: the update hook, the list of studies, the
 * slider, the direction buttons, the rotation geometry and the slice. */
#include <math.h>

#include "panel_fixture.h"

TEST_F(Panel_Test, UpdateHookFlags) { EXPECT_EQ(Update_Register(), 0x7e00000ull); }

TEST_F(Panel_Test, ClosedPanelStillRefreshesEveryMode)
{
    Load("Head", 16, 16, 8);
    Kelvra_Oblique *org = Org_Of(0);
    org->group_valid = -1;   // not yet tested
    AzHost_Trace_Start();
    EXPECT_EQ(Ctrl_Update(0x200000), 1);
    std::vector<std::string> trace = AzHost_Trace_Take();
    EXPECT_TRUE(Trace_Is("panel_refresh_closed", Lines_Starting(trace, {"Iterator_", "Flag_Set"})));
    EXPECT_EQ(org->group_valid, 1) << "the direction set-up ran";
    EXPECT_EQ(org->ref_dim.z * 10 + Obl_Of(0)->dim.x, 88);
    EXPECT_EQ(Instance_Nb + select_instance.entries_nb, 0) << "the list belongs to an open panel";
}

/* The figures themselves are the geometry table's (tests/oblique); here the
 * panel's step hands the angles on and applies what it gives. */
TEST_F(Panel_Test, RotateStepAppliesTheGeometry)
{
    Load("Brain", 256, 256, 100, 0.5f, 0.5f, 2.0f);
    ASSERT_EQ(Ctrl_Open(0), 1);
    Kelvra_Oblique *org = Org_Of(0), *obl = Obl_Of(0);
    Dir_Cur = 1;
    ASSERT_EQ(Ctrl_Update(UPDATE_ROTATE), 1);
    EXPECT_EQ(Dim_Text(obl->dim), "256 256 100");
    EXPECT_TRUE(Vect_Is(obl->voxel, 0.498046875f, 0.498046875f, 1.98f));
    ASSERT_NE(obl->dir_image, nullptr);
    EXPECT_FLOAT_EQ(obl->dir_image->pixel_size_2.z, 1.98f);
    EXPECT_FLOAT_EQ(slider_frame.maximum, 99.999f);
    // Tilted about x by 0.5: the y and z extents mix, both end voxels counted.
    Rot_X = 0.5f;
    ASSERT_EQ(Ctrl_Update(UPDATE_ROTATE), 1);
    EXPECT_TRUE(obl->alpha == 0.5f && obl->beta == 0.0f && obl->theta == 0.0f);
    double c = cos(0.5), s = sin(0.5);
    EXPECT_EQ(Dim_Text(obl->dim),
              "256 " + std::to_string((int)(255 * c + 99 * s + 1)) + " " + std::to_string((int)(255 * s + 99 * c + 1)));
    EXPECT_FLOAT_EQ(Rot_Matrix[1][1], (float)c);
    Dir_Cur = 0;
    ASSERT_EQ(Ctrl_Update(UPDATE_ROTATE), 1);
    EXPECT_FLOAT_EQ(org->alpha, 0.5f) << "the panel's angles apply to whichever class is current";
    // Without a current pair the step refuses.
    Instance_Cur = 2;
    EXPECT_EQ(Ctrl_Update(UPDATE_ROTATE), 0);
    Instance_Cur = 0;
    Instance_Pt[1] = nullptr;   // a study without its Oblique direction
    Dir_Cur = 1;
    EXPECT_EQ(Ctrl_Update(UPDATE_ROTATE), 0);
    Instance_Pt[1] = obl;
}

TEST_F(Panel_Test, ImageStepDrawsThePreview)
{
    Load("Head", 32, 32, 16);
    ASSERT_EQ(Ctrl_Open(0), 1);
    int pixels = Window_Fill(image_window, 0xFF0000FFu);
    ASSERT_GT(pixels, 0);
    ASSERT_EQ(Ctrl_Update(UPDATE_SLICE), 1);
    EXPECT_GT(Window_Other(image_window, 0xFF0000FFu), pixels / 2) << "the preview covers the child window";
}
