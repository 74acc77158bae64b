/* What the host keeps from racing the worker, each forced into the order
 * that broke it: delay points hold one thread back while the other goes
 * on, far longer than the other needs. */
#include <atomic>

#include "stress.h"

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

TEST_F(Stress_Test, UpdatesWaitUntilTheWorkerHasEnded)
{
    const int W = 12;
    Set_Up(Load("Chest", W, 8, 6), 0);
    ASSERT_EQ(Ctrl_Apply(1, org, 1, obl), 1);
    ASSERT_EQ(Wait(), 1);
    AzHost_Module_Set(Watched_Update_A, Update_Register());
    hook_calls = hook_calls_beside_worker = 0;
    // The worker stops in Child_Delete of the class it rebuilds; meanwhile
    // the host has updates for the module and the classes.
    AzWin_Delay_Set(AZ_DELAY_CHILD_DELETE, 300);
    Turn(1);
    ASSERT_EQ(Ctrl_Apply(1, org, 1, obl), 1);
    for (int i = 0; i < 5000 && AzWin_Delay_Passes(AZ_DELAY_CHILD_DELETE) == 0; i++)
        Sleep(1);
    ASSERT_GT(AzWin_Delay_Passes(AZ_DELAY_CHILD_DELETE), 0u);
    AzHost_Post_Update(0x200000 | AZ_UPDATE_B_FLAG, nullptr, nullptr, nullptr);
    Pump();
    EXPECT_EQ(hook_calls, 0) << "an update reached the module beside its worker";
    EXPECT_GT(AzHost_Pending(), 0) << "the updates wait";
    EXPECT_EQ(AzApp_Idle(nullptr), 0) << "not idle while they wait";
    ASSERT_EQ(Wait(), 1);
    EXPECT_GT(hook_calls, 0) << "and are carried out once it has ended";
    EXPECT_EQ(hook_calls_beside_worker, 0);
    EXPECT_EQ(obl->Child_Get_Nb(), W);
}

TEST_F(Stress_Test, SetUpStartsOneApplyAtATime)
{
    AzPhantom *a = Load("Chest", 12, 8, 6), *b = Load("Pelvis", 10, 8, 5);
    // Both Oblique directions on and never built: the refresh pass sets up
    // each study and each set-up applies by itself.
    Direction(a, 1)->enabled = 1;
    Direction(b, 1)->enabled = 1;
    AzHost_Module_Set(Update_A, Update_Register());
    // The first worker is slow to start; the pass must not go on to the
    // second study's apply (which refills the one job) before it has ended.
    AzWin_Delay_Set(AZ_DELAY_THREAD_START, 200);
    console.Clear();
    AzHost_Post_Update(0x200000, nullptr, nullptr, nullptr);
    Pump();
    ASSERT_EQ(Wait(), 1);
    EXPECT_EQ(AzWin_Delay_Passes(AZ_DELAY_THREAD_START), 2u);
    EXPECT_EQ(Direction(a, 1)->Child_Get_Nb(), 12);
    EXPECT_EQ(Direction(b, 1)->Child_Get_Nb(), 10);
    EXPECT_EQ(console.Count("class locked"), 0u) << Console_Dump(console.Lines());
    EXPECT_EQ(console.Count("in Oblique_Thread()"), 2u);
}
