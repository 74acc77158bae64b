/*
 * The record behind a window of class "Progress", shared byte for byte by
 * the host's window procedure (which allocates, initialises and frees it)
 * and the module (which finds it as the window's user data and writes
 * into it).  Bytes named host_* belong to the window procedure alone.
 *
 * Every change to a guarded field is made inside `lock`, and the matching
 * message is posted before the lock is left, so the window always finds
 * the data its message announces.  `cancel` is one byte written by the
 * window side and read without the lock.
 */
#ifndef PROGRESS_RECORD_H
#define PROGRESS_RECORD_H

#include <stddef.h>
#include <stdint.h>

#include "az_win32.h"

#define PROGRESS_CLASS_NAME "Progress"
#define PROGRESS_SUBTITLE_SIZE 80
#define PROGRESS_LINES_MAX 50
#define PROGRESS_LINE_SIZE 2048
#define PROGRESS_WIDTH 400
#define PROGRESS_HEIGHT 250

/* Messages posted to the window, both parameters 0. */
#define PROGRESS_MSG_STEP (WM_USER + 20)  /* 1044: pos changed */
#define PROGRESS_MSG_CLOSE (WM_USER + 21) /* 1045: close; the record is no longer used */
#define PROGRESS_MSG_READY (WM_USER + 23) /* 1047: record ready, subtitle set */
#define PROGRESS_MSG_MAX (WM_USER + 24)   /* 1048: max changed */
#define PROGRESS_MSG_LINE (WM_USER + 25)  /* 1049: a line was added (or refused) */

struct Progress_Record {
    HWND window;                                       /* 0 */
    unsigned char host_8[34712];
    char subtitle[PROGRESS_SUBTITLE_SIZE];             /* 34720 */
    char lines[PROGRESS_LINES_MAX][PROGRESS_LINE_SIZE]; /* 34800 */
    unsigned char lines_nb;                            /* 137200 */
    unsigned char host_137201[3];
    int32_t aux_count;                                 /* 137204 */
    unsigned char host_137208[4];
    int32_t pos;                                       /* 137212 */
    int32_t max;                                       /* 137216 */
    unsigned char host_137220[4];
    unsigned char cancel;                              /* 137224 */
    unsigned char host_137225[7];
    CRITICAL_SECTION lock;                             /* 137232 */
};

static_assert(sizeof(HWND) == 8, "window handle is 8 bytes");
static_assert(offsetof(Progress_Record, window) == 0, "window");
static_assert(offsetof(Progress_Record, subtitle) == 34720, "subtitle");
static_assert(offsetof(Progress_Record, lines) == 34800, "lines");
static_assert(offsetof(Progress_Record, lines_nb) == 137200, "lines_nb");
static_assert(offsetof(Progress_Record, aux_count) == 137204, "aux_count");
static_assert(offsetof(Progress_Record, pos) == 137212, "pos");
static_assert(offsetof(Progress_Record, max) == 137216, "max");
static_assert(offsetof(Progress_Record, cancel) == 137224, "cancel");
static_assert(offsetof(Progress_Record, lock) == 137232, "lock");

#endif
