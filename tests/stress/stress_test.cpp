/* Many threads at once: a painter writing tags and a reader of grey levels
 * while the worker builds frames and the panel turns and scrolls; applies
 * in a row with cancels. */
#include <atomic>
#include <map>
#include <random>
#include <tuple>

#include "stress.h"

namespace {

/* Org frames by slice index (ascending location). */
std::vector<AzFrame *> Frames_By_Slice(Kelvra_Oblique *org, AzStudy *study)
{
    std::map<void *, int> slice_of;
    for (size_t s = 0; s < study->frame_bunch.size(); s++)
        slice_of[study->file->images[study->frame_bunch[s]]] = (int)s;
    std::vector<AzFrame *> frames(study->frame_bunch.size(), nullptr);
    for (AzFrame *frame : Frames_Of(org))
        frames[slice_of.at(frame->key)] = frame;
    return frames;
}

} // namespace

TEST_F(Stress_Test, PaintWhileWorkerBuildsAndPanelTurns)
{
    const int W = 20, H = 14, S = 10;
    AzStudy *a = Load("Chest", W, H, S);
    ASSERT_TRUE(a && Load("Pelvis", 16, 16, 8));
    Make_Panel();
    // The panel works on the other study's Oblique direction meanwhile.
    Pointer(select_instance.x + select_instance.width / 2, select_instance.y + select_instance.height / 2);
    ASSERT_EQ(Ctrl_Scroll(nullptr, -1), 1);
    ASSERT_EQ(Instance_Cur, 2);
    Dir_Cur = 1;
    Set_Up(a);
    ASSERT_EQ(org->dim.z, S) << Console_Dump(console.Lines());
    std::vector<AzFrame *> source = Frames_By_Slice(org, a);

    // Random pauses at every delay point shake the order of the threads' steps.
    AzWin_Delay_Random(17, 3);
    std::atomic<bool> stop{false};
    std::map<std::tuple<int, int, int>, int> painted; // (slice, x, y) -> last tag
    int paints = 0, refused = 0, wrong = 0;
    long reads = 0;
    std::thread painter([&] {
        std::mt19937 random(12345);
        for (; !stop; paints++) {
            int s = (int)(random() % S), x = (int)(random() % W), y = (int)(random() % H), tag = 1 + (int)(random() % 250);
            if (AzFrame_Set_TAG(source[s], (float)x, (float)y, (unsigned char)tag) == 1)
                painted[std::make_tuple(s, x, y)] = tag;
            else
                refused++;
        }
    });
    std::thread reader([&] { // grey levels never change
        while (!stop)
            for (int s = 0; s < S && !stop; s++)
                for (int y = 0; y < H; y++)
                    for (int x = 0; x < W; x++, reads++)
                        wrong += AzFrame_Get_GLI(source[s], (float)x, (float)y) != AzPhantom_GLI(a->plan, x, y, s, 0);
    });
    std::mt19937 random(99);
    for (int round = 0; round < 6; round++) {
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
            // The host's own update pass hands painted regions across (held while the worker runs).
            if (AzHost_Pending() < 20)
                AzHost_Post_Update(AZ_UPDATE_B_FLAG, nullptr, nullptr, nullptr);
            Pump();
            AzWin_Wait(1);
        }
        ASSERT_EQ(Wait(), 1);
        EXPECT_EQ(obl->Child_Get_Nb(), W) << "round " << round;
    }
    watchdog.Step("stopping the painter and the reader");
    stop = true;
    painter.join();
    reader.join();
    AzHost_Post_Update(AZ_UPDATE_B_FLAG, nullptr, nullptr, nullptr);
    ASSERT_EQ(Wait(), 1);
    EXPECT_GT(paints, 100);
    EXPECT_EQ(refused, 0);
    EXPECT_GT(reads, 0);
    EXPECT_EQ(wrong, 0);
    // Every painted voxel is in the study and reads back through both directions.
    std::vector<AzFrame *> oblique = Frames_Of(obl);
    ASSERT_EQ((int)oblique.size(), W);
    int missing = 0;
    for (const auto &entry : painted) {
        int s, x, y;
        std::tie(s, x, y) = entry.first;
        int stored = AzImage_TAG_Plane(a->file->images[a->frame_bunch[s]], 0, 0)[y * W + x];
        int through_org = AzFrame_Get_TAG(source[s], (float)x, (float)y);
        int through_obl = AzFrame_Get_TAG(oblique[x], (float)(S - 1 - s), (float)y); // last round reversed
        if ((stored != entry.second || through_org != entry.second || through_obl != entry.second) && missing++ < 5)
            ADD_FAILURE() << "voxel " << x << "," << y << " slice " << s << ": painted " << entry.second
                          << ", study " << stored << ", original " << through_org << ", oblique " << through_obl;
    }
    EXPECT_EQ(missing, 0);
}

TEST_F(Stress_Test, HundredAppliesWithRandomCancels)
{
    const int W = 12, H = 8, S = 9;
    AzStudy *a = Load("Spine", W, H, S);
    Set_Up(a);
    AzWin_Delay_Random(2024, 3);
    std::mt19937 random(2024);
    int cancelled = 0, built = 0;
    for (int round = 0; round < 100; round++) {
        watchdog.Step("apply " + std::to_string(round));
        int on = round == 99 || random() % 8 != 0;
        Swap_Direction(obl, W, H, S, round % 2);
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
        EXPECT_EQ(org->Child_Get_Nb(), S) << "the Original frames stay";
        EXPECT_TRUE(cancel || (int)frames.size() == (on ? W : 0)) << round << ": " << frames.size();
        EXPECT_LE((int)frames.size(), W) << round;
        built += (int)frames.size() == W;
        for (size_t k = 0; k < frames.size(); k++) {
            EXPECT_EQ(frames[k]->key, obl->dir_image);
            EXPECT_EQ(frames[k]->z, (int)k) << "frames in order, none twice";
        }
    }
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
