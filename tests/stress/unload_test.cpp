/* The shipped module loaded, used and unloaded as the host does: whatever
 * it allocated for its panel goes with it (the leak checker of the
 * sanitizer build watches this case). */
#include <dlfcn.h>

#include "stress.h"

TEST_F(Stress_Test, PanelStateGoesWithTheLibrary)
{
    for (int round = 0; round < 2; round++) {
        AzModule module;
        char error[1024];
        ASSERT_EQ(AzModule_Load(&module, AZ_MODULE_PATH, error, sizeof(error)), 1) << error;
        ASSERT_EQ(AzApp_Reset(module.Class_Insert), 1);
        AzHost_Script_Flag_Set(0x20);
        AzPhantom_Plan phantom;
        phantom.name = round ? "Second" : "First";
        Load(phantom);
        HWND window = CreateWindowExA(0, "UnloadPanel", "panel", WS_VISIBLE, 0, 0, 200, 600, nullptr, nullptr,
                                      nullptr, nullptr);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(module.Ctrl_Create(window, 200, 600), 1);
        EXPECT_EQ(module.Ctrl_Resize(window, 200, 600), 1);
        EXPECT_EQ(module.Ctrl_Open(0), 1);
        EXPECT_EQ(module.Update_A(0x200000), 1); // the study table is built again
        EXPECT_EQ(module.Ctrl_Close(), 1);
        // The host takes its classes and windows back before it unloads.
        for (HWND child = AzWin_Find("TOOL", nullptr); child; child = AzWin_Find("TOOL", nullptr))
            DestroyWindow(child);
        DestroyWindow(window);
        AzWin_Pump();
        AzDb_Reset();
        EXPECT_EQ(AzWin_Count(), windows_before) << "round " << round;
        AzModule_Unload(&module);
    }
    EXPECT_EQ(console.Count("memory error"), 0u);
}
