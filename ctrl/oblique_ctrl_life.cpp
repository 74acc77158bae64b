/*
 * The panel's lifecycle entry points: opening it for a mode, showing,
 * hiding, drawing, leaving, querying and closing it.
 */
#include "oblique_ctrl.h"

extern "C" {

int Ctrl_Open(unsigned short mode)
{
    Error_Fct(hwnd, 15, "Class Kelvra_Oblique: Ctrl_Open(%08x)", Ctrl_Handle(box_main.window));
    Kelvra_Window *current = (Kelvra_Window *)Fct_Variable_Value("$WINDOW_CUR", nullptr, nullptr, nullptr);
    Ctrl_Active = current ? current->Module_Get() : 1;
    Ctrl_Mode = mode;
    Error_Fct(hwnd, 4, "\xF1 --- Entering Oblique Class Mode (#%d) ---", mode + 1);
    Ctrl_Update(CTRL_HOST_REFRESH);
    return 1;
}

void Ctrl_Show(void)
{
    Error_Fct(hwnd, 15, "Class Kelvra_Oblique: Ctrl_Show()");
    Ctrl_Shown = 1;
    EnableWindow(box_main.window, TRUE);
    ShowWindow(box_main.window, SW_SHOW);
    BringWindowToTop(box_main.window);
}

void Ctrl_Hide(void)
{
    Error_Fct(hwnd, 15, "Class Kelvra_Oblique: Ctrl_Hide()");
    Ctrl_Shown = 0;
    // Disabled, not hidden: the host's tool area keeps the panel in view.
    EnableWindow(box_main.window, FALSE);
}

int Ctrl_Draw(void)
{
    Error_Fct(hwnd, 15, "Class Kelvra_Oblique: Ctrl_Draw()");
    if (!Ctrl_Active || !Ctrl_Shown)
        return 1;
    box_main.Draw();
    button_update.Draw();
    button_dir[0].Draw();
    button_dir[1].Draw();
    button_on_off.Draw();
    slider_frame.Draw();
    select_instance.Draw();
    box_preview.Draw();
    Ctrl_Update(CTRL_UPDATE_DRAW);
    valuator_horiz[0].Draw();
    valuator_horiz[1].Draw();
    valuator_vert[0].Draw();
    valuator_vert[1].Draw();
    return 1;
}

int Ctrl_Leave(void)
{
    if (!Ctrl_Active || !Ctrl_Shown || !Ctrl_Inside)
        return 1;
    Ctrl_Inside = 0;
    Error_Fct(hwnd, 15, "Class Kelvra_Oblique: Ctrl_Leave()");
    button_update.Deselect();
    button_dir[0].Deselect();
    button_dir[1].Deselect();
    button_on_off.Deselect();
    slider_frame.Deselect();
    select_instance.Deselect();
    valuator_horiz[0].Deselect();
    valuator_horiz[1].Deselect();
    valuator_vert[0].Deselect();
    valuator_vert[1].Deselect();
    return 1;
}

unsigned int Ctrl_Query(void)
{
    Error_Fct(hwnd, 15, "Class Kelvra_Oblique: Ctrl_Query()");
    return Ctrl_Active;
}

int Ctrl_Close(void)
{
    Error_Fct(hwnd, 15, "Class Kelvra_Oblique: Ctrl_Close()");
    Ctrl_Active = 0;
    Kelvra_Class *root = (Kelvra_Class *)Fct_Variable_Value("$DB_ROOT_PT", nullptr, nullptr, nullptr);
    if (root)
        root->Flag_Set_Off(0x30, nullptr, CTRL_FLAG_MASK);
    Fct_Redraw(CTRL_REDRAW, nullptr, nullptr, nullptr);
    Oblique_Buffers_Release();
    return 1;
}

} // extern "C"
