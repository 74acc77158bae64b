/*
 * Host side of the "Progress" window class: the window procedure that
 * owns the shared Progress_Record (host/progress_record.h).
 *
 * The procedure runs on the thread that created the window, when that
 * thread pumps its messages.  For every message it refreshes a display
 * snapshot (title, subtitle, lines, position, maximum) that the host reads
 * to draw the window and tests read to check what the window was told.
 * Snapshots outlive their window, so what a closed window last showed can
 * still be read.
 */
#ifndef AZ_PROGRESS_H
#define AZ_PROGRESS_H

#include <string>
#include <vector>

#include "../../host/progress_record.h"

struct AzProgress_View {
    HWND window;                     /* the window (dead once closed) */
    Progress_Record *record;         /* null once closed */
    std::string title;
    std::string subtitle;            /* as of the last 1047 */
    std::vector<std::string> lines;  /* as of the last 1049 */
    int pos;                         /* as of the last 1044 or 1048 */
    int max;                         /* as of the last 1048 */
    int cancel;                      /* the record's cancel byte was set */
    int closed;                      /* 1045 arrived; window destroyed, record freed */
    int received[6];                 /* messages received: index message - 1044 */
};

extern "C" {

/* Registers the window class "Progress" (RegisterClassA); idempotent.
 * AzDb_Init calls it; 1 when the class is registered. */
AZ_EXPORT int AzProgress_Register(void);

/* Snapshot of the newest progress window with that handle, or of the
 * window of that record; 1 when found. */
AZ_EXPORT int AzProgress_State(HWND window, AzProgress_View *view);
AZ_EXPORT int AzProgress_State_Record(const Progress_Record *record, AzProgress_View *view);
/* Snapshot of the most recently created progress window; 0 when none. */
AZ_EXPORT int AzProgress_Last(AzProgress_View *view);
/* Number of progress windows created since the start (or the last Forget). */
AZ_EXPORT int AzProgress_Count(void);
/* Drops the snapshots of closed windows (tests start afresh). */
AZ_EXPORT void AzProgress_Forget(void);

/* The user's stop request: sets the record's cancel byte. */
AZ_EXPORT void AzProgress_Cancel(Progress_Record *record);

/* Test switch: while on, WM_CREATE leaves the window without a record. */
AZ_EXPORT void AzProgress_Fail_Record(int on);
}

#endif
