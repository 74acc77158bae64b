/*
 * The panel's input: which widget takes a click, a drag, a wheel turn or
 * a help request, what it changes in the panel's state, and which steps of
 * Ctrl_Update it asks for.  No key is handled.
 */
#include "oblique_ctrl.h"

/* The list chose another study: unmark the old current class, follow the
 * list. */
static void Ctrl_Study_Change(Kelvra_Oblique *old)
{
    old->Flag_Set_Off(0x30, nullptr, CTRL_FLAG_MASK);
    select_instance.Adjust();
    Instance_Cur = 2 * select_instance.current;
    Ctrl_Update(CTRL_UPDATE_SELECT);
}

static void Ctrl_Slider_Take(void)
{
    slider_frame.value = slider_frame.Read();
    slider_frame.Adjust();
    Ctrl_Update(CTRL_UPDATE_SLICE);
}

/* Both valuators of a pair show the same angle. */
static void Ctrl_Angle_Take(Valuators *pair, Valuators &hit, float *angle)
{
    float v = hit.Read();
    *angle = v;
    pair[0].value = v;
    pair[1].value = v;
    pair[0].Adjust();
    pair[1].Adjust();
    Ctrl_Update(CTRL_UPDATE_ROTATE);
}

static void Ctrl_Update_DB(void)
{
    if (!Ctrl_Pair_Valid())
        return;
    Ctrl_Apply(button_dir[0].lamp, Instance_Pt[Instance_Cur], button_dir[1].lamp, Instance_Pt[Instance_Cur + 1]);
}

static void Ctrl_Dir_Choose(int b)
{
    Dir_Cur = b;
    button_dir[0].selected = 0;
    button_dir[1].selected = 0;
    button_dir[b].selected = 1;
    button_dir[0].Adjust();
    button_dir[1].Adjust();
    Ctrl_Draw();
}

/* The valuators under the pointer, in the order they are tested. */
static int Ctrl_Valuator_Event(int state)
{
    for (int i = 0; i < 2; i++) {
        if (valuator_vert[i].Select(state)) {
            Ctrl_Angle_Take(valuator_vert, valuator_vert[i], &Rot_X);
            return 1;
        }
    }
    for (int i = 0; i < 2; i++) {
        if (valuator_horiz[i].Select(state)) {
            Ctrl_Angle_Take(valuator_horiz, valuator_horiz[i], &Rot_Y);
            return 1;
        }
    }
    return 0;
}

/* The help keyword of the widget under the pointer, null over none. */
static const char *Ctrl_Help_Keyword(void)
{
    const int test = TOOLS_SELECT_TEST;
    if (select_instance.Select(test))
        return "instance";
    if (valuator_horiz[0].Select(test) || valuator_horiz[1].Select(test))
        return "rot_alpha";
    if (valuator_vert[0].Select(test) || valuator_vert[1].Select(test))
        return "rot_beta";
    if (button_update.Select(test))
        return "update";
    if (box_preview.Select(test) || slider_frame.Select(test))
        return "preview";
    if (button_on_off.Select(test))
        return "on_off";
    if (button_dir[0].Select(test))
        return "dir_original";
    if (button_dir[1].Select(test))
        return "dir_oblique";
    return nullptr;
}

extern "C" {

int Ctrl_Click(void *, int state)
{
    Error_Fct(hwnd, 15, "Class Kelvra_Oblique: Ctrl_Click()");
    if (state == 0)
        return 0;
    if (button_update.Select(state)) {
        Ctrl_Update_DB();
        return 1;
    }
    if (button_on_off.Select(state)) {
        Buttons &dir = button_dir[Dir_Cur];
        dir.lamp = dir.lamp == 0 ? 1 : 0;
        dir.Draw();
        return 1;
    }
    for (int b = 0; b < 2; b++) {
        if (button_dir[b].Select(state)) {
            Ctrl_Dir_Choose(b);
            return 1;
        }
    }
    if (select_instance.Select(state)) {
        Kelvra_Oblique *old = Ctrl_Current();
        if (select_instance.Read() >= 0 && old)
            Ctrl_Study_Change(old);
        return 1;
    }
    if (slider_frame.Select(state)) {
        Ctrl_Slider_Take();
        return 1;
    }
    return Ctrl_Valuator_Event(state);
}

int Ctrl_Motion(void *, int state, short x, short y)
{
    Error_Fct(hwnd, 15, "Class Kelvra_Oblique: Ctrl_Motion(up_down:%04X pos:%dx%d)", state, x, y);
    Ctrl_Inside = 1;
    // Hover and press feedback only.
    button_update.Select(state);
    button_dir[0].Select(state);
    button_dir[1].Select(state);
    button_on_off.Select(state);
    select_instance.Select(state);
    if (slider_frame.Select(state)) {
        if (state != 0)
            Ctrl_Slider_Take();
        return 1;
    }
    return Ctrl_Valuator_Event(state);
}

int Ctrl_Scroll(void *, int value)
{
    Error_Fct(hwnd, 15, "Class Kelvra_Oblique: Ctrl_Scroll(val=%d)", value);
    if (select_instance.Select(TOOLS_SELECT_TEST)) {
        Kelvra_Oblique *old = Ctrl_Current();
        if (select_instance.Scroll(-value) >= 0 && old)
            Ctrl_Study_Change(old);
        return 1;
    }
    if (box_preview.Select(TOOLS_SELECT_TEST) || slider_frame.Select(TOOLS_SELECT_TEST)) {
        slider_frame.Scroll(-value);
        Ctrl_Update(CTRL_UPDATE_ROTATE);
        return 1;
    }
    return 0;
}

int Ctrl_Key(void *, int key, short x, short y)
{
    Error_Fct(hwnd, 15, "Class Kelvra_Oblique: Ctrl_Key(key:%04X pos:%dx%d)", key, x, y);
    return 0;
}

int Ctrl_Help(void *, int key, short x, short y)
{
    Error_Fct(hwnd, 15, "Class Kelvra_Oblique: Ctrl_Help(key:%04X pos:%dx%d)", key, x, y);
    Fct_Help("class_oblique", Ctrl_Help_Keyword());
    return 1;
}

} // extern "C"
