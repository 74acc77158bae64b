/* Propagation of painted regions between the two directions of a study. */
#include "oblique_fixture.h"

#include "oblique/oblique_internal.h"

#include <atomic>
#include <thread>

/* A class below the receiving direction that notes how many entries the
 * sender's list held while it was being handed on. */
struct List_Probe : Kelvra_Class {
    Kelvra_Oblique *sender = nullptr;
    std::vector<unsigned> seen;
    void Update_Child_A(uint64_t, void *, void *, Region_4D *) override { seen.push_back(sender->update_nb); }
};

class ObliqueUpdateTest : public ObliqueStudyTest {
  protected:
    Vexa_Image *header = nullptr;   // the Oblique direction's image
    std::vector<AzFrame *> frames;  // the Oblique direction's frames

    void SetUp() override
    {
        ObliqueTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(Enter(Plan_Of("Update", 8, 6, 5), AZ_ORDER_DESCENDING, 0));
        // This direction's x runs along the study's frames and its slices
        // along the study's columns: (x, y, z) here is (z, y, x) there.
        Turn(Matrix_4x4(0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1));
        obl->dim = Oblique_Dim{5, 6, 8};
        header = Own_Header(obl, AzImage_Create(5, 6, 8, 1));
    }

    void Add_Oblique_Frames()
    {
        for (int k = 0; k < 8; k++)
            obl->Child_Add(new AzFrame(header, k, 0));
        frames = Frames_Of(obl);
    }

    Vexa_Image *Key(int f) { return built->file->images[built->frame_bunch[f]]; }
    /* The Original direction's frames in the study's frame order. */
    std::vector<AzFrame *> Study_Frames()
    {
        std::vector<AzFrame *> out(5);
        for (AzFrame *frame : Frames_Of(org))
            for (int f = 0; frame && f < 5; f++)   // (a probe below is no frame)
                out[f] = frame->key == Key(f) ? frame : out[f];
        return out;
    }
    /* "min / max" of a box. */
    static std::string Box(const Region_4D &b)
    {
        char text[120];
        snprintf(text, sizeof text, "%g %g %g %g / %g %g %g %g", b.min[0], b.min[1], b.min[2], b.min[3], b.max[0],
                 b.max[1], b.max[2], b.max[3]);
        return text;
    }
    /* Per frame: the update calls it heard, the regions it recorded and the last one. */
    static std::string Heard(const std::vector<AzFrame *> &list)
    {
        std::string out;
        for (AzFrame *frame : list)
            out += (out.empty() ? "" : ", ") + std::to_string(frame->update_nb) + " " + std::to_string(frame->dirty_nb) +
                   (frame->dirty_nb ? " (" + Box(frame->dirty_last) + ")" : "");
        return out;
    }
};

TEST_F(ObliqueUpdateTest, ObliqueListReachesTheStudyFrames)
{
    ASSERT_EQ(obl->Pixel_Set_TAG(obl, nullptr, Vect(2, 3, 4, 0), 1), 1);   // frame 2 at (4, 3)
    ASSERT_EQ(obl->Pixel_Set_TAG(obl, nullptr, Vect(3, 1, 1, 0), 1), 1);   // frame 3 at (1, 1)
    ASSERT_EQ(obl->Pixel_Set_TAG(obl, nullptr, Vect(2, 5, 1, 0), 1), 1);   // frame 2 at (1, 5)
    ASSERT_EQ(obl->update_nb, 2);
    EXPECT_TRUE(obl->update_pt[0].key == Key(2) && obl->update_pt[1].key == Key(3));
    EXPECT_EQ(Box(obl->update_pt[0].region), "1 3 0 0 / 4 5 0 0");

    console.Clear();
    EXPECT_EQ(obl->Update_B(0x400000 | 0x1000000), 1);
    EXPECT_EQ(obl->update_nb, 2) << "without bit 23 nothing happens";
    EXPECT_TRUE(console.Lines().empty());

    List_Probe *probe = new List_Probe;
    probe->sender = obl;
    org->Child_Add(probe);
    EXPECT_EQ(obl->Update_B(0x800000), 1);
    std::vector<Console_Line> expected = {{11, "Update_B for (Update (dir:Oblique)) dir: 1"}};
    EXPECT_EQ(console.Lines(), expected) << Console_Dump(console.Lines());
    EXPECT_EQ(probe->seen, (std::vector<unsigned>{2, 2})) << "each entry is handed on, then the list released";
    EXPECT_TRUE(obl->update_nb == 0 && obl->update_pt == nullptr);
    // The Original direction's frames are the study's own: each hears of
    // every region, the frames of the painted images keep theirs.
    EXPECT_EQ(Heard(Study_Frames()), "2 0, 2 0, 2 1 (1 3 0 0 / 4 5 0 0), 2 1 (1 1 0 0 / 1 1 0 0), 2 0");

    console.Clear();
    EXPECT_EQ(obl->Update_B(0x800000), 1);
    EXPECT_TRUE(console.Lines().empty()) << "an empty list: no trace" << Console_Dump(console.Lines());
}

TEST_F(ObliqueUpdateTest, OriginalListReachesTheObliqueFrames)
{
    // Painted in the study's own frame 2 (its image's only slice).
    ASSERT_EQ(org->Pixel_Set_TAG(org, Key(2), Vect(1, 3, 0, 0), 4), 1);
    ASSERT_EQ(org->Pixel_Set_TAG(org, Key(2), Vect(4, 5, 0, 0), 4), 1);
    ASSERT_EQ(org->update_nb, 1);

    // No frames in the other direction yet: the list is dropped unheard.
    console.Clear();
    EXPECT_EQ(org->Update_B(0x800000), 1);
    EXPECT_TRUE(org->update_nb == 0 && org->update_pt == nullptr);
    std::vector<Console_Line> expected = {{11, "Update_B for (Update (dir:Original)) dir: 0"}};
    EXPECT_EQ(console.Lines(), expected) << Console_Dump(console.Lines());

    Add_Oblique_Frames();
    ASSERT_EQ(org->Pixel_Set_TAG(org, Key(2), Vect(1, 3, 0, 0), 4), 1);
    ASSERT_EQ(org->Pixel_Set_TAG(org, Key(2), Vect(4, 5, 0, 0), 4), 1);
    EXPECT_EQ(org->Update_B(0x800000), 1);
    // Frame 2 of the study is column x = 2 here; the study's columns 1..4
    // are this direction's slices 1..4, its rows stay rows.
    const std::string box = " (2 3 1 0 / 2 5 4 0)";
    EXPECT_EQ(Heard(frames), "1 0, 1 1" + box + ", 1 1" + box + ", 1 1" + box + ", 1 1" + box + ", 1 0, 1 0, 1 0");
    EXPECT_EQ(Heard(Study_Frames()), "0 0, 0 0, 0 0, 0 0, 0 0") << "not sent back to its own frames";
}

TEST_F(ObliqueUpdateTest, FrameRangeOfAChange)
{
    // A second study: one image holding three slices (z 0, 1, 2), all
    // three frames sharing its key.
    AzPhantom_Plan one = Plan_Of("Shared", 4, 4, 3);
    one.slices_per_image = 0;
    AzPhantom *shared = Load(one);
    ASSERT_NE(shared, nullptr);
    Kelvra_Oblique *b2 = Direction(shared, 1);
    ASSERT_EQ(Direction(shared, 0)->real_files_nb, 3);
    void *key = shared->file->images[0];
    // A transform without its inverse: the range arrives untransformed.
    b2->matrix_pt = new Matrix_4x4();
    Vexa_Image *own = Own_Header(b2, AzImage_Create(4, 4, 5, 1));
    for (int k = 0; k < 5; k++)
        b2->Child_Add(new AzFrame(own, k, 0));
    std::vector<AzFrame *> slices = Frames_Of(b2);

    Region_4D box;
    box.kind = 6;
    box.Clear();
    box.Add(1, 1, 0.5f, 0);
    box.Add(3, 2, 2.0f, 0);
    // Every frame is told; frames 1 (z 1) to 2 (z 2) record the change.
    b2->Update_Child_A(0x800000, nullptr, key, &box);
    const std::string range = " (1 1 1 0 / 3 2 2 0)";
    EXPECT_EQ(Heard(slices), "1 0, 1 1" + range + ", 1 1" + range + ", 1 0, 1 0");
    EXPECT_EQ(box.min[2], 0.5f) << "the box passed in is not changed";

    // A key of no source frame, a z or t range that misses: no call.
    b2->Update_Child_A(0x800000, nullptr, Key(0), &box);
    for (int axis : {2, 3}) {
        Region_4D far = box;
        far.min[axis] = axis == 2 ? 2.5f : 1.0f;
        far.max[axis] = axis == 2 ? 9.0f : 2.0f;
        b2->Update_Child_A(0x800000, nullptr, key, &far);
    }
    // A null key names every frame: 0 to the count.
    b2->Update_Child_A(0x800000, nullptr, nullptr, &box);
    const std::string all = " (1 1 0 0 / 3 2 3 0)";
    EXPECT_EQ(Heard(slices), "2 1" + all + ", 2 2" + all + ", 2 2" + all + ", 2 1" + all + ", 2 0");

    // Without a transform the call goes on unchanged.
    delete b2->matrix_pt;
    b2->matrix_pt = nullptr;
    b2->Update_Child_A(0x800000, nullptr, nullptr, &box);
    EXPECT_EQ(Heard({slices[1], slices[4]}), "3 3 (" + Box(box) + "), 3 0");
}

/* A damaged class is reported with its source line and the work still goes
 * on (tests/data/traces/update_reports.trace: each call, frame 2's dirty
 * count after it, the console lines). */
TEST_F(ObliqueUpdateTest, ValidationReportsAndGoesOn)
{
    Add_Oblique_Frames();
    std::vector<std::string> reports;
    auto note = [&](const std::string &call, int result) {
        reports.push_back(call + " -> " + std::to_string(result) + ", frame 2 dirty " + std::to_string(frames[2]->dirty_nb));
        for (const std::string &line : Golden_Console(console.Lines()))
            reports.push_back("  " + line);
        console.Clear();
    };
    const struct {
        Kelvra_Oblique *cls;
        int magic, class_a;
    } cases[] = {{org, 1, 13}, {obl, 43706, 15}, {obl, 2, 0}};
    for (const auto &c : cases) {
        if (c.cls == org) {
            ASSERT_EQ(org->Pixel_Set_TAG(org, Key(1), Vect(2, 2, 0, 0), 4), 1);
        }
        int magic = c.cls->Class_Magic_Get(), class_a = c.cls->Class_A_Get();
        c.cls->Class_Magic_Set(c.magic);
        c.cls->Class_A_Set(c.class_a);
        console.Clear();
        Region_4D box;
        box.Clear();
        box.Add(2, 2, 0, 0);
        int result = c.cls == org ? org->Update_B(0x800000) : (obl->Update_Child_A(0x800000, nullptr, Key(1), &box), 1);
        c.cls->Class_Magic_Set(magic);
        c.cls->Class_A_Set(class_a);
        note((c.cls == org ? "Update_B magic " : "Update_Child_A magic ") + std::to_string(c.magic) + " class " +
                 std::to_string(c.class_a), result);
    }
    note("validate null", Oblique_Validate(nullptr, "Kelvra_Oblique::Update_B", ".\\oblique_class_update", 42));
    note("validate obl", Oblique_Validate(obl, "Kelvra_Oblique::Update_B", ".\\oblique_class_update", 42));
    EXPECT_TRUE(Trace_Is("update_reports", reports));
}

TEST_F(ObliqueUpdateTest, PaintingWhileUpdatesRun)
{
    // A painter thread grows the list while this thread drains it: every
    // paint lands either in a drained list or in the one left at the end
    // (the sanitizer builds watch the list's storage).
    const int paints = 20000;
    std::atomic<int> painted{0};
    std::thread painter([&] {
        for (int i = 0; i < paints; i++)
            painted += obl->Pixel_Set_TAG(obl, nullptr, Vect((float)(i % 5), (float)(i % 6), (float)(i % 8), 0), 1);
    });
    int drained = 0;
    while (drained < 200 || painted < paints) {
        EXPECT_EQ(obl->Update_B(0x800000), 1);
        drained++;
        if (drained > 100000)
            break;
    }
    painter.join();
    EXPECT_EQ(painted, paints);
    EXPECT_LE(obl->update_nb, 5) << "one entry per source image at most";
    EXPECT_EQ(obl->Update_B(0x800000), 1);
    EXPECT_EQ(obl->update_nb, 0);
    EXPECT_EQ(obl->update_pt, nullptr);
}
