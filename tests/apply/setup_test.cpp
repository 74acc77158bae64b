/* Direction set-up against a study loaded through the module. */
#include <string.h>

#include "apply_study.h"
#include "hostlib/win32/az_win.h"
#include "tests/support/fault.h"

namespace {

class Setup : public Study_Test {};

AzStudy_Plan Spaced_Plan()
{
    AzStudy_Plan plan = Plan_Of("Spine", 12, 10, 7);
    plan.spacing[0] = 0.75f;
    plan.spacing[1] = 0.5f;
    plan.spacing[2] = 2.5f;
    return plan;
}

TEST_F(Setup, SizesBothDirectionsFromTheFirstFrame)
{
    AzStudy_Plan plan = Spaced_Plan();
    Load(plan);
    console.Clear();
    EXPECT_EQ(Oblique_Setup(org, obl), 0);

    const std::vector<Console_Line> expected{
        {4, "\xF1\x02 Testing Group:\x01 " + std::string(org->Name_Get())},
        {4, "    It is a valid 3D group."},
    };
    EXPECT_EQ(console.Lines(), expected) << Console_Dump(console.Lines());
    EXPECT_EQ(org->group_valid, 1);

    EXPECT_EQ(Dim_Text(org->ref_dim), "12 10 7");
    EXPECT_EQ(Dim_Text(org->dim), "12 10 7");
    EXPECT_EQ(Dim_Text(obl->ref_dim), "7 10 12");
    EXPECT_EQ(Dim_Text(obl->dim), "7 10 12");

    ASSERT_NE(org->dir_file, nullptr);
    ASSERT_NE(obl->dir_file, nullptr);
    EXPECT_STREQ(org->dir_file->name, "Oblique_Dir_0");
    EXPECT_STREQ(obl->dir_file->name, "Oblique_Dir_1");
    EXPECT_EQ(org->dir_file->images[0], org->dir_image);
    EXPECT_EQ(org->dir_file->images[1], nullptr);
    EXPECT_EQ(obl->dir_file->images[0], obl->dir_image);
    EXPECT_EQ(obl->dir_file->images[1], nullptr);

    /* Headers are copies of the first frame's, resized per direction. */
    Vexa_Image *first = (Vexa_Image *)Oblique_Frame_Key(org, 0);
    EXPECT_EQ(org->dir_image->width, 12);
    EXPECT_EQ(org->dir_image->height, 10);
    EXPECT_EQ(org->dir_image->slices_nb, 7);
    EXPECT_EQ(obl->dir_image->width, 7);
    EXPECT_EQ(obl->dir_image->height, 10);
    EXPECT_EQ(obl->dir_image->slices_nb, 12);
    EXPECT_EQ(obl->dir_image->flags, first->flags | 0x20000000u);
    EXPECT_EQ(org->dir_image->flags, first->flags);
    EXPECT_FLOAT_EQ(obl->dir_image->location, first->location);
    EXPECT_EQ(org->dir_image->pixels_pt, nullptr);

    EXPECT_FLOAT_EQ(org->voxel.x, 0.75f);
    EXPECT_FLOAT_EQ(org->voxel.y, 0.5f);
    EXPECT_NEAR(org->voxel.z, 2.5f, 1e-5);
    EXPECT_TRUE(Vect_Is(obl->voxel, org->voxel.x, org->voxel.y, org->voxel.z));
    EXPECT_EQ(memcmp(&obl->axis_x, &org->axis_x, sizeof(Vect)), 0);
    EXPECT_EQ(memcmp(&obl->axis_y, &org->axis_y, sizeof(Vect)), 0);
    EXPECT_EQ(memcmp(&obl->axis_z, &org->axis_z, sizeof(Vect)), 0);

    EXPECT_EQ(org->Pixel_Get_Dim, &Class_Oblique_Pixel_Get_Dim);
    EXPECT_EQ(obl->Pixel_Get_Dim, &Class_Oblique_Pixel_Get_Dim);
    /* Switched off: no frames were made. */
    EXPECT_EQ(obl->Child_Get_Nb(), 0);
    EXPECT_EQ(AzProgress_Count(), 0);

    /* Nothing changed: nothing done, nothing said. */
    Kelvra_File *file_0 = org->dir_file;
    Kelvra_File *file_1 = obl->dir_file;
    console.Clear();
    EXPECT_EQ(Oblique_Setup(org, obl), 1);
    EXPECT_TRUE(console.Lines().empty()) << Console_Dump(console.Lines());

    /* A new test keeps the records but marks B's header again. */
    obl->dir_image->flags &= ~0x20000000u;
    org->group_valid = -1;
    EXPECT_EQ(Oblique_Setup(org, obl), 0);
    EXPECT_EQ(org->dir_file, file_0);
    EXPECT_EQ(obl->dir_file, file_1);
    EXPECT_NE(obl->dir_image->flags & 0x20000000u, 0u);
}

TEST_F(Setup, SliceStepComesFromTheFramePositions)
{
    /* Tilted rows: the step is the distance between first and last frame
     * over the gaps, whatever the orientation. */
    AzStudy_Plan plan = Spaced_Plan();
    plan.row = Vect(0.6f, 0.8f, 0.0f);
    plan.col = Vect(-0.8f, 0.6f, 0.0f);
    plan.spacing[2] = 3.0f;
    plan.origin = Vect(-40.0f, 12.0f, 7.0f);
    Load(plan);
    EXPECT_EQ(Oblique_Setup(org, obl), 0);
    EXPECT_NEAR(org->voxel.z, 3.0f, 1e-4);
    EXPECT_NEAR(obl->voxel.z, 3.0f, 1e-4);
}

TEST_F(Setup, InvalidGroupLeavesTheDirectionsBare)
{
    AzStudy_Plan plan = Spaced_Plan();
    plan.slices = 1;
    Load(plan);
    console.Clear();
    EXPECT_EQ(Oblique_Setup(org, obl), 1);
    EXPECT_EQ(org->group_valid, 0);
    EXPECT_EQ(org->dir_file, nullptr);
    EXPECT_EQ(org->dir_image, nullptr);
    EXPECT_EQ(obl->dir_file, nullptr);
    EXPECT_EQ(obl->dir_image, nullptr);
    EXPECT_EQ(org->Pixel_Get_Dim, nullptr);
    EXPECT_EQ(console.Count("You need more than 1 frame"), 1u) << Console_Dump(console.Lines());

    /* No size was ever recorded, so the study is tested again. */
    console.Clear();
    EXPECT_EQ(Oblique_Setup(org, obl), 1);
    EXPECT_EQ(console.Count("Testing Group"), 1u);
}

/* One allocation of the first set-up fails: which one, and its report. */
struct Setup_Fault {
    const char *what;
    int nth;
    const char *report;
};

class SetupFault : public Study_Test, public ::testing::WithParamInterface<Setup_Fault> {};

TEST_P(SetupFault, NextSetUpCompletesBothDirections)
{
    const Setup_Fault &fault = GetParam();
    Load(Spaced_Plan());
    Fault_Scope disarm;
    int hits = Fault_Hits();
    Fault_Arm(fault.what, fault.nth);
    console.Clear();
    EXPECT_EQ(Oblique_Setup(org, obl), 1);
    Fault_Disarm();
    EXPECT_EQ(Fault_Hits() - hits, 1);
    std::vector<Console_Line> lines = console.Lines(1);
    EXPECT_EQ(lines, (std::vector<Console_Line>{{1, fault.report}})) << Console_Dump(console.Lines());
    EXPECT_TRUE(org->dir_file == nullptr || obl->dir_file == nullptr) << "a record half made is not kept";

    /* The next set-up tries again and completes both directions. */
    EXPECT_EQ(Oblique_Setup(org, obl), 0);
    ASSERT_NE(org->dir_image, nullptr);
    ASSERT_NE(obl->dir_image, nullptr);
    EXPECT_EQ(Dim_Text(org->dim), "12 10 7");
    EXPECT_EQ(Dim_Text(obl->dim), "7 10 12");
    EXPECT_EQ(obl->dir_image->width, 7);
}

INSTANTIATE_TEST_SUITE_P(
    Setup, SetupFault,
    ::testing::Values(
        Setup_Fault{"calloc", 1, "line 1120 of .\\oblique_ctrl \nmemory error in calloc (var=oblique->dir_image, dim=1x2960)"},
        Setup_Fault{"calloc", 2, "line 1123 of .\\oblique_ctrl \nmemory error in calloc (var=oblique->dir_file->images, dim=2x8)"},
        Setup_Fault{"new", 1, "line 1126 of .\\oblique_ctrl \nmemory error in new (var=oblique->dir_file, dim=1x272)"},
        Setup_Fault{"calloc", 3, "line 1120 of .\\oblique_ctrl \nmemory error in calloc (var=oblique->dir_image, dim=1x2960)"},
        Setup_Fault{"new", 2, "line 1126 of .\\oblique_ctrl \nmemory error in new (var=oblique->dir_file, dim=1x272)"}));

TEST_F(Setup, AddingAFrameRebuildsTheObliqueDirectionByItself)
{
    AzStudy_Plan plan = Spaced_Plan();
    plan.series_uid = "1.2.3.4";
    Load(plan);
    /* Built narrower than the source width, as after a rotation. */
    Build_Oblique(Swap_Matrix(6), 7, 10, 10);
    ASSERT_EQ(obl->Child_Get_Nb(), 10);
    ASSERT_EQ(org->group_valid, 1);

    /* One more frame of the same series, past the last one. */
    AzStudy_Plan more = plan;
    more.slices = 1;
    more.origin = Vect(0.0f, 0.0f, 7 * 2.5f);
    AzStudy *extra = AzStudy_Build(more);
    ASSERT_NE(extra, nullptr);
    ASSERT_EQ(AzStudy_Insert(extra, AZ_ORDER_ASCENDING, 0), 1);
    AzStudy_Free(extra);
    ASSERT_EQ(org->real_files_nb, 8);
    ASSERT_EQ(org->Child_Get_Nb(), 8);
    EXPECT_EQ(org->group_valid, -1);
    std::vector<AzFrame *> org_frames = Frames_Of(org);

    console.Clear();
    AzHost_Trace_Start();
    EXPECT_EQ(Oblique_Setup(org, obl), 1);
    ASSERT_EQ(Worker_Wait(), 1);
    std::vector<std::string> trace = AzHost_Trace_Take();

    EXPECT_EQ(console.Count("Testing Group"), 1u);
    EXPECT_EQ(org->dim.z, 8);
    EXPECT_EQ(obl->dim.x, 8);
    ASSERT_EQ(obl->Child_Get_Nb(), 12);
    EXPECT_EQ(Frames_Of(org), org_frames);
    const std::vector<std::string> deletes{"Child_Delete " + std::string(obl->Name_Get())};
    EXPECT_EQ(Lines_Starting(trace, {"Child_Delete"}), deletes);

    /* The transform still reaches frames 6 down to 0; column 7 lies before frame 0. */
    std::vector<AzFrame *> frames = Frames_Of(obl);
    for (int k = 0; k < 12; k += 5)
        for (int x = 0; x < 8; x++) {
            int expected = x < 7 ? AzPhantom_GLI(plan, k, 3, 6 - x, 0) : AZ_GLI_INVALID;
            EXPECT_EQ(AzFrame_Get_GLI(frames[k], (float)x, 3.0f), expected) << k << "," << x;
        }
}

} // namespace
