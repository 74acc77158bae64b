/* What the host keeps from racing the worker, each forced into the order
 * that broke it: delay points hold one thread back while the other goes
 * on, far longer than the other needs. */
#include "stress_fixture.h"

namespace {

std::atomic<int> hook_calls{0};
std::atomic<int> hook_calls_beside_worker{0};

/* The module's update hook, watched. */
int Watched_Update_A(uint64_t flags)
{
    hook_calls++;
    if (AzWin_Threads_Alive())
        hook_calls_beside_worker++;
    return Update_A(flags);
}

/* Waits until some thread has passed the delay point. */
bool Passed(int point)
{
    for (int i = 0; i < 5000 && AzWin_Delay_Passes(point) == 0; i++)
        Sleep(1);
    return AzWin_Delay_Passes(point) > 0;
}

}  // namespace

TEST_F(Stress_Test, UpdatesWaitUntilTheWorkerHasEnded)
{
    Watchdog watchdog("Stress_Test.UpdatesWaitUntilTheWorkerHasEnded", STRESS_WATCHDOG_SECONDS);
    const int W = 12, H = 8, S = 6;
    AzStudy *a = Load("Chest", W, H, S);
    ASSERT_NE(a, nullptr);
    Kelvra_Oblique *org = Direction(a, 0), *obl = Direction(a, 1);
    Oblique_Setup(org, obl);
    Swap_Direction(obl, W, H, S, 0);
    ASSERT_EQ(Ctrl_Apply(1, org, 1, obl), 1);
    ASSERT_EQ(Wait(), 1);
    AzHost_Module_Set(Watched_Update_A, Update_Register());
    hook_calls = 0;
    hook_calls_beside_worker = 0;

    // The worker stops in Child_Delete of the class it rebuilds; meanwhile
    // the host has updates for the module and the classes.
    Delays_Off off;
    AzWin_Delay_Set(AZ_DELAY_CHILD_DELETE, 300);
    Swap_Direction(obl, W, H, S, 1);
    ASSERT_EQ(Ctrl_Apply(1, org, 1, obl), 1);
    ASSERT_TRUE(Passed(AZ_DELAY_CHILD_DELETE));
    AzHost_Post_Update(0x200000 | AZ_UPDATE_B_FLAG, nullptr, nullptr, nullptr);
    Pump();
    EXPECT_EQ(hook_calls, 0) << "an update reached the module beside its worker";
    EXPECT_GT(AzHost_Pending(), 0) << "the updates wait";

    ASSERT_EQ(Wait(), 1);
    EXPECT_GT(hook_calls, 0) << "and are carried out once it has ended";
    EXPECT_EQ(hook_calls_beside_worker, 0);
    EXPECT_EQ(obl->Child_Get_Nb(), W);

}

TEST_F(Stress_Test, SetUpStartsOneApplyAtATime)
{
    Watchdog watchdog("Stress_Test.SetUpStartsOneApplyAtATime", STRESS_WATCHDOG_SECONDS);
    AzStudy *a = Load("Chest", 12, 8, 6);
    AzStudy *b = Load("Pelvis", 10, 8, 5);
    ASSERT_TRUE(a && b);
    // Both Oblique directions on and never built: the refresh pass sets up
    // each study and each set-up applies by itself.
    Direction(a, 1)->enabled = 1;
    Direction(b, 1)->enabled = 1;
    AzHost_Module_Set(Update_A, Update_Register());

    // The first worker is slow to start; the pass must not go on to the
    // second study's apply (which refills the one job) before it has ended.
    Delays_Off off;
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
