/* Windows: creation, longs, geometry and their end; messages: posted, sent,
 * pumped by the owning thread only. */
#include <gtest/gtest.h>

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

void Post_Recorder(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    Note_Down(&posted, window, message, wparam, lparam);
}

HWND Make(const char *cls, DWORD style = 0, HWND parent = nullptr, int x = 0, int y = 0, int w = 1, int h = 1)
{
    return CreateWindowExA(0, cls, "", style, x, y, w, h, parent, nullptr, nullptr, nullptr);
}

std::string Rect_Text(HWND w, bool client = false)
{
    RECT r = {-1, -1, -1, -1};
    if (!(client ? GetClientRect(w, &r) : GetWindowRect(w, &r)))
        return "none";
    return std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) + " " +
           std::to_string(r.bottom);
}

class Windows : public testing::Test {
  protected:
    void SetUp() override
    {
        const struct {
            const char *name;
            WNDPROC proc;
        } classes[] = {{"AzTestRec", Recording_Proc}, {"AzTestRefuse", Refusing_Proc}, {"AzTestQueue", Queue_Proc}};
        for (const auto &c : classes) {
            AzWin_Unregister_Class(c.name);
            WNDCLASSA wc = {};
            wc.lpfnWndProc = c.proc;
            wc.lpszClassName = c.name;
            ASSERT_TRUE(RegisterClassA(&wc));
        }
        AzWin_Pump();
        heard.clear();
        posted.clear();
    }
    void TearDown() override { AzWin_Fail_Create(nullptr); }
    std::vector<Note> Heard()
    {
        std::lock_guard<std::mutex> hold(notes_lock);
        return heard;
    }
};

/* A window of the answering class, whose posts the hook records. */
class Messages : public Windows {
  protected:
    void SetUp() override
    {
        Windows::SetUp();
        previous_hook = AzWin_Post_Hook(Post_Recorder);
        window = Make("AzTestQueue", 0, nullptr, 0, 0, 4, 4);
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override
    {
        AzWin_Post_Hook(previous_hook);
        if (IsWindow(window))
            DestroyWindow(window);
        Windows::TearDown();
    }
    AzWin_Post_Fn previous_hook = nullptr;
    HWND window = nullptr;
};

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
    EXPECT_TRUE(create_seen.lpCreateParams == &param && create_seen.hInstance == instance);
    EXPECT_TRUE(create_seen.x == 30 && create_seen.y == 40 && create_seen.cx == 400 && create_seen.cy == 250);
    EXPECT_STREQ(create_seen.lpszName, "Title");
    EXPECT_EQ(GetWindowLongPtrA(w, GWLP_USERDATA), (LONG_PTR)&user_data_store);
    EXPECT_EQ(GetWindowLongA(w, GWLP_HINSTANCE), 0x400000);
    EXPECT_STREQ(AzWin_Title(w), "Title");

    /* Class names compare without case. */
    EXPECT_EQ(AzWin_Find("aztestrec", nullptr), w);
    WNDCLASSA again = {};
    again.lpfnWndProc = Refusing_Proc;
    again.lpszClassName = "AZTESTREC";
    EXPECT_FALSE(RegisterClassA(&again));
    EXPECT_EQ(GetLastError(), 1410u);

    /* Longs: Set gives the old value; an unknown index fails; a new procedure answers. */
    EXPECT_EQ(SetWindowLongPtrA(w, GWLP_USERDATA, 99), (LONG_PTR)&user_data_store);
    EXPECT_EQ(GetWindowLongPtrA(w, GWLP_USERDATA), 99);
    SetLastError(0);
    EXPECT_EQ(GetWindowLongPtrA(w, 12345), 0);
    EXPECT_EQ(GetLastError(), 1413u);
    EXPECT_EQ(SetWindowLongPtrA(w, GWLP_WNDPROC, (LONG_PTR)Refusing_Proc), (LONG_PTR)Recording_Proc);
    heard.clear();
    EXPECT_EQ(SendMessageA(w, WM_CREATE, 0, 0), -1);
    EXPECT_TRUE(DestroyWindow(w));
    EXPECT_TRUE(heard.empty());
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
    EXPECT_EQ(Make("AzTestRec"), nullptr);
    EXPECT_EQ(GetLastError(), 1407u);
    EXPECT_TRUE(heard.empty()) << "the procedure never runs for a failed creation";
    HWND other = Make("NoSuchClass");
    EXPECT_NE(other, nullptr) << "only the named class fails";
    DestroyWindow(other);
    AzWin_Fail_Create(nullptr);
    HWND back = Make("AzTestRec");
    EXPECT_NE(back, nullptr);
    DestroyWindow(back);
    EXPECT_EQ(AzWin_Count(), before);
    EXPECT_EQ(Make("AzTestRec", WS_CHILD, back), nullptr) << "a dead parent is refused";
    EXPECT_EQ(GetLastError(), 1400u);
}

TEST_F(Windows, ChildGeometryStateAndPixels)
{
    HWND top = Make("AzTestRec", WS_OVERLAPPEDWINDOW, nullptr, 100, 50, 300, 200);
    HWND child = CreateWindowExA(0, "AzTestRec", nullptr, 0x58000000, 0, 0, 10, 10, top, (HMENU)(intptr_t)77,
                                 nullptr, nullptr);
    ASSERT_NE(child, nullptr);
    EXPECT_TRUE(GetParent(child) == top && GetParent(top) == nullptr);
    EXPECT_EQ(GetWindowLongA(child, GWL_ID), 77);
    EXPECT_EQ(GetWindowLongA(top, GWL_ID), 0) << "only children take the menu argument as id";
    EXPECT_FALSE(IsWindowEnabled(child)) << "created disabled";
    EXPECT_FALSE(IsWindowVisible(child)) << "visible style, but the parent is hidden";
    ShowWindow(top, SW_SHOW);
    EXPECT_TRUE(IsWindowVisible(child));
    EXPECT_TRUE(EnableWindow(child, TRUE)) << "was disabled";
    EXPECT_TRUE(IsWindowEnabled(child));

    /* A resize is heard and resizes the pixels; a plain move keeps them and says nothing. */
    heard.clear();
    EXPECT_TRUE(MoveWindow(child, 12, 34, 120, 80, FALSE));
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].message, (UINT)WM_SIZE);
    EXPECT_EQ(heard[0].lparam, (LPARAM)((80 << 16) | 120));
    int w = 0, h = 0;
    uint32_t *px = AzWin_Pixels(child, &w, &h);
    ASSERT_TRUE(px && w == 120 && h == 80);
    px[79 * 120 + 119] = 0xFF00FF00u;
    heard.clear();
    MoveWindow(child, 20, 40, 120, 80, TRUE);
    EXPECT_TRUE(heard.empty());
    EXPECT_EQ(AzWin_Pixels(child, &w, &h)[79 * 120 + 119], 0xFF00FF00u);
    EXPECT_EQ(Rect_Text(child), "120 90 240 170");
    EXPECT_EQ(Rect_Text(child, true), "0 0 120 80");
    EXPECT_TRUE(BringWindowToTop(top));
    EXPECT_GT(AzWin_Z_Order(top), AzWin_Z_Order(child));

    /* The parent hears of its end first and last; its children go with it. */
    heard.clear();
    EXPECT_TRUE(DestroyWindow(top));
    std::vector<std::pair<HWND, UINT>> order, want = {
        {top, WM_DESTROY}, {child, WM_DESTROY}, {child, WM_NCDESTROY}, {top, WM_NCDESTROY}};
    for (const Note &e : heard)
        order.push_back({e.window, e.message});
    EXPECT_EQ(order, want);
    EXPECT_FALSE(IsWindow(child));
    SetLastError(0);
    EXPECT_FALSE(DestroyWindow(top));
    EXPECT_EQ(GetLastError(), 1400u);
    EXPECT_TRUE(AzWin_Pixels(top, &w, &h) == nullptr && w == 0);
}

TEST_F(Messages, PostedInOrderAndDeliveredOnlyByThePump)
{
    EXPECT_TRUE(PostMessageA(window, WM_USER + 23, 0, 0));
    EXPECT_TRUE(PostMessageA(window, WM_USER + 25, 7, -3));
    EXPECT_TRUE(PostMessageA(window, WM_USER + 20, 0, 0));
    EXPECT_TRUE(Heard().empty()) << "posting never calls the procedure";
    std::vector<Note> want = {{window, 1047, 0, 0, 0}, {window, 1049, 7, -3, 0}, {window, 1044, 0, 0, 0}};
    EXPECT_EQ(posted, want);
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, window, 1049, 1049, PM_NOREMOVE)) << "range filter skips the first";
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_EQ(AzWin_Pump(), 3);
    EXPECT_EQ(Heard(), want);
    EXPECT_EQ(AzWin_Pump(), 0);
    EXPECT_EQ(SendMessageA(window, WM_USER + 5, 1, 2), (LRESULT)(WM_USER + 5 + 1000)) << "sent: answered at once";
    EXPECT_EQ(Heard().size(), 4u);
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
    EXPECT_EQ(worker_pumped, 0);
    EXPECT_TRUE(Heard().empty());
    EXPECT_EQ(AzWin_Pump(), 2);
    std::vector<Note> got = Heard();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].wparam, 1u);
    EXPECT_EQ(got[1].message, 1045u);
    EXPECT_EQ(got[1].thread, GetCurrentThreadId());

    /* A window made by a worker is served by that worker only. */
    std::promise<HWND> made;
    std::promise<void> posted_now;
    std::promise<int> worker_count;
    std::thread owner([&] {
        HWND w = CreateWindowExA(0, "AzTestQueue", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
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
    EXPECT_EQ(Heard().back().message, 1048u);
    EXPECT_NE(Heard().back().thread, GetCurrentThreadId());
}

TEST_F(Messages, DeadWindowsTakeNoPostsAndLoseTheirQueue)
{
    PostMessageA(window, 1044, 0, 0);
    DestroyWindow(window);
    size_t hooked = posted.size();
    SetLastError(0);
    EXPECT_FALSE(PostMessageA(window, 1045, 0, 0));
    EXPECT_EQ(GetLastError(), 1400u);
    EXPECT_EQ(posted.size(), hooked) << "a refused post is not reported to the hook";
    EXPECT_EQ(AzWin_Pump(), 0) << "the pending post died with its window";
    EXPECT_TRUE(Heard().empty());
}
