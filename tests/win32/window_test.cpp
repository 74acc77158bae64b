#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "hostlib/win32/az_win.h"

namespace {

struct Heard {
    HWND window;
    UINT message;
    LPARAM lparam;
};
std::vector<Heard> heard;
CREATESTRUCTA create_seen;
int user_data_store;

LRESULT CALLBACK Recording_Proc(HWND window, UINT message, WPARAM, LPARAM lparam)
{
    heard.push_back(Heard{window, message, lparam});
    if (message == WM_CREATE) {
        create_seen = *reinterpret_cast<CREATESTRUCTA *>(lparam);
        /* Set while creating: must be in place when CreateWindowExA returns. */
        SetWindowLongPtrA(window, GWLP_USERDATA, (LONG_PTR)&user_data_store);
    }
    return 0;
}

LRESULT CALLBACK Refusing_Proc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_CREATE ? -1 : 0; }

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
        heard.clear();
        const struct {
            const char *name;
            WNDPROC proc;
        } classes[] = {{"AzTestRec", Recording_Proc}, {"AzTestRefuse", Refusing_Proc}};
        for (const auto &c : classes) {
            AzWin_Unregister_Class(c.name);
            WNDCLASSA wc = {};
            wc.lpfnWndProc = c.proc;
            wc.lpszClassName = c.name;
            ASSERT_TRUE(RegisterClassA(&wc));
        }
    }
    void TearDown() override { AzWin_Fail_Create(nullptr); }
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
    for (const Heard &e : heard)
        order.push_back({e.window, e.message});
    EXPECT_EQ(order, want);
    EXPECT_FALSE(IsWindow(child));
    SetLastError(0);
    EXPECT_FALSE(DestroyWindow(top));
    EXPECT_EQ(GetLastError(), 1400u);
    EXPECT_TRUE(AzWin_Pixels(top, &w, &h) == nullptr && w == 0);
}
