/*
 * user32 over host objects: windows live on the heap, posted messages wait
 * in the queue of the thread that created the window until that thread
 * pumps them, and sent messages call the window procedure at once.
 *
 * Window procedures are never called with a lock of this file held, so a
 * procedure may call back into any function here.
 */
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctype.h>
#include <deque>
#include <map>
#include <mutex>
#include <string.h>
#include <string>
#include <vector>

#include "az_win.h"

#define AZ_ERROR_INVALID_INDEX 1413
#define AZ_ERROR_CLASS_ALREADY_EXISTS 1410
#define AZ_GWL_STYLE (-16)
#define AZ_GWL_EXSTYLE (-20)

struct AZ_Window {
    uint32_t magic;
    std::string class_name;
    std::string title;
    DWORD style;
    DWORD ex_style;
    RECT rect; /* screen for top-level windows, parent client for children */
    bool enabled;
    bool visible;
    bool destroying;
    LONG_PTR user_data;
    LONG id;
    HINSTANCE instance;
    HWND parent;
    std::vector<HWND> children;
    WNDPROC proc;
    DWORD thread;
    unsigned z_order;
    std::vector<uint32_t> pixels;
    int pixels_w;
    int pixels_h;
};

namespace {

const uint32_t window_magic = 0x57494E44; /* "WIND" */

/* Window registry and message queues.  Allocated once and never freed:
 * windows and posts may still be handled while other libraries' static
 * objects are destroyed at exit, and windows alive at exit stay reachable. */
struct Registry {
    std::recursive_mutex win_lock;
    std::map<std::string, WNDPROC> classes;
    std::vector<HWND> windows; /* live windows in creation order */
    HWND active_window = nullptr;
    unsigned z_counter = 0;
    std::string fail_class;
    bool fail_create = false;

    std::mutex queue_lock;
    std::condition_variable queue_ready;
    std::map<DWORD, std::deque<MSG>> queues; /* by owning thread */
};

Registry &Reg()
{
    static Registry *registry = new Registry();
    return *registry;
}

std::atomic<AzWin_Post_Fn> post_hook{nullptr};

std::string Class_Key(const char *name)
{
    std::string key = name ? name : "";
    for (char &c : key)
        c = (char)tolower((unsigned char)c);
    return key;
}

/* Caller holds the window lock. */
bool Window_Live(HWND window)
{
    return window && std::find(Reg().windows.begin(), Reg().windows.end(), window) != Reg().windows.end();
}

/* Caller holds the window lock: the live window or null with the error set. */
HWND Window_Check(HWND window)
{
    if (Window_Live(window))
        return window;
    SetLastError(AZ_ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
}

/* Caller holds the window lock.  Keeps the overlapping part of the old pixels. */
void Window_Pixels_Resize(HWND window, int w, int h)
{
    w = std::max(w, 0);
    h = std::max(h, 0);
    if (w == window->pixels_w && h == window->pixels_h)
        return;
    std::vector<uint32_t> fresh((size_t)w * (size_t)h, 0u);
    int keep_w = std::min(w, window->pixels_w), keep_h = std::min(h, window->pixels_h);
    for (int y = 0; y < keep_h; y++)
        memcpy(&fresh[(size_t)y * w], &window->pixels[(size_t)y * window->pixels_w], (size_t)keep_w * 4);
    window->pixels.swap(fresh);
    window->pixels_w = w;
    window->pixels_h = h;
}

WNDPROC Window_Proc(HWND window)
{
    std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
    return Window_Live(window) ? window->proc : nullptr;
}

void Queue_Purge(HWND window)
{
    std::lock_guard<std::mutex> hold(Reg().queue_lock);
    for (auto &entry : Reg().queues) {
        std::deque<MSG> &q = entry.second;
        q.erase(std::remove_if(q.begin(), q.end(), [window](const MSG &m) { return m.hwnd == window; }), q.end());
    }
}

bool Message_Matches(const MSG &m, HWND window, UINT first, UINT last)
{
    if (window == (HWND)-1 ? m.hwnd != nullptr : window && m.hwnd != window)
        return false;
    return (first == 0 && last == 0) || (m.message >= first && m.message <= last);
}

/* Detaches from the registry; the caller frees.  Caller holds the window lock. */
void Window_Unlink(HWND window)
{
    if (window->parent && Window_Live(window->parent)) {
        std::vector<HWND> &siblings = window->parent->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), window), siblings.end());
    }
    Reg().windows.erase(std::remove(Reg().windows.begin(), Reg().windows.end(), window), Reg().windows.end());
    if (Reg().active_window == window)
        Reg().active_window = nullptr;
    window->magic = 0;
}

/* Children go with their parent, as on Windows: the parent hears
 * WM_DESTROY first and WM_NCDESTROY last. */
void Window_Destroy(HWND window)
{
    std::vector<HWND> children;
    {
        std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
        window->destroying = true;
    }
    SendMessageA(window, WM_DESTROY, 0, 0);
    {
        std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
        children = window->children;
    }
    for (HWND child : children) {
        bool alive;
        {
            std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
            alive = Window_Live(child) && !child->destroying;
        }
        if (alive)
            Window_Destroy(child);
    }
    SendMessageA(window, WM_NCDESTROY, 0, 0);
    {
        std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
        Window_Unlink(window);
    }
    Queue_Purge(window);
    delete window;
}

} // namespace

/* ---- Reg().classes and Reg().windows -------------------------------------------------- */

BOOL RegisterClassA(const WNDCLASSA *wc)
{
    if (!wc || !wc->lpszClassName || !*wc->lpszClassName || !wc->lpfnWndProc) {
        SetLastError(AZ_ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
    if (!Reg().classes.emplace(Class_Key(wc->lpszClassName), wc->lpfnWndProc).second) {
        SetLastError(AZ_ERROR_CLASS_ALREADY_EXISTS);
        return FALSE;
    }
    return TRUE;
}

BOOL AzWin_Unregister_Class(const char *class_name)
{
    std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
    return Reg().classes.erase(Class_Key(class_name)) ? TRUE : FALSE;
}

HWND CreateWindowExA(DWORD ex_style, LPCSTR class_name, LPCSTR title, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param)
{
    HWND window = nullptr;
    {
        std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
        if (Reg().fail_create && Class_Key(class_name) == Reg().fail_class) {
            SetLastError(AZ_ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        if (parent && !Window_Check(parent))
            return nullptr;
        auto found = Reg().classes.find(Class_Key(class_name));
        window = new AZ_Window();
        window->magic = window_magic;
        window->class_name = class_name ? class_name : "";
        window->title = title ? title : "";
        window->style = style;
        window->ex_style = ex_style;
        width = std::max(width, 0);
        height = std::max(height, 0);
        window->rect = RECT{x, y, x + width, y + height};
        window->enabled = !(style & WS_DISABLED);
        window->visible = (style & WS_VISIBLE) != 0;
        window->instance = instance;
        window->parent = parent;
        /* A child's "menu" argument is its identifier. */
        window->id = (style & WS_CHILD) ? (LONG)(intptr_t)menu : 0;
        window->proc = found != Reg().classes.end() ? found->second : DefWindowProcA;
        window->thread = GetCurrentThreadId();
        Window_Pixels_Resize(window, width, height);
        Reg().windows.push_back(window);
        if (parent)
            parent->children.push_back(window);
    }
    CREATESTRUCTA create = {param, instance, menu, parent, height, width, y, x, (LONG)style, title, class_name,
                            ex_style};
    if (SendMessageA(window, WM_CREATE, 0, (LPARAM)&create) == -1) {
        Window_Destroy(window);
        SetLastError(AZ_ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    return window;
}

BOOL DestroyWindow(HWND window)
{
    {
        std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
        if (!Window_Check(window) || window->destroying)
            return FALSE;
    }
    Window_Destroy(window);
    return TRUE;
}

BOOL IsWindow(HWND window)
{
    std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
    return Window_Live(window) ? TRUE : FALSE;
}

HWND GetActiveWindow(void)
{
    std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
    return Reg().active_window;
}

HWND SetActiveWindow(HWND window)
{
    std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
    if (window && !Window_Check(window))
        return nullptr;
    HWND previous = Reg().active_window;
    Reg().active_window = window;
    return previous;
}

LONG_PTR GetWindowLongPtrA(HWND window, int index)
{
    std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
    if (!Window_Check(window))
        return 0;
    switch (index) {
    case GWL_ID: return window->id;
    case GWLP_USERDATA: return window->user_data;
    case GWLP_HINSTANCE: return (LONG_PTR)window->instance;
    case GWLP_WNDPROC: return (LONG_PTR)window->proc;
    case AZ_GWL_STYLE: return (LONG_PTR)window->style;
    case AZ_GWL_EXSTYLE: return (LONG_PTR)window->ex_style;
    default: SetLastError(AZ_ERROR_INVALID_INDEX); return 0;
    }
}

/* The 32-bit form truncates, as the Windows call does on 64-bit systems. */
LONG GetWindowLongA(HWND window, int index) { return (LONG)GetWindowLongPtrA(window, index); }

LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value)
{
    std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
    if (!Window_Check(window))
        return 0;
    LONG_PTR previous = GetWindowLongPtrA(window, index);
    switch (index) {
    case GWL_ID: window->id = (LONG)value; break;
    case GWLP_USERDATA: window->user_data = value; break;
    case GWLP_HINSTANCE: window->instance = (HINSTANCE)value; break;
    case GWLP_WNDPROC:
        if (!value) {
            SetLastError(AZ_ERROR_INVALID_PARAMETER);
            return 0;
        }
        window->proc = (WNDPROC)value;
        break;
    case AZ_GWL_STYLE: window->style = (DWORD)value; break;
    case AZ_GWL_EXSTYLE: window->ex_style = (DWORD)value; break;
    default: SetLastError(AZ_ERROR_INVALID_INDEX); return 0;
    }
    return previous;
}

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL)
{
    bool resized;
    {
        std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
        if (!Window_Check(window))
            return FALSE;
        width = std::max(width, 0);
        height = std::max(height, 0);
        resized = width != window->pixels_w || height != window->pixels_h;
        window->rect = RECT{x, y, x + width, y + height};
        Window_Pixels_Resize(window, width, height);
    }
    if (resized)
        SendMessageA(window, WM_SIZE, 0, (LPARAM)(((uint32_t)height << 16) | ((uint32_t)width & 0xFFFF)));
    return TRUE;
}

BOOL EnableWindow(HWND window, BOOL enable)
{
    std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
    if (!Window_Check(window))
        return FALSE;
    BOOL was_disabled = !window->enabled;
    window->enabled = enable != FALSE;
    return was_disabled;
}

BOOL IsWindowEnabled(HWND window)
{
    std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
    return Window_Check(window) && window->enabled ? TRUE : FALSE;
}

BOOL ShowWindow(HWND window, int command)
{
    std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
    if (!Window_Check(window))
        return FALSE;
    BOOL was_visible = window->visible;
    window->visible = command != SW_HIDE;
    return was_visible;
}

/* Visible only when it and every ancestor are shown. */
BOOL IsWindowVisible(HWND window)
{
    std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
    for (HWND w = window; w; w = w->parent)
        if (!Window_Live(w) || !w->visible)
            return FALSE;
    return window ? TRUE : FALSE;
}

BOOL BringWindowToTop(HWND window)
{
    std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
    if (!Window_Check(window))
        return FALSE;
    window->z_order = ++Reg().z_counter;
    return TRUE;
}

BOOL GetWindowRect(HWND window, RECT *rect)
{
    std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
    if (!Window_Check(window) || !rect)
        return FALSE;
    RECT r = window->rect;
    /* A child's rectangle is relative to its parent's client area, which
     * here starts at the parent's own corner. */
    for (HWND p = window->parent; p && Window_Live(p); p = p->parent) {
        r.left += p->rect.left;
        r.right += p->rect.left;
        r.top += p->rect.top;
        r.bottom += p->rect.top;
    }
    *rect = r;
    return TRUE;
}

BOOL GetClientRect(HWND window, RECT *rect)
{
    std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
    if (!Window_Check(window) || !rect)
        return FALSE;
    *rect = RECT{0, 0, window->pixels_w, window->pixels_h};
    return TRUE;
}

HWND GetParent(HWND window)
{
    std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
    return Window_Check(window) ? window->parent : nullptr;
}

/* ---- messages ------------------------------------------------------------- */

BOOL PostMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    AzWin_Delay(AZ_DELAY_POST);
    DWORD thread;
    if (window) {
        std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
        if (!Window_Check(window))
            return FALSE;
        thread = window->thread;
    } else {
        /* No window: a message for the posting thread itself. */
        thread = GetCurrentThreadId();
    }
    {
        std::lock_guard<std::mutex> hold(Reg().queue_lock);
        Reg().queues[thread].push_back(MSG{window, message, wparam, lparam});
        /* Under the queue lock, so the hook sees posts in queue order. */
        if (AzWin_Post_Fn hook = post_hook.load())
            hook(window, message, wparam, lparam);
    }
    Reg().queue_ready.notify_all();
    return TRUE;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    WNDPROC proc = Window_Proc(window);
    if (!proc) {
        SetLastError(AZ_ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return proc(window, message, wparam, lparam);
}

BOOL PeekMessageA(MSG *msg, HWND window, UINT first, UINT last, UINT remove)
{
    DWORD thread = GetCurrentThreadId();
    std::lock_guard<std::mutex> hold(Reg().queue_lock);
    auto found = Reg().queues.find(thread);
    if (found == Reg().queues.end())
        return FALSE;
    std::deque<MSG> &q = found->second;
    for (auto it = q.begin(); it != q.end(); ++it) {
        if (!Message_Matches(*it, window, first, last))
            continue;
        if (msg)
            *msg = *it;
        if (remove & PM_REMOVE)
            q.erase(it);
        return TRUE;
    }
    return FALSE;
}

LRESULT DispatchMessageA(const MSG *msg)
{
    if (!msg || !msg->hwnd)
        return 0;
    return SendMessageA(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM, LPARAM)
{
    if (message == WM_CLOSE)
        DestroyWindow(window);
    return 0;
}

/* ---- host-internal -------------------------------------------------------- */

int AzWin_Pump(void)
{
    int count = 0;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageA(&msg);
        count++;
    }
    return count;
}

int AzWin_Wait(DWORD milliseconds)
{
    DWORD thread = GetCurrentThreadId();
    std::unique_lock<std::mutex> hold(Reg().queue_lock);
    return Reg().queue_ready.wait_for(hold, std::chrono::milliseconds(milliseconds),
                                [thread] {
                                    auto found = Reg().queues.find(thread);
                                    return found != Reg().queues.end() && !found->second.empty();
                                })
               ? 1
               : 0;
}

AzWin_Post_Fn AzWin_Post_Hook(AzWin_Post_Fn hook)
{
    std::lock_guard<std::mutex> hold(Reg().queue_lock);
    return post_hook.exchange(hook);
}

uint32_t *AzWin_Pixels(HWND window, int *w, int *h)
{
    std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
    if (!Window_Live(window)) {
        if (w)
            *w = 0;
        if (h)
            *h = 0;
        return nullptr;
    }
    if (w)
        *w = window->pixels_w;
    if (h)
        *h = window->pixels_h;
    return window->pixels.data();
}

HWND AzWin_Find(const char *class_name, HWND after)
{
    std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
    auto it = Reg().windows.begin();
    if (after) {
        it = std::find(Reg().windows.begin(), Reg().windows.end(), after);
        if (it == Reg().windows.end())
            return nullptr;
        ++it;
    }
    std::string key = Class_Key(class_name);
    for (; it != Reg().windows.end(); ++it)
        if (!class_name || Class_Key((*it)->class_name.c_str()) == key)
            return *it;
    return nullptr;
}

const char *AzWin_Class_Name(HWND window)
{
    std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
    return Window_Live(window) ? window->class_name.c_str() : "";
}

const char *AzWin_Title(HWND window)
{
    std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
    return Window_Live(window) ? window->title.c_str() : "";
}

DWORD AzWin_Style(HWND window)
{
    std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
    return Window_Live(window) ? window->style : 0;
}

DWORD AzWin_Thread(HWND window)
{
    std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
    return Window_Live(window) ? window->thread : 0;
}

unsigned AzWin_Z_Order(HWND window)
{
    std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
    return Window_Live(window) ? window->z_order : 0;
}

int AzWin_Count(void)
{
    std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
    return (int)Reg().windows.size();
}

void AzWin_Fail_Create(const char *class_name)
{
    std::lock_guard<std::recursive_mutex> hold(Reg().win_lock);
    Reg().fail_create = class_name != nullptr;
    Reg().fail_class = Class_Key(class_name);
}
