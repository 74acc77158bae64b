/* Long-running and many-threaded cases on the host fixture: the module's
 * panel in a window of its own, and a watchdog that ends a hung case. */
#ifndef STRESS_H
#define STRESS_H

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "hostlib/structures/az_progress.h"
#include "hostlib/tools/az_tools.h"
#include "hostlib/win32/az_win.h"
#include "module/entry.h"
#include "tests/support/host_steps.h"
#include "tests/support/host_test.h"
#include "tests/support/panel_state.h"

/* Ends the whole program with the case's name and step when it does not
 * finish in time (180 s, enough for sanitizer builds): a hang must fail,
 * not stall the run.  The hung threads hold locks: no destructors run. */
class Watchdog {
  public:
    ~Watchdog()
    {
        Step("");
        thread.join();
    }
    /* What the case is doing now; "" ends the watch. */
    void Step(const std::string &what)
    {
        std::lock_guard<std::mutex> hold(lock);
        step = what;
        wake.notify_all();
    }

  private:
    std::string step = "start";
    std::mutex lock;
    std::condition_variable wake;
    std::thread thread{[this] {
        std::unique_lock<std::mutex> hold(lock);
        if (wake.wait_for(hold, std::chrono::seconds(180), [this] { return step.empty(); }))
            return;
        fprintf(stderr, "\nFAILED: %s hung at step \"%s\"\n",
                testing::UnitTest::GetInstance()->current_test_info()->name(), step.c_str());
        _exit(3);
    }};
};

class Stress_Test : public Host_Test {
  protected:
    void TearDown() override
    {
        EXPECT_EQ(Wait(), 1);
        AzWin_Delay_Off();
        if (panel)
            Panel_Destroy(panel);
        Host_Test::TearDown();
    }
    /* The panel in its own window, opened and shown. */
    void Make_Panel()
    {
        panel = Panel_Make("StressPanel", 200, 600);
        ASSERT_NE(panel, nullptr);
        ASSERT_EQ(Ctrl_Open(0), 1);
        Ctrl_Show();
    }
    void Pointer(int x, int y) { AzTools_Pointer_Set(panel, x, y, AZ_POINTER_NONE); }
    static void Pump() { AzApp_Pump(nullptr); }
    /* The two directions of a loaded study, set up and the Oblique one turned by Swap_Direction. */
    void Set_Up(AzStudy *study, int reversed = 1)
    {
        org = Direction(study, 0);
        obl = Direction(study, 1);
        ASSERT_TRUE(org && obl);
        Oblique_Setup(org, obl);
        Swap_Direction(obl, study->plan.width, study->plan.height, study->plan.slices, reversed);
    }

    HWND panel = nullptr;
    Kelvra_Oblique *org = nullptr, *obl = nullptr;
    Watchdog watchdog;
};

#endif
