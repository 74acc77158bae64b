/*
 * Painting kept: strokes painted by a session on a frame of either
 * direction of the phantom, with the Oblique direction turned, are saved
 * (the study's tags on its grid, the Oblique direction's on its own) and
 * read back with the host's reader: each stroke's tag stands in both files
 * at the world position where it was painted.
 */
#include <math.h>

#include "app_test.h"
#include "hostapp/lib/az_labels.h"
#include "hostapp/lib/az_read.h"

namespace {

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

AzVec3 World_Of(AzApp *app, int direction, int frame, int x, int y)
{
    Kelvra_Class *cls = AzApp_Direction(app, 0, direction);
    Vect p = AzFrame_Get_Pos(AzFrame_Cast(cls->Child_Get_Pt(frame)), static_cast<float>(x), static_cast<float>(y));
    return {p.x, p.y, p.z};
}

} // namespace

TEST_F(App_Test, PaintedStrokesOnBothDirectionsAreSavedAtTheirWorldPosition)
{
    std::string folder = Output_Folder("paint");
    ASSERT_FALSE(folder.empty());
    ASSERT_TRUE(Start());
    ASSERT_EQ(AZ_EXIT_OK, AzApp_Load_Phantom(&app));
    ASSERT_EQ("", Session(AzSession_Reslice(20.0, -15.0, 1) + "dump \"" + folder + "/dump\"\n", "reslice"));
    Kelvra_Class *oblique = AzApp_Direction(&app, 0, 1);
    ASSERT_GT(oblique->Child_Get_Nb(), 40);
    int n = oblique->Child_Get_Nb() / 2;
    // A stroke across three slices of the Original direction, one disc on an oblique frame.
    ASSERT_EQ("", Session("paint oblique " + std::to_string(n) + " 50 40 3 200\n"
                          "paint original 23 30 60 3 201\npaint original 24 30 60 3 201\n"
                          "paint original 25 30 60 3 201\n"
                          "save-tags \"" + folder + "/study.nii.gz\" \"" + folder + "/oblique.nii.gz\"\n", "paint"));
    EXPECT_EQ(0, AzTags_Unsaved());
    AzVec3 on_oblique = World_Of(&app, 1, n, 50, 40), on_original = World_Of(&app, 0, 24, 30, 60);
    // Painting off the frame or with an unknown region stops the session with the reason.
    EXPECT_EQ("bad:1: nothing painted: (500, 40) lies off frame 2 of \"Phantom (dir:Oblique)\"",
              Session("paint oblique 2 500 40 1 7\n", "bad"));
    EXPECT_EQ("bad:1: no region is named \"Cortex\"", Session("paint oblique 2 5 5 1 Cortex\n", "bad"));
    for (const char *name : {"/study.nii.gz", "/oblique.nii.gz"}) {
        SCOPED_TRACE(name);
        AzLabels saved;
        AzLoad_Report report;
        ASSERT_EQ(1, AzNifti_Read_Labels(folder + name, &saved, &report));
        EXPECT_EQ(200, Value_At(saved, on_oblique));
        EXPECT_EQ(201, Value_At(saved, on_original));
        EXPECT_TRUE(File_Exists(AzTags_Beside(folder + name, ".lut")));
    }
}
