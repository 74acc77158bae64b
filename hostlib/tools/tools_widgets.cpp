/*
 * Boxes, buttons, sliders and valuators.
 *
 * Style bits the toolkit paints (besides 0x23, disabled, and 0x4, a
 * vertical valuator): 0x40 a box shows its label as a title bar, 0x10 a
 * box's frame is sunken, 0x100000 a button carries a lamp indicator.
 */
#include <math.h>
#include <stdio.h>

#include "../win32/az_win.h"
#include "az_tools_paint.h"

#define TOOLS_STYLE_TITLE 0x40u
#define TOOLS_STYLE_SUNKEN 0x10u
#define TOOLS_STYLE_LAMP 0x100000u
#define TOOLS_KNOB 8

static const Colors TOOLS_LAMP_ON = {255, 196, 0, 0};
static const Colors TOOLS_LAMP_OFF = {96, 96, 96, 0};

/* Stores the window (null keeps the stored one) and lists the widget. */
static void Tools_Attach(Tools *tool, HWND window)
{
    if (window)
        tool->window = window;
    if (tool->window)
        Tools_List_Add(tool);
}

/* Where a pointer coordinate lies along a track from `start` over `length`
 * pixels: 0 at the first pixel, 1 at the last. */
static float Track_Fraction(int pointer, int start, int length)
{
    if (length <= 1)
        return 0.0f;
    float t = (float)(pointer - start) / (float)(length - 1);
    return t < 0.0f ? 0.0f : (t > 1.0f ? 1.0f : t);
}

static float Clamp(float v, float a, float b)
{
    float lo = a < b ? a : b, hi = a < b ? b : a;
    return v < lo ? lo : (v > hi ? hi : v);
}

/* ------------------------------------------------------------------------
 * Boxs
 * --------------------------------------------------------------------- */

Boxs::Boxs() {}

int Boxs::Init(HWND win)
{
    Tools_Attach(this, win);
    return 1;
}

int Boxs::Draw()
{
    Tools_Canvas canvas;
    if (!canvas.Open(window))
        return 0;
    canvas.Fill(x, y, width, height, AzTools_Pixel(color));
    uint32_t light = Tools_Shade(color, 135), dark = Tools_Shade(color, 55);
    if (style & TOOLS_STYLE_SUNKEN)
        canvas.Frame(x, y, width, height, border, dark, light);
    else
        canvas.Frame(x, y, width, height, border, light, dark);
    if ((style & TOOLS_STYLE_TITLE) && label) {
        HFONT font = Tools_Font(this);
        int ascent = 0, descent = 0;
        AzFont_Measure(font, "Ag", 2, &ascent, &descent);
        int bar = ascent + descent + 4, b = border > 0 ? border : 0;
        // The bar leaves a row of the box free above the controls it holds, however large the font.
        int below = Tools_Top_Inside(this);
        if (below >= 0 && bar > y + height - b - below - 1)
            bar = y + height - b - below - 1;
        if (bar > height - 2 * b)
            bar = height - 2 * b;
        if (bar < 0)
            bar = 0;
        int top = y + height - b - bar;
        canvas.Fill(x + b, top, width - 2 * b, bar, Tools_Shade(color, 60));
        canvas.Text(font, label, x + b, top, width - 2 * b, bar, TOOLS_ALIGN_CENTRE,
                    Disabled() ? 0xFFB0B0B0u : 0xFFFFFFFFu);
    }
    return 1;
}

int Boxs::Select(int state)
{
    int px, py;
    return Tools_Hit(this, state, &px, &py);
}

/* ------------------------------------------------------------------------
 * Buttons
 * --------------------------------------------------------------------- */

Buttons::Buttons() : selected(0), lamp(0), hover(0), pressed(0) {}

int Buttons::Init(HWND win)
{
    Tools_Attach(this, win);
    return 1;
}

int Buttons::Draw()
{
    Tools_Canvas canvas;
    if (!canvas.Open(window))
        return 0;
    int disabled = Disabled();
    int sunk = !disabled && (selected || pressed);
    int percent = disabled ? 100 : (sunk ? 82 : (hover ? 110 : 100));
    canvas.Fill(x, y, width, height, Tools_Shade(color, percent));
    uint32_t light = Tools_Shade(color, 140), dark = Tools_Shade(color, 50);
    canvas.Frame(x, y, width, height, border, sunk ? dark : light, sunk ? light : dark);
    // The lamp is a strip along the bottom edge, so the label keeps the width.
    int text_y = y + border, text_h = height - 2 * border;
    if ((style & TOOLS_STYLE_LAMP) || lamp) {
        int strip = text_h >= 14 ? 3 : 2;
        Colors lit = (!disabled && lamp) ? TOOLS_LAMP_ON : TOOLS_LAMP_OFF;
        canvas.Fill(x + border + 2, y + border + 1, width - 2 * border - 4, strip, AzTools_Pixel(lit));
        text_y += strip + 1;
        text_h -= strip + 1;
    }
    if (label)
        canvas.Text(Tools_Font(this), label, x + border, text_y, width - 2 * border, text_h, TOOLS_ALIGN_CENTRE,
                    Tools_Text_Colour(this));
    return 1;
}

int Buttons::Select(int state)
{
    int px, py;
    int hit = Tools_Hit(this, state, &px, &py);
    if (state == TOOLS_SELECT_TEST)
        return hit;   // a test leaves hover and press as they are
    short was_hover = hover, was_pressed = pressed;
    hover = (short)hit;
    pressed = (short)(hit && Tools_State_Pressed(state));
    if (hover != was_hover || pressed != was_pressed)
        Draw();
    return hit;
}

int Buttons::Adjust()
{
    Draw();
    return 1;
}

int Buttons::Deselect()
{
    int changed = hover || pressed;
    hover = 0;
    pressed = 0;
    if (changed)
        Draw();
    return 1;
}

/* ------------------------------------------------------------------------
 * Sliders
 * --------------------------------------------------------------------- */

Sliders::Sliders() : value(0.0f), minimum(0.0f), maximum(1.0f), step(1.0f), dragging(0) {}

/* The value is left as the owner set it: a new range may be followed by
 * the value that belongs to it.  Drawing, dragging and scrolling keep
 * within the range. */
int Sliders::Init(HWND win)
{
    Tools_Attach(this, win);
    return 1;
}

int Sliders::Draw()
{
    Tools_Canvas canvas;
    if (!canvas.Open(window))
        return 0;
    int disabled = Disabled();
    canvas.Fill(x, y, width, height, disabled ? Tools_Shade(color, 100) : AzTools_Pixel(TOOLS_TRACK));
    canvas.Frame(x, y, width, height, border, Tools_Shade(TOOLS_TRACK, 60), Tools_Shade(TOOLS_TRACK, 140));
    float shown = Clamp(value, minimum, maximum);
    if (!disabled && maximum > minimum) {
        float t = (shown - minimum) / (maximum - minimum);
        int kx = x + (int)lroundf(t * (float)(width - TOOLS_KNOB));
        canvas.Fill(kx, y, TOOLS_KNOB, height, AzTools_Pixel(color));
        canvas.Frame(kx, y, TOOLS_KNOB, height, 1, Tools_Shade(color, 140), Tools_Shade(color, 50));
    }
    char text[300];
    if (disabled)
        snprintf(text, sizeof(text), "%s", label ? label : "");
    else if (step >= 1.0f && floorf(step) == step)
        snprintf(text, sizeof(text), "%s%s%d", label ? label : "", label ? ": " : "", (int)shown);
    else
        snprintf(text, sizeof(text), "%s%s%.2f", label ? label : "", label ? ": " : "", shown);
    canvas.Text(Tools_Font(this), text, x, y, width, height, TOOLS_ALIGN_CENTRE, Tools_Text_Colour(this));
    return 1;
}

int Sliders::Select(int state)
{
    int px, py;
    int hit = Tools_Hit(this, state, &px, &py);
    if (state == TOOLS_SELECT_TEST)
        return hit;
    dragging = (short)(hit && Tools_State_Pressed(state));
    if (dragging) {
        float v = minimum + Track_Fraction(px, x, width) * (maximum - minimum);
        if (step > 0.0f)
            v = minimum + floorf((v - minimum) / step + 0.5f) * step;
        value = Clamp(v, minimum, maximum);
        Draw();
    }
    return hit;
}

float Sliders::Read()
{
    return value;
}

int Sliders::Adjust()
{
    value = Clamp(value, minimum, maximum);
    Draw();
    return 1;
}

int Sliders::Deselect()
{
    dragging = 0;
    return 1;
}

float Sliders::Scroll(int delta)
{
    if (Disabled())
        return value;   // found under the pointer, but it does not move
    float by = step > 0.0f ? step : 1.0f;
    value = Clamp(value + (float)delta * by, minimum, maximum);
    Draw();
    return value;
}

/* ------------------------------------------------------------------------
 * Valuators
 * --------------------------------------------------------------------- */

Valuators::Valuators() : value(0.0f), bound_0(0.0f), bound_1(1.0f), dragging(0) {}

int Valuators::Init(HWND win)
{
    Tools_Attach(this, win);
    return 1;
}

/* A valuator's track: its pixels along its length, and the middle pixel.
 * The two halves are mapped separately so that the first pixel, the
 * middle one and the last give bound_0, the middle value and bound_1
 * exactly, whatever the length: a symmetric range then has an exact 0
 * (a straight cut), even when the track has an odd number of steps. */
struct Valuator_Track {
    int length, middle;
    float mid;
};

static Valuator_Track Track_Of(const Valuators *v)
{
    Valuator_Track t;
    t.length = (v->style & 0x4u) ? v->height : v->width;
    t.middle = t.length > 1 ? (t.length - 1) / 2 : 0;
    t.mid = (v->bound_0 + v->bound_1) * 0.5f;
    return t;
}

/* The value at pixel p of the track (0 the first pixel). */
static float Track_Value(const Valuators *v, const Valuator_Track &t, int p)
{
    int last = t.length - 1;
    if (p <= 0 || last <= 0)
        return v->bound_0;
    if (p >= last)
        return v->bound_1;
    if (p == t.middle)
        return t.mid;
    if (p < t.middle)
        return v->bound_0 + (t.mid - v->bound_0) * ((float)p / (float)t.middle);
    return t.mid + (v->bound_1 - t.mid) * ((float)(p - t.middle) / (float)(last - t.middle));
}

/* The pixel of the track whose value lies nearest to value. */
static int Track_Pixel(const Valuators *v, const Valuator_Track &t, float value)
{
    int last = t.length - 1;
    if (last <= 0 || v->bound_1 == v->bound_0)
        return 0;
    float f = (value - v->bound_0) / (v->bound_1 - v->bound_0);
    int p = (int)lroundf(Clamp(f, 0.0f, 1.0f) * (float)last);
    int best = p;
    // The halves may step a little differently: look at the neighbours too.
    for (int q = p - 2; q <= p + 2; q++)
        if (q >= 0 && q <= last && fabsf(Track_Value(v, t, q) - value) < fabsf(Track_Value(v, t, best) - value))
            best = q;
    return best;
}

/* Fraction of the track where the value lies: 0 at bound_0, 1 at bound_1. */
static float Valuator_Fraction(const Valuators *v)
{
    Valuator_Track t = Track_Of(v);
    return t.length > 1 ? (float)Track_Pixel(v, t, v->value) / (float)(t.length - 1) : 0.0f;
}

int Valuators::Draw()
{
    Tools_Canvas canvas;
    if (!canvas.Open(window))
        return 0;
    int disabled = Disabled(), vertical = (style & 0x4u) != 0;
    canvas.Fill(x, y, width, height, disabled ? AzTools_Pixel(color) : Tools_Shade(color, 80));
    canvas.Frame(x, y, width, height, border, Tools_Shade(color, 50), Tools_Shade(color, 140));
    if (disabled)
        return 1;
    float t = Valuator_Fraction(this);
    int length = vertical ? height : width;
    int knob = length < TOOLS_KNOB ? length : TOOLS_KNOB;
    int at = (int)lroundf(t * (float)(length - knob));
    if (vertical) {
        canvas.Fill(x + width / 2, y + border, 1, height - 2 * border, Tools_Shade(color, 50));
        canvas.Fill(x, y + at, width, knob, AzTools_Pixel(TOOLS_FACE));
        canvas.Frame(x, y + at, width, knob, 1, Tools_Shade(TOOLS_FACE, 140), Tools_Shade(TOOLS_FACE, 50));
    } else {
        canvas.Fill(x + border, y + height / 2, width - 2 * border, 1, Tools_Shade(color, 50));
        canvas.Fill(x + at, y, knob, height, AzTools_Pixel(TOOLS_FACE));
        canvas.Frame(x + at, y, knob, height, 1, Tools_Shade(TOOLS_FACE, 140), Tools_Shade(TOOLS_FACE, 50));
    }
    return 1;
}

int Valuators::Select(int state)
{
    int px, py;
    int hit = Tools_Hit(this, state, &px, &py);
    if (state == TOOLS_SELECT_TEST)
        return hit;
    dragging = (short)(hit && Tools_State_Pressed(state));
    if (dragging) {
        Valuator_Track t = Track_Of(this);
        value = Track_Value(this, t, (style & 0x4u) ? py - y : px - x);
        Draw();
    }
    return hit;
}

float Valuators::Read()
{
    return value;
}

int Valuators::Adjust()
{
    value = Clamp(value, bound_0, bound_1);
    Draw();
    return 1;
}

int Valuators::Deselect()
{
    dragging = 0;
    return 1;
}

/* ------------------------------------------------------------------------
 * Host-internal
 * --------------------------------------------------------------------- */

extern "C" int AzTools_Valuator_Point(const Valuators *valuator, float value, int *px, int *py)
{
    if (!valuator)
        return 0;
    Valuator_Track t = Track_Of(valuator);
    int p = Track_Pixel(valuator, t, value);
    int vertical = (valuator->style & 0x4u) != 0;
    *px = vertical ? valuator->x + valuator->width / 2 : valuator->x + p;
    *py = vertical ? valuator->y + p : valuator->y + valuator->height / 2;
    return 1;
}
