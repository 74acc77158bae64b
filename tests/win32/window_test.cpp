/* Windows: creation, longs, geometry and their end; messages: posted, sent,
 * pumped by the owning thread only. */
#include <gtest/gtest.h>
#include <string.h>

#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hostlib/win32/az_win.h"

namespace {

/* What a procedure or the post hook heard. */
struct Note {
    HWND window;
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
    DWORD thread;
    bool operator==(const Note &o) const
    {
        return window == o.window && message == o.message && wparam == o.wparam && lparam == o.lparam;
    }
};
std::mutex notes_lock;
std::vector<Note> heard, posted;
CREATESTRUCTA create_seen;
int user_data_store;

void Note_Down(std::vector<Note> *notes, HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    std::lock_guard<std::mutex> hold(notes_lock);
    notes->push_back(Note{window, message, wparam, lparam, GetCurrentThreadId()});
}

std::vector<Note> Heard()
{
    std::lock_guard<std::mutex> hold(notes_lock);
    return heard;
}

LRESULT CALLBACK Recording_Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    Note_Down(&heard, window, message, wparam, lparam);
    if (message == WM_CREATE) {
        create_seen = *reinterpret_cast<CREATESTRUCTA *>(lparam);
        /* Set while creating: must be in place when CreateWindowExA returns. */
        SetWindowLongPtrA(window, GWLP_USERDATA, (LONG_PTR)&user_data_store);
    }
    return 0;
}

LRESULT CALLBACK Refusing_Proc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_CREATE ? -1 : 0; }

/* Answers every message but the life-cycle ones with its number + 1000. */
LRESULT CALLBACK Queue_Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_CREATE || message == WM_DESTROY || message == WM_NCDESTROY)
        return 0;
    Note_Down(&heard, window, message, wparam, lparam);
    return (LRESULT)(message + 1000);
}

HWND Make(const char *cls, DWORD style = 0, HWND parent = nullptr, int x = 0, int y = 0, int w = 1, int h = 1)
{
    return CreateWindowExA(0, cls, "", style, x, y, w, h, parent, nullptr, nullptr, nullptr);
}

/* The three test classes registered anew, and a window of the answering
 * class whose posts the hook records. */
class Windows : public testing::Test {
  protected:
    void SetUp() override
    {
        const std::pair<const char *, WNDPROC> classes[] = {
            {"AzTestRec", Recording_Proc}, {"AzTestRefuse", Refusing_Proc}, {"AzTestQueue", Queue_Proc}};
        for (const auto &c : classes) {
            AzWin_Unregister_Class(c.first);
            WNDCLASSA wc = {};
            wc.lpfnWndProc = c.second;
            wc.lpszClassName = c.first;
            ASSERT_TRUE(RegisterClassA(&wc));
        }
        previous_hook = AzWin_Post_Hook([](HWND w, UINT m, WPARAM wp, LPARAM lp) { Note_Down(&posted, w, m, wp, lp); });
        ASSERT_NE(window = Make("AzTestQueue", 0, nullptr, 0, 0, 4, 4), nullptr);
        AzWin_Pump();
        heard.clear();
        posted.clear();
    }
    void TearDown() override
    {
        AzWin_Post_Hook(previous_hook);
        if (IsWindow(window))
            DestroyWindow(window);
        AzWin_Fail_Create(nullptr);
    }
    AzWin_Post_Fn previous_hook = nullptr;
    HWND window = nullptr;
};
typedef Windows Messages;

} // namespace

TEST_F(Windows, CreationCallsTheProcedureFirstAndLongsAnswer)
{
    int param = 0;
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(0x400000);
    HWND w = CreateWindowExA(0, "AzTestRec", "Title", WS_OVERLAPPEDWINDOW, 30, 40, 400, 250, nullptr, nullptr,
                             instance, &param);
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_TRUE(heard[0].window == w && heard[0].message == WM_CREATE);
    EXPECT_TRUE(create_seen.lpCreateParams == &param && create_seen.hInstance == instance && create_seen.x == 30 &&
                create_seen.y == 40 && create_seen.cx == 400 && create_seen.cy == 250);
    EXPECT_TRUE(!strcmp(create_seen.lpszName, "Title") && !strcmp(AzWin_Title(w), "Title"));
    EXPECT_EQ(GetWindowLongPtrA(w, GWLP_USERDATA), (LONG_PTR)&user_data_store);
    EXPECT_EQ(GetWindowLongA(w, GWLP_HINSTANCE), 0x400000);
    /* Class names compare without case. */
    EXPECT_EQ(AzWin_Find("aztestrec", nullptr), w);
    WNDCLASSA again = {};
    again.lpfnWndProc = Refusing_Proc;
    again.lpszClassName = "AZTESTREC";
    EXPECT_TRUE(!RegisterClassA(&again) && GetLastError() == 1410u);
    /* Longs: Set gives the old value; an unknown index fails; a new procedure answers. */
    EXPECT_EQ(SetWindowLongPtrA(w, GWLP_USERDATA, 99), (LONG_PTR)&user_data_store);
    EXPECT_EQ(GetWindowLongPtrA(w, GWLP_USERDATA), 99);
    SetLastError(0);
    EXPECT_TRUE(GetWindowLongPtrA(w, 12345) == 0 && GetLastError() == 1413u);
    EXPECT_EQ(SetWindowLongPtrA(w, GWLP_WNDPROC, (LONG_PTR)Refusing_Proc), (LONG_PTR)Recording_Proc);
    heard.clear();
    EXPECT_EQ(SendMessageA(w, WM_CREATE, 0, 0), -1);
    EXPECT_TRUE(DestroyWindow(w) && heard.empty());
}

TEST_F(Windows, UnknownClassMakesAPlainWindowAndRefusalsFail)
{
    int before = AzWin_Count();
    HWND plain = Make("NoSuchClass");
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(SendMessageA(plain, WM_USER + 1, 1, 2), 0);
    SendMessageA(plain, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(plain)) << "the default procedure closes by destroying";
    EXPECT_EQ(Make("AzTestRefuse"), nullptr);
    EXPECT_EQ(AzWin_Count(), before) << "a refused window leaves nothing behind";
    AzWin_Fail_Create("AzTestRec");
    SetLastError(0);
    EXPECT_TRUE(Make("AzTestRec") == nullptr && GetLastError() == 1407u);
    EXPECT_TRUE(heard.empty()) << "the procedure never runs for a failed creation";
    HWND other = Make("NoSuchClass");
    EXPECT_NE(other, nullptr) << "only the named class fails";
    DestroyWindow(other);
    AzWin_Fail_Create(nullptr);
    HWND back = Make("AzTestRec");
    EXPECT_TRUE(back && DestroyWindow(back) && AzWin_Count() == before);
    EXPECT_TRUE(Make("AzTestRec", WS_CHILD, back) == nullptr && GetLastError() == 1400u) << "a dead parent";
}

TEST_F(Windows, ChildGeometryStateAndPixels)
{
    HWND top = Make("AzTestRec", WS_OVERLAPPEDWINDOW, nullptr, 100, 50, 300, 200);
    HWND child = CreateWindowExA(0, "AzTestRec", nullptr, 0x58000000, 0, 0, 10, 10, top, (HMENU)(intptr_t)77,
                                 nullptr, nullptr);
    ASSERT_NE(child, nullptr);
    EXPECT_TRUE(GetParent(child) == top && GetParent(top) == nullptr);
    EXPECT_TRUE(GetWindowLongA(child, GWL_ID) == 77 && GetWindowLongA(top, GWL_ID) == 0) << "children only have ids";
    /* Created disabled; visible style, but hidden while the parent is. */
    EXPECT_TRUE(!IsWindowEnabled(child) && !IsWindowVisible(child));
    ShowWindow(top, SW_SHOW);
    EXPECT_TRUE(IsWindowVisible(child));
    EXPECT_TRUE(EnableWindow(child, TRUE) && IsWindowEnabled(child)) << "was disabled";
    /* A resize is heard and resizes the pixels; a plain move keeps them and says nothing. */
    heard.clear();
    EXPECT_TRUE(MoveWindow(child, 12, 34, 120, 80, FALSE));
    EXPECT_EQ(heard, std::vector<Note>({{child, WM_SIZE, 0, (80 << 16) | 120, 0}}));
    int w = 0, h = 0;
    uint32_t *px = AzWin_Pixels(child, &w, &h);
    ASSERT_TRUE(px && w == 120 && h == 80);
    px[79 * 120 + 119] = 0xFF00FF00u;
    heard.clear();
    MoveWindow(child, 20, 40, 120, 80, TRUE);
    EXPECT_TRUE(heard.empty() && AzWin_Pixels(child, &w, &h)[79 * 120 + 119] == 0xFF00FF00u);
    RECT o = {}, c = {};  // the window on the screen, the client area
    ASSERT_TRUE(GetWindowRect(child, &o) && GetClientRect(child, &c));
    EXPECT_TRUE(o.left == 120 && o.top == 90 && o.right == 240 && o.bottom == 170 && c.left == 0 && c.top == 0 &&
                c.right == 120 && c.bottom == 80);
    EXPECT_TRUE(BringWindowToTop(top) && AzWin_Z_Order(top) > AzWin_Z_Order(child));
    /* The parent hears of its end first and last; its children go with it. */
    heard.clear();
    EXPECT_TRUE(DestroyWindow(top));
    std::vector<std::pair<HWND, UINT>> order, want = {
        {top, WM_DESTROY}, {child, WM_DESTROY}, {child, WM_NCDESTROY}, {top, WM_NCDESTROY}};
    for (const Note &e : heard)
        order.push_back({e.window, e.message});
    EXPECT_EQ(order, want);
    SetLastError(0);
    EXPECT_TRUE(!IsWindow(child) && !DestroyWindow(top) && GetLastError() == 1400u);
    EXPECT_TRUE(AzWin_Pixels(top, &w, &h) == nullptr && w == 0);
}

TEST_F(Messages, PostedInOrderDeliveredOnlyByThePumpAndLostWithTheWindow)
{
    EXPECT_TRUE(PostMessageA(window, WM_USER + 23, 0, 0));
    EXPECT_TRUE(PostMessageA(window, WM_USER + 25, 7, -3));
    EXPECT_TRUE(PostMessageA(window, WM_USER + 20, 0, 0));
    EXPECT_TRUE(Heard().empty()) << "posting never calls the procedure";
    std::vector<Note> want = {{window, 1047, 0, 0, 0}, {window, 1049, 7, -3, 0}, {window, 1044, 0, 0, 0}};
    EXPECT_EQ(posted, want);
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, window, 1049, 1049, PM_NOREMOVE) && msg.wParam == 7u) << "range filter";
    EXPECT_EQ(AzWin_Pump(), 3);
    EXPECT_EQ(Heard(), want);
    EXPECT_EQ(AzWin_Pump(), 0);
    EXPECT_EQ(SendMessageA(window, WM_USER + 5, 1, 2), (LRESULT)(WM_USER + 5 + 1000)) << "sent: answered at once";
    EXPECT_EQ(Heard().size(), 4u);
    /* A dead window takes no post, and its pending posts die with it. */
    PostMessageA(window, 1044, 0, 0);
    DestroyWindow(window);
    SetLastError(0);
    EXPECT_TRUE(!PostMessageA(window, 1045, 0, 0) && GetLastError() == 1400u);
    EXPECT_EQ(posted.size(), 4u) << "a refused post is not reported to the hook";
    EXPECT_TRUE(AzWin_Pump() == 0 && Heard().size() == 4u);
}

TEST_F(Messages, OnlyTheOwningThreadReceivesAndAPostWakesTheWait)
{
    /* A worker posts to the main thread's window while it waits, and pumps its own queue. */
    EXPECT_EQ(AzWin_Wait(0), 0) << "nothing pending";
    std::promise<void> waiting;
    int worker_pumped = -1;
    std::thread worker([&] {
        waiting.get_future().wait();
        PostMessageA(window, 1044, 1, 0);
        PostMessageA(window, 1045, 2, 0);
        worker_pumped = AzWin_Pump();
    });
    waiting.set_value();
    EXPECT_EQ(AzWin_Wait(60000), 1);  // generous bound: the post wakes the wait long before it
    worker.join();
    EXPECT_TRUE(worker_pumped == 0 && Heard().empty());
    EXPECT_EQ(AzWin_Pump(), 2);
    std::vector<Note> got = Heard();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_TRUE(got[0].wparam == 1u && got[1].message == 1045u && got[1].thread == GetCurrentThreadId());
    /* A window made by a worker is served by that worker only. */
    std::promise<HWND> made;
    std::promise<void> posted_now;
    std::promise<int> worker_count;
    std::thread owner([&] {
        HWND w = Make("AzTestQueue");
        made.set_value(w);
        posted_now.get_future().wait();
        worker_count.set_value(AzWin_Pump());
        DestroyWindow(w);
    });
    HWND foreign = made.get_future().get();
    EXPECT_NE(AzWin_Thread(foreign), GetCurrentThreadId());
    EXPECT_TRUE(PostMessageA(foreign, 1048, 0, 0));
    EXPECT_EQ(AzWin_Pump(), 0);
    posted_now.set_value();
    EXPECT_EQ(worker_count.get_future().get(), 1);
    owner.join();
    EXPECT_TRUE(Heard().back().message == 1048u && Heard().back().thread != GetCurrentThreadId());
}
