#include "panel_fixture.h"

#include <stdlib.h>

void Panel_Reset()
{
    Ctrl_Active = 0;
    Ctrl_Shown = 0;
    Ctrl_Inside = 0;
    Ctrl_Mode = 0;
    Dir_Cur = 0;
    free(Instance_Pt);
    Instance_Pt = nullptr;
    Instance_Nb = 0;
    Instance_Cur = 0;
    Rot_X = Rot_Y = Rot_Z = 0.0f;
    Rot_Matrix.init();
    slider_frame.value = 0.0f;
    slider_frame.style = 0;
    for (int i = 0; i < 2; i++) {
        valuator_horiz[i].value = 0.0f;
        valuator_vert[i].value = 0.0f;
        button_dir[i].lamp = 0;
        button_dir[i].selected = 0;
    }
    button_on_off.lamp = 0;
    select_instance.Grow(0, 0);
    select_instance.current = -1;
}

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
    panel = CreateWindowExA(0, "PanelTestWindow", "panel", WS_VISIBLE, 0, 0, width, height, nullptr, nullptr,
                            nullptr, nullptr);
    ASSERT_NE(panel, nullptr);
    ASSERT_EQ(Ctrl_Create(panel, width, height), 1);
    ASSERT_EQ(Ctrl_Resize(panel, width, height), 1);
}

void Panel_Test::TearDown()
{
    EXPECT_EQ(Wait_Worker(), 1);
    Ctrl_Close();
    Panel_Reset();
    AzHost_Trace_Stop();
    AzTools_Pointer_Clear(panel);
    AzWin_Fail_Create(nullptr);
    if (image_window)
        DestroyWindow(image_window);
    image_window = nullptr;
    DestroyWindow(panel);
    panel = nullptr;
    AzDb_Reset();
    for (AzStudy *s : studies)
        AzStudy_Free(s);
    studies.clear();
    AzWin_Pump();
}

AzStudy *Panel_Test::Load(const char *name, int width, int height, int slices, float sx, float sy, float sz)
{
    AzStudy_Spec wanted;
    wanted.width = width;
    wanted.height = height;
    wanted.slices = slices;
    wanted.spacing[0] = sx;
    wanted.spacing[1] = sy;
    wanted.spacing[2] = sz;
    wanted.name = name;
    AzStudy *study = AzStudy_Build(wanted);
    EXPECT_NE(study, nullptr);
    if (!study)
        return nullptr;
    studies.push_back(study);
    EXPECT_EQ(AzStudy_Insert(study, AZ_ORDER_ASCENDING, 0), slices);
    AzHost_Pump();
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

std::vector<std::string> Panel_Test::Only(const std::vector<std::string> &lines, const std::string &prefix)
{
    std::vector<std::string> kept;
    for (const std::string &line : lines)
        if (line.compare(0, prefix.size(), prefix) == 0)
            kept.push_back(line);
    return kept;
}

int Panel_Test::Wait_Worker()
{
    // A long bound, so that a hung worker fails the test instead of the run.
    for (int i = 0; i < 3000 && AzTools_Wait_Cursor() > 0; i++) {
        AzWin_Pump();
        AzWin_Wait(10);
    }
    AzWin_Pump();
    AzHost_Pump();
    return AzTools_Wait_Cursor() == 0;
}
