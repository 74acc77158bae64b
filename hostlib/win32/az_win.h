/*
 * Host-internal side of the Windows layer: what the host program, its
 * libraries and the tests need beyond the Windows calls themselves.
 *
 * Windows: every window owns an RGBA pixel buffer of its client size
 * (uint32_t per pixel, red in bits 0-7, alpha in bits 24-31, row 0 at the
 * top) into which OpenGL contexts and the toolkit draw.
 *
 * Fonts: one FreeType engine measures and draws, with the same integer
 * advances, so that a measured string is exactly as wide as it is drawn.
 * Bytes are Windows-1252 characters; bytes below 0x20 and 0x7F have no
 * width and draw nothing (callers give tabs their own width).
 */
#ifndef AZ_WIN_H
#define AZ_WIN_H

#include "../../host/az_win32.h"

#define AZ_ERROR_NOT_ENOUGH_MEMORY 8
#define AZ_ERROR_INVALID_PARAMETER 87
#define AZ_ERROR_INVALID_WINDOW_HANDLE 1400
#define AZ_ERROR_CANNOT_FIND_WND_CLASS 1407

typedef void (*AzWin_Post_Fn)(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

extern "C" {

/* ---- windows ---------------------------------------------------------- */

/* The window's pixels (null for a dead handle); size in *w, *h when given.
 * The buffer is replaced when the client size changes, so do not keep the
 * pointer across MoveWindow. */
AZ_EXPORT uint32_t *AzWin_Pixels(HWND window, int *w, int *h);
/* Dispatches every message pending for the calling thread; returns how many. */
AZ_EXPORT int AzWin_Pump(void);
/* Waits up to `milliseconds` until the calling thread has a message pending;
 * 1 when one is there. */
AZ_EXPORT int AzWin_Wait(DWORD milliseconds);
/* Sees every PostMessageA that is accepted, in queue order, on the posting
 * thread (null: none); it runs under the queue lock, so it must not post.
 * Returns the previous hook. */
AZ_EXPORT AzWin_Post_Fn AzWin_Post_Hook(AzWin_Post_Fn hook);
/* Live windows of a class (null: any), in creation order, after `after`
 * (null: from the first).  Null when there is no further one. */
AZ_EXPORT HWND AzWin_Find(const char *class_name, HWND after);
/* Class name and title of a live window (empty text for a dead handle). */
AZ_EXPORT const char *AzWin_Class_Name(HWND window);
AZ_EXPORT const char *AzWin_Title(HWND window);
AZ_EXPORT DWORD AzWin_Style(HWND window);
/* Thread (GetCurrentThreadId value) whose queue receives the window's posts. */
AZ_EXPORT DWORD AzWin_Thread(HWND window);
/* Stacking rank given by BringWindowToTop: higher is nearer the top, 0 never raised. */
AZ_EXPORT unsigned AzWin_Z_Order(HWND window);
/* Forgets a registered class so that it can be registered anew (tests). */
AZ_EXPORT BOOL AzWin_Unregister_Class(const char *class_name);
/* Number of live windows. */
AZ_EXPORT int AzWin_Count(void);

/* ---- failure injection (tests) ---------------------------------------- */

/* CreateWindowExA of that class fails with 1407 (null: stop failing). */
AZ_EXPORT void AzWin_Fail_Create(const char *class_name);
/* _beginthreadex fails with errno EAGAIN and _doserrno 8 while on. */
AZ_EXPORT void AzWin_Fail_Thread(int on);

/* ---- fonts ------------------------------------------------------------ */

/* A cached font: face "arial" or any other name gives the bundled sans
 * face; the pixel size is points * 96 / 72 rounded.  Never freed. */
AZ_EXPORT HFONT AzFont_Get(const char *face, int points);
/* A cached font at a pixel size. */
AZ_EXPORT HFONT AzFont_Get_Pixels(int pixels);
/* Advance width of `len` bytes of text (len < 0: up to the NUL); ascent
 * and descent of the font when the pointers are given. */
AZ_EXPORT int AzFont_Measure(HFONT font, const char *text, int len, int *ascent, int *descent);
/* Pixel size, ascent, descent, average and widest advance. */
AZ_EXPORT int AzFont_Metrics(HFONT font, int *pixels, int *ascent, int *descent, int *average, int *widest);
/* Blends the text's glyphs in `colour` (alpha in bits 24-31 scales the
 * coverage; 0 counts as opaque) into a top-down RGBA buffer of w x h,
 * starting at pen x and with the baseline on row baseline_y; clipped to the
 * buffer.  Returns the pen advance, equal to AzFont_Measure's width. */
AZ_EXPORT int AzFont_Draw(HFONT font, const char *text, uint32_t *rgba, int w, int h, int x, int baseline_y,
                          uint32_t colour);
/* Coverage form for OpenGL rasters: writes 8-bit coverage (0-255) of the
 * text into a w x h buffer (row 0 at the top, not cleared), same
 * placement rules as AzFont_Draw.  Returns the pen advance. */
AZ_EXPORT int AzFont_Coverage(HFONT font, const char *text, uint8_t *coverage, int w, int h, int x,
                              int baseline_y);

/* ---- device contexts -------------------------------------------------- */

/* The window and font a DC holds, and its mapping values. */
AZ_EXPORT HWND AzDc_Window(HDC dc);
AZ_EXPORT HFONT AzDc_Font(HDC dc);
AZ_EXPORT int AzDc_Map_Mode(HDC dc);
}

#endif
