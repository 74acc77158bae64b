/* Mapping of a direction's voxels into the study and the pixel callbacks. */
#include "oblique_fixture.h"

#include <string.h>
#include <thread>

namespace {

/* Frames: image A (two volumes of two slices) slices 0 and 3, both at
 * location 0, then image B (one slice) at location 1.  Every image is
 * 6 x 5 pixels. */
struct Three_Frames {
    Kelvra_Class *study;
    Kelvra_Oblique *org, *obl;
    Vexa_Image *a, *b;
};

} // namespace

class ObliqueMapTest : public ObliqueTest {
  protected:
    Three_Frames s;
    void SetUp() override
    {
        ObliqueTest::SetUp();
        s.study = Study("Map");
        s.a = Image(6, 5, 0.0f, 2, 2);
        s.b = Image(6, 5, 1.0f);
        Kelvra_File *file = File("map", {s.a, s.b});
        ASSERT_EQ(Class_Insert(file, 0, 0, s.study, 2), 1);
        ASSERT_EQ(Class_Insert(file, 1, 0, s.study, 2), 1);
        ASSERT_EQ(Class_Insert(file, 0, 3, s.study, 2), 1);
        s.org = Direction(s.study, 0);
        s.obl = Direction(s.study, 1);
        Size_Original(s.org, 6, 5);
        s.obl->matrix_pt = new Matrix_4x4();   // identity: this direction's voxels are the study's
        for (int y = 0; y < 5; y++)
            for (int x = 0; x < 6; x++) {
                AzImage_GLI_Plane(s.a, 1, 1)[y * 6 + x] = (int16_t)(100 + 10 * y + x);
                AzImage_GLI_Plane(s.b, 0, 0)[y * 6 + x] = (int16_t)(500 + 10 * y + x);
            }
    }

    /* Maps p through obl; the result, key, next key and point. */
    int Map(Vect p, void **key, void **next, Vect *out)
    {
        *key = (void *)0x1;
        *next = (void *)0x2;
        *out = p;
        return Oblique_Map(s.obl, key, next, out);
    }
};

TEST_F(ObliqueMapTest, SourceFrameBoundaries)
{
    ASSERT_EQ(s.org->real_files_nb, 3);
    void *key, *next;
    Vect p;
    // z -0.5 truncates to frame 0 (image A, slice 0).
    ASSERT_EQ(Map(Vect(2.5f, 1.5f, -0.5f, 9.0f), &key, &next, &p), 1);
    EXPECT_EQ(key, (void *)s.a);
    EXPECT_EQ(next, (void *)s.a) << "frame 1 lies in the same image";
    EXPECT_TRUE(Vect_Is(p, 2.5f, 1.5f, 0.0f));
    EXPECT_EQ(p.w, 0.0f);
    // Frame 1: image A slice 3 = z 1 of volume t 1; the fraction of z goes.
    ASSERT_EQ(Map(Vect(1.0f, 2.0f, 1.75f, 0.0f), &key, &next, &p), 1);
    EXPECT_EQ(key, (void *)s.a);
    EXPECT_EQ(next, (void *)s.b);
    EXPECT_EQ(p.z, 1.0f);
    EXPECT_EQ(p.w, 1.0f);
    // The last frame's next key is its own.
    ASSERT_EQ(Map(Vect(1.0f, 2.0f, 2.99f, 0.0f), &key, &next, &p), 1);
    EXPECT_EQ(key, (void *)s.b);
    EXPECT_EQ(next, (void *)s.b);
    EXPECT_EQ(p.z, 0.0f);
    EXPECT_EQ(p.w, 0.0f);
    // Outside in z: -1.0, the count, NaN.  Key untouched.
    EXPECT_EQ(Map(Vect(1.0f, 1.0f, -1.0f, 0.0f), &key, &next, &p), 0);
    EXPECT_EQ(key, (void *)0x1);
    EXPECT_EQ(Map(Vect(1.0f, 1.0f, 3.0f, 0.0f), &key, &next, &p), 0);
    EXPECT_EQ(Map(Vect(1.0f, 1.0f, 1e30f, 0.0f), &key, &next, &p), 0);
    EXPECT_EQ(Map(Vect(1.0f, 1.0f, NAN, 0.0f), &key, &next, &p), 0);
    // No frame recorded: z -0.5 truncates to a frame 0 that does not exist.
    auto recorded = s.org->real_files_nb;
    s.org->real_files_nb = 0;
    EXPECT_EQ(Map(Vect(1.0f, 1.0f, -0.5f, 0.0f), &key, &next, &p), 0);
    EXPECT_EQ(Map(Vect(1.0f, 1.0f, 0.0f, 0.0f), &key, &next, &p), 0);
    s.org->real_files_nb = recorded;
    // x and y: the width and height themselves are inside.
    EXPECT_EQ(Map(Vect(6.0f, 5.0f, 0.0f, 0.0f), &key, &next, &p), 1);
    EXPECT_EQ(Map(Vect(0.0f, 0.0f, 0.0f, 0.0f), &key, &next, &p), 1);
    EXPECT_EQ(Map(Vect(6.01f, 2.0f, 0.0f, 0.0f), &key, &next, &p), 0);
    EXPECT_EQ(Map(Vect(-0.01f, 2.0f, 0.0f, 0.0f), &key, &next, &p), 0);
    EXPECT_EQ(Map(Vect(2.0f, 5.01f, 0.0f, 0.0f), &key, &next, &p), 0);
    EXPECT_EQ(Map(Vect(2.0f, -0.01f, 0.0f, 0.0f), &key, &next, &p), 0);
    EXPECT_EQ(Map(Vect(NAN, 2.0f, 0.0f, 0.0f), &key, &next, &p), 0);

    // No next key asked for.
    key = nullptr;
    p = Vect(3.0f, 3.0f, 2.2f, 0.0f);
    EXPECT_EQ(Oblique_Map(s.obl, &key, nullptr, &p), 1);
    EXPECT_EQ(key, (void *)s.b);

    // The grey level follows: inside, the width itself, one step beyond.
    EXPECT_EQ(s.obl->Pixel_Get_GLI(s.obl, nullptr, Vect(2.0f, 3.0f, 2.0f, 0.0f)), 532);
    EXPECT_EQ(s.obl->Pixel_Get_GLI(s.obl, nullptr, Vect(4.0f, 1.0f, 1.4f, 0.0f)), 114) << "image A, z 1, t 1";
    EXPECT_EQ(s.obl->Pixel_Get_GLI(s.obl, nullptr, Vect(6.0f, 0.0f, 2.0f, 0.0f)), 505);
    EXPECT_EQ(s.obl->Pixel_Get_GLI(s.obl, nullptr, Vect(6.01f, 0.0f, 2.0f, 0.0f)), 2147483646);
    EXPECT_EQ(s.obl->Pixel_Get_GLI(s.obl, nullptr, Vect(1.0f, 1.0f, -1.0f, 0.0f)), 2147483646);
    EXPECT_EQ(s.obl->Pixel_Get_GLI(s.obl, nullptr, Vect(1.0f, 1.0f, 3.0f, 0.0f)), 2147483646);
}

TEST_F(ObliqueMapTest, TransformsInUse)
{
    void *key = (void *)0x1;
    void *next = (void *)0x2;
    // Through matrix_pt: a shift of one frame.
    s.obl->matrix_pt->translate(0.0f, 0.0f, 1.0f, Matrix_4x4::post);
    Vect p(1.0f, 1.0f, 1.5f, 0.0f);
    ASSERT_EQ(Oblique_Map(s.obl, &key, &next, &p), 1);
    EXPECT_EQ(key, (void *)s.b);
    // Direct mapping reads the class's own matrix and ignores matrix_pt.
    s.obl->matrix.init();
    p = Vect(1.0f, 1.0f, 1.5f, 0.0f);
    key = nullptr;
    ASSERT_EQ(Oblique_Map_Direct(s.obl, &key, &p), 1);
    EXPECT_EQ(key, (void *)s.a);
    EXPECT_EQ(p.w, 1.0f);
    s.obl->matrix.translate(0.0f, 0.0f, -1.0f, Matrix_4x4::post);
    p = Vect(1.0f, 1.0f, 0.5f, 0.0f);   // -0.5: still frame 0
    EXPECT_EQ(Oblique_Map_Direct(s.obl, &key, &p), 1);
    p = Vect(1.0f, 1.0f, 0.0f, 0.0f);   // -1: outside
    EXPECT_EQ(Oblique_Map_Direct(s.obl, &key, &p), 0);
    p = Vect(6.01f, 1.0f, 1.0f, 0.0f);
    EXPECT_EQ(Oblique_Map_Direct(s.obl, &key, &p), 0);

    // No transform: the class's frames are the study's own; nothing moves.
    delete s.obl->matrix_pt;
    s.obl->matrix_pt = nullptr;
    key = (void *)0x1;
    next = (void *)0x2;
    p = Vect(100.0f, -4.0f, 77.0f, 3.0f);
    EXPECT_EQ(Oblique_Map(s.obl, &key, &next, &p), 1);
    EXPECT_EQ(key, (void *)0x1);
    EXPECT_EQ(next, (void *)0x2);
    EXPECT_TRUE(Vect_Is(p, 100.0f, -4.0f, 77.0f));
    EXPECT_EQ(p.w, 3.0f);
}

TEST_F(ObliqueMapTest, DimensionsOfTheDirection)
{
    s.obl->dim = Oblique_Dim{11, 7, 3};
    int width = -1, height = -1;
    EXPECT_EQ(Class_Oblique_Pixel_Get_Dim(s.obl, nullptr, &width, &height), 1);
    EXPECT_EQ(width, 11);
    EXPECT_EQ(height, 7);
}

TEST_F(ObliqueMapTest, NullTransformPassesThroughAndRecords)
{
    Kelvra_Oblique *org = s.org;   // frames are the study's own
    Vect p(2.0f, 3.0f, 1.0f, 1.0f);
    EXPECT_EQ(org->Pixel_Get_GLI(org, s.a, p), s.study->Pixel_Get_GLI(s.study, s.a, p));
    EXPECT_EQ(org->Pixel_Get_GLI(org, s.a, p), 132);
    // Even outside the recorded frames, the parent answers.
    Vect far(2.0f, 3.0f, 40.0f, 0.0f);
    EXPECT_EQ(org->Pixel_Get_GLI(org, s.a, far), s.study->Pixel_Get_GLI(s.study, s.a, far));
    Vect pos = org->Pixel_Get_Pos(org, s.b, Vect(2.0f, 1.0f, 0.0f, 0.0f));
    Vect want = s.study->Pixel_Get_Pos(s.study, s.b, Vect(2.0f, 1.0f, 0.0f, 0.0f));
    EXPECT_TRUE(Vect_Is(pos, want.x, want.y, want.z));

    AzHost_Trace_Start();
    Console_Capture console;
    EXPECT_EQ(org->Pixel_Set_TAG(org, s.a, Vect(2.0f, 3.0f, 1.0f, 1.0f), 7), 1);
    EXPECT_EQ(AzImage_TAG_Plane(s.a, 1, 1)[3 * 6 + 2], 7);
    EXPECT_EQ(org->Pixel_Get_TAG(org, s.a, Vect(2.0f, 3.0f, 1.0f, 1.0f)), 7);
    EXPECT_EQ(org->Pixel_Set_TAG(org, s.b, Vect(5.0f, 0.0f, 0.0f, 0.0f), 2), 1);
    EXPECT_EQ(org->Pixel_Set_TAG(org, s.a, Vect(4.0f, 1.0f, 0.0f, 0.0f), 7), 1);
    EXPECT_TRUE(console.Lines().empty()) << Console_Dump(console.Lines());

    // One entry per image, in first-painted order, boxes of the points.
    ASSERT_EQ(org->update_nb, 2);
    EXPECT_EQ(org->update_pt[0].key, (void *)s.a);
    EXPECT_EQ(org->update_pt[1].key, (void *)s.b);
    const Region_4D &box = org->update_pt[0].region;
    EXPECT_EQ(box.kind, 6);
    const float min_a[4] = {2, 1, 0, 0}, max_a[4] = {4, 3, 1, 1};
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(box.min[i], min_a[i]) << i;
        EXPECT_EQ(box.max[i], max_a[i]) << i;
    }
    EXPECT_EQ(org->update_pt[1].region.min[0], 5.0f);
    EXPECT_EQ(org->update_pt[1].region.max[0], 5.0f);

    // Every paint holds the class mutex around the list only.
    std::vector<std::string> mutex = Lines_With(AzHost_Trace_Take(), "Mutex_");
    std::vector<std::string> expected;
    for (int i = 0; i < 3; i++) {
        expected.push_back("Mutex_Open Map (dir:Original) Class_Oblique_Pixel_Set_TAG");
        expected.push_back("Mutex_Close Map (dir:Original) Class_Oblique_Pixel_Set_TAG");
    }
    EXPECT_EQ(mutex, expected);
}

TEST_F(ObliqueMapTest, PointsOutsideAreAnsweredNotPainted)
{
    AzHost_Trace_Start();
    Vect outside(6.01f, 1.0f, 0.0f, 0.0f);
    EXPECT_EQ(s.obl->Pixel_Get_TAG(s.obl, nullptr, outside), 0);
    EXPECT_EQ(s.obl->Pixel_Set_TAG(s.obl, nullptr, outside, 5), 0);
    EXPECT_EQ(s.obl->Pixel_Set_TAG(s.obl, nullptr, Vect(1.0f, 1.0f, -1.0f, 0.0f), 5), 0);
    EXPECT_EQ(s.obl->update_nb, 0);
    EXPECT_EQ(s.obl->update_pt, nullptr);
    EXPECT_TRUE(Lines_With(AzHost_Trace_Take(), "Mutex_").empty()) << "the mutex is not taken for nothing";
    for (int i = 0; i < 30; i++)
        EXPECT_EQ(AzImage_TAG_Plane(s.b, 0, 0)[i], 0);

    // Inside, the tag goes to the study's source pixel.
    EXPECT_EQ(s.obl->Pixel_Set_TAG(s.obl, nullptr, Vect(5.0f, 4.0f, 2.5f, 0.0f), 5), 1);
    EXPECT_EQ(AzImage_TAG_Plane(s.b, 0, 0)[4 * 6 + 5], 5);
    EXPECT_EQ(s.obl->Pixel_Get_TAG(s.obl, nullptr, Vect(5.0f, 4.0f, 2.5f, 0.0f)), 5);
    ASSERT_EQ(s.obl->update_nb, 1);
    EXPECT_EQ(s.obl->update_pt[0].key, (void *)s.b);
    EXPECT_EQ(s.obl->update_pt[0].region.min[2], 0.0f) << "the mapped point is recorded";
}

TEST_F(ObliqueMapTest, ListGrowthFailure)
{
    Console_Capture console;
    AzHost_Trace_Start();
    Fault_Arm("malloc", 1);   // the first entry is a new block
    EXPECT_EQ(s.obl->Pixel_Set_TAG(s.obl, nullptr, Vect(1.0f, 1.0f, 2.0f, 0.0f), 3), 0);
    Fault_Disarm();
    std::vector<Console_Line> expected = {
        {1, "line 216  of .\\oblique_callback \nmemory error in realloc (var=oblique->update_pt, dim=1x48)"}};
    EXPECT_EQ(console.Lines(), expected) << Console_Dump(console.Lines());
    EXPECT_EQ(s.obl->update_nb, 0);
    EXPECT_EQ(s.obl->update_pt, nullptr);
    EXPECT_EQ(AzImage_TAG_Plane(s.b, 0, 0)[1 * 6 + 1], 0) << "no tag written";
    std::vector<std::string> mutex = {"Mutex_Open Map (dir:Oblique) Class_Oblique_Pixel_Set_TAG",
                                      "Mutex_Close Map (dir:Oblique) Class_Oblique_Pixel_Set_TAG"};
    EXPECT_EQ(Lines_With(AzHost_Trace_Take(), "Mutex_"), mutex) << "released on the failure path";

    ASSERT_EQ(s.obl->Pixel_Set_TAG(s.obl, nullptr, Vect(1.0f, 1.0f, 2.0f, 0.0f), 3), 1);
    AzHost_Trace_Take();
    Oblique_Update *list = s.obl->update_pt;
    console.Clear();
    Fault_Arm("realloc", 1);   // the second image needs a second entry
    EXPECT_EQ(s.obl->Pixel_Set_TAG(s.obl, nullptr, Vect(2.0f, 2.0f, 0.0f, 0.0f), 3), 0);
    Fault_Disarm();
    expected = {{1, "line 216  of .\\oblique_callback \nmemory error in realloc (var=oblique->update_pt, dim=2x48)"}};
    EXPECT_EQ(console.Lines(), expected) << Console_Dump(console.Lines());
    EXPECT_EQ(s.obl->update_nb, 1);
    EXPECT_EQ(s.obl->update_pt, list);
    EXPECT_EQ(s.obl->update_pt[0].key, (void *)s.b);
    EXPECT_EQ(s.obl->update_pt[0].region.max[0], 1.0f);
    EXPECT_EQ(Lines_With(AzHost_Trace_Take(), "Mutex_"), mutex);

    // A painter on another thread gets the mutex: nothing was left held.
    std::thread painter([this] { s.obl->Pixel_Set_TAG(s.obl, nullptr, Vect(2.0f, 2.0f, 0.0f, 0.0f), 3); });
    painter.join();
    EXPECT_EQ(s.obl->update_nb, 2);
    EXPECT_EQ(s.obl->update_pt[1].key, (void *)s.a);
}

TEST_F(ObliqueMapTest, PositionsInsideAndExtrapolated)
{
    // Study geometry: image B 2 mm further along the normal, 0.5 mm pixels.
    Vect size(0.5f, 0.5f, 1.0f);
    s.a->pixel_size = size;
    s.b->pixel_size = size;
    s.a->position = Vect(10.0f, 20.0f, 30.0f);
    s.b->position = Vect(10.0f, 20.0f, 32.0f);
    // This direction: x runs along the study's frames, z along its rows.
    Matrix_4x4 m(0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1);
    s.obl->matrix = m;
    *s.obl->matrix_pt = m;
    // The caller's frame image: this direction's header.
    Vexa_Image *header = AzImage_Create(3, 5, 6, 1);
    header->pixel_size = Vect(2.0f, 0.5f, 0.5f);
    header->axis_row = Vect(0.0f, 0.0f, 1.0f);
    header->axis_col = Vect(0.0f, 1.0f, 0.0f);
    header->axis_normal = Vect(1.0f, 0.0f, 0.0f);

    Console_Capture console;
    // Inside: the study's answer for the mapped point (frame 2: image B).
    Vect inside = s.obl->Pixel_Get_Pos(s.obl, header, Vect(2.0f, 4.0f, 3.0f, 0.0f));
    EXPECT_TRUE(Vect_Is(inside, 10.0f + 3 * 0.5f, 20.0f + 4 * 0.5f, 32.0f));
    EXPECT_TRUE(console.Lines().empty());

    // Outside (x = 4 is past the last frame): from frame 0's origin along
    // the header's axes.  q = origin of the study's voxels here = (0, 0, 0).
    Vect out = s.obl->Pixel_Get_Pos(s.obl, header, Vect(4.0f, 1.0f, 2.5f, 0.0f));
    EXPECT_TRUE(Vect_Is(out, 10.0f + 4 * 2.0f * 0.0f + 2.5f * 0.5f * 1.0f, 20.0f + 1 * 0.5f, 30.0f + 4 * 2.0f));
    std::vector<Console_Line> expected = {{11, "pos before   -> 4.00 1.00 2.50"},
                                          {11, "pos_0 after  -> 0.00 0.00 0.00"},
                                          {11, "reult   -> 11.25 20.50 38.00"}};
    EXPECT_EQ(console.Lines(), expected) << Console_Dump(console.Lines());

    // With a shifted transform q moves: the inverse of the class's matrix.
    console.Clear();
    s.obl->matrix.translate(0.0f, 1.0f, -1.0f, Matrix_4x4::post);   // O = (z, y + 1, x - 1)
    *s.obl->matrix_pt = s.obl->matrix;
    out = s.obl->Pixel_Get_Pos(s.obl, header, Vect(0.0f, 2.0f, 3.0f, 0.0f));   // frame -1: outside
    // q = (1, -1, 0); d = (-1, 3, 3).
    EXPECT_TRUE(Vect_Is(out, 10.0f + 3 * 0.5f, 20.0f + 3 * 0.5f, 30.0f - 1 * 2.0f));
    expected = {{11, "pos before   -> 0.00 2.00 3.00"},
                {11, "pos_0 after  -> 1.00 -1.00 0.00"},
                {11, "reult   -> 11.50 21.50 28.00"}};
    EXPECT_EQ(console.Lines(), expected) << Console_Dump(console.Lines());
    AzImage_Free(header);
}
