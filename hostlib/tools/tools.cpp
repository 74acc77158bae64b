/*
 * The toolkit's shared state: the widget base, the per-window pointer
 * records and widget lists, fonts, the wait cursor, the "TOOL" window class
 * and status texts.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "../win32/az_win.h"
#include "az_tools_paint.h"

extern "C" {
CRITICAL_SECTION Critical;
unsigned char Critical_Flag;
HWND Y_Window;
HDC Y_DC;
}

const Colors TOOLS_FACE = {212, 208, 200, 0};
const Colors TOOLS_TRACK = {160, 160, 160, 0};
static const Colors TOOLS_PANEL = {192, 192, 192, 0};

namespace {

struct Pointer_Record {
    HWND window;
    int x, y, state;
    long presses;   /* times the recorded state went from released to pressed */
};

struct Widget_Record {
    HWND window;
    Tools *tool;
    long press_seen;   /* the press of its window it last acted on */
};

/* Shared between the interface thread and whoever records the pointer.
 * Never destroyed: widgets of a module may outlive the toolkit's own
 * static objects at process exit. */
struct Tools_Registry {
    std::mutex lock;
    std::vector<Pointer_Record> pointers;
    std::vector<Widget_Record> widgets;
};

Tools_Registry &Registry()
{
    static Tools_Registry *registry = new Tools_Registry;
    return *registry;
}

std::atomic<int> wait_depth(0);

} // namespace

/* ------------------------------------------------------------------------
 * Tools
 * --------------------------------------------------------------------- */

Tools::Tools()
    : style(0), label(nullptr), x(0), y(0), width(0), height(0), font_name(0), font_weight(0), font_scale(0),
      color(TOOLS_FACE), border(1), window(nullptr), own_label(nullptr)
{
}

Tools::~Tools()
{
    Tools_Registry &reg = Registry();
    {
        std::lock_guard<std::mutex> hold(reg.lock);
        for (size_t i = 0; i < reg.widgets.size(); i++) {
            if (reg.widgets[i].tool == this) {
                reg.widgets.erase(reg.widgets.begin() + i);
                break;
            }
        }
    }
    free(own_label);
}

void Tools::Set_Name(const char *name)
{
    char *copy = name ? strdup(name) : nullptr;
    if (name && !copy)
        return;   // keep the old label rather than lose it
    free(own_label);
    own_label = copy;
    label = own_label;
}

int Tools::Inside(int px, int py) const
{
    return px >= x && px < x + width && py >= y && py < y + height;
}

/* The colour of the innermost other box of the window that holds the
 * widget: what the panel looks like behind it. */
static Colors Tools_Background(const Tools *tool)
{
    Colors found = TOOLS_PANEL;
    long best = -1;
    Tools_Registry &reg = Registry();
    std::lock_guard<std::mutex> hold(reg.lock);
    for (const Widget_Record &rec : reg.widgets) {
        const Boxs *box = dynamic_cast<const Boxs *>(rec.tool);
        if (!box || rec.tool == tool || rec.window != tool->window)
            continue;
        int inside = box->x <= tool->x && box->y <= tool->y && box->x + box->width >= tool->x + tool->width &&
                     box->y + box->height >= tool->y + tool->height;
        long area = (long)box->width * box->height;
        if (inside && (best < 0 || area < best)) {
            best = area;
            found = box->color;
        }
    }
    return found;
}

int Tools_Top_Inside(const Tools *box)
{
    int top = -1;
    Tools_Registry &reg = Registry();
    std::lock_guard<std::mutex> hold(reg.lock);
    for (const Widget_Record &rec : reg.widgets) {
        const Tools *t = rec.tool;
        if (t == box || rec.window != box->window || dynamic_cast<const Boxs *>(t))
            continue;
        int inside = box->x <= t->x && box->y <= t->y && box->x + box->width >= t->x + t->width &&
                     box->y + box->height >= t->y + t->height;
        if (inside && t->y + t->height > top)
            top = t->y + t->height;
    }
    return top;
}

void Tools::Clear()
{
    Clear(Tools_Background(this));
}

void Tools::Clear(Colors colour)
{
    Tools_Canvas canvas;
    if (canvas.Open(window))
        canvas.Fill(x, y, width, height, AzTools_Pixel(colour));
}

/* ------------------------------------------------------------------------
 * Helpers shared by the widget classes
 * --------------------------------------------------------------------- */

HFONT Tools_Font(const Tools *tool)
{
    const char *face = tool->font_name ? (const char *)tool->font_name : "arial";
    int points = tool->font_scale > 0 ? tool->font_scale : 9;
    return AzFont_Get(face, points);
}

int Tools_Pointer(const Tools *tool, int *px, int *py)
{
    int state;
    return tool->window && AzTools_Pointer_Get(tool->window, px, py, &state);
}

int Tools_Hit(const Tools *tool, int state, int *px, int *py)
{
    if (tool->Disabled() && state != TOOLS_SELECT_TEST)
        return 0;
    return Tools_Pointer(tool, px, py) && tool->Inside(*px, *py);
}

int Tools_Press_New(Tools *tool, int state)
{
    if (!Tools_State_Pressed(state) || !tool->window)
        return 0;
    Tools_Registry &reg = Registry();
    std::lock_guard<std::mutex> hold(reg.lock);
    const Pointer_Record *pointer = nullptr;
    for (const Pointer_Record &rec : reg.pointers)
        if (rec.window == tool->window)
            pointer = &rec;
    // Without a pressed record the host reports single clicks only: each one is new.
    if (!pointer || !Tools_State_Pressed(pointer->state))
        return 1;
    for (Widget_Record &rec : reg.widgets) {
        if (rec.tool == tool) {
            if (rec.press_seen == pointer->presses)
                return 0;
            rec.press_seen = pointer->presses;
            return 1;
        }
    }
    return 1;
}

void Tools_List_Add(Tools *tool)
{
    Tools_Registry &reg = Registry();
    std::lock_guard<std::mutex> hold(reg.lock);
    for (Widget_Record &rec : reg.widgets) {
        if (rec.tool == tool) {
            rec.window = tool->window;   // a widget moved to another window follows it
            return;
        }
    }
    reg.widgets.push_back(Widget_Record{tool->window, tool, -1});
}

static int Shade_Part(short part, int percent)
{
    int v = (part & 0xFF) * percent / 100;
    return v > 255 ? 255 : v;
}

uint32_t Tools_Shade(Colors c, int percent)
{
    Colors s = {(short)Shade_Part(c.red, percent), (short)Shade_Part(c.green, percent),
                (short)Shade_Part(c.blue, percent), c.alpha};
    return AzTools_Pixel(s);
}

uint32_t Tools_Text_Colour(const Tools *tool)
{
    return tool->Disabled() ? 0xFF808080u : 0xFF000000u;
}

/* ------------------------------------------------------------------------
 * Host-internal entry points
 * --------------------------------------------------------------------- */

extern "C" {

static LRESULT Tools_Window_Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    return DefWindowProcA(window, message, wparam, lparam);
}

int AzTools_Register(void)
{
    static int registered = 0;
    if (registered)
        return 1;
    WNDCLASSA wc;
    memset(&wc, 0, sizeof(wc));
    wc.lpfnWndProc = Tools_Window_Proc;
    wc.lpszClassName = AZ_TOOLS_CLASS;
    registered = RegisterClassA(&wc) ? 1 : 0;
    return registered;
}

void AzTools_Pointer_Set(HWND window, int px, int py, int state)
{
    Tools_Registry &reg = Registry();
    std::lock_guard<std::mutex> hold(reg.lock);
    for (Pointer_Record &rec : reg.pointers) {
        if (rec.window == window) {
            if (Tools_State_Pressed(state) && !Tools_State_Pressed(rec.state))
                rec.presses++;
            rec.x = px;
            rec.y = py;
            rec.state = state;
            return;
        }
    }
    reg.pointers.push_back(Pointer_Record{window, px, py, state, Tools_State_Pressed(state) ? 1L : 0L});
}

int AzTools_Pointer_Get(HWND window, int *px, int *py, int *state)
{
    Tools_Registry &reg = Registry();
    std::lock_guard<std::mutex> hold(reg.lock);
    for (const Pointer_Record &rec : reg.pointers) {
        if (rec.window == window) {
            if (px)
                *px = rec.x;
            if (py)
                *py = rec.y;
            if (state)
                *state = rec.state;
            return 1;
        }
    }
    return 0;
}

void AzTools_Pointer_Clear(HWND window)
{
    Tools_Registry &reg = Registry();
    std::lock_guard<std::mutex> hold(reg.lock);
    for (size_t i = 0; i < reg.pointers.size(); i++) {
        if (reg.pointers[i].window == window) {
            reg.pointers.erase(reg.pointers.begin() + i);
            return;
        }
    }
}

int AzTools_Wait_Cursor(void)
{
    return wait_depth.load();
}

Tools *AzTools_Widget(HWND window, int i)
{
    Tools_Registry &reg = Registry();
    std::lock_guard<std::mutex> hold(reg.lock);
    for (const Widget_Record &rec : reg.widgets) {
        if (rec.window == window && i-- == 0)
            return rec.tool;
    }
    return nullptr;
}

Tools *AzTools_Find(HWND window, const char *text)
{
    Tools_Registry &reg = Registry();
    std::lock_guard<std::mutex> hold(reg.lock);
    for (const Widget_Record &rec : reg.widgets) {
        if (rec.window == window && rec.tool->label && text && strcmp(rec.tool->label, text) == 0)
            return rec.tool;
    }
    return nullptr;
}

Colors AzTools_Panel_Colour(void)
{
    return TOOLS_PANEL;
}

} // extern "C"

/* ------------------------------------------------------------------------
 * Fonts and the wait cursor
 * --------------------------------------------------------------------- */

HFONT Y_Create_Font(HWND, const char *face, const char *, const char *, int size)
{
    return AzFont_Get(face ? face : "arial", size > 0 ? size : 9);
}

void Set_Curs_Wait(HWND)
{
    wait_depth.fetch_add(1);
}

void Reset_Curs_Wait(HWND)
{
    int depth = wait_depth.load();
    // Never below zero: an unmatched reset must not hide a later Set.
    while (depth > 0 && !wait_depth.compare_exchange_weak(depth, depth - 1)) {
    }
}

/* ------------------------------------------------------------------------
 * Texts
 * --------------------------------------------------------------------- */

Texts::Texts()
{
    text[0] = 0;
}

int Texts::Write(const char *value)
{
    snprintf(text, sizeof(text), "%s", value ? value : "");
    Tools_Canvas canvas;
    if (!canvas.Open(window))
        return 1;
    canvas.Fill(x, y, width, height, AzTools_Pixel(color));
    canvas.Text(Tools_Font(this), text, x, y, width, height, TOOLS_ALIGN_LEFT, Tools_Text_Colour(this));
    return 1;
}

const char *Texts::Read() const
{
    return text;
}
