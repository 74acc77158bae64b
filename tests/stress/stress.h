/* Long-running and many-threaded cases on the host fixture: the module's
 * panel in a window of its own, and an alarm that ends a hung case (after
 * 180 s, enough for sanitizer builds): a hang must fail, not stall the run. */
#ifndef STRESS_H
#define STRESS_H

#include <unistd.h>

#include <string>
#include <thread>

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
    /* The two directions of a loaded study, set up and the Oblique one turned. */
    void Set_Up(AzPhantom *study, int reversed = 1)
    {
        org = Direction(study, 0);
        obl = Direction(study, 1);
        ASSERT_TRUE(org && obl);
        Oblique_Setup(org, obl);
        plan = study->plan;
        Turn(reversed);
    }
    /* Keeps voxels on voxels: the Oblique direction's frames are the study's
     * columns, each as wide as the study has slices (Swap_Matrix). */
    void Turn(int reversed)
    {
        obl->matrix = Swap_Matrix(plan.slices - 1, reversed);
        obl->dim.x = plan.slices;
        obl->dim.y = plan.height;
        obl->dim.z = plan.width;
    }

    HWND panel = nullptr;
    Kelvra_Oblique *org = nullptr, *obl = nullptr;
    AzPhantom_Plan plan;
};

#endif
