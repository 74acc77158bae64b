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
#ifndef INFINITE
#define INFINITE 0xFFFFFFFFu
#endif

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

/* ---- threads started with _beginthreadex (the module's workers) -------- */

/* How many have been started and not yet left their routine; counted from
 * the moment _beginthreadex returns, so a thread that has not run yet is
 * already counted. */
AZ_EXPORT int AzWin_Threads_Alive(void);
/* Waits until none is left, at most `milliseconds` (INFINITE: no limit);
 * 1 when none is left.  A thread counts as gone only once its routine has
 * returned (or called _endthreadex) and no frame of it is left on the
 * stack: the library it came from may then be unloaded. */
AZ_EXPORT int AzWin_Threads_Wait(DWORD milliseconds);
/* 1 on such a thread. */
AZ_EXPORT int AzWin_Thread_Is_Started(void);

/* ---- delay points (tests) --------------------------------------------- */

/* Places where a test can make the thread that passes pause, to force an
 * order between threads' steps or to shake it at random.  Off, a point
 * costs one relaxed load. */
enum {
    AZ_DELAY_THREAD_START = 0, /* a _beginthreadex thread, before its routine */
    AZ_DELAY_POST = 1,         /* PostMessageA, Fct_Update, Fct_Redraw: before the message is queued */
    AZ_DELAY_DELIVERY = 2,     /* the host pump, before it carries out one queued update or redraw */
    AZ_DELAY_CHILD_DELETE = 3, /* Child_Delete, before the children are taken out */
    AZ_DELAY_POINTS = 4
};
/* Every pass of the point pauses `milliseconds` (0: no pause). */
AZ_EXPORT void AzWin_Delay_Set(int point, unsigned milliseconds);
/* About one pass in eight of any point pauses a pseudo-random 1..max
 * milliseconds, drawn from the seed (max 0: back to the fixed pauses). */
AZ_EXPORT void AzWin_Delay_Random(unsigned seed, unsigned max_milliseconds);
/* All points off; the pass counts start again from 0. */
AZ_EXPORT void AzWin_Delay_Off(void);
/* Passes of the point since it was last set, counted while any point is on. */
AZ_EXPORT unsigned AzWin_Delay_Passes(int point);
/* The pause itself (call AzWin_Delay). */
AZ_EXPORT void AzWin_Delay_Pause(int point);
/* Non-zero while any point is on. */
AZ_EXPORT extern int AzWin_Delay_Armed;

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

/* A delay point: nothing but a relaxed load while no point is on. */
static inline void AzWin_Delay(int point)
{
    if (__atomic_load_n(&AzWin_Delay_Armed, __ATOMIC_RELAXED))
        AzWin_Delay_Pause(point);
}

#endif
