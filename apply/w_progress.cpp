/*
 * Progress window client.  The window and its record belong to the host's
 * "Progress" class; the module writes into the record under its lock and
 * posts a message for each change.  Posting (never sending) keeps the
 * worker from ever waiting for the window's thread.  Every operation takes
 * a null record as "no window" and does nothing, so callers need no test.
 */
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "../host/progress_record.h"
#include "../oblique/oblique.h"
#include "oblique_apply_fixed.h"

static void Progress_Post(Progress_Record *record, UINT message)
{
    PostMessageA(record->window, message, 0, 0);
}

/* Centred on the parent, but never left of or above its top-left corner. */
static void Progress_Place(HWND parent, int *x, int *y)
{
    RECT rect = {0, 0, 0, 0};
    GetWindowRect(parent, &rect);
    int centre_x = (rect.left + rect.right) / 2 - 200;
    int centre_y = (rect.top + rect.bottom) / 2 - 200;
    *x = centre_x > rect.left ? centre_x : rect.left;
    *y = centre_y > rect.top ? centre_y : rect.top;
}

Progress_Record *Progress_Create(HWND parent, const char *title, const char *subtitle)
{
    int x, y;
    Progress_Place(parent, &x, &y);
    HINSTANCE instance = (HINSTANCE)GetWindowLongPtrA(parent, GWLP_HINSTANCE);
    Error_Fct(parent, 11, "creating window: %d %d %s %08x", x, y, title, (unsigned int)(uintptr_t)instance);

    HWND window = CreateWindowExA(0, PROGRESS_CLASS_NAME, title, WS_OVERLAPPEDWINDOW, x, y, PROGRESS_WIDTH,
                                  PROGRESS_HEIGHT, NULL, NULL, instance, NULL);
    if (!window) {
        Error_Fct(parent, 2, OBLIQUE_MSG_WHERE, PROGRESS_SOURCE, PROGRESS_LINE_CREATE);
        Error_Fct(parent, 2, "Unable to create Progress Window");
        return NULL;
    }
    Progress_Record *record = (Progress_Record *)GetWindowLongPtrA(window, GWLP_USERDATA);
    if (!record) {
        Error_Fct(parent, 2, OBLIQUE_MSG_WHERE, PROGRESS_SOURCE, PROGRESS_LINE_RECORD);
        Error_Fct(parent, 2, "Failed in GetWindowLong()");
        Error_Fct(parent, 2, "%s", Error_Windows(0));
        return NULL;
    }
    /* The caller keeps the subtitle within the field; cut it rather than overrun. */
    snprintf(record->subtitle, sizeof(record->subtitle), "%s", subtitle);
    Progress_Post(record, PROGRESS_MSG_READY);
    return record;
}

void Progress_Write(Progress_Record *record, const char *format, ...)
{
    if (!record)
        return;
    EnterCriticalSection(&record->lock);
    if (record->lines_nb >= PROGRESS_LINES_MAX) {
        Progress_Post(record, PROGRESS_MSG_LINE);
        LeaveCriticalSection(&record->lock);
        Error_Fct(hwnd, 11, PROGRESS_MSG_FULL);
        return;
    }
    char text[PROGRESS_LINE_SIZE];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    memcpy(record->lines[record->lines_nb], text, strlen(text) + 1);
    record->lines_nb++;
    Progress_Post(record, PROGRESS_MSG_LINE);
    LeaveCriticalSection(&record->lock);
}

void Progress_Step(Progress_Record *record, int delta)
{
    if (!record)
        return;
    EnterCriticalSection(&record->lock);
    int pos = record->pos + delta;
    if (pos <= 0)
        pos = 0;
    else if (pos > record->max)
        pos = record->max;
    record->pos = pos;
    Progress_Post(record, PROGRESS_MSG_STEP);
    LeaveCriticalSection(&record->lock);
}

void Progress_Set_Max(Progress_Record *record, int maximum)
{
    if (!record)
        return;
    EnterCriticalSection(&record->lock);
    record->max = maximum;
    record->aux_count = 0;
    Progress_Post(record, PROGRESS_MSG_MAX);
    LeaveCriticalSection(&record->lock);
}

int Progress_Cancelled(Progress_Record *record)
{
    if (!record)
        return 0;
    /* One byte set by the window's thread: read without the lock. */
    return __atomic_load_n(&record->cancel, __ATOMIC_RELAXED);
}

void Progress_Close(Progress_Record *record)
{
    if (!record)
        return;
    Progress_Post(record, PROGRESS_MSG_CLOSE);
}
