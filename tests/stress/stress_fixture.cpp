#include "stress_fixture.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>

Watchdog::Watchdog(const std::string &case_name, int seconds) : name(case_name), step("start")
{
    thread = std::thread([this, seconds] { Run(seconds); });
}

Watchdog::~Watchdog()
{
    {
        std::lock_guard<std::mutex> hold(lock);
        done = true;
    }
    wake.notify_all();
    thread.join();
}

void Watchdog::Step(const std::string &what)
{
    std::lock_guard<std::mutex> hold(lock);
    step = what;
}

void Watchdog::Run(int seconds)
{
    std::unique_lock<std::mutex> hold(lock);
    if (wake.wait_for(hold, std::chrono::seconds(seconds), [this] { return done; }))
        return;
    fprintf(stderr, "\nFAILED: %s hung: still running after %d s, at step \"%s\"\n", name.c_str(), seconds,
            step.c_str());
    fflush(stderr);
    /* The hung threads hold locks: leave without running destructors. */
    _exit(3);
}

void Stress_Test::SetUp()
{
    Host_Test::SetUp();
    AzHost_Script_Flag_Set(0);
}

void Stress_Test::TearDown()
{
    EXPECT_EQ(Wait(), 1);
    if (panel)
        Panel_Destroy(panel);
    panel = nullptr;
    AzWin_Pump();
    Host_Test::TearDown();
}

void Stress_Test::Make_Panel()
{
    panel = Panel_Make("StressPanel", 200, 600);
    ASSERT_NE(panel, nullptr);
    ASSERT_EQ(Ctrl_Open(0), 1);
    Ctrl_Show();
}

void Stress_Test::Pointer(int x, int y)
{
    AzTools_Pointer_Set(panel, x, y, AZ_POINTER_NONE);
}
