/*
 * The host and the module's worker: panel input waits while the interface
 * is locked (the session runner holds the next event back until the lock
 * drops); a second copy of the module in the process does not take the
 * module's own calls; the module is unloaded only after its worker ended.
 */
#include <dlfcn.h>
#include <math.h>
#include <stdlib.h>

#include "app_test.h"
#include "hostlib/tools/az_tools.h"
#include "hostlib/win32/az_win.h"
#include "tests/support/host_steps.h"

namespace {

const UINT unlock_message = WM_USER + 7;
Buttons *watched = nullptr;
int selected_at_unlock = -1;

/* Stands for the worker ending: clears the lock from a message the host
 * carries out while it waits, noting whether the click came before. */
LRESULT Unlock_Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message != unlock_message)
        return DefWindowProcA(window, message, wparam, lparam);
    selected_at_unlock = watched->selected;
    __atomic_store_n(AzDb_Lock_Focus(), 0, __ATOMIC_RELEASE);
    return 0;
}

} // namespace

TEST_F(App_Test, PanelEventsWaitWhileTheInterfaceLockIsOn)
{
    ASSERT_TRUE(Start());
    ASSERT_EQ(AZ_EXIT_OK, AzApp_Load_Built(&app, Plan_Of("Locked", 20, 18, 8), "locked phantom"));
    ASSERT_EQ("", Session("open\n"));
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
    EXPECT_EQ(0, AzApp_Wait(&app, 0)) << "a locked host is not idle";
    // The click reaches the panel only after the lock dropped.
    ASSERT_TRUE(PostMessageA(window, unlock_message, 0, 0));
    EXPECT_EQ("", Session("click \"Dir. Oblique\"\n"));
    EXPECT_EQ(0, selected_at_unlock) << "the click was delivered while the interface was locked";
    EXPECT_EQ(1, watched->selected);
    EXPECT_EQ(0, AzApp_Interface_Locked());
    DestroyWindow(window);
}

TEST_F(App_Test, ASecondCopyDoesNotTakeTheModulesCallsAndStopWaitsForItsWorker)
{
    std::string copy = Output_Folder("module_scope") + "/other_copy.so";
    ASSERT_EQ(0, system(("cp '" + std::string(AZ_MODULE_PATH) + "' '" + copy + "'").c_str()));
    void *other = dlopen(copy.c_str(), RTLD_NOW | RTLD_GLOBAL);
    ASSERT_NE(nullptr, other) << dlerror();
    ASSERT_TRUE(Start());
    ASSERT_EQ(AZ_EXIT_OK, AzApp_Load_Built(&app, Plan_Of("Scope", 20, 18, 8), "scope phantom"));
    // Choosing the Oblique direction redraws the panel, which enables the valuators.
    EXPECT_EQ("", Session("open\ndirection oblique on\nrotate 20 -15\n"));
    EXPECT_NEAR(20.0, Panel_Angle(app.panel_window, 1) * 180.0 / M_PI, 0.62) << "half a step of a 150-pixel valuator";
    // Without a progress window the worker's only posts are its updates and
    // redraws, the last ones made after it cleared the lock byte.
    AzHost_Script_Flag_Set(0x20);
    AzWin_Delay_Set(AZ_DELAY_POST, 100);
    ASSERT_EQ("", Session("click \"Update DB\"\n"));
    for (int i = 0; i < 10000 && __atomic_load_n(AzDb_Lock_Focus(), __ATOMIC_ACQUIRE); i++)
        Sleep(1);
    ASSERT_EQ(0, __atomic_load_n(AzDb_Lock_Focus(), __ATOMIC_ACQUIRE));
    AzApp_Stop(&app);
    EXPECT_EQ(0, AzWin_Threads_Alive()) << "the module was unloaded under its worker";
    AzWin_Delay_Off();
    dlclose(other);
}
