#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "hostlib/win32/az_win.h"

namespace {

struct Heard {
    HWND window;
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
};

std::vector<Heard> heard;
CREATESTRUCTA create_seen;
int user_data_store;

LRESULT CALLBACK Recording_Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    heard.push_back(Heard{window, message, wparam, lparam});
    if (message == WM_CREATE) {
        create_seen = *reinterpret_cast<CREATESTRUCTA *>(lparam);
        /* Set while creating: must be in place when CreateWindowExA returns. */
        SetWindowLongPtrA(window, GWLP_USERDATA, (LONG_PTR)&user_data_store);
    }
    return 0;
}

LRESULT CALLBACK Refusing_Proc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_CREATE ? -1 : 0; }

/* Registers the test classes once per test, forgetting older registrations. */
class Windows : public testing::Test {
  protected:
    void SetUp() override
    {
        heard.clear();
        AzWin_Unregister_Class("AzTestRec");
        AzWin_Unregister_Class("AzTestRefuse");
        WNDCLASSA wc = {};
        wc.lpfnWndProc = Recording_Proc;
        wc.lpszClassName = "AzTestRec";
        ASSERT_TRUE(RegisterClassA(&wc));
        wc.lpfnWndProc = Refusing_Proc;
        wc.lpszClassName = "AzTestRefuse";
        ASSERT_TRUE(RegisterClassA(&wc));
    }
    void TearDown() override { AzWin_Fail_Create(nullptr); }
};

std::vector<UINT> Messages_Of(HWND window)
{
    std::vector<UINT> out;
    for (const Heard &h : heard)
        if (h.window == window)
            out.push_back(h.message);
    return out;
}

} // namespace

TEST_F(Windows, CreationCallsTheProcedureFirstWithItsArguments)
{
    int param = 0;
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(0x400000);
    HWND w = CreateWindowExA(0, "AzTestRec", "Title", WS_OVERLAPPEDWINDOW, 30, 40, 400, 250, nullptr, nullptr,
                             instance, &param);
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].window, w);
    EXPECT_EQ(heard[0].message, (UINT)WM_CREATE);
    EXPECT_EQ(create_seen.lpCreateParams, &param);
    EXPECT_EQ(create_seen.cx, 400);
    EXPECT_EQ(create_seen.cy, 250);
    EXPECT_EQ(create_seen.x, 30);
    EXPECT_EQ(create_seen.y, 40);
    EXPECT_STREQ(create_seen.lpszName, "Title");
    EXPECT_EQ(create_seen.style, (LONG)WS_OVERLAPPEDWINDOW);
    EXPECT_EQ(create_seen.hInstance, instance);
    EXPECT_EQ(GetWindowLongPtrA(w, GWLP_USERDATA), (LONG_PTR)&user_data_store);
    EXPECT_EQ(GetWindowLongPtrA(w, GWLP_HINSTANCE), (LONG_PTR)0x400000);
    EXPECT_EQ(GetWindowLongA(w, GWLP_HINSTANCE), 0x400000);
    EXPECT_STREQ(AzWin_Class_Name(w), "AzTestRec");
    EXPECT_STREQ(AzWin_Title(w), "Title");
    EXPECT_EQ(AzWin_Thread(w), GetCurrentThreadId());

    /* Class names compare without case, like Windows'. */
    EXPECT_EQ(AzWin_Find("aztestrec", nullptr), w);
    WNDCLASSA again = {};
    again.lpfnWndProc = Refusing_Proc;
    again.lpszClassName = "AZTESTREC";
    EXPECT_FALSE(RegisterClassA(&again));
    EXPECT_EQ(GetLastError(), 1410u);
    EXPECT_TRUE(DestroyWindow(w));
}

TEST_F(Windows, UnknownClassMakesAPlainWindowAndRefusalsFail)
{
    int before = AzWin_Count();
    HWND plain = CreateWindowExA(0, "NoSuchClass", nullptr, 0, 0, 0, 5, 6, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(plain, nullptr);
    EXPECT_TRUE(IsWindow(plain));
    EXPECT_EQ(GetWindowLongPtrA(plain, GWLP_USERDATA), 0);
    EXPECT_EQ(SendMessageA(plain, WM_USER + 1, 1, 2), 0);
    /* The default procedure closes by destroying. */
    SendMessageA(plain, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(plain));

    SetLastError(0);
    EXPECT_EQ(CreateWindowExA(0, "AzTestRefuse", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(AzWin_Count(), before) << "a refused window leaves nothing behind";

    AzWin_Fail_Create("AzTestRec");
    SetLastError(0);
    EXPECT_EQ(CreateWindowExA(0, "AzTestRec", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), 1407u);
    EXPECT_TRUE(heard.empty()) << "the procedure never runs for a failed creation";
    HWND other = CreateWindowExA(0, "NoSuchClass", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    EXPECT_NE(other, nullptr) << "only the named class fails";
    DestroyWindow(other);
    AzWin_Fail_Create(nullptr);
    HWND back = CreateWindowExA(0, "AzTestRec", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    EXPECT_NE(back, nullptr);
    DestroyWindow(back);
    EXPECT_EQ(AzWin_Count(), before);

    /* A dead parent is refused. */
    EXPECT_EQ(CreateWindowExA(0, "AzTestRec", "", WS_CHILD, 0, 0, 1, 1, back, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), 1400u);
}

TEST_F(Windows, ChildGeometryStateAndPixels)
{
    HWND top = CreateWindowExA(0, "AzTestRec", "top", WS_OVERLAPPEDWINDOW, 100, 50, 300, 200, nullptr, nullptr,
                               nullptr, nullptr);
    HWND child = CreateWindowExA(0, "AzTestRec", nullptr, 0x58000000, 0, 0, 10, 10, top, (HMENU)(intptr_t)77,
                                 nullptr, nullptr);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(GetParent(child), top);
    EXPECT_EQ(GetParent(top), nullptr);
    EXPECT_EQ(GetWindowLongA(child, GWL_ID), 77);
    EXPECT_EQ(GetWindowLongA(top, GWL_ID), 0) << "only children take the menu argument as id";
    EXPECT_FALSE(IsWindowEnabled(child)) << "created disabled";
    EXPECT_TRUE(IsWindowEnabled(top));
    EXPECT_FALSE(IsWindowVisible(child)) << "visible style, but the parent is hidden";
    ShowWindow(top, SW_SHOW);
    EXPECT_TRUE(IsWindowVisible(child));
    EXPECT_TRUE(ShowWindow(child, SW_HIDE)) << "was visible";
    EXPECT_FALSE(IsWindowVisible(child));
    EXPECT_FALSE(ShowWindow(child, SW_SHOW)) << "was hidden";
    EXPECT_TRUE(EnableWindow(child, TRUE)) << "was disabled";
    EXPECT_FALSE(EnableWindow(child, TRUE));
    EXPECT_TRUE(IsWindowEnabled(child));

    int w = 0, h = 0;
    uint32_t *px = AzWin_Pixels(child, &w, &h);
    ASSERT_NE(px, nullptr);
    EXPECT_EQ(w, 10);
    EXPECT_EQ(h, 10);
    heard.clear();
    EXPECT_TRUE(MoveWindow(child, 12, 34, 120, 80, FALSE));
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].message, (UINT)WM_SIZE);
    EXPECT_EQ(heard[0].lparam, (LPARAM)((80 << 16) | 120));
    px = AzWin_Pixels(child, &w, &h);
    EXPECT_EQ(w, 120);
    EXPECT_EQ(h, 80);
    px[79 * 120 + 119] = 0xFF00FF00u;
    px[0] = 0xFF0000FFu;
    heard.clear();
    /* Moving without resizing keeps the pixels and sends nothing. */
    MoveWindow(child, 20, 40, 120, 80, TRUE);
    EXPECT_TRUE(heard.empty());
    px = AzWin_Pixels(child, &w, &h);
    EXPECT_EQ(px[79 * 120 + 119], 0xFF00FF00u);
    EXPECT_EQ(px[0], 0xFF0000FFu);

    RECT r;
    ASSERT_TRUE(GetWindowRect(child, &r));
    EXPECT_EQ(r.left, 120);
    EXPECT_EQ(r.top, 90);
    EXPECT_EQ(r.right, 240);
    EXPECT_EQ(r.bottom, 170);
    ASSERT_TRUE(GetWindowRect(top, &r));
    EXPECT_EQ(r.left, 100);
    EXPECT_EQ(r.bottom, 250);
    ASSERT_TRUE(GetClientRect(child, &r));
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right, 120);
    EXPECT_EQ(r.bottom, 80);

    EXPECT_TRUE(BringWindowToTop(child));
    EXPECT_TRUE(BringWindowToTop(top));
    EXPECT_GT(AzWin_Z_Order(top), AzWin_Z_Order(child));
    EXPECT_GT(AzWin_Z_Order(child), 0u);

    HWND previous = SetActiveWindow(top);
    EXPECT_EQ(GetActiveWindow(), top);

    heard.clear();
    EXPECT_TRUE(DestroyWindow(top));
    /* The parent hears of its end first and last; its children go with it. */
    std::vector<UINT> order;
    std::vector<HWND> who;
    for (const Heard &e : heard) {
        order.push_back(e.message);
        who.push_back(e.window);
    }
    std::vector<UINT> want_order = {WM_DESTROY, WM_DESTROY, WM_NCDESTROY, WM_NCDESTROY};
    std::vector<HWND> want_who = {top, child, child, top};
    EXPECT_EQ(order, want_order);
    EXPECT_EQ(who, want_who);
    EXPECT_FALSE(IsWindow(top));
    EXPECT_FALSE(IsWindow(child));
    EXPECT_EQ(GetActiveWindow(), nullptr) << "the active window went away";
    SetActiveWindow(previous && IsWindow(previous) ? previous : nullptr);

    SetLastError(0);
    EXPECT_FALSE(DestroyWindow(top));
    EXPECT_EQ(GetLastError(), 1400u);
    EXPECT_EQ(GetWindowLongPtrA(top, GWLP_USERDATA), 0);
    EXPECT_EQ(AzWin_Pixels(top, &w, &h), nullptr);
    EXPECT_EQ(w, 0);
    EXPECT_FALSE(MoveWindow(top, 0, 0, 1, 1, FALSE));
    EXPECT_FALSE(IsWindowVisible(top));
}

TEST_F(Windows, WindowLongsAndProcedureReplacement)
{
    HWND w = CreateWindowExA(0, "AzTestRec", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(SetWindowLongPtrA(w, GWLP_USERDATA, 99), (LONG_PTR)&user_data_store);
    EXPECT_EQ(GetWindowLongPtrA(w, GWLP_USERDATA), 99);
    EXPECT_EQ(SetWindowLongPtrA(w, GWL_ID, 5), 0);
    EXPECT_EQ(GetWindowLongA(w, GWL_ID), 5);
    SetLastError(0);
    EXPECT_EQ(GetWindowLongPtrA(w, 12345), 0);
    EXPECT_EQ(GetLastError(), 1413u);
    EXPECT_EQ(SetWindowLongPtrA(w, GWLP_WNDPROC, (LONG_PTR)Refusing_Proc), (LONG_PTR)Recording_Proc);
    heard.clear();
    SendMessageA(w, WM_USER, 0, 0);
    EXPECT_TRUE(heard.empty()) << "the new procedure answers";
    EXPECT_EQ(SendMessageA(w, WM_CREATE, 0, 0), -1);
    DestroyWindow(w);
    EXPECT_EQ(Messages_Of(w).size(), 0u);
}
