#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

#include "hostlib/win32/az_win.h"

namespace {

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
std::vector<Note> delivered, posted;

LRESULT CALLBACK Queue_Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_CREATE || message == WM_DESTROY || message == WM_NCDESTROY)
        return 0;
    std::lock_guard<std::mutex> hold(notes_lock);
    delivered.push_back(Note{window, message, wparam, lparam, GetCurrentThreadId()});
    return (LRESULT)(message + 1000);
}

void Post_Recorder(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    std::lock_guard<std::mutex> hold(notes_lock);
    posted.push_back(Note{window, message, wparam, lparam, GetCurrentThreadId()});
}

class Messages : public testing::Test {
  protected:
    void SetUp() override
    {
        AzWin_Unregister_Class("AzTestQueue");
        WNDCLASSA wc = {};
        wc.lpfnWndProc = Queue_Proc;
        wc.lpszClassName = "AzTestQueue";
        ASSERT_TRUE(RegisterClassA(&wc));
        AzWin_Pump();
        delivered.clear();
        posted.clear();
        previous_hook = AzWin_Post_Hook(Post_Recorder);
        window = CreateWindowExA(0, "AzTestQueue", "q", 0, 0, 0, 4, 4, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override
    {
        AzWin_Post_Hook(previous_hook);
        if (IsWindow(window))
            DestroyWindow(window);
    }
    std::vector<Note> Delivered()
    {
        std::lock_guard<std::mutex> hold(notes_lock);
        return delivered;
    }
    AzWin_Post_Fn previous_hook = nullptr;
    HWND window = nullptr;
};

} // namespace

TEST_F(Messages, PostedInOrderAndDeliveredOnlyByThePump)
{
    EXPECT_TRUE(PostMessageA(window, WM_USER + 23, 0, 0));
    EXPECT_TRUE(PostMessageA(window, WM_USER + 25, 7, -3));
    EXPECT_TRUE(PostMessageA(window, WM_USER + 20, 0, 0));
    EXPECT_TRUE(Delivered().empty()) << "posting never calls the procedure";
    std::vector<Note> want = {{window, 1047, 0, 0, 0}, {window, 1049, 7, -3, 0}, {window, 1044, 0, 0, 0}};
    EXPECT_EQ(posted, want);
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, window, 1049, 1049, PM_NOREMOVE)) << "range filter skips the first";
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_EQ(AzWin_Pump(), 3);
    EXPECT_EQ(Delivered(), want);
    EXPECT_EQ(AzWin_Pump(), 0);
    EXPECT_EQ(SendMessageA(window, WM_USER + 5, 1, 2), (LRESULT)(WM_USER + 5 + 1000)) << "sent: answered at once";
    EXPECT_EQ(Delivered().size(), 4u);
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
    EXPECT_TRUE(Delivered().empty());
    EXPECT_EQ(AzWin_Pump(), 2);
    std::vector<Note> got = Delivered();
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
    EXPECT_EQ(Delivered().back().message, 1048u);
    EXPECT_NE(Delivered().back().thread, GetCurrentThreadId());
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
    EXPECT_TRUE(Delivered().empty());
}
