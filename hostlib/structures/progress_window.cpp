/*
 * The host's "Progress" window class.  WM_CREATE allocates the shared
 * record (so it is in place when CreateWindowExA returns), the posted
 * messages refresh a display snapshot, and 1045 destroys the window, whose
 * WM_NCDESTROY frees the record.  Headless, the snapshot is the display;
 * an interactive host draws from it.
 */
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <deque>
#include <mutex>

#include "../../host/corvantis_util.h"
#include "az_progress.h"

namespace {

/* Closed windows' snapshots kept for reading back, oldest dropped first. */
const size_t views_kept = 32;

std::mutex views_lock;
std::deque<AzProgress_View> views;
std::atomic<int> views_count(0);
std::atomic<int> fail_record(0);
std::once_flag registered;
int registered_ok = 0;

/* Newest snapshot of a window; call with views_lock held. */
AzProgress_View *View_Of(HWND window)
{
    for (auto it = views.rbegin(); it != views.rend(); ++it)
        if (it->window == window)
            return &*it;
    return nullptr;
}

void View_Add(HWND window, Progress_Record *record, const char *title)
{
    AzProgress_View view = {};
    view.window = window;
    view.record = record;
    view.title = title ? title : "";
    std::lock_guard<std::mutex> hold(views_lock);
    if (views.size() >= views_kept) {
        for (auto it = views.begin(); it != views.end(); ++it)
            if (it->closed) {
                views.erase(it);
                break;
            }
    }
    views.push_back(view);
    views_count++;
}

Progress_Record *Record_Of(HWND window)
{
    return (Progress_Record *)GetWindowLongPtrA(window, GWLP_USERDATA);
}

LRESULT Progress_Create_Record(HWND window, const CREATESTRUCTA *create)
{
    Progress_Record *record = nullptr;
    if (!fail_record.load()) {
        record = (Progress_Record *)calloc(1, sizeof(Progress_Record));
        if (!record)
            return -1;
        record->window = window;
        InitializeCriticalSection(&record->lock);
        SetWindowLongPtrA(window, GWLP_USERDATA, (LONG_PTR)record);
    }
    View_Add(window, record, create ? create->lpszName : nullptr);
    return 0;
}

void Progress_Free_Record(HWND window)
{
    Progress_Record *record = Record_Of(window);
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    {
        std::lock_guard<std::mutex> hold(views_lock);
        AzProgress_View *view = View_Of(window);
        if (view) {
            view->record = nullptr;
            view->closed = 1;
        }
    }
    if (!record)
        return;
    DeleteCriticalSection(&record->lock);
    free(record);
}

/* Copies what the message announces from the record into the snapshot.
 * New lines are echoed to the console, since a headless host shows no window. */
void Progress_Refresh(HWND window, UINT message)
{
    Progress_Record *record = Record_Of(window);
    std::vector<std::string> fresh;
    {
        std::lock_guard<std::mutex> hold(views_lock);
        AzProgress_View *view = View_Of(window);
        if (!view || !record)
            return;
        view->received[message - PROGRESS_MSG_STEP]++;
        EnterCriticalSection(&record->lock);
        switch (message) {
        case PROGRESS_MSG_STEP:
            view->pos = record->pos;
            break;
        case PROGRESS_MSG_READY:
            view->subtitle.assign(record->subtitle, strnlen(record->subtitle, sizeof(record->subtitle)));
            break;
        case PROGRESS_MSG_MAX:
            view->max = record->max;
            view->pos = record->pos;
            break;
        case PROGRESS_MSG_LINE:
            for (int i = (int)view->lines.size(); i < record->lines_nb; i++) {
                view->lines.emplace_back(record->lines[i], strnlen(record->lines[i], PROGRESS_LINE_SIZE));
                fresh.push_back(view->lines.back());
            }
            break;
        }
        LeaveCriticalSection(&record->lock);
    }
    for (const std::string &line : fresh)
        Error_Fct(hwnd, 11, "Progress: %s", line.c_str());
}

void Progress_Count_Close(HWND window)
{
    std::lock_guard<std::mutex> hold(views_lock);
    AzProgress_View *view = View_Of(window);
    if (view)
        view->received[PROGRESS_MSG_CLOSE - PROGRESS_MSG_STEP]++;
}

void Progress_Set_Cancel(Progress_Record *record)
{
    __atomic_store_n(&record->cancel, 1, __ATOMIC_RELAXED);
    std::lock_guard<std::mutex> hold(views_lock);
    AzProgress_View *view = View_Of(record->window);
    if (view)
        view->cancel = 1;
}

LRESULT Progress_Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_CREATE:
        return Progress_Create_Record(window, (const CREATESTRUCTA *)lparam);
    case PROGRESS_MSG_STEP:
    case PROGRESS_MSG_READY:
    case PROGRESS_MSG_MAX:
    case PROGRESS_MSG_LINE:
        Progress_Refresh(window, message);
        return 0;
    case PROGRESS_MSG_CLOSE:
        Progress_Count_Close(window);
        DestroyWindow(window);
        return 0;
    case WM_CLOSE:
        /* Closing the window by hand asks the worker to stop; the worker closes it. */
        if (Record_Of(window))
            Progress_Set_Cancel(Record_Of(window));
        return 0;
    case WM_NCDESTROY:
        Progress_Free_Record(window);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

void Progress_Register_Once()
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = Progress_Procedure;
    wc.lpszClassName = PROGRESS_CLASS_NAME;
    registered_ok = RegisterClassA(&wc) ? 1 : 0;
}

} // namespace

int AzProgress_Register(void)
{
    std::call_once(registered, Progress_Register_Once);
    return registered_ok;
}

int AzProgress_State(HWND window, AzProgress_View *view)
{
    std::lock_guard<std::mutex> hold(views_lock);
    AzProgress_View *found = View_Of(window);
    if (!found)
        return 0;
    *view = *found;
    return 1;
}

int AzProgress_State_Record(const Progress_Record *record, AzProgress_View *view)
{
    std::lock_guard<std::mutex> hold(views_lock);
    for (auto it = views.rbegin(); it != views.rend(); ++it)
        if (record && it->record == record) {
            *view = *it;
            return 1;
        }
    return 0;
}

int AzProgress_Last(AzProgress_View *view)
{
    std::lock_guard<std::mutex> hold(views_lock);
    if (views.empty())
        return 0;
    *view = views.back();
    return 1;
}

int AzProgress_Count(void) { return views_count.load(); }

void AzProgress_Forget(void)
{
    std::lock_guard<std::mutex> hold(views_lock);
    for (auto it = views.begin(); it != views.end();)
        it = it->closed ? views.erase(it) : it + 1;
    views_count = 0;
}

void AzProgress_Cancel(Progress_Record *record)
{
    if (record)
        Progress_Set_Cancel(record);
}

void AzProgress_Fail_Record(int on) { fail_record = on; }
