/* Pixel store, study callbacks, the study builder and host frames. */
#include <math.h>

#include <set>

#include "db_fixture.h"

namespace {

const int INVALID = 2147483646;

/* A 4 x 3 image of 2 slices and 2 time points, grey level 10x + 100y + 1000z + 2000t. */
Vexa_Image *Test_Image()
{
    Vexa_Image *image = AzImage_Create(4, 3, 2, 2);
    for (int t = 0; t < 2; t++)
        for (int z = 0; z < 2; z++)
            for (int i = 0; i < 12; i++)
                AzImage_GLI_Plane(image, z, t)[i] = (int16_t)(10 * (i % 4) + 100 * (i / 4) + 1000 * z + 2000 * t);
    return image;
}

struct At {
    float x, y, z, t;
    int want;
};

} // namespace

TEST_F(Db, PixelStoreIsOneZeroedBlockAfterTheRecord)
{
    Vexa_Image *image = AzImage_Create(4, 3, 2, 5);
    ASSERT_NE(image, nullptr);
    Vexa_Pixels *px = image->pixels_pt;
    /* Grey levels then tags, planes by time then slice. */
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
    const At rows[] = {
        {0, 0, 0, 0, 0},          {3, 2, 0, 0, 230},        {2, 1, 1, 1, 3120},
        {4, 0, 0, 0, 30},         {3.5f, 0, 0, 0, 30},      {0, 3, 0, 0, 200},  // the far edge reads the last pixel
        {4, 3, 0, 0, 230},        {4.01f, 0, 0, 0, INVALID}, {0, 3.01f, 0, 0, INVALID},
        {-0.01f, 0, 0, 0, INVALID}, {0, -0.01f, 0, 0, INVALID}, {NAN, 0, 0, 0, INVALID},
        {0, 0, 1.9f, 0, 1000},    {0, 0, -0.5f, 0, 0},      {0, 0, 0, 1.5f, 2000},  // z and t truncate toward 0
        {0, 0, 2, 0, INVALID},    {0, 0, -1, 0, INVALID},   {0, 0, 0, 2, INVALID},
    };
    for (const At &r : rows)
        EXPECT_EQ(AzStudy_Pixel_Get_GLI(nullptr, image, Vect(r.x, r.y, r.z, r.t)), r.want)
            << r.x << "," << r.y << "," << r.z << "," << r.t;
    EXPECT_EQ(AzStudy_Pixel_Get_GLI(nullptr, nullptr, Vect(0, 0, 0, 0)), INVALID);
    Vexa_Image bare = {};  // a header without pixels
    bare.width = 4;
    bare.height = 3;
    bare.slices_nb = 1;
    EXPECT_EQ(AzStudy_Pixel_Get_GLI(nullptr, &bare, Vect(0, 0, 0, 0)), INVALID);

    /* Bilinear between four unrelated values, half up; the host's
     * interpolation between frames reads the first frame the same way. */
    int16_t *g = AzImage_GLI_Plane(image, 0, 0);
    g[1] = 0, g[2] = 100, g[5] = 200, g[6] = 1000;
    const At mixed[] = {{1.25f, 0.5f, 0, 0, 213}, {1.5f, 0, 0, 0, 50}, {2, 0.75f, 0, 0, 775}};
    for (const At &r : mixed)
        EXPECT_EQ(AzStudy_Pixel_Get_GLI(nullptr, image, Vect(r.x, r.y, 0, 0)), r.want) << r.x << "," << r.y;
    for (float x : {0.0f, 1.25f, 2.0f, 3.7f, 4.0f, 4.01f})
        for (float y : {0.0f, 0.5f, 0.75f, 3.0f, 3.2f})
            EXPECT_EQ(Fct_GLI_Interpolate(nullptr, image, nullptr, Vect(x, y, 0, 0)),
                      AzStudy_Pixel_Get_GLI(nullptr, image, Vect(x, y, 0, 0)))
                << x << "," << y;
    AzImage_Free(image);
}

TEST_F(Db, StudyTagsRoundTripNearestPixel)
{
    Vexa_Image *image = Test_Image();
    /* Where a tag lands: plane (z + 2t) * 12 + pixel, or nowhere (-1). */
    const struct {
        Vect at;
        int index;
    } rows[] = {
        {Vect(0.49f, 0, 1, 1), 3 * 12},        {Vect(0.5f, 1.5f, 0, 0), 2 * 4 + 1},  // half a pixel rounds up
        {Vect(4, 3, 0, 0), 2 * 4 + 3},          // the far edge belongs to the last pixel
        {Vect(4.01f, 0, 0, 0), -1},             {Vect(0, -0.01f, 0, 0), -1},
        {Vect(0, 0, 2, 0), -1},                 {Vect(0, 0, 0, 2), -1},
    };
    int tag = 1;
    for (const auto &r : rows) {
        std::vector<int16_t> before(image->pixels_pt->tag, image->pixels_pt->tag + 48);
        EXPECT_EQ(AzStudy_Pixel_Set_TAG(nullptr, image, r.at, ++tag), r.index >= 0 ? 1 : 0);
        if (r.index >= 0)
            before[r.index] = (int16_t)tag;
        EXPECT_EQ(std::vector<int16_t>(image->pixels_pt->tag, image->pixels_pt->tag + 48), before) << tag;
        EXPECT_EQ(AzStudy_Pixel_Get_TAG(nullptr, image, r.at), r.index >= 0 ? tag : 0) << tag;
    }
    EXPECT_EQ(AzStudy_Pixel_Get_TAG(nullptr, image, Vect(1.49f, 1.51f, 0, 0)), 3);
    EXPECT_EQ(AzStudy_Pixel_Set_TAG(nullptr, nullptr, Vect(0, 0, 0, 0), 5), 0);
    EXPECT_EQ(AzStudy_Pixel_Get_TAG(nullptr, nullptr, Vect(0, 0, 0, 0)), 0);
    int w = 0, h = 0;
    EXPECT_EQ(AzStudy_Pixel_Get_Dim(nullptr, image, &w, &h), 1);
    EXPECT_TRUE(w == 4 && h == 3);
    EXPECT_EQ(AzStudy_Pixel_Get_Dim(nullptr, nullptr, &w, &h), 0);

    /* World position on an oblique image; pixel_size_pt takes over when set. */
    const float c = cosf(0.3f), s = sinf(0.3f);
    image->axis_row = Vect(c, s, 0);
    image->axis_col = Vect(0, 0, -1);
    image->axis_normal = Vect(-s, c, 0);
    image->pixel_size = Vect(0.5f, 0.75f, 2.0f);
    image->position = Vect(10, 20, 30);
    Vect got = AzStudy_Pixel_Get_Pos(nullptr, image, Vect(2, 1, 1, 0));
    EXPECT_TRUE(Near(got, 10 + c - 2.0f * s, 20 + s + 2.0f * c, 30 - 0.75f));
    Vect other(1, 1, 1);
    image->pixel_size_pt = &other;
    got = AzStudy_Pixel_Get_Pos(nullptr, image, Vect(2, 1, 1, 0));
    EXPECT_TRUE(Near(got, 10 + 2 * c - s, 20 + 2 * s + c, 30 - 1));
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
    plan.origin = Vect(-50, 12, 7);
    AzStudy *study = Load_Study(plan);
    ASSERT_NE(study, nullptr);
    ASSERT_EQ(study->file->images_nb, 2);
    ASSERT_EQ(AzDb_Root()->Child_Get_Nb(), 1);
    Kelvra_Class *cls = AzDb_Root()->Child_Get_Pt(0);
    AzStudy_Class *found = dynamic_cast<AzStudy_Class *>(cls);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(AzStudy_Find(found->series_key.c_str()), found);
    EXPECT_TRUE(cls->Class_A_Get() == 2 && cls->Class_B_Get() == 1);
    EXPECT_STREQ(cls->Name_Get(), "Oblique phantom");
    ASSERT_EQ(cls->Child_Get_Nb(), 12);
    std::set<std::pair<int, int>> places;
    for (int i = 0; i < 12; i++) {
        AzFrame *frame = AzFrame_Cast(cls->Child_Get_Pt(i));
        ASSERT_NE(frame, nullptr);
        EXPECT_TRUE(frame->Class_A_Get() == 3 && frame->Class_B_Get() == 3);
        int slice = i / 2, t = i % 2, w = 0, h = 0;
        EXPECT_EQ(frame->key, study->file->images[slice / 3]);
        EXPECT_TRUE(frame->z == slice % 3 && frame->t == t) << i;
        places.insert({frame->z, frame->t});
        EXPECT_EQ(AzFrame_Get_Dim(frame, &w, &h), 1);
        EXPECT_TRUE(w == 12 && h == 10);
        for (int y = 0; y < 10; y += 3)
            for (int x = 0; x < 12; x += 2) {
                ASSERT_EQ(AzFrame_Get_GLI(frame, x, y), AzPhantom_GLI(plan, x, y, slice, t));
                ASSERT_EQ(AzFrame_Get_TAG(frame, x, y), AzPhantom_TAG(plan, x, y, slice, t));
            }
        /* World position from the study description alone; the normal is row x col. */
        Vect want = Vect(-50, 12, 7) + (3 * 0.8f) * Vect(c, 0, s) + (4 * 0.6f) * Vect(0, 1, 0) +
                    (slice * 2.5f) * Vect(-s, 0, c);
        EXPECT_TRUE(Near(AzFrame_Get_Pos(frame, 3, 4), want.x, want.y, want.z)) << i;
    }
    EXPECT_EQ(places.size(), 6u);
    /* The phantom: gradient, a sphere with its label, a plane. */
    EXPECT_EQ(AzPhantom_TAG(plan, 6, 5, 3, 0), 1);
    EXPECT_EQ(AzPhantom_GLI(plan, 6, 5, 3, 1), 6 + 2 * 5 + 3 * 3 + 5 + 1000);
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

TEST_F(Db, InsertOrderSortAndGrouping)
{
    AzStudy_Plan plan = Plan_Of("Shuffled", 4, 4, 9);
    plan.phantom = AZ_PHANTOM_GRADIENT;
    plan.series_uid = "1.2.3";
    AzStudy *study = Load_Study(plan, AZ_ORDER_SHUFFLED, 7);
    Kelvra_Class *cls = AzDb_Root()->Child_Get_Pt(0);
    ASSERT_EQ(cls->Child_Get_Nb(), 9);
    auto key = [](Kelvra_Class *k, int i) { return AzFrame_Cast(k->Child_Get_Pt(i))->key; };
    bool ascending = true;
    for (int i = 0; i < 9; i++)
        ascending = ascending && key(cls, i) == study->file->images[i];
    EXPECT_FALSE(ascending);
    EXPECT_EQ(cls->Sort(1), 1);
    for (int i = 0; i < 9; i++)
        EXPECT_EQ(key(cls, i), study->file->images[i]) << i;

    /* Another series joins as a study of its own; one series, even from another file, is one study. */
    AzStudy_Plan other = plan;
    other.name = "Descending";
    other.series_uid = nullptr;
    AzStudy *second = Load_Study(other, AZ_ORDER_DESCENDING);
    plan.name = "Same series";
    AzStudy *same = Load_Study(plan);
    ASSERT_EQ(AzDb_Root()->Child_Get_Nb(), 2);
    EXPECT_EQ(cls->Child_Get_Nb(), 18);
    Kelvra_Class *cls2 = AzDb_Root()->Child_Get_Pt(1);
    EXPECT_STREQ(cls2->Name_Get(), "Descending");
    EXPECT_EQ(key(cls2, 0), second->file->images[8]);
    EXPECT_EQ(cls2->Sort(1), 1);
    EXPECT_EQ(key(cls2, 0), second->file->images[0]);

    /* Frames at one place sort by z then t; plain classes by sort key. */
    AzStudy_Plan four = other;
    four.name = "Four";
    four.slices = four.slices_per_image = four.times = 2;
    AzStudy *fourd = Load_Study(four, AZ_ORDER_DESCENDING);
    Kelvra_Class *cls3 = AzDb_Root()->Child_Get_Pt(2);
    cls3->Sort(1);
    for (int i = 0; i < 4; i++) {
        AzFrame *f = AzFrame_Cast(cls3->Child_Get_Pt(i));
        EXPECT_TRUE(f->z == i / 2 && f->t == i % 2) << i;
    }
    Kelvra_Class *k1 = Make_Class("b", 9, 0), *k2 = Make_Class("a", 9, 0);
    k1->Sort_Set("b");
    k2->Sort_Set("a");
    EXPECT_TRUE(k1->Compare(k2) > 0 && k2->Compare(k1) < 0 && k1->Compare(k1) == 0);
    delete k1;
    delete k2;

    /* No series uid: the file record's name is the key; no description:
     * the patient's name names the study; a bunch out of range enters nothing. */
    Vexa_Image **list = (Vexa_Image **)calloc(2, sizeof *list);
    list[0] = AzImage_Create(2, 2, 1, 1);
    snprintf(list[0]->patient_name, sizeof list[0]->patient_name, "Doe^Jane");
    Kelvra_File *file = new Kelvra_File("/data/x.nii", list);
    AzDb_File_Add(file);
    EXPECT_EQ(file->images_nb, 1);
    EXPECT_EQ(AzDb_Insert(file, 0, 0), 1);
    EXPECT_EQ(AzDb_Insert(file, 1, 0), 0);
    EXPECT_EQ(AzDb_Insert(file, -1, 0), 0);
    ASSERT_EQ(AzDb_Root()->Child_Get_Nb(), 4);
    EXPECT_STREQ(AzDb_Root()->Child_Get_Pt(3)->Name_Get(), "Doe^Jane");
    EXPECT_EQ(AzDb_Root()->Child_Get_Pt(3)->Child_Get_Nb(), 1);
    EXPECT_NE(AzStudy_Find("/data/x.nii"), nullptr);
    AzStudy_Plan bad;
    bad.slices = 5;
    bad.slices_per_image = 2;
    EXPECT_EQ(AzStudy_Build(bad), nullptr) << "slices not a multiple of the image's";
    for (AzStudy *x : {study, second, same, fourd})
        AzStudy_Free(x);
}

TEST_F(Db, FrameRecordsRegionsThatReachIt)
{
    AzStudy_Plan plan = Plan_Of("Phantom", 6, 5, 4);
    plan.slices_per_image = 4;
    AzStudy *study = Load_Study(plan);
    Kelvra_Class *cls = AzDb_Root()->Child_Get_Pt(0);
    AzFrame *f1 = AzFrame_Cast(cls->Child_Get_Pt(1)), *f2 = AzFrame_Cast(cls->Child_Get_Pt(2));
    ASSERT_TRUE(f1->z == 1 && f2->z == 2);
    AzHost_Pump();
    Region_4D box;
    box.kind = 6;
    box.Clear();
    box.Add(1, 1, 1.5f, 0);
    box.Add(3, 2, 2.0f, 0);
    Vexa_Image other = {};
    f1->Update_Child_A(0x800000, nullptr, f1->key, &box);    // z 1 lies below the box
    f2->Update_Child_A(0x800000, nullptr, f2->key, &box);
    EXPECT_TRUE(f1->dirty_nb == 0 && f1->update_nb == 1 && f2->dirty_nb == 1);
    EXPECT_TRUE(f2->dirty_last.min[0] == 1 && f2->dirty_last.max[1] == 2 && f2->dirty_last.min[2] == 1.5f &&
                f2->dirty_last.max[2] == 2);
    EXPECT_EQ(AzHost_Pending(), 1);  // the redraw it asked for
    f2->Update_Child_A(0x800000, nullptr, &other, &box);     // another image's key: not this frame
    EXPECT_EQ(f2->dirty_nb, 1);
    f2->Update_Child_A(0x800000, nullptr, nullptr, &box);    // a null key names every image
    EXPECT_EQ(f2->dirty_nb, 2);
    f1->Update_Child_A(0x800000, nullptr, nullptr, nullptr); // a null box covers the whole frame
    EXPECT_EQ(f1->dirty_nb, 1);
    EXPECT_TRUE(f1->dirty_last.min[0] == 0 && f1->dirty_last.max[0] == 6 && f1->dirty_last.max[1] == 5);
    std::vector<uint64_t> redraws;
    AzHost_Redraw_Hook_Set([](uint64_t flags, void *user) { ((std::vector<uint64_t> *)user)->push_back(flags); },
                           &redraws);
    EXPECT_EQ(AzHost_Pump(), 3);
    EXPECT_EQ(redraws, std::vector<uint64_t>(3, AZ_REDRAW_FRAME));
    AzStudy_Free(study);
}
