/* Mapping of a direction's voxels into the study and the pixel callbacks. */
#include "oblique_fixture.h"

#include <thread>

/* Frames: image A (two volumes of two slices) slices 0 and 3, both at
 * location 0, then image B (one slice) at location 1.  Every image is
 * 6 x 5 pixels; A's z 1 of volume 1 holds 100 + 10 y + x, B 500 + 10 y + x. */
class ObliqueMapTest : public ObliqueTest {
  protected:
    Kelvra_Class *study = nullptr;
    Kelvra_Oblique *org = nullptr, *obl = nullptr;
    Vexa_Image *a = nullptr, *b = nullptr;

    void SetUp() override
    {
        ObliqueTest::SetUp();
        study = Study("Map");
        a = Image(6, 5, 0.0f, 2, 2);
        b = Image(6, 5, 1.0f);
        Kelvra_File *file = File("map", {a, b});
        ASSERT_EQ(Class_Insert(file, 0, 0, study, 2), 1);
        ASSERT_EQ(Class_Insert(file, 1, 0, study, 2), 1);
        ASSERT_EQ(Class_Insert(file, 0, 3, study, 2), 1);
        org = Direction(study, 0);
        obl = Direction(study, 1);
        Size_Original(org, 6, 5);
        obl->matrix_pt = new Matrix_4x4();   // identity: this direction's voxels are the study's
        for (int y = 0; y < 5; y++)
            for (int x = 0; x < 6; x++) {
                AzImage_GLI_Plane(a, 1, 1)[y * 6 + x] = (int16_t)(100 + 10 * y + x);
                AzImage_GLI_Plane(b, 0, 0)[y * 6 + x] = (int16_t)(500 + 10 * y + x);
            }
    }
};

/* Where each point lands (tests/data/traces/mapping_boundaries.trace):
 * inside (the width and height themselves are inside, z truncates to a
 * frame) with its key and next key, alone without a next key, the point as
 * mapped and the grey level there; or outside with the keys untouched. */
TEST_F(ObliqueMapTest, MappingBoundaries)
{
    const float points[][4] = {
        {2.5f, 1.5f, -0.5f, 9.0f}, {1.0f, 2.0f, 1.75f, 0.0f}, {4.0f, 1.0f, 1.4f, 0.0f},   {1.0f, 2.0f, 2.99f, 0.0f},
        {2.0f, 3.0f, 2.0f, 0.0f},  {6.0f, 0.0f, 2.0f, 0.0f},  {6.0f, 5.0f, 0.0f, 0.0f},   {0.0f, 0.0f, 0.0f, 0.0f},
        {1.0f, 1.0f, -1.0f, 0.0f}, {1.0f, 1.0f, 3.0f, 0.0f},  {1.0f, 1.0f, 1e30f, 0.0f},  {1.0f, 1.0f, NAN, 0.0f},
        {6.01f, 0.0f, 2.0f, 0.0f}, {-0.01f, 2.0f, 0.0f, 0.0f}, {2.0f, 5.01f, 0.0f, 0.0f}, {2.0f, -0.01f, 0.0f, 0.0f},
        {NAN, 2.0f, 0.0f, 0.0f}};
    auto name = [this](void *key) { return key == a ? "A" : key == b ? "B" : key == (void *)0x1 ? "-" : "?"; };
    std::vector<std::string> lines;
    for (const auto &q : points) {
        void *key = (void *)0x1, *next = (void *)0x1, *alone = (void *)0x1;
        Vect p(q[0], q[1], q[2], q[3]), same = p;
        const int in = Oblique_Map(obl, &key, &next, &p), in_alone = Oblique_Map(obl, &alone, nullptr, &same);
        char line[200];
        snprintf(line, sizeof line, "%g %g %g %g -> %d %s %s, alone %d %s, grey %d", q[0], q[1], q[2], q[3], in,
                 name(key), name(next), in_alone, name(alone),
                 obl->Pixel_Get_GLI(obl, nullptr, Vect(q[0], q[1], q[2], q[3])));
        if (in)
            snprintf(line + strlen(line), sizeof line - strlen(line), ", at %g %g %g %g", p.x, p.y, p.z, p.w);
        lines.push_back(line);
    }
    EXPECT_TRUE(Trace_Is("mapping_boundaries", lines));
    // No frame recorded: z -0.5 truncates to a frame 0 that does not exist.
    org->real_files_nb = 0;
    for (float z : {-0.5f, 0.0f}) {
        void *key = nullptr;
        Vect p(1.0f, 1.0f, z, 0.0f);
        EXPECT_EQ(Oblique_Map(obl, &key, nullptr, &p), 0) << z;
    }
    org->real_files_nb = 3;
}

/* Oblique_Map reads matrix_pt, the preview's direct mapping the class's own
 * matrix; without matrix_pt the class's frames are the study's own. */
TEST_F(ObliqueMapTest, TransformsInUse)
{
    void *key = nullptr, *next = (void *)0x2;
    obl->matrix_pt->translate(0.0f, 0.0f, 1.0f, Matrix_4x4::post);   // a shift of one frame
    Vect p(1.0f, 1.0f, 1.5f, 0.0f);
    ASSERT_EQ(Oblique_Map(obl, &key, &next, &p), 1);
    EXPECT_EQ(key, (void *)b);
    obl->matrix.init();
    p = Vect(1.0f, 1.0f, 1.5f, 0.0f);
    ASSERT_EQ(Oblique_Map_Direct(obl, &key, &p), 1);
    EXPECT_EQ(key, (void *)a);
    EXPECT_EQ(p.w, 1.0f);
    obl->matrix.translate(0.0f, 0.0f, -1.0f, Matrix_4x4::post);
    const float z[3] = {0.5f, 0.0f, 1.0f}, x[3] = {1.0f, 1.0f, 6.01f};   // -0.5: frame 0; -1 and x past the width: outside
    for (int i = 0; i < 3; i++) {
        p = Vect(x[i], 1.0f, z[i], 0.0f);
        EXPECT_EQ(Oblique_Map_Direct(obl, &key, &p), i == 0) << i;
    }
    delete obl->matrix_pt;
    obl->matrix_pt = nullptr;
    key = (void *)0x1;
    next = (void *)0x2;
    p = Vect(100.0f, -4.0f, 77.0f, 3.0f);
    EXPECT_EQ(Oblique_Map(obl, &key, &next, &p), 1);
    EXPECT_TRUE(key == (void *)0x1 && next == (void *)0x2 && Vect_Is(p, 100.0f, -4.0f, 77.0f) && p.w == 3.0f);
}

TEST_F(ObliqueMapTest, NullTransformPassesThroughAndRecords)
{
    Vect p(2.0f, 3.0f, 1.0f, 1.0f), far(2.0f, 3.0f, 40.0f, 0.0f);
    EXPECT_EQ(org->Pixel_Get_GLI(org, a, p), 132);
    EXPECT_EQ(org->Pixel_Get_GLI(org, a, far), study->Pixel_Get_GLI(study, a, far)) << "the parent answers";
    Vect pos = org->Pixel_Get_Pos(org, b, Vect(2.0f, 1.0f, 0.0f, 0.0f));
    Vect want = study->Pixel_Get_Pos(study, b, Vect(2.0f, 1.0f, 0.0f, 0.0f));
    EXPECT_TRUE(Vect_Is(pos, want.x, want.y, want.z));

    AzHost_Trace_Start();
    console.Clear();
    EXPECT_EQ(org->Pixel_Set_TAG(org, a, p, 7), 1);
    EXPECT_EQ(AzImage_TAG_Plane(a, 1, 1)[3 * 6 + 2], 7);
    EXPECT_EQ(org->Pixel_Get_TAG(org, a, p), 7);
    EXPECT_EQ(org->Pixel_Set_TAG(org, b, Vect(5.0f, 0.0f, 0.0f, 0.0f), 2), 1);
    EXPECT_EQ(org->Pixel_Set_TAG(org, a, Vect(4.0f, 1.0f, 0.0f, 0.0f), 7), 1);
    EXPECT_TRUE(console.Lines().empty()) << Console_Dump(console.Lines());
    // One entry per image, in first-painted order, boxes of the points.
    ASSERT_EQ(org->update_nb, 2);
    EXPECT_EQ(org->update_pt[0].key, (void *)a);
    EXPECT_EQ(org->update_pt[1].key, (void *)b);
    const Region_4D &box = org->update_pt[0].region;
    EXPECT_EQ(box.kind, 6);
    EXPECT_TRUE(Vect_Is(Vect(box.min[0], box.min[1], box.min[2]), 2, 1, 0) && box.min[3] == 0);
    EXPECT_TRUE(Vect_Is(Vect(box.max[0], box.max[1], box.max[2]), 4, 3, 1) && box.max[3] == 1);
    EXPECT_EQ(org->update_pt[1].region.min[0] + org->update_pt[1].region.max[0], 10.0f);
    // Every paint holds the class mutex around the list only.
    EXPECT_TRUE(Trace_Is("paint_mutex_3", Lines_With(AzHost_Trace_Take(), "Mutex_"), {{"cls", org->Name_Get()}}));
}

TEST_F(ObliqueMapTest, PointsOutsideAreAnsweredNotPainted)
{
    AzHost_Trace_Start();
    Vect outside(6.01f, 1.0f, 0.0f, 0.0f);
    EXPECT_EQ(obl->Pixel_Get_TAG(obl, nullptr, outside), 0);
    EXPECT_EQ(obl->Pixel_Set_TAG(obl, nullptr, outside, 5), 0);
    EXPECT_EQ(obl->Pixel_Set_TAG(obl, nullptr, Vect(1.0f, 1.0f, -1.0f, 0.0f), 5), 0);
    EXPECT_EQ(obl->update_nb, 0);
    EXPECT_EQ(obl->update_pt, nullptr);
    EXPECT_TRUE(Lines_With(AzHost_Trace_Take(), "Mutex_").empty()) << "the mutex is not taken for nothing";
    for (int i = 0; i < 30; i++)
        EXPECT_EQ(AzImage_TAG_Plane(b, 0, 0)[i], 0);
    // Inside, the tag goes to the study's source pixel.
    EXPECT_EQ(obl->Pixel_Set_TAG(obl, nullptr, Vect(5.0f, 4.0f, 2.5f, 0.0f), 5), 1);
    EXPECT_EQ(AzImage_TAG_Plane(b, 0, 0)[4 * 6 + 5], 5);
    EXPECT_EQ(obl->Pixel_Get_TAG(obl, nullptr, Vect(5.0f, 4.0f, 2.5f, 0.0f)), 5);
    ASSERT_EQ(obl->update_nb, 1);
    EXPECT_EQ(obl->update_pt[0].key, (void *)b);
    EXPECT_EQ(obl->update_pt[0].region.min[2], 0.0f) << "the mapped point is recorded";
    // A painter on another thread gets the mutex and its own entry.
    std::thread painter([this] { obl->Pixel_Set_TAG(obl, nullptr, Vect(2.0f, 2.0f, 0.0f, 0.0f), 3); });
    painter.join();
    EXPECT_EQ(obl->update_nb, 2);
    EXPECT_EQ(obl->update_pt[1].key, (void *)a);
}

TEST_F(ObliqueMapTest, PositionsInsideAndExtrapolated)
{
    // Study geometry: image B 2 mm further along the normal, 0.5 mm pixels.
    a->pixel_size = b->pixel_size = Vect(0.5f, 0.5f, 1.0f);
    a->position = Vect(10.0f, 20.0f, 30.0f);
    b->position = Vect(10.0f, 20.0f, 32.0f);
    // This direction: x runs along the study's frames, z along its rows.
    obl->matrix = *obl->matrix_pt = Matrix_4x4(0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1);
    Vexa_Image *header = AzImage_Create(3, 5, 6, 1);   // the caller's frame image: this direction's header
    header->pixel_size = Vect(2.0f, 0.5f, 0.5f);
    header->axis_row = Vect(0.0f, 0.0f, 1.0f);
    header->axis_col = Vect(0.0f, 1.0f, 0.0f);
    header->axis_normal = Vect(1.0f, 0.0f, 0.0f);

    console.Clear();
    // Inside: the study's answer for the mapped point (frame 2: image B).
    Vect inside = obl->Pixel_Get_Pos(obl, header, Vect(2.0f, 4.0f, 3.0f, 0.0f));
    EXPECT_TRUE(Vect_Is(inside, 10.0f + 3 * 0.5f, 20.0f + 4 * 0.5f, 32.0f));
    EXPECT_TRUE(console.Lines().empty());
    // Outside (x = 4 is past the last frame): from frame 0's origin along
    // the header's axes; q, the study's voxel origin here, is (0, 0, 0).
    Vect out = obl->Pixel_Get_Pos(obl, header, Vect(4.0f, 1.0f, 2.5f, 0.0f));
    EXPECT_TRUE(Vect_Is(out, 10.0f + 2.5f * 0.5f, 20.0f + 1 * 0.5f, 30.0f + 4 * 2.0f));
    // With a shifted transform q moves: the inverse of the class's matrix.
    obl->matrix.translate(0.0f, 1.0f, -1.0f, Matrix_4x4::post);   // O = (z, y + 1, x - 1)
    *obl->matrix_pt = obl->matrix;
    out = obl->Pixel_Get_Pos(obl, header, Vect(0.0f, 2.0f, 3.0f, 0.0f));   // frame -1: outside
    EXPECT_TRUE(Vect_Is(out, 10.0f + 3 * 0.5f, 20.0f + 3 * 0.5f, 30.0f - 1 * 2.0f));   // q = (1, -1, 0)
    EXPECT_TRUE(Trace_Is("extrapolated_positions", Golden_Console(console.Lines())));
    AzImage_Free(header);
}
