/* Pixel store, study callbacks, the study builder and host frames. */
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

int GLI(Vexa_Image *image, float x, float y, float z = 0, float t = 0)
{
    return AzStudy_Pixel_Get_GLI(nullptr, image, Vect(x, y, z, t));
}

} // namespace

TEST_F(Db, PixelStoreIsOneZeroedBlockAfterTheRecord)
{
    Vexa_Image *image = AzImage_Create(4, 3, 2, 5);
    ASSERT_NE(image, nullptr);
    Vexa_Pixels *px = image->pixels_pt;
    /* Grey levels then tags, planes by time then slice. */
    EXPECT_TRUE((char *)px->gli == (char *)(px + 1) && (char *)px->tag == (char *)px->gli + 120 * 2);
    EXPECT_EQ(AzImage_TAG_Plane(image, 1, 2), px->tag + (2 * 2 + 1) * 12);
    for (int i = 0; i < 120; i++)
        ASSERT_EQ(px->gli[i] | px->tag[i], 0);
    AzImage_Free(image);
    EXPECT_TRUE(AzImage_Create(0, 3, 1, 1) == nullptr && AzImage_Create(4, 3, 1, 0) == nullptr);
    /* A series: 40 brain-sized planes share one mapping, 3 small ones are
     * allocated one by one; either way zeroed, laid out as above, apart
     * from each other, and freed one at a time in any order. */
    for (int count : {40, 3}) {
        int w = count == 40 ? 181 : 4, h = count == 40 ? 217 : 3, n = w * h * 2;
        std::vector<Vexa_Image *> series(count);
        ASSERT_EQ(AzImage_Create_Series(count, w, h, 1, 2, series.data()), 1);
        for (int i = 0; i < count; i++) {
            Vexa_Pixels *p = series[i]->pixels_pt;
            ASSERT_TRUE((char *)p->gli == (char *)(p + 1) && p->tag == (uint8_t *)(p->gli + n) && p->gli[0] == 0 &&
                        p->tag[n - 1] == 0 && series[i]->slices_nb == 1 && series[i]->times_nb == 2);
            p->gli[0] = p->gli[n - 1] = (int16_t)i, p->tag[0] = p->tag[n - 1] = (uint8_t)i;
        }
        for (int i = 0; i < count; i++) {
            Vexa_Pixels *p = series[i]->pixels_pt;
            EXPECT_TRUE(p->gli[0] == i && p->gli[n - 1] == i && p->tag[0] == i && p->tag[n - 1] == i) << i;
        }
        for (int i : {1, 0})
            for (int k = i; k < count; k += 2)
                AzImage_Free(series[k]);
    }
    Vexa_Image *none = nullptr;
    EXPECT_TRUE(AzImage_Create_Series(0, 4, 3, 1, 1, &none) == 0 && AzImage_Create_Series(1, 0, 3, 1, 1, &none) == 0);
}

TEST_F(Db, StudyGreyLevelsAtBoundaries)
{
    Vexa_Image *image = Test_Image();
    /* The far edge reads the last pixel; one step beyond is outside; z and t truncate toward 0. */
    const float rows[][5] = {
        {3, 2, 0, 0, 230},     {2, 1, 1, 1, 3120},    {4, 0, 0, 0, 30},     {0, 3, 0, 0, 200},  {4.01f, 0, 0, 0, -1},
        {0, 3.01f, 0, 0, -1},  {-0.01f, 0, 0, 0, -1}, {NAN, 0, 0, 0, -1},   {0, 0, 1.9f, 0, 1000},
        {0, 0, -0.5f, 0, 0},   {0, 0, 0, 1.5f, 2000}, {0, 0, 2, 0, -1},     {0, 0, -1, 0, -1},  {0, 0, 0, 2, -1},
        {3.5f, 0, 0, 0, 30},   {0, 2.5f, 0, 0, 200}};  // past the last column or row: no neighbour to weigh
    for (const auto &r : rows)
        EXPECT_EQ(GLI(image, r[0], r[1], r[2], r[3]), r[4] < 0 ? INVALID : (int)r[4]) << r[0] << "," << r[1] << "," << r[2] << "," << r[3];
    EXPECT_EQ(GLI(nullptr, 0, 0), INVALID);
    /* Bilinear between four unrelated values, half up; the host's
     * interpolation between frames reads the first frame the same way. */
    int16_t *g = AzImage_GLI_Plane(image, 0, 0);
    g[1] = 0, g[2] = 100, g[5] = 200, g[6] = 1000;
    EXPECT_TRUE(GLI(image, 1.25f, 0.5f) == 213 && GLI(image, 2, 0.75f) == 775);  // 212.5 rounds up
    for (float x : {0.0f, 1.25f, 3.7f, 4.0f, 4.01f})
        for (float y : {0.0f, 0.5f, 3.0f, 3.2f})
            EXPECT_EQ(Fct_GLI_Interpolate(nullptr, image, nullptr, Vect(x, y, 0, 0)), GLI(image, x, y)) << x << "," << y;
    AzImage_Free(image);
}

TEST_F(Db, StudyTagsRoundTripNearestPixelAndWorldPosition)
{
    Vexa_Image *image = Test_Image();
    /* Where a tag lands: plane (z + 2t) * 12 + pixel, or nowhere (-1). */
    const std::pair<Vect, int> rows[] = {{Vect(0.49f, 0, 1, 1), 3 * 12}, {Vect(0.5f, 1.5f, 0, 0), 2 * 4 + 1},  // half a pixel rounds up
                {Vect(4, 3, 0, 0), 2 * 4 + 3},  // the far edge: the last pixel
                {Vect(4.01f, 0, 0, 0), -1}, {Vect(0, -0.01f, 0, 0), -1}, {Vect(0, 0, 2, 0), -1}, {Vect(0, 0, 0, 2), -1}};
    int tag = 1;
    for (const auto &[at, index] : rows) {
        std::vector<int16_t> want(image->pixels_pt->tag, image->pixels_pt->tag + 48);
        EXPECT_EQ(AzStudy_Pixel_Set_TAG(nullptr, image, at, ++tag), index >= 0 ? 1 : 0);
        if (index >= 0)
            want[index] = (int16_t)tag;
        EXPECT_EQ(std::vector<int16_t>(image->pixels_pt->tag, image->pixels_pt->tag + 48), want) << tag;
        EXPECT_EQ(AzStudy_Pixel_Get_TAG(nullptr, image, at), index >= 0 ? tag : 0) << tag;
    }
    EXPECT_TRUE(AzStudy_Pixel_Get_TAG(nullptr, image, Vect(1.49f, 1.51f, 0, 0)) == 3 &&
                AzStudy_Pixel_Set_TAG(nullptr, nullptr, Vect(0, 0, 0, 0), 5) == 0);
    /* World position on an oblique image; pixel_size_pt takes over when set. */
    const float c = cosf(0.3f), s = sinf(0.3f);
    image->axis_row = Vect(c, s, 0);
    image->axis_col = Vect(0, 0, -1);
    image->axis_normal = Vect(-s, c, 0);
    image->pixel_size = Vect(0.5f, 0.75f, 2.0f);
    image->position = Vect(10, 20, 30);
    EXPECT_TRUE(Vect_Is(AzStudy_Pixel_Get_Pos(nullptr, image, Vect(2, 1, 1, 0)), 10 + c - 2 * s, 20 + s + 2 * c, 29.25f));
    Vect other(1, 1, 1);
    image->pixel_size_pt = &other;
    EXPECT_TRUE(Vect_Is(AzStudy_Pixel_Get_Pos(nullptr, image, Vect(2, 1, 1, 0)), 10 + 2 * c - s, 20 + 2 * s + c, 29));
    image->pixel_size_pt = nullptr;
    AzImage_Free(image);
}

TEST_F(Db, BuiltStudyAnswersThroughItsFrames)
{
    AzPhantom_Plan plan = Plan_Of("Oblique phantom", 12, 10, 6, 0.8f, 0.6f, 2.5f);
    plan.times = 2;
    plan.slices_per_image = 3;
    const float c = cosf(0.4f), s = sinf(0.4f);
    plan.row = Vect(c, 0, s);
    plan.origin = Vect(-50, 12, 7);
    AzPhantom *study = Load(plan);
    ASSERT_TRUE(study && study->file->images_nb == 2 && AzDb_Root()->Child_Get_Nb() == 1);
    Kelvra_Class *cls = AzDb_Root()->Child_Get_Pt(0);
    AzStudy_Class *found = dynamic_cast<AzStudy_Class *>(cls);
    ASSERT_TRUE(found && AzStudy_Find(found->series_key.c_str()) == found);
    EXPECT_STREQ(cls->Name_Get(), "Oblique phantom");
    ASSERT_EQ(cls->Child_Get_Nb(), 12);
    for (int i = 0; i < 12; i++) {
        AzFrame *frame = AzFrame_Cast(cls->Child_Get_Pt(i));
        ASSERT_NE(frame, nullptr);
        int slice = i / 2, t = i % 2, w = 0, h = 0;
        EXPECT_TRUE(frame->Class_A_Get() == 3 && frame->Class_B_Get() == 3);
        EXPECT_TRUE(frame->key == study->file->images[slice / 3] && frame->z == slice % 3 && frame->t == t) << i;
        EXPECT_TRUE(AzFrame_Get_Dim(frame, &w, &h) == 1 && w == 12 && h == 10);
        for (int p = 0; p < 120; p += 7) {
            ASSERT_EQ(AzFrame_Get_GLI(frame, p % 12, p / 12), AzPhantom_GLI(plan, p % 12, p / 12, slice, t));
            ASSERT_EQ(AzFrame_Get_TAG(frame, p % 12, p / 12), AzPhantom_TAG(plan, p % 12, p / 12, slice, t));
        }
        /* World position from the study description alone; the normal is row x col. */
        Vect want = plan.origin + (3 * 0.8f) * plan.row + (4 * 0.6f) * plan.col + (slice * 2.5f) * Vect(-s, 0, c);
        EXPECT_TRUE(Vect_Is(AzFrame_Get_Pos(frame, 3, 4), want.x, want.y, want.z)) << i;
    }
    /* Painting through a frame reaches the image. */
    AzFrame *frame = AzFrame_Cast(cls->Child_Get_Pt(5));
    EXPECT_EQ(AzFrame_Set_TAG(frame, 1, 1, 42), 1);
    EXPECT_TRUE(AzImage_TAG_Plane(frame->key, frame->z, frame->t)[1 * 12 + 1] == 42 &&
                AzFrame_Get_TAG(frame, 1.2f, 0.8f) == 42);
}

TEST_F(Db, InsertOrderSortAndGrouping)
{
    AzPhantom_Plan plan = Plan_Of("Shuffled", 4, 4, 9);
    plan.series_uid = "1.2.3";
    AzPhantom *study = Load(plan, AZ_ORDER_SHUFFLED, 7);
    Kelvra_Class *cls = AzDb_Root()->Child_Get_Pt(0);
    auto keys = [](Kelvra_Class *k) {
        std::vector<Vexa_Image *> out;
        for (int i = 0; i < k->Child_Get_Nb(); i++)
            out.push_back(AzFrame_Cast(k->Child_Get_Pt(i))->key);
        return out;
    };
    std::vector<Vexa_Image *> ascending(study->file->images, study->file->images + 9);
    EXPECT_NE(keys(cls), ascending);
    EXPECT_TRUE(cls->Sort(1) == 1 && keys(cls) == ascending);
    /* Another series joins as a study of its own; one series, even from another file, is one study. */
    AzPhantom_Plan other = plan;
    other.name = "Four";
    other.series_uid = nullptr;
    other.slices = other.slices_per_image = other.times = 2;
    Load(other, AZ_ORDER_DESCENDING);
    plan.name = "Same series";
    Load(plan);
    ASSERT_TRUE(AzDb_Root()->Child_Get_Nb() == 2 && cls->Child_Get_Nb() == 18);
    /* Frames at one place sort by z then t. */
    Kelvra_Class *cls2 = AzDb_Root()->Child_Get_Pt(1);
    EXPECT_STREQ(cls2->Name_Get(), "Four");
    EXPECT_EQ(AzFrame_Cast(cls2->Child_Get_Pt(0))->z, 1);
    cls2->Sort(1);
    for (int i = 0; i < 4; i++) {
        AzFrame *f = AzFrame_Cast(cls2->Child_Get_Pt(i));
        EXPECT_TRUE(f->z == i / 2 && f->t == i % 2) << i;
    }
    /* No series uid: the file record's name is the key; no description: the patient's
     * name names the study; a bunch out of range enters nothing. */
    Vexa_Image **list = (Vexa_Image **)calloc(2, sizeof *list);
    list[0] = AzImage_Create(2, 2, 1, 1);
    snprintf(list[0]->patient_name, sizeof list[0]->patient_name, "Doe^Jane");
    Kelvra_File *file = new Kelvra_File("/data/x.nii", list);
    AzDb_File_Add(file);
    EXPECT_EQ(file->images_nb, 1);
    EXPECT_TRUE(AzDb_Insert(file, 0, 0) == 1 && AzDb_Insert(file, 1, 0) == 0 && AzDb_Insert(file, -1, 0) == 0);
    ASSERT_EQ(AzDb_Root()->Child_Get_Nb(), 3);
    EXPECT_STREQ(AzDb_Root()->Child_Get_Pt(2)->Name_Get(), "Doe^Jane");
    EXPECT_EQ(AzStudy_Find("/data/x.nii"), AzDb_Root()->Child_Get_Pt(2));
}

TEST_F(Db, FrameRecordsRegionsThatReachIt)
{
    AzPhantom_Plan plan = Plan_Of("Phantom", 6, 5, 4);
    plan.slices_per_image = 4;
    Kelvra_Class *cls = AzApp_Study_Class(Load(plan));
    AzFrame *f1 = AzFrame_Cast(cls->Child_Get_Pt(1)), *f2 = AzFrame_Cast(cls->Child_Get_Pt(2));
    AzHost_Pump();
    Region_4D box;
    box.Clear(), box.Add(1, 1, 1.5f, 0), box.Add(3, 2, 2.0f, 0);
    Vexa_Image other = {};
    f1->Update_Child_A(0x800000, nullptr, f1->key, &box);     // z 1 lies below the box
    f2->Update_Child_A(0x800000, nullptr, f2->key, &box);
    EXPECT_TRUE(f1->dirty_nb == 0 && f1->update_nb == 1 && f2->dirty_nb == 1);
    EXPECT_TRUE(f2->dirty_last.min[0] == 1 && f2->dirty_last.max[1] == 2 && f2->dirty_last.min[2] == 1.5f);
    EXPECT_EQ(AzHost_Pending(), 1) << "the redraw it asked for";
    f2->Update_Child_A(0x800000, nullptr, &other, &box);      // another image's key: not this frame
    f2->Update_Child_A(0x800000, nullptr, nullptr, &box);     // a null key names every image
    EXPECT_EQ(f2->dirty_nb, 2);
    f1->Update_Child_A(0x800000, nullptr, nullptr, nullptr);  // a null box covers the whole frame
    EXPECT_TRUE(f1->dirty_nb == 1 && f1->dirty_last.min[0] == 0 && f1->dirty_last.max[0] == 6);
    std::vector<uint64_t> redraws;
    AzHost_Redraw_Hook_Set([](uint64_t flags, void *user) { ((std::vector<uint64_t> *)user)->push_back(flags); },
                           &redraws);
    EXPECT_EQ(AzHost_Pump(), 3);
    EXPECT_EQ(redraws, std::vector<uint64_t>(3, AZ_REDRAW_FRAME));
}
