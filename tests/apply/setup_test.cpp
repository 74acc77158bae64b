/* Direction set-up against a study loaded through the module. */
#include "apply_fixture.h"

namespace {

class Setup : public Study_Test {};

AzPhantom_Plan Spaced_Plan()
{
    AzPhantom_Plan plan = Plan_Of("Spine", 12, 10, 7);
    plan.spacing[0] = 0.75f;
    plan.spacing[1] = 0.5f;
    plan.spacing[2] = 2.5f;
    return plan;
}

TEST_F(Setup, SizesBothDirectionsFromTheFirstFrame)
{
    Enter(Spaced_Plan());
    console.Clear();
    EXPECT_EQ(Oblique_Setup(org, obl), 0);
    const std::vector<Console_Line> expected{{4, "\xF1\x02 Testing Group:\x01 Spine (dir:Original)"},
                                             {4, "    It is a valid 3D group."}};
    EXPECT_EQ(console.Lines(), expected) << Console_Dump(console.Lines());
    EXPECT_EQ(org->group_valid, 1);
    EXPECT_EQ(Dim_Text(org->ref_dim) + " " + Dim_Text(org->dim), "12 10 7 12 10 7");
    EXPECT_EQ(Dim_Text(obl->ref_dim) + " " + Dim_Text(obl->dim), "7 10 12 7 10 12");
    /* One header per direction, a copy of the first frame's, in a file
     * record of its own that ends with a null entry. */
    ASSERT_TRUE(org->dir_file && obl->dir_file);
    EXPECT_EQ(std::string(org->dir_file->name) + " " + obl->dir_file->name, "Oblique_Dir_0 Oblique_Dir_1");
    for (Kelvra_Oblique *cls : {org, obl}) {
        EXPECT_TRUE(cls->dir_file->images[0] == cls->dir_image && !cls->dir_file->images[1]);
        EXPECT_EQ(cls->Pixel_Get_Dim, &Class_Oblique_Pixel_Get_Dim);
        EXPECT_TRUE(Vect_Is(cls->voxel, 0.75f, 0.5f, 2.5f));
    }
    Vexa_Image *first = (Vexa_Image *)Oblique_Frame_Key(org, 0);
    EXPECT_EQ(Dim_Text({org->dir_image->width, org->dir_image->height, org->dir_image->slices_nb}), "12 10 7");
    EXPECT_EQ(Dim_Text({obl->dir_image->width, obl->dir_image->height, obl->dir_image->slices_nb}), "7 10 12");
    EXPECT_EQ(obl->dir_image->flags, first->flags | 0x20000000u);
    EXPECT_EQ(org->dir_image->flags, first->flags);
    EXPECT_EQ(org->dir_image->pixels_pt, nullptr);
    EXPECT_EQ(obl->Child_Get_Nb() + AzProgress_Count(), 0) << "switched off: no frames made";

    /* Nothing changed: nothing done, nothing said. */
    Kelvra_File *file_0 = org->dir_file, *file_1 = obl->dir_file;
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

TEST_F(Setup, InvalidGroupLeavesTheDirectionsBareAndIsTestedAgain)
{
    AzPhantom_Plan plan = Spaced_Plan();
    plan.slices = 1;
    Enter(plan);
    console.Clear();
    EXPECT_EQ(Oblique_Setup(org, obl), 1);
    EXPECT_EQ(org->group_valid, 0);
    EXPECT_TRUE(!org->dir_file && !org->dir_image && !obl->dir_file && !obl->dir_image);
    EXPECT_EQ(org->Pixel_Get_Dim, nullptr);
    EXPECT_EQ(console.Count("You need more than 1 frame"), 1u) << Console_Dump(console.Lines());
    console.Clear();
    EXPECT_EQ(Oblique_Setup(org, obl), 1);
    EXPECT_EQ(console.Count("Testing Group"), 1u) << "no size was recorded";
}

TEST_F(Setup, AddingAFrameRebuildsTheObliqueDirectionByItself)
{
    AzPhantom_Plan plan = Spaced_Plan();
    plan.series_uid = "1.2.3.4";
    Enter(plan);
    Build_Oblique(Swap_Matrix(6), 7, 10, 10);   // narrower than the source width, as after a rotation
    /* One more frame of the same series, past the last one. */
    AzPhantom_Plan more = plan;
    more.slices = 1;
    more.origin = Vect(0.0f, 0.0f, 7 * 2.5f);
    ASSERT_NE(Load(more), nullptr);
    ASSERT_EQ(org->Child_Get_Nb(), 8);
    EXPECT_EQ(org->group_valid, -1);
    std::vector<AzFrame *> org_frames = Frames_Of(org);

    console.Clear();
    AzHost_Trace_Start();
    EXPECT_EQ(Oblique_Setup(org, obl), 1);
    ASSERT_EQ(Wait(), 1);
    EXPECT_EQ(Lines_Starting(AzHost_Trace_Take(), {"Child_Delete"}),
              std::vector<std::string>{"Child_Delete " + std::string(obl->Name_Get())});
    EXPECT_EQ(console.Count("Testing Group"), 1u);
    EXPECT_EQ(org->dim.z * 10 + obl->dim.x, 88);
    ASSERT_EQ(obl->Child_Get_Nb(), 12);
    EXPECT_EQ(Frames_Of(org), org_frames);
    /* The transform still reaches frames 6 down to 0; column 7 lies before frame 0. */
    std::vector<AzFrame *> frames = Frames_Of(obl);
    for (int k = 0; k < 12; k += 5)
        for (int x = 0; x < 8; x++)
            EXPECT_EQ(AzFrame_Get_GLI(frames[k], (float)x, 3.0f),
                      x < 7 ? AzPhantom_GLI(plan, k, 3, 6 - x, 0) : AZ_GLI_INVALID)
                << k << "," << x;
}

} // namespace
