/*
 * Selection lists.
 *
 * A list one text row high shows "label: entry" between two arrows (left:
 * previous entry, right: next).  A taller list shows its label as a caption
 * row and its entries as rows below it, with the arrows (up: previous,
 * down: next) in a column at the right; the rows scroll so that the
 * current entry stays in view.
 */
#include <stdio.h>

#include <new>

#include "../win32/az_win.h"
#include "az_tools_paint.h"

static int grow_fail_countdown = 0;

extern "C" void AzTools_Fail_Grow(int nth)
{
    grow_fail_countdown = nth;
}

static int Grow_Fails()
{
    return grow_fail_countdown > 0 && --grow_fail_countdown == 0;
}

/* Geometry of a list as drawn and hit-tested. */
struct Select_Layout {
    int row;        /* text row height */
    int rows;       /* entry rows in view (1 for a one-row list) */
    int single;     /* one-row list */
    int first;      /* entry shown in the top row */
    int inner_x, inner_y, inner_w, inner_h;   /* inside the border */
    int arrow;      /* arrow size */
};

static Select_Layout Select_Measure(const Selects *list)
{
    Select_Layout L;
    int ascent = 0, descent = 0;
    AzFont_Measure(Tools_Font(list), "Ag", 2, &ascent, &descent);
    int b = list->border > 0 ? list->border : 0;
    L.inner_x = list->x + b;
    L.inner_y = list->y + b;
    L.inner_w = list->width - 2 * b;
    L.inner_h = list->height - 2 * b;
    L.row = ascent + descent + 4;
    if (L.row < 1)
        L.row = 1;
    int total = L.inner_h / L.row;
    L.single = total < 2;
    L.rows = L.single ? 1 : total - 1;
    L.arrow = list->arrow > 0 ? list->arrow : L.row;
    if (L.arrow * 2 > L.inner_w)
        L.arrow = L.inner_w / 2;
    L.first = 0;
    if (!L.single && list->current >= L.rows)
        L.first = list->current - L.rows + 1;
    return L;
}

/* What a point of the list is: -2 previous arrow, -3 next arrow, -1 no
 * entry (caption or empty row), else the entry index. */
static const int SELECT_NONE = -1, SELECT_PREVIOUS = -2, SELECT_NEXT = -3;

static int Select_Part(const Selects *list, const Select_Layout &L, int px, int py)
{
    if (L.single) {
        if (px < L.inner_x + L.arrow)
            return SELECT_PREVIOUS;
        if (px >= L.inner_x + L.inner_w - L.arrow)
            return SELECT_NEXT;
        return list->current >= 0 && list->current < list->entries_nb ? list->current : SELECT_NONE;
    }
    int list_top = L.inner_y + L.inner_h - L.row;   // bottom of the caption row
    if (py >= list_top)
        return SELECT_NONE;
    int from_top = (list_top - 1 - py) / L.row;
    if (from_top >= L.rows)
        return SELECT_NONE;
    if (px >= L.inner_x + L.inner_w - L.arrow) {
        int half = list_top - (L.rows * L.row) / 2;
        return py >= half ? SELECT_PREVIOUS : SELECT_NEXT;
    }
    int index = L.first + from_top;
    return index < list->entries_nb ? index : SELECT_NONE;
}

/* Keeps the current entry on an entry: the first one when there are
 * entries and none is chosen, none when the list is empty. */
static void Select_Clamp(Selects *list)
{
    if (list->entries_nb <= 0)
        list->current = -1;
    else if (list->current < 0)
        list->current = 0;
    else if (list->current >= list->entries_nb)
        list->current = (short)(list->entries_nb - 1);
}

Selects::Selects() : current(-1), arrow(0), entries(nullptr), entries_nb(0), chosen(-1) {}

Selects::~Selects()
{
    delete[] entries;
}

int Selects::Init(HWND win)
{
    if (win)
        window = win;
    if (window)
        Tools_List_Add(this);
    Select_Clamp(this);
    return 1;
}

/* An arrow as a small triangle pointing left (dx < 0), right (dx > 0), up
 * (dy > 0, the toolkit's y grows upward) or down: one pixel wide at its
 * tip, widening toward its base. */
static void Draw_Arrow(Tools_Canvas &canvas, int x, int y, int w, int h, int dx, int dy, uint32_t colour)
{
    int side = (w < h ? w : h) / 2;
    int cx = x + w / 2, cy = y + h / 2;
    for (int i = 0; i < side; i++) {
        int reach = i / 2 + 1;   // half the width of the i-th line from the tip
        if (dx < 0)
            canvas.Fill(cx - side / 2 + i, cy - reach + 1, 1, reach * 2 - 1, colour);
        else if (dx > 0)
            canvas.Fill(cx + side / 2 - i, cy - reach + 1, 1, reach * 2 - 1, colour);
        else if (dy > 0)
            canvas.Fill(cx - reach + 1, cy + side / 2 - i, reach * 2 - 1, 1, colour);
        else
            canvas.Fill(cx - reach + 1, cy - side / 2 + i, reach * 2 - 1, 1, colour);
    }
}

int Selects::Draw()
{
    Tools_Canvas canvas;
    if (!canvas.Open(window))
        return 0;
    Select_Layout L = Select_Measure(this);
    HFONT font = Tools_Font(this);
    uint32_t ink = Tools_Text_Colour(this);
    uint32_t light = Tools_Shade(color, 140), dark = Tools_Shade(color, 50);
    canvas.Fill(x, y, width, height, 0xFFFFFFFFu);
    canvas.Frame(x, y, width, height, border, dark, light);
    int have = current >= 0 && current < entries_nb;
    if (L.single) {
        char text[600];
        const char *entry = have && entries[current].label ? entries[current].label : "";
        snprintf(text, sizeof(text), "%s", entry);
        // The label goes in front of the entry when both fit.
        if (label && *label) {
            char both[600];
            snprintf(both, sizeof(both), "%s: %s", label, entry);
            if (AzFont_Measure(font, both, -1, nullptr, nullptr) <= L.inner_w - 2 * L.arrow - 4)
                snprintf(text, sizeof(text), "%s", both);
        }
        canvas.Text(font, text, L.inner_x + L.arrow, L.inner_y, L.inner_w - 2 * L.arrow, L.inner_h,
                    TOOLS_ALIGN_LEFT, ink);
        canvas.Fill(L.inner_x, L.inner_y, L.arrow, L.inner_h, AzTools_Pixel(color));
        canvas.Fill(L.inner_x + L.inner_w - L.arrow, L.inner_y, L.arrow, L.inner_h, AzTools_Pixel(color));
        Draw_Arrow(canvas, L.inner_x, L.inner_y, L.arrow, L.inner_h, -1, 0, ink);
        Draw_Arrow(canvas, L.inner_x + L.inner_w - L.arrow, L.inner_y, L.arrow, L.inner_h, 1, 0, ink);
        return 1;
    }
    int list_top = L.inner_y + L.inner_h - L.row;
    canvas.Fill(L.inner_x, list_top, L.inner_w, L.row, AzTools_Pixel(color));
    if (label)
        canvas.Text(font, label, L.inner_x, list_top, L.inner_w, L.row, TOOLS_ALIGN_LEFT, ink);
    int text_w = L.inner_w - L.arrow;
    for (int r = 0; r < L.rows; r++) {
        int index = L.first + r;
        int ry = list_top - (r + 1) * L.row;
        if (index >= entries_nb)
            break;
        uint32_t row_ink = ink;
        if (index == current && !Disabled()) {
            canvas.Fill(L.inner_x, ry, text_w, L.row, Tools_Shade(color, 60));
            row_ink = 0xFFFFFFFFu;
        }
        canvas.Text(font, entries[index].label ? entries[index].label : "", L.inner_x, ry, text_w, L.row,
                    TOOLS_ALIGN_LEFT, row_ink);
    }
    int column_h = L.rows * L.row, half = column_h / 2;
    int column_y = list_top - column_h;
    canvas.Fill(L.inner_x + text_w, column_y, L.arrow, column_h, AzTools_Pixel(color));
    Draw_Arrow(canvas, L.inner_x + text_w, column_y + column_h - half, L.arrow, half, 0, 1, ink);
    Draw_Arrow(canvas, L.inner_x + text_w, column_y, L.arrow, column_h - half, 0, -1, ink);
    return 1;
}

int Selects::Select(int state)
{
    int px, py;
    int hit = Tools_Hit(this, state, &px, &py);
    if (!hit || !Tools_Press_New(this, state))
        return hit;
    Select_Layout L = Select_Measure(this);
    int part = Select_Part(this, L, px, py);
    if (part == SELECT_PREVIOUS || part == SELECT_NEXT) {
        Scroll(part == SELECT_PREVIOUS ? -1 : 1);
        chosen = current;
    } else {
        chosen = (short)part;
        if (part >= 0)
            current = (short)part;
    }
    Draw();
    return hit;
}

int Selects::Read()
{
    return chosen;
}

int Selects::Adjust()
{
    Select_Clamp(this);
    Draw();
    return 1;
}

int Selects::Deselect()
{
    return 1;
}

int Selects::Grow(int count, int)
{
    if (count < 0 || count > 0x7FFF)
        return 0;
    Tools *table = nullptr;
    if (count > 0) {
        if (Grow_Fails())
            return 0;
        table = new (std::nothrow) Tools[count];
        if (!table)
            return 0;
    }
    for (int i = 0; i < count && i < entries_nb; i++)
        table[i].Set_Name(entries[i].label);
    delete[] entries;
    entries = table;
    entries_nb = (short)count;
    chosen = -1;
    Select_Clamp(this);
    return 1;
}

int Selects::Scroll(int delta)
{
    if (entries_nb <= 0 || delta == 0)
        return -1;
    int to = current + delta;
    if (to < 0)
        to = 0;
    if (to >= entries_nb)
        to = entries_nb - 1;
    if (to == current)
        return -1;
    current = (short)to;
    Draw();
    return current;
}
