/* The module's panel state (declared by the panel's own header), which
 * panel tests read and reset, and the panel in a host window of its own. */
#ifndef PANEL_STATE_H
#define PANEL_STATE_H

#include "ctrl/oblique_ctrl.h"

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
