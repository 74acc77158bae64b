#include "panel_state.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "hostlib/tools/az_tools.h"
#include "hostlib/win32/az_win.h"
#include "module/entry.h"

void Panel_Reset()
{
    Ctrl_Active = Ctrl_Shown = Ctrl_Inside = Ctrl_Mode = 0;
    free(Instance_Pt);
    Instance_Pt = nullptr;
    Dir_Cur = Instance_Nb = Instance_Cur = 0;
    Rot_X = Rot_Y = Rot_Z = 0.0f;
    Rot_Matrix.init();
    slider_frame.value = 0.0f;
    slider_frame.style = 0;
    for (int i = 0; i < 2; i++) {
        valuator_horiz[i].value = valuator_vert[i].value = 0.0f;
        button_dir[i].lamp = button_dir[i].selected = 0;
    }
    button_on_off.lamp = 0;
    select_instance.Grow(0, 0);
    select_instance.current = -1;
}

HWND Panel_Make(const char *window_class, int width, int height)
{
    HWND panel = CreateWindowExA(0, window_class, "panel", WS_VISIBLE, 0, 0, width, height, nullptr, nullptr,
                                 nullptr, nullptr);
    EXPECT_NE(panel, nullptr);
    if (!panel)
        return nullptr;
    EXPECT_EQ(Ctrl_Create(panel, width, height), 1);
    EXPECT_EQ(Ctrl_Resize(panel, width, height), 1);
    return panel;
}

void Panel_Destroy(HWND panel)
{
    Ctrl_Close();
    Panel_Reset();
    AzTools_Pointer_Clear(panel);
    if (image_window)
        DestroyWindow(image_window);
    image_window = nullptr;
    if (panel)
        DestroyWindow(panel);
}

int Window_Fill(HWND window, uint32_t colour)
{
    int w = 0, h = 0;
    uint32_t *p = AzWin_Pixels(window, &w, &h);
    for (int i = 0; p && i < w * h; i++)
        p[i] = colour;
    return p ? w * h : 0;
}

int Window_Other(HWND window, uint32_t colour)
{
    int w = 0, h = 0, other = 0;
    uint32_t *p = AzWin_Pixels(window, &w, &h);
    for (int i = 0; p && i < w * h; i++)
        other += p[i] != colour;
    return other;
}
