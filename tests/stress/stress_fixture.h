/* Long-running and many-threaded cases: a database with the module's insert
 * level, the module's panel in a window of its own, a watchdog that ends a
 * hung case, and the checks every case ends with. */
#ifndef STRESS_FIXTURE_H
#define STRESS_FIXTURE_H

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hostlib/structures/az_db.h"
#include "hostlib/structures/az_progress.h"
#include "hostlib/tools/az_tools.h"
#include "hostlib/win32/az_win.h"
#include "module/entry.h"
#include "oblique/oblique.h"
#include "tests/support/console_capture.h"
#include "tests/support/host_steps.h"
#include "tests/support/host_test.h"
#include "tests/support/panel_state.h"

/* Ends the whole test program with a message naming the case and the step
 * it was in when a case does not finish in time: a hang must fail, not
 * stall the run. */
class Watchdog {
  public:
    Watchdog(const std::string &name, int seconds);
    ~Watchdog();
    /* What the case is doing now (shown when it hangs). */
    void Step(const std::string &what);

  private:
    void Run(int seconds);
    std::string name;
    std::string step;
    std::mutex lock;
    std::condition_variable wake;
    bool done = false;
    std::thread thread;
};

class Stress_Test : public Host_Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    /* The panel in its own window, opened and shown. */
    void Make_Panel();
    void Pointer(int x, int y);
    /* One step of the interface thread: window messages and host updates. */
    static void Pump() { AzApp_Pump(nullptr); }

    HWND panel = nullptr;
};

/* Switches every delay point off when the case ends, passed or not. */
struct Delays_Off {
    ~Delays_Off() { AzWin_Delay_Off(); }
};

/* Seconds the watchdog gives one case: long enough for sanitizer builds. */
const int STRESS_WATCHDOG_SECONDS = 180;

#endif
