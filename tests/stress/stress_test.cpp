/* Many threads at once: a painter writing tags and a reader of grey levels
 * while the worker builds frames, some of them cancelled, and the panel
 * turns and scrolls. */
#include <atomic>
#include <map>
#include <random>
#include <tuple>

#include "stress.h"

TEST_F(Stress_Test, PaintWhileWorkerBuildsAndPanelTurns)
{
    const int W = 20, H = 14, S = 10;
    AzPhantom *a = Load("Chest", W, H, S);
    ASSERT_TRUE(a && Load("Pelvis", 16, 16, 8));
    Make_Panel();
    // The panel works on the other study's Oblique direction meanwhile.
    Pointer(select_instance.x + select_instance.width / 2, select_instance.y + select_instance.height / 2);
    ASSERT_EQ(Ctrl_Scroll(nullptr, -1), 1);
    ASSERT_EQ(Instance_Cur, 2);
    Dir_Cur = 1;
    Set_Up(a);
    ASSERT_EQ(org->dim.z, S) << Console_Dump(console.Lines());
    std::vector<AzFrame *> source = Frames_Of(org); // in slice order: the phantom's locations ascend
    for (int s = 0; s < S; s++)
        ASSERT_EQ((void *)source[s]->key, (void *)a->file->images[a->frame_bunch[s]]) << s;

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
    // Twelve applies, some with the Oblique direction off, some cancelled early; the last one whole.
    std::mt19937 random(99), fate(2024);
    int windows = AzWin_Count(), cancelled = 0;
    for (int round = 0; round < 12; round++) {
        int on = round == 11 || fate() % 4 != 0, cancel_at = round != 11 && on && fate() % 2 ? fate() % 3 : -1;
        Turn(round % 2);
        ASSERT_EQ(Ctrl_Apply(1, org, on, obl), 1);
        for (int i = 0; AzTools_Wait_Cursor() > 0 && i < 100000; i++) {
            AzProgress_View view; // the record lives until this thread pumps the window's close
            if (i == cancel_at && AzProgress_Last(&view) == 1 && view.record && ++cancelled)
                AzProgress_Cancel(view.record);
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
        ASSERT_EQ(*AzDb_Lock_Focus(), 0) << round;
        ASSERT_EQ(AzWin_Count(), windows) << "the progress window closed, round " << round;
        std::vector<AzFrame *> frames = Frames_Of(obl);
        EXPECT_EQ(org->Child_Get_Nb(), S) << "the Original frames stay";
        EXPECT_TRUE(cancel_at >= 0 ? (int)frames.size() <= W : (int)frames.size() == (on ? W : 0)) << round;
        for (size_t k = 0; k < frames.size(); k++)
            EXPECT_TRUE(frames[k]->key == obl->dir_image && frames[k]->z == (int)k) << "frames in order, none twice";
    }
    EXPECT_GT(cancelled, 0);
    stop = true;
    painter.join();
    reader.join();
    AzHost_Post_Update(AZ_UPDATE_B_FLAG, nullptr, nullptr, nullptr);
    ASSERT_EQ(Wait(), 1);
    EXPECT_TRUE(paints > 100 && refused == 0 && reads > 0 && wrong == 0)
        << paints << " paints, " << refused << " refused, " << reads << " reads, " << wrong << " wrong grey levels";
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
    // The last apply (reversed) answers the phantom.
    for (int k = 0; k < W; k++)
        for (int y = 0; y < H; y++)
            for (int x = 0; x < S; x++)
                missing += AzFrame_Get_GLI(oblique[k], (float)x, (float)y) != AzPhantom_GLI(a->plan, k, y, S - 1 - x, 0);
    EXPECT_EQ(missing, 0) << "grey levels of the last apply";
}
