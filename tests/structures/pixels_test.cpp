/* Pixel store, study callbacks, the study builder and host frames. */
#include <math.h>
#include <stddef.h>

#include <set>

#include "db_fixture.h"

namespace {

const int INVALID = 2147483646;

/* A 4 x 3 image of 2 slices and 2 time points, grey level
 * 10x + 100y + 1000z + 2000t unless changed. */
Vexa_Image *Test_Image()
{
    Vexa_Image *image = AzImage_Create(4, 3, 2, 2);
    for (int t = 0; t < 2; t++)
        for (int z = 0; z < 2; z++) {
            int16_t *g = AzImage_GLI_Plane(image, z, t);
            for (int y = 0; y < 3; y++)
                for (int x = 0; x < 4; x++)
                    g[y * 4 + x] = (int16_t)(10 * x + 100 * y + 1000 * z + 2000 * t);
        }
    return image;
}

int GLI(Vexa_Image *image, float x, float y, float z = 0, float t = 0)
{
    return AzStudy_Pixel_Get_GLI(nullptr, image, Vect(x, y, z, t));
}

int TAG(Vexa_Image *image, float x, float y, float z = 0, float t = 0)
{
    return AzStudy_Pixel_Get_TAG(nullptr, image, Vect(x, y, z, t));
}

bool Near(const Vect &a, const Vect &b, float tol = 1e-3f)
{
    return fabsf(a.x - b.x) < tol && fabsf(a.y - b.y) < tol && fabsf(a.z - b.z) < tol;
}

}  // namespace

TEST_F(Db, PixelStoreLayout)
{
    Vexa_Image *image = AzImage_Create(4, 3, 2, 5);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 4);
    EXPECT_EQ(image->height, 3);
    EXPECT_EQ(image->slices_nb, 2);
    EXPECT_EQ(image->times_nb, 5);
    EXPECT_TRUE(Vect_Is(image->pixel_size, 1.0f, 1.0f, 1.0f));
    EXPECT_EQ(image->axis_row.x, 1.0f);
    EXPECT_EQ(image->axis_col.y, 1.0f);
    EXPECT_EQ(image->axis_normal.z, 1.0f);
    EXPECT_EQ(image->rescale_slope, 1.0f);
    Vexa_Pixels *px = image->pixels_pt;
    ASSERT_NE(px, nullptr);
    EXPECT_EQ(px->width, 4);
    EXPECT_EQ(px->height, 3);
    EXPECT_EQ(px->planes_nb, 10);
    EXPECT_EQ(px->row_stride, 4);
    EXPECT_EQ(px->plane_stride, 12);
    /* Grey levels then tags in one block, right after the record. */
    EXPECT_EQ((char *)px->gli, (char *)(px + 1));
    EXPECT_EQ((char *)px->tag, (char *)px->gli + 120 * 2);
    EXPECT_EQ(AzImage_GLI_Plane(image, 1, 2), px->gli + (2 * 2 + 1) * 12);
    EXPECT_EQ(AzImage_TAG_Plane(image, 1, 2), px->tag + (2 * 2 + 1) * 12);
    for (int i = 0; i < 120; i++)
        ASSERT_EQ(px->gli[i] | px->tag[i], 0);
    AzImage_Free(image);

    EXPECT_EQ(AzImage_Create(0, 3, 1, 1), nullptr);
    EXPECT_EQ(AzImage_Create(4, 3, 1, 0), nullptr);
    AzImage_Free(nullptr);
}

TEST_F(Db, StudyGreyLevelsAtBoundaries)
{
    Vexa_Image *image = Test_Image();
    EXPECT_EQ(GLI(image, 0, 0), 0);
    EXPECT_EQ(GLI(image, 3, 2), 230);
    EXPECT_EQ(GLI(image, 2, 1, 1, 1), 3120);
    /* The far edge reads the last column and row. */
    EXPECT_EQ(GLI(image, 4, 0), 30);
    EXPECT_EQ(GLI(image, 3.5f, 0), 30);
    EXPECT_EQ(GLI(image, 0, 3), 200);
    EXPECT_EQ(GLI(image, 4, 3), 230);
    /* One step beyond is outside. */
    EXPECT_EQ(GLI(image, 4.01f, 0), INVALID);
    EXPECT_EQ(GLI(image, 0, 3.01f), INVALID);
    EXPECT_EQ(GLI(image, -0.01f, 0), INVALID);
    EXPECT_EQ(GLI(image, 0, -0.01f), INVALID);
    EXPECT_EQ(GLI(image, NAN, 0), INVALID);
    /* z and t are truncated toward zero. */
    EXPECT_EQ(GLI(image, 0, 0, 1.9f, 0), 1000);
    EXPECT_EQ(GLI(image, 0, 0, -0.5f, 0), 0);
    EXPECT_EQ(GLI(image, 0, 0, 0, 1.5f), 2000);
    EXPECT_EQ(GLI(image, 0, 0, 2, 0), INVALID);
    EXPECT_EQ(GLI(image, 0, 0, -1, 0), INVALID);
    EXPECT_EQ(GLI(image, 0, 0, 0, 2), INVALID);
    /* No image, or a header without pixels. */
    EXPECT_EQ(GLI(nullptr, 0, 0), INVALID);
    Vexa_Image bare = {};
    bare.width = 4;
    bare.height = 3;
    bare.slices_nb = 1;
    EXPECT_EQ(GLI(&bare, 0, 0), INVALID);

    /* Bilinear between four unrelated values. */
    int16_t *g = AzImage_GLI_Plane(image, 0, 0);
    g[0 * 4 + 1] = 0;
    g[0 * 4 + 2] = 100;
    g[1 * 4 + 1] = 200;
    g[1 * 4 + 2] = 1000;
    EXPECT_EQ(GLI(image, 1.25f, 0.5f), 213);  // (25 * 0.5 + 400 * 0.5) = 212.5, rounded up
    EXPECT_EQ(GLI(image, 1.5f, 0), 50);
    EXPECT_EQ(GLI(image, 2, 0.75f), 775);
    /* The host's interpolation between frames reads the first frame the same way. */
    for (float x : {0.0f, 1.25f, 2.0f, 3.7f, 4.0f, 4.01f})
        for (float y : {0.0f, 0.5f, 0.75f, 3.0f, 3.2f})
            EXPECT_EQ(Fct_GLI_Interpolate(nullptr, image, nullptr, Vect(x, y, 0, 0)), GLI(image, x, y))
                << x << "," << y;
    AzImage_Free(image);
}

TEST_F(Db, StudyTagsRoundTripNearestPixel)
{
    Vexa_Image *image = Test_Image();
    Vect at(0.49f, 0, 1, 1);
    EXPECT_EQ(AzStudy_Pixel_Set_TAG(nullptr, image, at, 7), 1);
    EXPECT_EQ(AzImage_TAG_Plane(image, 1, 1)[0], 7);
    EXPECT_EQ(TAG(image, 0, 0, 1, 1), 7);
    EXPECT_EQ(TAG(image, 0, 0, 0, 1), 0);
    /* Half a pixel rounds up. */
    EXPECT_EQ(AzStudy_Pixel_Set_TAG(nullptr, image, Vect(0.5f, 1.5f, 0, 0), 3), 1);
    EXPECT_EQ(AzImage_TAG_Plane(image, 0, 0)[2 * 4 + 1], 3);
    EXPECT_EQ(TAG(image, 1.49f, 1.51f), 3);
    EXPECT_EQ(TAG(image, 0.49f, 1.5f), 0);
    /* The far edge belongs to the last pixel. */
    EXPECT_EQ(AzStudy_Pixel_Set_TAG(nullptr, image, Vect(4, 3, 0, 0), 9), 1);
    EXPECT_EQ(AzImage_TAG_Plane(image, 0, 0)[2 * 4 + 3], 9);
    EXPECT_EQ(TAG(image, 3.6f, 2.6f), 9);
    /* Outside: nothing written, 0. */
    int before = 0;
    for (int i = 0; i < 48; i++)
        before += image->pixels_pt->tag[i];
    EXPECT_EQ(AzStudy_Pixel_Set_TAG(nullptr, image, Vect(4.01f, 0, 0, 0), 5), 0);
    EXPECT_EQ(AzStudy_Pixel_Set_TAG(nullptr, image, Vect(0, -0.01f, 0, 0), 5), 0);
    EXPECT_EQ(AzStudy_Pixel_Set_TAG(nullptr, image, Vect(0, 0, 2, 0), 5), 0);
    EXPECT_EQ(AzStudy_Pixel_Set_TAG(nullptr, image, Vect(0, 0, 0, 2), 5), 0);
    EXPECT_EQ(AzStudy_Pixel_Set_TAG(nullptr, nullptr, Vect(0, 0, 0, 0), 5), 0);
    int after = 0;
    for (int i = 0; i < 48; i++)
        after += image->pixels_pt->tag[i];
    EXPECT_EQ(after, before);
    EXPECT_EQ(TAG(image, 4.01f, 0), 0);
    EXPECT_EQ(TAG(nullptr, 0, 0), 0);

    int w = 0, h = 0;
    EXPECT_EQ(AzStudy_Pixel_Get_Dim(nullptr, image, &w, &h), 1);
    EXPECT_EQ(w, 4);
    EXPECT_EQ(h, 3);
    EXPECT_EQ(AzStudy_Pixel_Get_Dim(nullptr, nullptr, &w, &h), 0);
    AzImage_Free(image);
}

TEST_F(Db, StudyWorldPositionOnAnObliqueImage)
{
    Vexa_Image *image = AzImage_Create(8, 8, 3, 1);
    const float c = cosf(0.3f), s = sinf(0.3f);
    image->axis_row = Vect(c, s, 0);
    image->axis_col = Vect(0, 0, -1);
    image->axis_normal = Vect(-s, c, 0);  // row x col
    image->pixel_size = Vect(0.5f, 0.75f, 2.0f);
    image->position = Vect(10, 20, 30);
    Vect got = AzStudy_Pixel_Get_Pos(nullptr, image, Vect(2, 1, 1, 0));
    Vect want(10 + 2 * 0.5f * c - 2.0f * s, 20 + 2 * 0.5f * s + 2.0f * c, 30 - 0.75f);
    EXPECT_TRUE(Near(got, want)) << got.x << " " << got.y << " " << got.z;
    /* pixel_size_pt takes over when set. */
    Vect other(1, 1, 1);
    image->pixel_size_pt = &other;
    got = AzStudy_Pixel_Get_Pos(nullptr, image, Vect(2, 1, 1, 0));
    want = Vect(10 + 2 * c - s, 20 + 2 * s + c, 30 - 1);
    EXPECT_TRUE(Near(got, want)) << got.x << " " << got.y << " " << got.z;
    image->pixel_size_pt = nullptr;
    AzImage_Free(image);
}

TEST_F(Db, BuiltStudyAnswersThroughItsFrames)
{
    AzStudy_Plan plan = Plan_Of("Oblique phantom", 12, 10, 6);
    plan.times = 2;
    plan.slices_per_image = 3;
    plan.spacing[0] = 0.8f;
    plan.spacing[1] = 0.6f;
    plan.spacing[2] = 2.5f;
    const float c = cosf(0.4f), s = sinf(0.4f);
    plan.row = Vect(c, 0, s);
    plan.col = Vect(0, 1, 0);
    plan.origin = Vect(-50, 12, 7);
    AzStudy *study = Load_Study(plan, AZ_ORDER_ASCENDING);
    ASSERT_NE(study, nullptr);
    ASSERT_EQ(study->file->images_nb, 2);

    Kelvra_Class *root = AzDb_Root();
    ASSERT_EQ(root->Child_Get_Nb(), 1);
    Kelvra_Class *cls = root->Child_Get_Pt(0);
    AzStudy_Class *found = dynamic_cast<AzStudy_Class *>(cls);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(AzStudy_Find(found->series_key.c_str()), found);
    EXPECT_EQ(cls->Class_A_Get(), 2);
    EXPECT_EQ(cls->Class_B_Get(), 1);
    EXPECT_STREQ(cls->Name_Get(), "Oblique phantom");
    ASSERT_EQ(cls->Child_Get_Nb(), 12);

    /* The normal is row x col. */
    const Vect normal(-s, 0, c);
    std::set<std::pair<int, int>> places;
    for (int i = 0; i < 12; i++) {
        AzFrame *frame = AzFrame_Cast(cls->Child_Get_Pt(i));
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->Class_A_Get(), 3);
        EXPECT_EQ(frame->Class_B_Get(), 3);
        int slice = i / 2, t = i % 2;
        EXPECT_EQ(frame->key, study->file->images[slice / 3]);
        EXPECT_EQ(frame->z, slice % 3);
        EXPECT_EQ(frame->t, t);
        places.insert({frame->z, frame->t});
        int w = 0, h = 0;
        EXPECT_EQ(AzFrame_Get_Dim(frame, &w, &h), 1);
        EXPECT_EQ(w, 12);
        EXPECT_EQ(h, 10);
        for (int y = 0; y < 10; y += 3)
            for (int x = 0; x < 12; x += 2) {
                ASSERT_EQ(AzFrame_Get_GLI(frame, x, y), AzPhantom_GLI(plan, x, y, slice, t));
                ASSERT_EQ(AzFrame_Get_TAG(frame, x, y), AzPhantom_TAG(plan, x, y, slice, t));
            }
        /* World position computed from the study description alone. */
        Vect want = Vect(-50, 12, 7) + (3 * 0.8f) * Vect(c, 0, s) + (4 * 0.6f) * Vect(0, 1, 0) +
                    (slice * 2.5f) * normal;
        Vect got = AzFrame_Get_Pos(frame, 3, 4);
        EXPECT_TRUE(Near(got, want)) << i << ": " << got.x << " " << got.y << " " << got.z;
    }
    EXPECT_EQ(places.size(), 6u);

    /* The phantom has both spheres and a plane, with labels. */
    int cx = 6, cy = 5, cs = 3;
    EXPECT_EQ(AzPhantom_TAG(plan, cx, cy, cs, 0), 1);
    EXPECT_EQ(AzPhantom_GLI(plan, cx, cy, cs, 1), cx + 2 * cy + 3 * cs + 5 + 1000);
    EXPECT_EQ(AzPhantom_TAG(plan, 0, 0, 0, 0), 0);
    EXPECT_EQ(AzPhantom_GLI(plan, 0, 0, 0, 0), 0);
    EXPECT_EQ(AzPhantom_GLI(plan, 3, 0, 0, 0), 3 + 300);

    /* Painting through a frame reaches the image. */
    AzFrame *frame = AzFrame_Cast(cls->Child_Get_Pt(5));
    EXPECT_EQ(AzFrame_Set_TAG(frame, 1, 1, 42), 1);
    EXPECT_EQ(AzImage_TAG_Plane(frame->key, frame->z, frame->t)[1 * 12 + 1], 42);
    EXPECT_EQ(AzFrame_Get_TAG(frame, 1.2f, 0.8f), 42);
    AzStudy_Free(study);
}

TEST_F(Db, InsertOrderAndSort)
{
    AzStudy_Plan plan = Plan_Of("Shuffled", 4, 4, 9);
    plan.phantom = AZ_PHANTOM_GRADIENT;
    AzStudy *study = Load_Study(plan, AZ_ORDER_SHUFFLED, 7);
    Kelvra_Class *cls = AzDb_Root()->Child_Get_Pt(0);
    ASSERT_EQ(cls->Child_Get_Nb(), 9);
    std::vector<Vexa_Image *> arrival;
    for (int i = 0; i < 9; i++)
        arrival.push_back(AzFrame_Cast(cls->Child_Get_Pt(i))->key);
    bool ascending = true;
    for (int i = 0; i < 9; i++)
        ascending = ascending && arrival[i] == study->file->images[i];
    EXPECT_FALSE(ascending);

    /* A second study joins as a study of its own; the first is unchanged. */
    AzStudy_Plan other = plan;
    other.name = "Descending";
    AzStudy *second = Load_Study(other, AZ_ORDER_DESCENDING);
    ASSERT_EQ(AzDb_Root()->Child_Get_Nb(), 2);
    Kelvra_Class *cls2 = AzDb_Root()->Child_Get_Pt(1);
    EXPECT_STREQ(cls2->Name_Get(), "Descending");
    EXPECT_EQ(AzFrame_Cast(cls2->Child_Get_Pt(0))->key, second->file->images[8]);

    EXPECT_EQ(cls->Sort(1), 1);
    for (int i = 0; i < 9; i++)
        EXPECT_EQ(AzFrame_Cast(cls->Child_Get_Pt(i))->key, study->file->images[i]) << i;
    EXPECT_EQ(cls2->Sort(1), 1);
    EXPECT_EQ(AzFrame_Cast(cls2->Child_Get_Pt(0))->key, second->file->images[0]);

    /* Frames at one place sort by z then t; plain classes by sort key. */
    AzStudy_Plan four = plan;
    four.name = "Four";
    four.slices = 2;
    four.slices_per_image = 2;
    four.times = 2;
    AzStudy *fourd = Load_Study(four, AZ_ORDER_DESCENDING);
    Kelvra_Class *cls3 = AzDb_Root()->Child_Get_Pt(2);
    cls3->Sort(1);
    int want[4][2] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}};
    for (int i = 0; i < 4; i++) {
        AzFrame *f = AzFrame_Cast(cls3->Child_Get_Pt(i));
        EXPECT_EQ(f->z, want[i][0]);
        EXPECT_EQ(f->t, want[i][1]);
    }
    Kelvra_Class *k1 = Make_Class("b", 9, 0), *k2 = Make_Class("a", 9, 0);
    k1->Sort_Set("b");
    k2->Sort_Set("a");
    EXPECT_GT(k1->Compare(k2), 0);
    EXPECT_LT(k2->Compare(k1), 0);
    EXPECT_EQ(k1->Compare(k1), 0);
    delete k1;
    delete k2;
    AzStudy_Free(study);
    AzStudy_Free(second);
    AzStudy_Free(fourd);
}

TEST_F(Db, StudiesGroupBySeriesAndFileName)
{
    AzStudy_Plan plan = Plan_Of("Same series", 3, 3, 2);
    plan.series_uid = "1.2.3";
    AzStudy *a = Load_Study(plan);
    plan.name = "Other file";
    AzStudy *b = Load_Study(plan);
    ASSERT_EQ(AzDb_Root()->Child_Get_Nb(), 1);
    EXPECT_EQ(AzDb_Root()->Child_Get_Pt(0)->Child_Get_Nb(), 4);

    /* No series uid: the file record's name is the key; no description:
     * the patient's name names the study. */
    Vexa_Image **list = (Vexa_Image **)calloc(2, sizeof *list);
    list[0] = AzImage_Create(2, 2, 1, 1);
    snprintf(list[0]->patient_name, sizeof list[0]->patient_name, "Doe^Jane");
    Kelvra_File *file = new Kelvra_File("/data/x.nii", list);
    AzDb_File_Add(file);
    EXPECT_EQ(file->images_nb, 1);
    EXPECT_EQ(AzDb_Insert(file, 0, 0), 1);
    ASSERT_EQ(AzDb_Root()->Child_Get_Nb(), 2);
    EXPECT_STREQ(AzDb_Root()->Child_Get_Pt(1)->Name_Get(), "Doe^Jane");
    EXPECT_NE(AzStudy_Find("/data/x.nii"), nullptr);
    /* A bunch out of range enters nothing. */
    EXPECT_EQ(AzDb_Insert(file, 1, 0), 0);
    EXPECT_EQ(AzDb_Insert(file, -1, 0), 0);
    EXPECT_EQ(AzDb_Root()->Child_Get_Pt(1)->Child_Get_Nb(), 1);
    AzStudy_Free(a);
    AzStudy_Free(b);

    /* Study plans that cannot be built. */
    AzStudy_Plan bad;
    bad.slices = 5;
    bad.slices_per_image = 2;
    EXPECT_EQ(AzStudy_Build(bad), nullptr);
}

TEST_F(Db, FrameRecordsRegionsThatReachIt)
{
    AzStudy_Plan plan = Plan_Of("Phantom", 6, 5, 4);
    plan.slices_per_image = 4;
    AzStudy *study = Load_Study(plan);
    Kelvra_Class *cls = AzDb_Root()->Child_Get_Pt(0);
    AzFrame *f1 = AzFrame_Cast(cls->Child_Get_Pt(1));
    AzFrame *f2 = AzFrame_Cast(cls->Child_Get_Pt(2));
    ASSERT_EQ(f1->z, 1);
    ASSERT_EQ(f2->z, 2);
    AzHost_Pump();

    Region_4D box;
    box.kind = 6;
    box.Clear();
    box.Add(1, 1, 1.5f, 0);
    box.Add(3, 2, 2.0f, 0);
    f1->Update_Child_A(0x800000, nullptr, f1->key, &box);
    EXPECT_EQ(f1->dirty_nb, 0);  // z 1 lies below the box
    EXPECT_EQ(f1->update_nb, 1);
    f2->Update_Child_A(0x800000, nullptr, f2->key, &box);
    EXPECT_EQ(f2->dirty_nb, 1);
    EXPECT_EQ(f2->dirty_last.min[0], 1.0f);
    EXPECT_EQ(f2->dirty_last.max[1], 2.0f);
    EXPECT_EQ(f2->dirty_last.min[2], 1.5f);
    EXPECT_EQ(f2->dirty_last.max[2], 2.0f);
    EXPECT_EQ(AzHost_Pending(), 1);  // the redraw it asked for

    /* Another image's key: not this frame. */
    Vexa_Image other = {};
    f2->Update_Child_A(0x800000, nullptr, &other, &box);
    EXPECT_EQ(f2->dirty_nb, 1);
    /* A null key names every image. */
    f2->Update_Child_A(0x800000, nullptr, nullptr, &box);
    EXPECT_EQ(f2->dirty_nb, 2);
    /* A null box covers the whole frame. */
    f1->Update_Child_A(0x800000, nullptr, nullptr, nullptr);
    EXPECT_EQ(f1->dirty_nb, 1);
    EXPECT_EQ(f1->dirty_last.min[0], 0.0f);
    EXPECT_EQ(f1->dirty_last.max[0], 6.0f);
    EXPECT_EQ(f1->dirty_last.max[1], 5.0f);

    std::vector<uint64_t> redraws;
    AzHost_Redraw_Hook_Set([](uint64_t flags, void *user) { ((std::vector<uint64_t> *)user)->push_back(flags); },
                           &redraws);
    EXPECT_EQ(AzHost_Pump(), 3);
    EXPECT_EQ(redraws, std::vector<uint64_t>({AZ_REDRAW_FRAME, AZ_REDRAW_FRAME, AZ_REDRAW_FRAME}));
    AzStudy_Free(study);
}
