/* The shipped module loaded, used and unloaded as the host does: whatever
 * it allocated for its panel goes with it (the leak checker of the
 * sanitizer build watches this case). */
#include <dlfcn.h>

#include "stress_fixture.h"

namespace {

typedef int (*Window_Fct)(HWND, int, int);
typedef int (*Open_Fct)(unsigned short);
typedef int (*Close_Fct)(void);
typedef int (*Update_Fct)(uint64_t);

}  // namespace

TEST(Module_Unload, PanelStateGoesWithTheLibrary)
{
    Console_Capture console;
    AzDb_Init();
    AzHost_Interface_Thread_Set();
    ASSERT_EQ(AzTools_Register(), 1);
    int windows = AzWin_Count();
    for (int round = 0; round < 2; round++) {
        void *module = dlopen(AZ_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(module, nullptr) << dlerror();
        Kelvra_Insert_Fct insert = (Kelvra_Insert_Fct)dlsym(module, "Class_Insert");
        Window_Fct create = (Window_Fct)dlsym(module, "Ctrl_Create");
        Window_Fct resize = (Window_Fct)dlsym(module, "Ctrl_Resize");
        Open_Fct open = (Open_Fct)dlsym(module, "Ctrl_Open");
        Close_Fct close = (Close_Fct)dlsym(module, "Ctrl_Close");
        Update_Fct update = (Update_Fct)dlsym(module, "Update_A");
        ASSERT_TRUE(insert && create && resize && open && close && update);
        AzDb_Tree_Default(insert);
        AzHost_Script_Flag_Set(0x20);

        AzStudy_Plan plan;
        plan.name = round ? "Second" : "First";
        AzStudy *study = AzStudy_Build(plan);
        ASSERT_NE(study, nullptr);
        ASSERT_EQ(AzStudy_Insert(study, AZ_ORDER_ASCENDING, 0), plan.slices);
        HWND panel = CreateWindowExA(0, "UnloadPanel", "panel", WS_VISIBLE, 0, 0, 200, 600, nullptr, nullptr,
                                     nullptr, nullptr);
        ASSERT_NE(panel, nullptr);
        EXPECT_EQ(create(panel, 200, 600), 1);
        EXPECT_EQ(resize(panel, 200, 600), 1);
        EXPECT_EQ(open(0), 1);
        EXPECT_EQ(update(0x200000), 1);   // the study table is built again
        EXPECT_EQ(close(), 1);

        // The host takes its classes and windows back before it unloads.
        for (HWND child = AzWin_Find("TOOL", nullptr); child; child = AzWin_Find("TOOL", nullptr))
            DestroyWindow(child);
        DestroyWindow(panel);
        AzWin_Pump();
        AzDb_Reset();
        AzStudy_Free(study);
        EXPECT_EQ(AzWin_Count(), windows) << "round " << round;
        EXPECT_EQ(dlclose(module), 0) << dlerror();
        AzDb_Init();
    }
    AzDb_Reset();
    EXPECT_EQ(console.Count("memory error"), 0u);
}
