/*
 * Input: what the pointer, the wheel and the keys do.  Over the panel they
 * go to the module (pointer position recorded for its widgets first);
 * over a frame view they scroll, zoom, set the grey window and paint.
 * While the worker creates frames only the progress window's Cancel and
 * the viewer's own display keys are taken.
 */
#include <math.h>

#include <GLFW/glfw3.h>

#include "../../hostlib/structures/az_progress.h"
#include "../../hostlib/tools/az_tools.h"
#include "az_viewer.h"

const char *const AzViewer_Shortcuts[] = {
    "h, F1 (off the panel)\tthis list",
    "F1 or ? over the panel\thelp on the control under the pointer",
    "wheel\tprevious / next frame of the view under the pointer",
    "arrows\tprevious / next frame of the view with the white title",
    "PageUp, PageDown\t10 frames back / on",
    "Home, End\tfirst / last frame",
    "Ctrl+wheel, + and -\tzoom in / out",
    "middle drag\tmove the frame in its view",
    "r\tback to the header's grey window, fit zoom, centred",
    "right drag\tgrey window: sideways its width, up and down its level",
    "left drag\tpaint the current tag",
    "0 ... 9\ttag to paint (0 erases)",
    "t\tpick any tag by number or region name",
    "Ctrl+S\tsave the study's tags (with Shift also the Oblique direction's)",
    "[ and ]\tsmaller / bigger brush",
    "Ctrl+Z\tundo the last stroke",
    "Ctrl+D\twrite the study as DICOM (oblique series, tags) under azozude-out/dicom",
    "< and >\tfewer / more console messages",
    "Tab\tkeys act on the other view, until the pointer enters a view",
    "Esc\tclose help or this list",
    "q, Ctrl+Q\tquit",
    nullptr,
};

namespace {

/* Windows key codes of the keys the panel may be given. */
int Key_Code(int key)
{
    if ((key >= GLFW_KEY_A && key <= GLFW_KEY_Z) || (key >= GLFW_KEY_0 && key <= GLFW_KEY_9) ||
        key == GLFW_KEY_SPACE)
        return key;
    if (key >= GLFW_KEY_F1 && key <= GLFW_KEY_F12)
        return 0x70 + (key - GLFW_KEY_F1);
    switch (key) {
    case GLFW_KEY_LEFT: return 0x25;
    case GLFW_KEY_UP: return 0x26;
    case GLFW_KEY_RIGHT: return 0x27;
    case GLFW_KEY_DOWN: return 0x28;
    case GLFW_KEY_PAGE_UP: return 0x21;
    case GLFW_KEY_PAGE_DOWN: return 0x22;
    case GLFW_KEY_END: return 0x23;
    case GLFW_KEY_HOME: return 0x24;
    case GLFW_KEY_INSERT: return 0x2d;
    case GLFW_KEY_DELETE: return 0x2e;
    case GLFW_KEY_ESCAPE: return 0x1b;
    case GLFW_KEY_ENTER: return 0x0d;
    case GLFW_KEY_TAB: return 0x09;
    case GLFW_KEY_BACKSPACE: return 0x08;
    case GLFW_KEY_SLASH: return 0xbf;
    default: return 0;
    }
}

const int help_key_f1 = 0x70;
const int help_key_question = 0xbf;

int Panel_X(const AzViewer *viewer) { return viewer->pointer_x - viewer->panel_rect.x; }
/* The toolkit counts rows upward from the panel's bottom edge. */
int Panel_Y(const AzViewer *viewer) { return viewer->panel_rect.h - 1 - (viewer->pointer_y - viewer->panel_rect.y); }

int Panel_State(const AzViewer *viewer)
{
    if (viewer->buttons & 1)
        return AZ_POINTER_LEFT;
    if (viewer->buttons & 2)
        return AZ_POINTER_RIGHT;
    return AZ_POINTER_NONE;
}

int Over_Panel(const AzViewer *viewer)
{
    return viewer->pointer_known && viewer->panel_rect.Inside(viewer->pointer_x, viewer->pointer_y);
}

void Panel_Pointer(AzViewer *viewer, int state)
{
    viewer->in_panel = 1;
    AzTools_Pointer_Set(viewer->app->panel_window, Panel_X(viewer), Panel_Y(viewer), state);
}

void Panel_Leave(AzViewer *viewer)
{
    if (!viewer->in_panel)
        return;
    viewer->in_panel = 0;
    viewer->app->module.Ctrl_Leave();
    AzTools_Pointer_Clear(viewer->app->panel_window);
    viewer->dirty = 1;
}

int View_At(const AzViewer *viewer, int x, int y)
{
    for (int i = 0; i < 2; i++)
        if (viewer->views[i].rect.Inside(x, y))
            return i;
    return -1;
}

/* The view keys act on: the one Tab chose or the pointer last entered,
 * which the title bar shows. */
AzFrame_View *Key_View(AzViewer *viewer)
{
    return &viewer->views[viewer->active_view];
}

int Blocked(const AzViewer *viewer) { return viewer->busy || AzViewer_Busy(); }

void Cancel_Click(AzViewer *viewer)
{
    AzProgress_View progress;
    if (AzProgress_Last(&progress) && !progress.closed && progress.record) {
        AzProgress_Cancel(progress.record);
        Error_Fct(hwnd, 4, "cancel asked: frame creation stops after the current frame");
    }
    viewer->dirty = 1;
}

void View_Reset(AzViewer *viewer, AzFrame_View *view)
{
    view->window_custom = 0;
    view->zoom = 1.0f;
    view->pan_x = view->pan_y = 0;
    view->image_valid = 0;
    viewer->dirty = 1;
}

void Button_Release(AzViewer *viewer, int button)
{
    if (button == GLFW_MOUSE_BUTTON_LEFT)
        AzViewer_Paint_End(viewer);
    if (button == GLFW_MOUSE_BUTTON_RIGHT)
        viewer->level_view = -1;
    if (button == GLFW_MOUSE_BUTTON_MIDDLE)
        viewer->pan_view = -1;
    if (viewer->in_panel && Over_Panel(viewer))
        Panel_Pointer(viewer, Panel_State(viewer));
    viewer->dirty = 1;
}

int Frames_Key(AzViewer *viewer, int key)
{
    AzFrame_View *view = Key_View(viewer);
    switch (key) {
    case GLFW_KEY_UP:
    case GLFW_KEY_LEFT: AzViewer_View_Step(viewer, view, -1); return 1;
    case GLFW_KEY_DOWN:
    case GLFW_KEY_RIGHT: AzViewer_View_Step(viewer, view, 1); return 1;
    case GLFW_KEY_PAGE_UP: AzViewer_View_Step(viewer, view, -10); return 1;
    case GLFW_KEY_PAGE_DOWN: AzViewer_View_Step(viewer, view, 10); return 1;
    case GLFW_KEY_HOME: AzViewer_View_Step(viewer, view, -view->frame); return 1;
    case GLFW_KEY_END: AzViewer_View_Step(viewer, view, 1 << 20); return 1;
    case GLFW_KEY_KP_ADD: AzViewer_View_Zoom(viewer, view, 1.25f); return 1;
    case GLFW_KEY_KP_SUBTRACT: AzViewer_View_Zoom(viewer, view, 0.8f); return 1;
    default: return 0;
    }
}

} // namespace

void AzViewer_Pointer_Move(AzViewer *viewer, int x, int y)
{
    viewer->pointer_x = x;
    viewer->pointer_y = y;
    viewer->pointer_known = 1;
    viewer->dirty = 1;
    // Entering a view makes it the one keys act on; moving within it keeps a choice made with Tab.
    int under = View_At(viewer, x, y);
    if (under >= 0 && under != viewer->pointer_view)
        viewer->active_view = under;
    viewer->pointer_view = under;
    if (viewer->level_view >= 0) {
        AzViewer_Level_Move(viewer, x, y);
        return;
    }
    if (viewer->pan_view >= 0) {
        AzFrame_View &view = viewer->views[viewer->pan_view];
        view.pan_x += x - viewer->pan_from_x;
        view.pan_y += y - viewer->pan_from_y;
        viewer->pan_from_x = x;
        viewer->pan_from_y = y;
        return;
    }
    if (viewer->painting >= 0) {
        if (!Blocked(viewer))
            AzViewer_Paint_Move(viewer, x, y);
        return;
    }
    if (Over_Panel(viewer) && !Blocked(viewer)) {
        int state = Panel_State(viewer);
        Panel_Pointer(viewer, state);
        viewer->app->module.Ctrl_Motion(nullptr, state, static_cast<short>(Panel_X(viewer)),
                                        static_cast<short>(Panel_Y(viewer)));
        return;
    }
    if (!Over_Panel(viewer))
        Panel_Leave(viewer);
}

void AzViewer_Button(AzViewer *viewer, int button, int press, int mods)
{
    int bit = button == GLFW_MOUSE_BUTTON_LEFT     ? 1
              : button == GLFW_MOUSE_BUTTON_RIGHT  ? 2
              : button == GLFW_MOUSE_BUTTON_MIDDLE ? 4
                                                   : 0;
    if (!bit)
        return;
    viewer->buttons = press ? viewer->buttons | bit : viewer->buttons & ~bit;
    viewer->mods = mods;
    if (!press) {
        Button_Release(viewer, button);
        return;
    }
    viewer->dirty = 1;
    if (viewer->progress_shown && viewer->progress_rect.Inside(viewer->pointer_x, viewer->pointer_y)) {
        if (button == GLFW_MOUSE_BUTTON_LEFT && viewer->cancel_rect.Inside(viewer->pointer_x, viewer->pointer_y))
            Cancel_Click(viewer);
        return;
    }
    if (viewer->shortcuts_shown) {
        viewer->shortcuts_shown = 0;
        return;
    }
    if (Blocked(viewer))
        return;
    if (Over_Panel(viewer)) {
        if (button == GLFW_MOUSE_BUTTON_MIDDLE)
            return;
        int state = button == GLFW_MOUSE_BUTTON_LEFT ? AZ_POINTER_LEFT : AZ_POINTER_RIGHT;
        Panel_Pointer(viewer, state);
        viewer->app->module.Ctrl_Click(nullptr, state);
        return;
    }
    int view = View_At(viewer, viewer->pointer_x, viewer->pointer_y);
    if (view < 0)
        return;
    viewer->active_view = view;
    if (button == GLFW_MOUSE_BUTTON_LEFT) {
        AzViewer_Paint_Begin(viewer, view, viewer->pointer_x, viewer->pointer_y);
    } else if (button == GLFW_MOUSE_BUTTON_RIGHT) {
        AzViewer_Level_Begin(viewer, view, viewer->pointer_x, viewer->pointer_y);
    } else {
        viewer->pan_view = view;
        viewer->pan_from_x = viewer->pointer_x;
        viewer->pan_from_y = viewer->pointer_y;
    }
}

void AzViewer_Wheel(AzViewer *viewer, double turn, int mods)
{
    int steps = static_cast<int>(lround(turn));
    if (steps == 0 && turn != 0.0)
        steps = turn > 0.0 ? 1 : -1;
    if (steps == 0)
        return;
    viewer->dirty = 1;
    if (Over_Panel(viewer)) {
        if (Blocked(viewer))
            return;
        Panel_Pointer(viewer, Panel_State(viewer));
        viewer->app->module.Ctrl_Scroll(nullptr, steps);
        return;
    }
    int view = viewer->pointer_known ? View_At(viewer, viewer->pointer_x, viewer->pointer_y) : -1;
    if (view < 0)
        return;
    if (mods & GLFW_MOD_CONTROL)
        AzViewer_View_Zoom(viewer, &viewer->views[view], powf(1.25f, static_cast<float>(steps)));
    else
        // Turning the wheel away from oneself goes back, as the panel's slider does.
        AzViewer_View_Step(viewer, &viewer->views[view], -steps);
}

void AzViewer_Key(AzViewer *viewer, int key, int mods)
{
    viewer->char_taken = 0;
    viewer->mods = mods;
    viewer->dirty = 1;
    if (AzViewer_Prompt_Key(viewer, key, mods)) {
        viewer->char_taken = 1;
        return;
    }
    if (AzViewer_Picker_Key(viewer, key))
        return; // its characters come as characters
    if ((mods & GLFW_MOD_CONTROL) && key == GLFW_KEY_S) {
        if (!Blocked(viewer) && viewer->painting < 0)
            AzViewer_Save(viewer, (mods & GLFW_MOD_SHIFT) != 0);
        return;
    }
    if (Over_Panel(viewer) && key == GLFW_KEY_F1) {
        if (!Blocked(viewer))
            AzViewer_Panel_Help(viewer, help_key_f1);
        viewer->char_taken = 1;
        return;
    }
    int code = Key_Code(key);
    if (Over_Panel(viewer) && code && !Blocked(viewer)) {
        Panel_Pointer(viewer, Panel_State(viewer));
        if (viewer->app->module.Ctrl_Key(nullptr, code, static_cast<short>(Panel_X(viewer)),
                                         static_cast<short>(Panel_Y(viewer)))) {
            viewer->char_taken = 1;
            return;
        }
    }
    if ((mods & GLFW_MOD_CONTROL) && key == GLFW_KEY_Z) {
        if (!Blocked(viewer) && viewer->painting < 0)
            AzViewer_Undo(viewer);
        return;
    }
    if ((mods & GLFW_MOD_CONTROL) && key == GLFW_KEY_D) {
        if (!Blocked(viewer))
            AzViewer_Save_Dicom(viewer);
        return;
    }
    if ((mods & GLFW_MOD_CONTROL) && key == GLFW_KEY_Q) {
        AzViewer_Quit_Ask(viewer);
        return;
    }
    if (key == GLFW_KEY_F1) {
        viewer->shortcuts_shown = !viewer->shortcuts_shown;
        return;
    }
    if (key == GLFW_KEY_ESCAPE) {
        if (viewer->shortcuts_shown)
            viewer->shortcuts_shown = 0;
        else
            viewer->help_shown = 0;
        return;
    }
    if (key == GLFW_KEY_TAB) {
        viewer->active_view ^= 1;
        return;
    }
    Frames_Key(viewer, key);
}

void AzViewer_Char(AzViewer *viewer, unsigned int codepoint)
{
    if (viewer->char_taken) {
        viewer->char_taken = 0;
        return;
    }
    viewer->dirty = 1;
    if (AzViewer_Picker_Char(viewer, codepoint))
        return;
    AzFrame_View *view = Key_View(viewer);
    if (codepoint >= '0' && codepoint <= '9') {
        viewer->tag_cur = static_cast<int>(codepoint - '0');
        return;
    }
    switch (codepoint) {
    case '?':
        if (Over_Panel(viewer) && !Blocked(viewer))
            AzViewer_Panel_Help(viewer, help_key_question);
        else
            viewer->shortcuts_shown = !viewer->shortcuts_shown;
        break;
    case 'h': viewer->shortcuts_shown = !viewer->shortcuts_shown; break;
    case '+':
    case '=': AzViewer_View_Zoom(viewer, view, 1.25f); break;
    case '-': AzViewer_View_Zoom(viewer, view, 0.8f); break;
    case '[': viewer->brush = viewer->brush - 2 < AZ_VIEWER_BRUSH_MIN ? AZ_VIEWER_BRUSH_MIN : viewer->brush - 2; break;
    case ']': viewer->brush = viewer->brush + 2 > AZ_VIEWER_BRUSH_MAX ? AZ_VIEWER_BRUSH_MAX : viewer->brush + 2; break;
    case 'r': View_Reset(viewer, view); break;
    case '<': AzViewer_Console_Step(viewer, -1); break;
    case '>': AzViewer_Console_Step(viewer, 1); break;
    case 'q': AzViewer_Quit_Ask(viewer); break;
    case 't': AzViewer_Picker_Open(viewer); break;
    default: break;
    }
}

void AzViewer_Leave(AzViewer *viewer)
{
    Panel_Leave(viewer);
    viewer->pointer_known = 0;
    viewer->pointer_view = -1;
    viewer->dirty = 1;
}
