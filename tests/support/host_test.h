/*
 * The host fixture every test derives from.  SetUp resets every piece of
 * host state (AzApp_Reset, with this program's own copy of the module's
 * insert chain unless module_level is false), the panel state and the heap
 * faults.  TearDown waits until the host is idle, then expects what every
 * test must leave behind: interface lock byte 0, no wait cursor, no worker
 * alive, no window beyond those of SetUp, every class's lock count 0; then
 * empties the database and frees the studies Load made.  A derived fixture
 * calls these first and last, destroys its windows before TearDown and
 * reads the console through `console`.
 */
#ifndef HOST_TEST_H
#define HOST_TEST_H

#include <gtest/gtest.h>

#include <vector>

#include "hostapp/lib/az_app.h"
#include "oblique/oblique.h"
#include "tests/support/console_capture.h"

class Host_Test : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    /* A phantom of the plan fed through the insert chain (every time
     * point) in that order; a test failure unless every frame was taken.
     * The fixture frees it at TearDown. */
    AzPhantom *Load(const AzPhantom_Plan &plan, int order = AZ_ORDER_ASCENDING, unsigned int seed = 0);
    /* The same with the default phantom of that size and spacing (mm). */
    AzPhantom *Load(const char *name, int width, int height, int slices, float sx = 1.0f, float sy = 1.0f,
                  float sz = 1.0f);
    /* Direction 0 (Original) or 1 (Oblique) of a loaded study (the study
     * class its frames were filed under), or null. */
    static Kelvra_Oblique *Direction(const AzPhantom *study, int direction);
    /* Pumps until the host is idle; 1 when it became idle in time. */
    static int Wait(int timeout_ms = AZ_APP_WAIT_MS) { return AzApp_Wait(nullptr, timeout_ms); }

    bool module_level = true;
    std::vector<AzPhantom *> studies;
    Console_Capture console;
    int windows_before = 0;
};

#endif
