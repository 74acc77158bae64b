/*
 * Inside the toolkit library only: painting into a window's pixels and the
 * helpers the widget classes share.
 */
#ifndef AZ_TOOLS_PAINT_H
#define AZ_TOOLS_PAINT_H

#include <stdint.h>

#include "az_tools.h"

/* A window's RGBA pixels seen in the toolkit's bottom-up coordinates. */
class Tools_Canvas {
  public:
    /* 0 when the window has no pixels (null or not a window). */
    int Open(HWND window);
    /* Rectangle with its lower left corner at (x, y), clipped to the window. */
    void Fill(int x, int y, int width, int height, uint32_t colour);
    /* A frame `border` pixels thick inside the rectangle: top and left edges
     * in `light`, bottom and right edges in `dark`. */
    void Frame(int x, int y, int width, int height, int border, uint32_t light, uint32_t dark);
    /* One line of text vertically centred in the rectangle and clipped to it;
     * align 0 left, 1 centre, 2 right (2 pixels from the edge). */
    void Text(HFONT font, const char *text, int x, int y, int width, int height, int align, uint32_t colour);

  private:
    uint32_t *pixels = nullptr;
    int w = 0, h = 0;
};

enum { TOOLS_ALIGN_LEFT = 0, TOOLS_ALIGN_CENTRE = 1, TOOLS_ALIGN_RIGHT = 2 };

/* The font a widget's fields name (face text address and scale). */
HFONT Tools_Font(const Tools *tool);
/* The recorded pointer of the widget's window, 1 when there is one. */
int Tools_Pointer(const Tools *tool, int *px, int *py);
/* Whether a Select with this state finds the widget under the recorded
 * pointer (position in px, py).  A disabled widget answers the position
 * test, so that help finds it, but takes no pointer event, hover included. */
int Tools_Hit(const Tools *tool, int state, int *px, int *py);
/* 1 when a Select with this state starts a new press for the widget (a
 * button went down since it last acted), 0 while the same press is held
 * (the pointer is being dragged) or for a test. */
int Tools_Press_New(Tools *tool, int state);
/* The row just above the highest control (not a box) of the box's window
 * that lies inside the box, or -1 when there is none. */
int Tools_Top_Inside(const Tools *box);
/* Adds the widget to its window's list (once). */
void Tools_List_Add(Tools *tool);
/* Whether a Select state feeds an event (a pressed button), not only a test. */
inline int Tools_State_Pressed(int state) { return state != 0 && state != TOOLS_SELECT_TEST; }

/* Shades derived from a widget colour. */
uint32_t Tools_Shade(Colors c, int percent);
/* Text colour of a widget: dark, or grey when disabled. */
uint32_t Tools_Text_Colour(const Tools *tool);

/* Common widget colours. */
extern const Colors TOOLS_FACE;      /* buttons, lists and sliders */
extern const Colors TOOLS_TRACK;     /* slider and valuator tracks */

#endif
