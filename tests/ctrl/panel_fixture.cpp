#include "panel_fixture.h"

void Panel_Test::SetUp()
{
    AzDb_Init();
    AzHost_Interface_Thread_Set();
    AzDb_Tree_Default(Class_Insert);
    AzHost_Script_Flag_Set(0x20);   // no dialogs from a frame-creation run
    AzHost_Help_Dir_Set(AZ_BUILD_DIR);
    ASSERT_EQ(AzTools_Register(), 1);
    Panel_Reset();
    Make_Panel(200, 600);
}

void Panel_Test::Make_Panel(int width, int height)
{
    if (image_window)
        DestroyWindow(image_window);
    if (panel)
        DestroyWindow(panel);
    panel = Panel_Make("PanelTestWindow", width, height);
    ASSERT_NE(panel, nullptr);
}

void Panel_Test::TearDown()
{
    EXPECT_EQ(Worker_Wait(), 1);
    Panel_Destroy(panel);
    panel = nullptr;
    AzHost_Trace_Stop();
    AzWin_Fail_Create(nullptr);
    AzDb_Reset();
    for (AzStudy *s : studies)
        AzStudy_Free(s);
    studies.clear();
    AzWin_Pump();
}

AzStudy *Panel_Test::Load(const char *name, int width, int height, int slices, float sx, float sy, float sz)
{
    AzStudy *study = Study_Load(name, width, height, slices, sx, sy, sz);
    if (study)
        studies.push_back(study);
    return study;
}

void Panel_Test::Open_Shown()
{
    ASSERT_EQ(Ctrl_Open(0), 1);
    Ctrl_Show();
}

void Panel_Test::Over(const Tools &tool)
{
    Over_Point(tool.x + tool.width / 2, tool.y + tool.height / 2);
}

void Panel_Test::Over_Point(int x, int y)
{
    AzTools_Pointer_Set(panel, x, y, AZ_POINTER_NONE);
}
