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

TEST_F(Panel_Test, ListOfStudiesAndLamps)
{
    Load("Head", 16, 16, 8);
    Load("Knee study", 16, 16, 6);
    ASSERT_EQ(Ctrl_Open(0), 1);
    ASSERT_EQ(Instance_Nb, 4);
    ASSERT_EQ(select_instance.entries_nb, 2);
    EXPECT_STREQ(select_instance.entries[0].label, "Head");
    EXPECT_STREQ(select_instance.entries[1].label, "Knee study");
    const Kelvra_Oblique *pairs[4] = {Org_Of(0), Obl_Of(0), Org_Of(1), Obl_Of(1)};
    EXPECT_TRUE(std::equal(pairs, pairs + 4, Instance_Pt));
    EXPECT_EQ(Instance_Cur, 0);
    // The Original direction holds the study's frames, the Oblique one none yet.
    EXPECT_EQ(button_dir[0].lamp * 10 + button_dir[1].lamp, 10);
    EXPECT_EQ(button_dir[0].selected * 10 + button_dir[1].selected, 10);
    EXPECT_EQ(button_dir[0].style, 0x500000u);
    // Names of 15 characters or fewer leave an empty label.
    Org_Of(1)->Name_Set("%s", "x (dir:Original)");
    Org_Of(0)->Name_Set("%s", "(dir:Original)");
    ASSERT_EQ(Ctrl_Update(0x200000), 1);
    EXPECT_STREQ(select_instance.entries[0].label, "");
    EXPECT_STREQ(select_instance.entries[1].label, "x");
    // Another mode lists nothing; the list follows.
    ASSERT_EQ(Ctrl_Open(1), 1);
    EXPECT_EQ(Instance_Nb + select_instance.entries_nb, 0);
    EXPECT_EQ(Instance_Pt, nullptr);
    // Another series of the same name is listed apart.
    AzPhantom_Plan twin = Plan_Of("Knee study", 16, 16, 4);
    twin.series_uid = "1.2.826.0.1.3680043.2.1125.99";
    ASSERT_NE(Load(twin), nullptr);
    ASSERT_EQ(Ctrl_Open(0), 1);
    ASSERT_EQ(select_instance.entries_nb, 3);
    EXPECT_STREQ(select_instance.entries[2].label, "Knee study (2)");
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
