/* Long-running and many-threaded cases on the host fixture, with an alarm
 * that ends a hung case (after 180 s, enough for sanitizer builds): a hang
 * must fail, not stall the run.  What the host keeps from racing the worker
 * is forced into the order that broke it: delay points hold one thread back
 * while the other goes on, far longer than the other needs. */
#include <unistd.h>

#include <atomic>
#include <map>
#include <random>
#include <thread>
#include <tuple>

#include "hostlib/structures/az_progress.h"
#include "hostlib/tools/az_tools.h"
#include "hostlib/win32/az_win.h"
#include "module/entry.h"
#include "tests/support/host_steps.h"
#include "tests/support/host_test.h"
#include "tests/support/panel_state.h"

class Stress_Test : public Host_Test {
  protected:
    void SetUp() override
    {
        alarm(180);
        Host_Test::SetUp();
    }
    void TearDown() override
    {
        alarm(0);
        EXPECT_EQ(Wait(), 1);
        AzWin_Delay_Off();
        if (panel)
            Panel_Destroy(panel);
        Host_Test::TearDown();
    }
    void Pointer(int x, int y) { AzTools_Pointer_Set(panel, x, y, AZ_POINTER_NONE); }
    /* The two directions of a loaded study, set up (unless the host did)
     * and the Oblique one turned. */
    void Set_Up(AzPhantom *study, bool setup = true)
    {
        org = Direction(study, 0);
        obl = Direction(study, 1);
        ASSERT_TRUE(org && obl);
        if (setup)
            Oblique_Setup(org, obl);
        plan = study->plan;
        Turn(1);
    }
    /* Keeps voxels on voxels: the Oblique direction's frames are the study's
     * columns, each as wide as the study has slices (Swap_Matrix). */
    void Turn(int reversed)
    {
        obl->matrix = Swap_Matrix(plan.slices - 1, reversed);
        obl->dim = {plan.slices, plan.height, plan.width};
    }

    HWND panel = nullptr;
    Kelvra_Oblique *org = nullptr, *obl = nullptr;
    AzPhantom_Plan plan;
};

namespace {

std::atomic<int> hook_calls{0}, hook_calls_beside_worker{0};

/* The module's update hook, watched. */
int Watched_Update_A(uint64_t flags)
{
    hook_calls++;
    hook_calls_beside_worker += AzWin_Threads_Alive() != 0;
    return Update_A(flags);
}

} // namespace

TEST_F(Stress_Test, SetUpStartsOneApplyAtATimeAndUpdatesWaitForTheWorker)
{
    const int W = 12;
    AzPhantom *a = Load("Chest", W, 8, 6), *b = Load("Pelvis", 10, 8, 5);
    // Both Oblique directions on and never built: the refresh pass sets up
    // each study and each set-up applies by itself.
    Direction(a, 1)->enabled = 1;
    Direction(b, 1)->enabled = 1;
    AzHost_Module_Set(Update_A, Update_Register());
    // The first worker is slow to start; the pass must not go on to the
    // second study's apply (which refills the one job) before it has ended.
    AzWin_Delay_Set(AZ_DELAY_THREAD_START, 200);
    AzHost_Post_Update(0x200000, nullptr, nullptr, nullptr);
    AzApp_Pump(nullptr);
    ASSERT_EQ(Wait(), 1);
    EXPECT_EQ(AzWin_Delay_Passes(AZ_DELAY_THREAD_START), 2u);
    EXPECT_EQ(Direction(a, 1)->Child_Get_Nb(), W);
    EXPECT_EQ(Direction(b, 1)->Child_Get_Nb(), 10);
    EXPECT_EQ(console.Count("class locked"), 0u) << Console_Dump(console.Lines());
    EXPECT_EQ(console.Count("in Oblique_Thread()"), 2u);

    // Rebuilding the first study, the worker stops in Child_Delete of the
    // class it rebuilds; meanwhile the host has updates for the module and
    // the classes.
    Set_Up(a, false);
    AzHost_Module_Set(Watched_Update_A, Update_Register());
    hook_calls = hook_calls_beside_worker = 0;
    AzWin_Delay_Set(AZ_DELAY_CHILD_DELETE, 300);
    ASSERT_EQ(Ctrl_Apply(1, org, 1, obl), 1);
    for (int i = 0; i < 5000 && AzWin_Delay_Passes(AZ_DELAY_CHILD_DELETE) == 0; i++)
        Sleep(1);
    ASSERT_GT(AzWin_Delay_Passes(AZ_DELAY_CHILD_DELETE), 0u);
    AzHost_Post_Update(0x200000 | AZ_UPDATE_B_FLAG, nullptr, nullptr, nullptr);
    AzApp_Pump(nullptr);
    EXPECT_EQ(hook_calls, 0) << "an update reached the module beside its worker";
    EXPECT_GT(AzHost_Pending(), 0) << "the updates wait";
    EXPECT_EQ(AzApp_Idle(nullptr), 0) << "not idle while they wait";
    ASSERT_EQ(Wait(), 1);
    EXPECT_GT(hook_calls, 0) << "and are carried out once it has ended";
    EXPECT_EQ(hook_calls_beside_worker, 0);
    EXPECT_EQ(obl->Child_Get_Nb(), W);
}

/* Many threads at once: a painter writing tags and a reader of grey levels
 * while the worker builds frames, some of them cancelled, and the panel
 * turns and scrolls. */
TEST_F(Stress_Test, PaintWhileWorkerBuildsAndPanelTurns)
{
    const int W = 20, H = 14, S = 10;
    AzPhantom *a = Load("Chest", W, H, S);
    ASSERT_TRUE(a && Load("Pelvis", 16, 16, 8));
    ASSERT_NE(panel = Panel_Make("StressPanel", 200, 600), nullptr);
    ASSERT_EQ(Ctrl_Open(0), 1);
    Ctrl_Show();
    // The panel works on the other study's Oblique direction meanwhile.
    Pointer(select_instance.x + select_instance.width / 2, select_instance.y + select_instance.height / 2);
    ASSERT_EQ(Ctrl_Scroll(nullptr, -1), 1);
    ASSERT_EQ(Instance_Cur, 2);
    Dir_Cur = 1;
    Set_Up(a);
    ASSERT_EQ(org->dim.z, S) << Console_Dump(console.Lines());
    std::vector<AzFrame *> source = Frames_Of(org); // in slice order: the phantom's locations ascend

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
            AzApp_Pump(nullptr);
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
    // Every painted voxel is in the study and reads back through both directions (the last round
    // reversed), and the last apply's grey levels answer the phantom.
    std::vector<AzFrame *> oblique = Frames_Of(obl);
    ASSERT_EQ((int)oblique.size(), W);
    int missing = 0;
    for (const auto &entry : painted) {
        int s, x, y;
        std::tie(s, x, y) = entry.first;
        int stored = AzImage_TAG_Plane(a->file->images[a->frame_bunch[s]], 0, 0)[y * W + x];
        int through_org = AzFrame_Get_TAG(source[s], (float)x, (float)y);
        int through_obl = AzFrame_Get_TAG(oblique[x], (float)(S - 1 - s), (float)y);
        if ((stored != entry.second || through_org != entry.second || through_obl != entry.second) && missing++ < 5)
            ADD_FAILURE() << "voxel " << x << "," << y << " slice " << s << ": painted " << entry.second
                          << ", study " << stored << ", original " << through_org << ", oblique " << through_obl;
    }
    for (int k = 0; k < W; k++)
        for (int y = 0; y < H; y++)
            for (int x = 0; x < S; x++)
                missing += AzFrame_Get_GLI(oblique[k], (float)x, (float)y) != AzPhantom_GLI(a->plan, k, y, S - 1 - x, 0);
    EXPECT_EQ(missing, 0) << "tags lost or grey levels of the last apply wrong";
}
