/*
 * Host-internal side of the widget toolkit: what the host program and the
 * tests use to drive widgets that a module owns.
 *
 * The host records, per window, where the pointer is (panel pixels, x to
 * the right from the left edge, y upward from the bottom edge) and which
 * buttons are down; a widget's Select reads that record.  Widgets that were
 * Init'ed with a window are listed per window so that the host can find
 * them by label (scripted clicks, pictures of the panel).
 */
#ifndef AZ_TOOLS_H
#define AZ_TOOLS_H

#include "../../host/corvantis_tools.h"

/* Pointer button states the host passes to the panel's input entry points
 * (any non-zero state other than TOOLS_SELECT_TEST counts as pressed). */
#define AZ_POINTER_NONE 0
#define AZ_POINTER_LEFT 1
#define AZ_POINTER_RIGHT 2

/* Window class of the plain child windows that modules draw previews into. */
#define AZ_TOOLS_CLASS "TOOL"

extern "C" {
/* Registers the "TOOL" window class (once; later calls return 1 too). */
AZ_EXPORT int AzTools_Register(void);

/* Records the pointer over a window: position in panel pixels (bottom-up)
 * and the button state.  AzTools_Pointer_Get: 1 and the record when the
 * window has one, else 0.  AzTools_Pointer_Clear forgets the window's
 * record (the pointer left it): every Select then answers 0. */
AZ_EXPORT void AzTools_Pointer_Set(HWND window, int x, int y, int state);
AZ_EXPORT int AzTools_Pointer_Get(HWND window, int *x, int *y, int *state);
AZ_EXPORT void AzTools_Pointer_Clear(HWND window);

/* Depth of the wait cursor (Set_Curs_Wait minus Reset_Curs_Wait, never
 * below 0); non-zero means the wait cursor shows. */
AZ_EXPORT int AzTools_Wait_Cursor(void);

/* The i-th (from 0) widget Init'ed with this window, in Init order, or null
 * past the last.  A widget is listed once, where it was first Init'ed. */
AZ_EXPORT Tools *AzTools_Widget(HWND window, int i);
/* The first widget of the window whose label equals text, or null. */
AZ_EXPORT Tools *AzTools_Find(HWND window, const char *label);

/* The pointer position (panel pixels) at which a click sets the valuator
 * to the value nearest to `value` that its track can give; 1 when found. */
AZ_EXPORT int AzTools_Valuator_Point(const Valuators *valuator, float value, int *x, int *y);

/* For tests: the next n-th (1 = next) growth of a list's entry table fails
 * as if memory ran out; 0 disarms. */
AZ_EXPORT void AzTools_Fail_Grow(int nth);

/* Colour a widget's area takes when cleared without a colour and no
 * enclosing box is known. */
AZ_EXPORT Colors AzTools_Panel_Colour(void);
}

/* The RGBA value (red in bits 0-7, opaque) the toolkit paints for a colour. */
inline uint32_t AzTools_Pixel(Colors c)
{
    return (uint32_t)(c.red & 0xFF) | ((uint32_t)(c.green & 0xFF) << 8) | ((uint32_t)(c.blue & 0xFF) << 16) |
           0xFF000000u;
}

#endif
