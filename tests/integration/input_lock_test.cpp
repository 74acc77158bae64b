/*
 * A host refuses panel input while the module has locked the interface
 * ("$INTERFACE_LOCK_FOCUS" is 1 behind the wait cursor): the session
 * runner holds the next event back until the lock drops, instead of
 * handing it to a module whose worker is still building frames.
 */
#include <gtest/gtest.h>

#include "host/corvantis_tools.h"
#include "hostlib/structures/az_db.h"
#include "hostlib/tools/az_tools.h"
#include "hostlib/win32/az_win.h"
#include "host_run.h"

namespace {

const UINT unlock_message = WM_USER + 7;
Buttons *watched = nullptr;
int selected_at_unlock = -1;
int unlocks = 0;

/* Stands for the worker ending: clears the lock from a message the host
 * carries out while it waits, noting whether the click came before. */
LRESULT Unlock_Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message != unlock_message)
        return DefWindowProcA(window, message, wparam, lparam);
    selected_at_unlock = watched ? watched->selected : -1;
    unlocks++;
    __atomic_store_n(AzDb_Lock_Focus(), 0, __ATOMIC_RELEASE);
    return 0;
}

} // namespace

TEST(InputLock, PanelEventsWaitUntilTheInterfaceIsUnlocked)
{
    AzApp app;
    ASSERT_TRUE(Host_Start(&app));
    AzStudy_Plan plan;
    plan.width = 20;
    plan.height = 18;
    plan.slices = 8;
    plan.name = "Locked";
    ASSERT_EQ(AZ_EXIT_OK, AzApp_Load_Built(&app, plan, "locked phantom"));
    ASSERT_EQ("", Host_Session(&app, "open\n", "lock"));
    watched = dynamic_cast<Buttons *>(AzTools_Find(app.panel_window, "Dir. Oblique"));
    ASSERT_NE(nullptr, watched);
    ASSERT_EQ(0, watched->selected);

    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = Unlock_Proc;
    window_class.lpszClassName = "AzTestUnlock";
    RegisterClassA(&window_class);
    HWND window = CreateWindowExA(0, "AzTestUnlock", "unlock", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window);

    // Locked: the wait gives up at once without a time to wait.
    __atomic_store_n(AzDb_Lock_Focus(), 1, __ATOMIC_RELEASE);
    EXPECT_EQ(1, AzApp_Interface_Locked());
    EXPECT_EQ(0, AzApp_Input_Wait(&app, 0));

    // The click reaches the panel only after the lock dropped.
    ASSERT_TRUE(PostMessageA(window, unlock_message, 0, 0));
    std::string error = Host_Session(&app, "click \"Dir. Oblique\"\n", "lock");
    EXPECT_EQ("", error);
    EXPECT_EQ(1, unlocks);
    EXPECT_EQ(0, selected_at_unlock) << "the click was delivered while the interface was locked";
    EXPECT_EQ(1, watched->selected);
    EXPECT_EQ(0, AzApp_Interface_Locked());

    DestroyWindow(window);
    watched = nullptr;
    AzApp_Stop(&app);
}

TEST(InputLock, StopUnloadsTheModuleOnlyAfterItsWorker)
{
    AzApp app;
    ASSERT_TRUE(Host_Start(&app));
    AzStudy_Plan plan;
    plan.width = 16;
    plan.height = 12;
    plan.slices = 6;
    plan.name = "Unload";
    ASSERT_EQ(AZ_EXIT_OK, AzApp_Load_Built(&app, plan, "unload phantom"));
    ASSERT_EQ("", Host_Session(&app, "open\ndirection oblique on\n", "unload"));
    // Without a progress window the worker's only posts are its updates and
    // redraws, the last ones made after it cleared the lock byte.
    AzHost_Script_Flag_Set(0x20);
    AzWin_Delay_Set(AZ_DELAY_POST, 100);
    ASSERT_EQ("", Host_Session(&app, "click \"Update DB\"\n", "unload"));
    for (int i = 0; i < 10000 && __atomic_load_n(AzDb_Lock_Focus(), __ATOMIC_ACQUIRE); i++)
        Sleep(1);
    ASSERT_EQ(0, __atomic_load_n(AzDb_Lock_Focus(), __ATOMIC_ACQUIRE));
    AzApp_Stop(&app);
    EXPECT_EQ(0, AzWin_Threads_Alive()) << "the module was unloaded under its worker";
    AzWin_Delay_Off();
}
