/* Many threads at once: a painter writing tags while the worker builds
 * frames and the panel turns and scrolls, applies in a row with cancels,
 * and readers of every frame's pixels. */
#include <map>
#include <random>
#include <tuple>

#include "stress_fixture.h"

namespace {

/* Slice index (ascending location) of each study image. */
std::map<void *, int> Slice_Of_Key(AzStudy *study)
{
    std::map<void *, int> slices;
    for (size_t s = 0; s < study->frame_bunch.size(); s++)
        slices[study->file->images[study->frame_bunch[s]]] = (int)s;
    return slices;
}

/* Org frames by slice index. */
std::vector<AzFrame *> Frames_By_Slice(Kelvra_Oblique *org, AzStudy *study)
{
    std::map<void *, int> slices = Slice_Of_Key(study);
    std::vector<AzFrame *> frames(study->frame_bunch.size(), nullptr);
    for (AzFrame *frame : Frames_Of(org))
        if (frame)
            frames[slices[frame->key]] = frame;
    return frames;
}

bool Same(const Vect &a, const Vect &b) { return a.x == b.x && a.y == b.y && a.z == b.z && a.w == b.w; }

struct Paint {
    int slice, x, y;
    bool operator<(const Paint &o) const { return std::tie(slice, x, y) < std::tie(o.slice, o.x, o.y); }
};

/* Paints random voxels through the Original direction's frames until told
 * to stop; remembers the last tag of every voxel. */
class Painter {
  public:
    Painter(std::vector<AzFrame *> targets, int w, int h)
        : frames(targets), width(w), height(h), thread([this] { Run(); })
    {
    }
    void Stop()
    {
        stop = true;
        thread.join();
    }
    std::map<Paint, int> painted;
    int refused = 0;
    int count = 0;

  private:
    void Run()
    {
        std::mt19937 random(12345);
        while (!stop) {
            Paint p{(int)(random() % frames.size()), (int)(random() % width), (int)(random() % height)};
            int tag = 1 + (int)(random() % 250);
            if (AzFrame_Set_TAG(frames[p.slice], (float)p.x, (float)p.y, (unsigned char)tag) == 1)
                painted[p] = tag;
            else
                refused++;
            count++;
        }
    }
    std::vector<AzFrame *> frames;
    int width, height;
    std::atomic<bool> stop{false};
    std::thread thread;
};

/* Reads the grey levels of frames that nobody deletes, against the phantom. */
class Reader {
  public:
    Reader(std::vector<AzFrame *> targets, const AzStudy_Plan &phantom)
        : frames(targets), plan(phantom), thread([this] { Run(); })
    {
    }
    void Stop()
    {
        stop = true;
        thread.join();
    }
    int wrong = 0;
    long reads = 0;

  private:
    void Run()
    {
        while (!stop)
            for (size_t s = 0; s < frames.size() && !stop; s++)
                for (int y = 0; y < plan.height; y++)
                    for (int x = 0; x < plan.width; x++, reads++)
                        if (AzFrame_Get_GLI(frames[s], (float)x, (float)y) != AzPhantom_GLI(plan, x, y, (int)s, 0))
                            wrong++;
    }
    std::vector<AzFrame *> frames;
    AzStudy_Plan plan;
    std::atomic<bool> stop{false};
    std::thread thread;
};

}  // namespace

TEST_F(Stress_Test, PaintWhileWorkerBuildsAndPanelTurns)
{
    Watchdog watchdog("Stress_Test.PaintWhileWorkerBuildsAndPanelTurns", STRESS_WATCHDOG_SECONDS);
    const int W = 20, H = 14, S = 10;
    AzStudy *a = Load("Chest", W, H, S);
    AzStudy *b = Load("Pelvis", 16, 16, 8);
    ASSERT_TRUE(a && b);
    Kelvra_Oblique *org = Direction(a, 0), *obl = Direction(a, 1);
    ASSERT_TRUE(org && obl);
    Make_Panel();
    // The panel works on the other study's Oblique direction meanwhile.
    Pointer(select_instance.x + select_instance.width / 2, select_instance.y + select_instance.height / 2);
    ASSERT_EQ(Ctrl_Scroll(nullptr, -1), 1);
    ASSERT_EQ(Instance_Cur, 2);
    Dir_Cur = 1;

    Oblique_Setup(org, obl);
    ASSERT_EQ(org->dim.z, S) << Console_Dump(console.Lines());
    std::vector<AzFrame *> source = Frames_By_Slice(org, a);
    for (AzFrame *frame : source)
        ASSERT_NE(frame, nullptr);

    // Random pauses at every delay point shake the order of the threads' steps.
    Delays_Off off;
    AzWin_Delay_Random(17, 3);
    Painter painter(source, W, H);
    Reader reader(source, a->plan);
    std::mt19937 random(99);
    const int rounds = 6;
    for (int round = 0; round < rounds; round++) {
        watchdog.Step("apply round " + std::to_string(round));
        Swap_Direction(obl, W, H, S, round % 2);
        ASSERT_EQ(Ctrl_Apply(1, org, 1, obl), 1);
        for (int i = 0; AzTools_Wait_Cursor() > 0 && i < 100000; i++) {
            // Turn the valuators, scroll the slice, redraw, carry out updates.
            Valuators &v = i % 2 ? valuator_vert[1] : valuator_horiz[0];
            Pointer(v.x + 1 + (int)(random() % 140) * (i % 2 ? 0 : 1), v.y + 1 + (int)(random() % 140) * (i % 2));
            Ctrl_Click(nullptr, AZ_POINTER_LEFT);
            Ctrl_Motion(nullptr, AZ_POINTER_LEFT, 0, 0);
            Pointer(box_preview.x + 10, box_preview.y + 10);
            Ctrl_Scroll(nullptr, random() % 2 ? 1 : -1);
            Ctrl_Draw();
            // The host's own update pass hands painted regions across (held
            // while the worker runs: a few waiting passes are enough).
            if (AzHost_Pending() < 20)
                AzHost_Post_Update(AZ_UPDATE_B_FLAG, nullptr, nullptr, nullptr);
            Pump();
            AzWin_Wait(1);
        }
        ASSERT_EQ(Wait(), 1);
        EXPECT_EQ(obl->Child_Get_Nb(), W) << "round " << round;
    }
    watchdog.Step("stopping the painter and the reader");
    painter.Stop();
    reader.Stop();
    watchdog.Step("carrying out the last updates");
    AzHost_Post_Update(AZ_UPDATE_B_FLAG, nullptr, nullptr, nullptr);
    for (int i = 0; i < 1000 && AzHost_Pump() > 0; i++)
        AzWin_Pump();

    RecordProperty("paints", painter.count);
    RecordProperty("grey_reads", (int)reader.reads);
    EXPECT_GT(painter.count, 100);
    EXPECT_EQ(painter.refused, 0);
    EXPECT_GT(reader.reads, 0);
    EXPECT_EQ(reader.wrong, 0) << "grey levels never change";

    // Every painted voxel is in the study, and reads back through both directions.
    std::vector<AzFrame *> oblique = Frames_Of(obl);
    ASSERT_EQ((int)oblique.size(), W);
    int missing = 0;
    for (const auto &entry : painter.painted) {
        const Paint &p = entry.first;
        Vexa_Image *image = a->file->images[a->frame_bunch[p.slice]];
        int stored = AzImage_TAG_Plane(image, 0, 0)[p.y * W + p.x];
        int through_org = AzFrame_Get_TAG(source[p.slice], (float)p.x, (float)p.y);
        // The last round (odd) was built with the reversed swap.
        int through_obl = AzFrame_Get_TAG(oblique[p.x], (float)(S - 1 - p.slice), (float)p.y);
        if ((stored != entry.second || through_org != entry.second || through_obl != entry.second) && missing++ < 5)
            ADD_FAILURE() << "voxel " << p.x << "," << p.y << " slice " << p.slice << ": painted " << entry.second
                          << ", study " << stored << ", original " << through_org << ", oblique " << through_obl;
    }
    EXPECT_EQ(missing, 0);

}

TEST_F(Stress_Test, HundredAppliesWithRandomCancels)
{
    Watchdog watchdog("Stress_Test.HundredAppliesWithRandomCancels", STRESS_WATCHDOG_SECONDS);
    const int W = 12, H = 8, S = 9;
    AzStudy *a = Load("Spine", W, H, S);
    ASSERT_NE(a, nullptr);
    Kelvra_Oblique *org = Direction(a, 0), *obl = Direction(a, 1);
    Oblique_Setup(org, obl);
    Delays_Off off;
    AzWin_Delay_Random(2024, 3);
    std::mt19937 random(2024);
    int cancelled = 0, removed = 0, built = 0;
    for (int round = 0; round < 100; round++) {
        watchdog.Step("apply " + std::to_string(round));
        int on = round == 99 || random() % 8 != 0;
        Swap_Direction(obl, W, H, S, round % 2);
        int had = obl->Child_Get_Nb();
        ASSERT_EQ(Ctrl_Apply(1, org, on, obl), 1) << round;
        bool cancel = round != 99 && on && random() % 3 == 0;
        if (cancel) {
            for (int pumps = (int)(random() % 3); pumps > 0; pumps--)
                AzWin_Pump();
            AzProgress_View view;
            // The record lives until this thread pumps the window's close.
            if (AzProgress_Last(&view) == 1 && view.record) {
                AzProgress_Cancel(view.record);
                cancelled++;
            }
        }
        ASSERT_EQ(Wait(), 1) << round;
        ASSERT_EQ(*AzDb_Lock_Focus(), 0) << round;
        ASSERT_EQ(AzWin_Count(), windows_before) << "the progress window closed, round " << round;
        std::vector<AzFrame *> frames = Frames_Of(obl);
        if (!on) {
            EXPECT_EQ(frames.size(), 0u) << round;
            removed += had > 0;
            continue;
        }
        if (!cancel) {
            EXPECT_EQ((int)frames.size(), W) << round;
        }
        EXPECT_LE((int)frames.size(), W) << round;
        built += (int)frames.size() == W;
        for (size_t k = 0; k < frames.size(); k++) {
            ASSERT_NE(frames[k], nullptr);
            EXPECT_EQ(frames[k]->key, obl->dir_image);
            EXPECT_EQ(frames[k]->z, (int)k) << "frames in order, none twice";
        }
        EXPECT_EQ(org->Child_Get_Nb(), S) << "the Original frames stay";
    }
    RecordProperty("cancelled", cancelled);
    RecordProperty("built", built);
    EXPECT_GT(cancelled, 5);
    EXPECT_GT(built, 50);
    // The last apply (reversed swap, round 99) answers the phantom.
    std::vector<AzFrame *> frames = Frames_Of(obl);
    ASSERT_EQ((int)frames.size(), W);
    int wrong = 0;
    for (int k = 0; k < W; k++)
        for (int y = 0; y < H; y++)
            for (int x = 0; x < S; x++)
                wrong += AzFrame_Get_GLI(frames[k], (float)x, (float)y) != AzPhantom_GLI(a->plan, k, y, S - 1 - x, 0);
    EXPECT_EQ(wrong, 0);

}

TEST_F(Stress_Test, ConcurrentReadsOfEveryFrame)
{
    Watchdog watchdog("Stress_Test.ConcurrentReadsOfEveryFrame", STRESS_WATCHDOG_SECONDS);
    const int W = 16, H = 12, S = 10;
    AzStudy *a = Load("Knee", W, H, S);
    ASSERT_NE(a, nullptr);
    Kelvra_Oblique *org = Direction(a, 0), *obl = Direction(a, 1);
    AzHost_Script_Flag_Set(0x20);
    Oblique_Setup(org, obl);
    Swap_Direction(obl, W, H, S, 1);
    ASSERT_EQ(Ctrl_Apply(1, org, 1, obl), 1);
    ASSERT_EQ(Wait(), 1);

    std::vector<AzFrame *> frames = Frames_Of(org);
    std::vector<AzFrame *> more = Frames_Of(obl);
    frames.insert(frames.end(), more.begin(), more.end());
    ASSERT_EQ((int)frames.size(), S + W);
    // One pass alone first: what every reader must see.
    struct Answer {
        int gli, tag;
        Vect pos;
    };
    auto read_all = [&frames](std::vector<Answer> *out) {
        out->clear();
        for (AzFrame *frame : frames) {
            int w = 0, h = 0;
            AzFrame_Get_Dim(frame, &w, &h);
            for (int y = 0; y < h; y++)
                for (int x = 0; x < w; x++)
                    out->push_back({AzFrame_Get_GLI(frame, (float)x + 0.25f, (float)y),
                                    AzFrame_Get_TAG(frame, (float)x, (float)y),
                                    AzFrame_Get_Pos(frame, (float)x, (float)y)});
        }
    };
    std::vector<Answer> alone;
    read_all(&alone);
    ASSERT_EQ(alone.size(), (size_t)(S * W * H * 2));

    watchdog.Step("readers");
    const int readers = 4, passes = 5;
    std::vector<int> differences(readers, 0);
    std::vector<std::thread> threads;
    for (int r = 0; r < readers; r++)
        threads.emplace_back([&, r] {
            std::vector<Answer> mine;
            for (int p = 0; p < passes; p++) {
                read_all(&mine);
                for (size_t i = 0; i < alone.size(); i++)
                    differences[r] += mine[i].gli != alone[i].gli || mine[i].tag != alone[i].tag ||
                                      !Same(mine[i].pos, alone[i].pos);
            }
        });
    // The interface thread keeps carrying out updates meanwhile.
    for (int i = 0; i < 50; i++)
        Pump();
    for (std::thread &t : threads)
        t.join();
    for (int r = 0; r < readers; r++)
        EXPECT_EQ(differences[r], 0) << "reader " << r;

}
