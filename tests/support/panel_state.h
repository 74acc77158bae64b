/* The module's panel state, which panel tests read and reset, and the
 * panel in a host window of its own. */
#ifndef PANEL_STATE_H
#define PANEL_STATE_H

#include "host/corvantis_tools.h"
#include "oblique/oblique.h"

extern unsigned int Ctrl_Active;
extern unsigned char Ctrl_Shown;
extern unsigned char Ctrl_Inside;
extern unsigned short Ctrl_Mode;
extern int Dir_Cur;
extern Kelvra_Oblique **Instance_Pt;
extern int Instance_Nb;
extern int Instance_Cur;
extern float Rot_X, Rot_Y, Rot_Z;
extern Matrix_4x4 Rot_Matrix;
extern HWND image_window;
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

/* Sets the panel's state back to what a freshly loaded module has. */
void Panel_Reset();

/* A visible window of that class and size with the panel created in it and
 * laid out; nullptr (with a test failure) when that does not go through. */
HWND Panel_Make(const char *window_class, int width, int height);

/* Closes the panel, forgets its state and destroys its windows. */
void Panel_Destroy(HWND panel);

/* Paints every pixel of a window; how many it painted. */
int Window_Fill(HWND window, uint32_t colour);
/* How many pixels of a window differ from the colour. */
int Window_Other(HWND window, uint32_t colour);

#endif
