/*
 * Corvantis_Tools: the host's widget toolkit, its fonts, the wait cursor
 * and the shared drawing state.
 *
 * Coordinates are panel pixels with x growing rightward from the window's
 * left edge and y growing upward from its bottom edge.  A widget takes its
 * fields into effect at Init; Draw paints it into its window's pixels.
 * Hit testing uses the pointer position and button state that the host
 * records for the window (AzTools_Pointer_Set in hostlib/tools/az_tools.h); Select(4) tests the position
 * only, any other state also feeds the event (press, drag) to the widget.
 *
 * Style words: 0x23 marks a widget disabled (drawn greyed; it takes no
 * pointer event, but Select(4) still finds it under the pointer, for help);
 * bit 0x4 makes a valuator vertical.
 */
#ifndef CORVANTIS_TOOLS_H
#define CORVANTIS_TOOLS_H

#include "corvantis_util.h"

struct Colors {
    short red, green, blue, alpha;
};

#define TOOLS_STYLE_DISABLED 0x23u
#define TOOLS_SELECT_TEST 4

class AZ_EXPORT Tools {
  public:
    unsigned int style;
    const char *label;
    short x, y, width, height;
    intptr_t font_name;    /* "$INTERFACE_..._FONT_NAME": a text address */
    intptr_t font_weight;  /* "$INTERFACE_..._FONT_WEIGHT" */
    short font_scale;
    Colors color;
    short border;
    HWND window;

    Tools();
    virtual ~Tools();
    void Set_Name(const char *name);      /* copies the text: the widget owns its label then */
    void Clear();                         /* blanks the widget's area with the panel colour */
    void Clear(Colors colour);
    int Inside(int px, int py) const;     /* the point lies on the widget */
    int Disabled() const { return (style & TOOLS_STYLE_DISABLED) == TOOLS_STYLE_DISABLED; }

  protected:
    char *own_label;
};

class AZ_EXPORT Boxs : public Tools {
  public:
    Boxs();
    int Init(HWND window);
    int Draw();
    int Select(int state);
};

class AZ_EXPORT Buttons : public Tools {
  public:
    short selected;   /* 1: the chosen one of a group */
    short lamp;       /* 1: its indicator is lit */

    Buttons();
    int Init(HWND window);
    int Draw();
    int Select(int state);
    int Adjust();
    int Deselect();

  private:
    short hover;
    short pressed;
};

class AZ_EXPORT Sliders : public Tools {
  public:
    float value, minimum, maximum, step;

    Sliders();
    int Init(HWND window);
    int Draw();
    int Select(int state);
    float Read();
    int Adjust();
    int Deselect();
    float Scroll(int delta);   /* moves by delta steps within the bounds; the new value */

  private:
    short dragging;
};

class AZ_EXPORT Valuators : public Tools {
  public:
    float value;
    float bound_0, bound_1;   /* value at the start (left or bottom) and end of the track */

    Valuators();
    int Init(HWND window);
    int Draw();
    int Select(int state);
    float Read();
    int Adjust();
    int Deselect();

  private:
    short dragging;
};

class AZ_EXPORT Selects : public Tools {
  public:
    short current;      /* the chosen entry, -1 when none */
    short arrow;        /* arrow size in pixels */
    Tools *entries;     /* the entry table */
    short entries_nb;

    Selects();
    ~Selects();
    int Init(HWND window);
    int Draw();
    int Select(int state);
    int Read();                 /* the chosen entry index; negative when none */
    int Adjust();
    int Deselect();
    int Grow(int count, int reserved);   /* the list holds count entries; 1, or 0 without memory */
    int Scroll(int delta);      /* moves the current entry; negative when nothing moved */

  private:
    short chosen;               /* entry hit by the last Select with a pointer state */
};

/* A status text area. */
class AZ_EXPORT Texts : public Tools {
  public:
    Texts();
    int Write(const char *text);
    const char *Read() const;

  private:
    char text[256];
};

/* Shared drawing state of the toolkit. */
extern "C" {
AZ_EXPORT extern CRITICAL_SECTION Critical;
AZ_EXPORT extern unsigned char Critical_Flag;
AZ_EXPORT extern HWND Y_Window;
AZ_EXPORT extern HDC Y_DC;
}

/* A GDI font of the host's font engine: face ("arial" maps to a metric
 * equivalent), kind ("font"), style (null), size in points. */
AZ_EXPORT HFONT Y_Create_Font(HWND window, const char *face, const char *kind, const char *style, int size);

/* The wait cursor: shown from Set to Reset (counted). */
AZ_EXPORT void Set_Curs_Wait(HWND window);
AZ_EXPORT void Reset_Curs_Wait(HWND window);

#endif
