/*
 * The Windows calls the module makes (user32, gdi32, kernel32 and the C
 * runtime's thread start), declared as the module calls them.  On this
 * platform they are served by the host's Windows layer (libazwin32):
 * windows are host objects, posted messages are queued for the thread that
 * owns the window and pumped by the host, critical sections are recursive
 * POSIX mutexes, threads are POSIX threads and text is drawn and measured
 * by FreeType with one engine, so measuring and drawing agree.
 *
 * Only what the module (and the host that backs it) needs is declared; the
 * names, constants and results follow the Windows API so that module code
 * reads as it would on its home platform.
 */
#ifndef AZ_WIN32_H
#define AZ_WIN32_H

#include <pthread.h>
#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define AZ_EXPORT __attribute__((visibility("default")))
#define AZ_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define AZ_EXPORT
#define AZ_PRINTF(f, a)
#endif

#define WINAPI
#define CALLBACK
#define __stdcall

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef unsigned int UINT;
typedef unsigned int DWORD;
typedef int32_t LONG;
typedef intptr_t LONG_PTR;
typedef uintptr_t UINT_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef const char *LPCSTR;
typedef void *LPVOID;
typedef void *HANDLE;

struct AZ_Window;
struct AZ_Dc;
struct AZ_Font;
struct AZ_Instance;
typedef struct AZ_Window *HWND;
typedef struct AZ_Dc *HDC;
typedef struct AZ_Font *HFONT;
typedef void *HGDIOBJ;
typedef struct AZ_Instance *HINSTANCE;
typedef struct AZ_Instance *HMODULE;
typedef void *HMENU;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

typedef struct tagRECT {
    LONG left, top, right, bottom;
} RECT;

typedef struct tagSIZE {
    LONG cx, cy;
} SIZE;

typedef struct tagPOINT {
    LONG x, y;
} POINT;

/* Text metrics: the fields the host fills; the rest keep Windows' order. */
typedef struct tagTEXTMETRICA {
    LONG tmHeight;
    LONG tmAscent;
    LONG tmDescent;
    LONG tmInternalLeading;
    LONG tmExternalLeading;
    LONG tmAveCharWidth;
    LONG tmMaxCharWidth;
    LONG tmWeight;
} TEXTMETRICA;

/* A critical section is a recursive mutex, like its Windows namesake:
 * the owner may enter again.  40 bytes on x86-64, as on Windows. */
typedef struct AZ_CRITICAL_SECTION {
    pthread_mutex_t mutex;
} CRITICAL_SECTION;

typedef LRESULT (*WNDPROC)(HWND, UINT, WPARAM, LPARAM);

typedef struct tagWNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    void *hIcon;
    void *hCursor;
    void *hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
} WNDCLASSA;

typedef struct tagMSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
} MSG;

typedef struct tagCREATESTRUCTA {
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy, cx, y, x;
    LONG style;
    LPCSTR lpszName;
    LPCSTR lpszClass;
    DWORD dwExStyle;
} CREATESTRUCTA;

/* Window messages the host's windows understand. */
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_SIZE 0x0005
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_NCDESTROY 0x0082
#define WM_USER 0x0400

/* Window styles and commands. */
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_DISABLED 0x08000000L
#define WS_OVERLAPPEDWINDOW 0x00CF0000L
#define SW_HIDE 0
#define SW_SHOW 5

#define GWL_ID (-12)
#define GWLP_HINSTANCE (-6)
#define GWLP_USERDATA (-21)
#define GWLP_WNDPROC (-4)

/* GDI. */
#define MM_TEXT 1
#define MM_ISOTROPIC 7
#define SYSTEM_FONT 13

#ifdef __cplusplus
extern "C" {
#endif

/* user32 */
AZ_EXPORT BOOL RegisterClassA(const WNDCLASSA *wc);
AZ_EXPORT HWND CreateWindowExA(DWORD ex_style, LPCSTR class_name, LPCSTR title, DWORD style, int x, int y,
                               int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param);
AZ_EXPORT BOOL DestroyWindow(HWND window);
AZ_EXPORT BOOL IsWindow(HWND window);
AZ_EXPORT HWND GetActiveWindow(void);
AZ_EXPORT HWND SetActiveWindow(HWND window);
AZ_EXPORT LONG GetWindowLongA(HWND window, int index);
AZ_EXPORT LONG_PTR GetWindowLongPtrA(HWND window, int index);
AZ_EXPORT LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value);
AZ_EXPORT BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
AZ_EXPORT BOOL EnableWindow(HWND window, BOOL enable);
AZ_EXPORT BOOL IsWindowEnabled(HWND window);
AZ_EXPORT BOOL ShowWindow(HWND window, int command);
AZ_EXPORT BOOL IsWindowVisible(HWND window);
AZ_EXPORT BOOL BringWindowToTop(HWND window);
AZ_EXPORT BOOL GetWindowRect(HWND window, RECT *rect);
AZ_EXPORT BOOL GetClientRect(HWND window, RECT *rect);
AZ_EXPORT HWND GetParent(HWND window);
AZ_EXPORT BOOL PostMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
AZ_EXPORT LRESULT SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
AZ_EXPORT BOOL PeekMessageA(MSG *msg, HWND window, UINT first, UINT last, UINT remove);
AZ_EXPORT LRESULT DispatchMessageA(const MSG *msg);
AZ_EXPORT LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
AZ_EXPORT HDC GetDC(HWND window);
AZ_EXPORT int ReleaseDC(HWND window, HDC dc);
#define PM_NOREMOVE 0
#define PM_REMOVE 1

/* gdi32 */
AZ_EXPORT HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
AZ_EXPORT HGDIOBJ GetStockObject(int which);
AZ_EXPORT BOOL DeleteObject(HGDIOBJ object);
AZ_EXPORT BOOL GetTextMetricsA(HDC dc, TEXTMETRICA *metrics);
AZ_EXPORT BOOL GetTextExtentPoint32A(HDC dc, LPCSTR text, int length, SIZE *size);
AZ_EXPORT int SetMapMode(HDC dc, int mode);
AZ_EXPORT BOOL SetWindowExtEx(HDC dc, int x, int y, SIZE *old);
AZ_EXPORT BOOL SetViewportExtEx(HDC dc, int x, int y, SIZE *old);
AZ_EXPORT BOOL SetViewportOrgEx(HDC dc, int x, int y, POINT *old);

/* kernel32 */
AZ_EXPORT void InitializeCriticalSection(CRITICAL_SECTION *section);
AZ_EXPORT void EnterCriticalSection(CRITICAL_SECTION *section);
AZ_EXPORT void LeaveCriticalSection(CRITICAL_SECTION *section);
AZ_EXPORT void DeleteCriticalSection(CRITICAL_SECTION *section);
AZ_EXPORT BOOL CloseHandle(HANDLE handle);
AZ_EXPORT void Sleep(DWORD milliseconds);
AZ_EXPORT BOOL DisableThreadLibraryCalls(HMODULE module);
AZ_EXPORT DWORD GetLastError(void);
AZ_EXPORT void SetLastError(DWORD code);
AZ_EXPORT DWORD GetCurrentThreadId(void);

/* C runtime thread start and end, and its error values. */
AZ_EXPORT uintptr_t _beginthreadex(void *security, unsigned stack_size, unsigned(__stdcall *start)(void *),
                                   void *arg, unsigned flags, unsigned *thread_id);
AZ_EXPORT void _endthreadex(unsigned code);
AZ_EXPORT unsigned long *__doserrno(void);
#define _doserrno (*__doserrno())

#ifdef __cplusplus
}
#endif

#endif
