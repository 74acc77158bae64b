/*
 * The module's tool panel, shared by its sources: the panel's state and
 * widgets (oblique_ctrl_state), their layout (oblique_ctrl_layout), the
 * lifecycle entry points (oblique_ctrl_life), the single state-update
 * routine Ctrl_Update with the module's update hook (oblique_ctrl_update)
 * and the handling of pointer, wheel, key and help events
 * (oblique_ctrl_input).
 *
 * Everything here runs on the host's interface thread, one call at a time;
 * the state is shared between the entry points without a lock.
 */
#ifndef OBLIQUE_CTRL_H
#define OBLIQUE_CTRL_H

#include "../module/entry.h"
#include "../oblique/oblique.h"

/* Host update flags the panel follows. */
#define CTRL_HOST_REFRESH 0x200000ull    /* the database changed: refresh and rebuild the list */
#define CTRL_HOST_SLICE 0x7C00000ull     /* frames or tags changed: show the slice again */
#define CTRL_HOST_FLAGS 0x7E00000ull

/* The panel's own flags, bits 52 to 56. */
#define CTRL_UPDATE_DRAW 0x10000000000000ull
#define CTRL_UPDATE_SELECT 0x20000000000000ull
#define CTRL_UPDATE_ROTATE 0x40000000000000ull
#define CTRL_UPDATE_SLICE 0x80000000000000ull
#define CTRL_UPDATE_IMAGE 0x100000000000000ull

/* Class flags the panel marks: 0x10 the class itself, 0x20 its frames,
 * both at once 0x30; always with the mask 0x4000 and no window. */
#define CTRL_FLAG_MASK 0x4000ull
#define CTRL_REDRAW 0x400000ull

#define CTRL_STYLE_DISABLED 0x23u
#define CTRL_STYLE_SLIDER_ON 0x8000000u
#define CTRL_STYLE_DIR 0x500000u
#define CTRL_STYLE_VALUATOR 0x0C000000u
#define CTRL_STYLE_VERTICAL 0x4u
#define CTRL_HALF_PI 1.5707964f

/* ---- panel state ---------------------------------------------------------- */

extern unsigned int Ctrl_Active;
extern unsigned char Ctrl_Shown;
extern unsigned char Ctrl_Inside;
extern unsigned short Ctrl_Mode;
extern int Dir_Cur;
/* Two entries per listed study: its Original-direction class, then its
 * Oblique-direction class (or null). */
extern Kelvra_Oblique **Instance_Pt;
extern int Instance_Nb;
extern int Instance_Cur;
extern float Rot_X, Rot_Y, Rot_Z;
extern Matrix_4x4 Rot_Matrix;
extern HWND image_window;

/* ---- widgets -------------------------------------------------------------- */

extern Boxs box_main;
extern Selects select_instance;
extern Valuators valuator_horiz[2];
extern Valuators valuator_vert[2];
extern Buttons button_update;
extern Boxs box_preview;
extern Sliders slider_frame;
extern Buttons button_on_off;
extern Buttons button_dir[2];
extern Boxs box_image;

/* ---- helpers -------------------------------------------------------------- */

/* A dimension setting, used as a 16-bit value. */
inline short Ctrl_Setting(const char *name)
{
    return (short)Fct_Variable_Value(name, nullptr, nullptr, nullptr);
}

/* Trace lines show window handles as eight hex digits. */
inline unsigned int Ctrl_Handle(HWND window)
{
    return (unsigned int)(uintptr_t)window;
}

/* The current study's pair starts at Instance_Cur when the table holds it. */
inline int Ctrl_Pair_Valid(void)
{
    return Instance_Pt && Instance_Cur >= 0 && Instance_Cur + 1 < Instance_Nb;
}

inline Kelvra_Oblique *Ctrl_Current(void)
{
    return Ctrl_Pair_Valid() ? Instance_Pt[Instance_Cur + Dir_Cur] : nullptr;
}

#endif
