/* The progress window: the module's client operations against the host's
 * "Progress" window class. */
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hostlib/structures/az_progress.h"
#include "hostlib/win32/az_win.h"
#include "oblique/oblique.h"
#include "tests/support/host_test.h"

namespace {

struct Post {
    HWND window;
    UINT message;
    size_t console_lines; /* console lines seen when the post was made */
};

std::mutex posts_lock;
std::vector<Post> posts;
Console_Capture *posts_console = nullptr;

void Record_Post(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    size_t lines = posts_console ? posts_console->Lines().size() : 0;
    std::lock_guard<std::mutex> hold(posts_lock);
    EXPECT_EQ(wparam, 0u);
    EXPECT_EQ(lparam, 0);
    posts.push_back(Post{window, message, lines});
}

std::vector<UINT> Messages()
{
    std::lock_guard<std::mutex> hold(posts_lock);
    std::vector<UINT> out;
    for (const Post &p : posts)
        out.push_back(p.message);
    return out;
}

class Progress : public Host_Test {
  protected:
    void SetUp() override
    {
        Host_Test::SetUp();
        posts.clear();
        posts_console = &console;
        AzWin_Post_Hook(Record_Post);
    }
    void TearDown() override
    {
        AzWin_Post_Hook(nullptr);
        posts_console = nullptr;
        if (parent)
            DestroyWindow(parent);
        Host_Test::TearDown();
    }
    /* A plain top-level window standing for the host's main window. */
    static HWND Parent(int left, int top, int right, int bottom, HINSTANCE instance = nullptr)
    {
        return CreateWindowExA(0, "Az_Test_Parent", "parent", WS_OVERLAPPEDWINDOW, left, top, right - left,
                               bottom - top, nullptr, nullptr, instance, nullptr);
    }
    /* A progress window over an 800 x 600 parent, then the posts cleared. */
    Progress_Record *Open()
    {
        parent = Parent(0, 0, 800, 600);
        Progress_Record *record = Progress_Create(parent, "T", "S");
        EXPECT_NE(record, nullptr);
        console.Clear();
        posts.clear();
        return record;
    }
    HWND parent = nullptr;
};

TEST_F(Progress, CreateOpensAProgressWindowWithItsRecord)
{
    parent = Parent(100, 50, 900, 650, (HINSTANCE)(uintptr_t)0x1234abcd);
    Progress_Record *record = Progress_Create(parent, "Title here", "Sub title");
    ASSERT_NE(record, nullptr);
    /* Centre (500, 350) less 200 on both axes. */
    EXPECT_EQ(console.Lines(), (std::vector<Console_Line>{{11, "creating window: 300 150 Title here 1234abcd"}}));
    HWND window = record->window;
    EXPECT_STREQ(AzWin_Class_Name(window), "Progress");
    EXPECT_EQ(GetParent(window), nullptr);
    EXPECT_EQ(GetWindowLongPtrA(window, GWLP_HINSTANCE), 0x1234abcd);
    EXPECT_EQ((Progress_Record *)GetWindowLongPtrA(window, GWLP_USERDATA), record);
    EXPECT_EQ(Messages(), std::vector<UINT>{1047});
    EXPECT_EQ(posts[0].window, window);
    AzProgress_View view;
    ASSERT_EQ(AzProgress_State(window, &view), 1);
    EXPECT_EQ(view.subtitle, "") << "not delivered before the pump";
    AzWin_Pump();
    ASSERT_EQ(AzProgress_State(window, &view), 1);
    EXPECT_EQ(view.title + "|" + view.subtitle, "Title here|Sub title");
    Progress_Close(record);
}

TEST_F(Progress, PlacementStopsAtTheParentsEdge)
{
    const struct {
        RECT parent;
        int x, y;
    } cases[] = {
        {{100, 50, 900, 650}, 300, 150},
        {{0, 0, 300, 300}, 0, 0},          /* centre 150: 150 - 200 is left of the edge */
        {{10, 20, 810, 620}, 210, 120},    /* far enough from both edges */
        {{10, 20, 410, 820}, 10, 220},     /* only the left edge holds it */
        {{-601, -601, 0, 0}, -500, -500},  /* halves truncate toward zero: -300, not -301 */
        {{0, 0, 400, 401}, 0, 0},          /* 200 - 200 = 0: the edge either way */
    };
    for (const auto &c : cases) {
        HWND owner = Parent(c.parent.left, c.parent.top, c.parent.right, c.parent.bottom);
        Progress_Record *record = Progress_Create(owner, "T", "S");
        RECT rect;
        ASSERT_TRUE(record && GetWindowRect(record->window, &rect));
        const int got[4] = {(int)rect.left, (int)rect.top, (int)(rect.right - rect.left), (int)(rect.bottom - rect.top)};
        const int want[4] = {c.x, c.y, 400, 250};
        EXPECT_TRUE(std::equal(got, got + 4, want)) << c.parent.left << "," << c.parent.top << ": " << got[0]
                                                    << "," << got[1] << " " << got[2] << "x" << got[3];
        Progress_Close(record);
        DestroyWindow(owner);
    }
}

TEST_F(Progress, WriteKeepsFiftyLinesAndRefusesTheNext)
{
    Progress_Record *record = Open();
    for (int i = 0; i < 50; i++)
        Progress_Write(record, "line %d of %s", i, "fifty");
    EXPECT_STREQ(record->lines[49], "line 49 of fifty");
    EXPECT_TRUE(console.Lines().empty()) << Console_Dump(console.Lines());
    Progress_Write(record, "line %d", 50);
    EXPECT_EQ(record->lines_nb, 50);
    EXPECT_STREQ(record->lines[49], "line 49 of fifty");
    EXPECT_EQ(Messages(), std::vector<UINT>(51, 1049));
    EXPECT_EQ(posts[50].console_lines, 0u) << "the refusal is posted before its line is printed";
    EXPECT_EQ(console.Lines(), (std::vector<Console_Line>{{11, "in Progress_Write: To many lines"}}));
    AzWin_Pump();
    AzProgress_View view;
    ASSERT_EQ(AzProgress_State(record->window, &view), 1);
    ASSERT_EQ(view.lines.size(), 50u);
    EXPECT_EQ(view.lines[7], "line 7 of fifty");
    EXPECT_EQ(view.received[1049 - 1044], 51);

    Progress_Record *other = Progress_Create(parent, "T", "S");
    Progress_Write(other, "%s", std::string(3000, 'x').c_str());
    EXPECT_EQ(strlen(other->lines[0]), 2047u) << "cut to the line size";
    EXPECT_EQ(other->lines[1][0], 0) << "the neighbour line is untouched";
    Progress_Close(other);
    Progress_Close(record);
}

TEST_F(Progress, StepClampsBetweenZeroAndMaximum)
{
    Progress_Record *record = Open();
    record->aux_count = 77;
    Progress_Set_Max(record, 10);
    EXPECT_EQ(record->aux_count, 0);
    const int steps[][2] = {{3, 3}, {-4, 0}, {10, 10}, {1, 10}, {-1, 9}};
    for (const auto &s : steps) {
        Progress_Step(record, s[0]);
        EXPECT_EQ(record->pos, s[1]) << s[0];
    }
    Progress_Set_Max(record, 5);
    EXPECT_EQ(record->pos, 9) << "a new maximum leaves the position alone, even above it";
    Progress_Step(record, 0);
    EXPECT_EQ(record->pos, 5);
    EXPECT_EQ(Messages(), (std::vector<UINT>{1048, 1044, 1044, 1044, 1044, 1044, 1048, 1044}));
    AzWin_Pump();
    AzProgress_View view;
    ASSERT_EQ(AzProgress_State(record->window, &view), 1);
    EXPECT_EQ(view.pos * 100 + view.max, 505);
    Progress_Close(record);
}

TEST_F(Progress, CancelAndClose)
{
    Progress_Record *record = Open();
    HWND window = record->window;
    EXPECT_EQ(Progress_Cancelled(record), 0);
    AzProgress_Cancel(record);
    EXPECT_NE(Progress_Cancelled(record), 0);
    Progress_Close(record);
    EXPECT_EQ(Messages(), std::vector<UINT>{1045});
    EXPECT_TRUE(IsWindow(window)) << "closed by the window's own thread";
    AzWin_Pump();
    EXPECT_FALSE(IsWindow(window));
    AzProgress_View view;
    ASSERT_EQ(AzProgress_State(window, &view), 1);
    EXPECT_EQ(view.closed + view.cancel, 2);
    EXPECT_EQ(view.record, nullptr);

    /* Closing the window by hand asks the work to stop. */
    record = Progress_Create(parent, "T", "S");
    SendMessageA(record->window, WM_CLOSE, 0, 0);
    EXPECT_NE(Progress_Cancelled(record), 0);
    EXPECT_TRUE(IsWindow(record->window));
    Progress_Close(record);
}

TEST_F(Progress, MessagesFromAnotherThreadArriveOnTheCreatorsPump)
{
    Progress_Record *record = Open();
    AzWin_Pump();
    std::thread worker([record] {
        Progress_Set_Max(record, 100);
        for (int i = 0; i < 100; i++) {
            Progress_Step(record, 1);
            if (i % 10 == 0)
                Progress_Write(record, "step %d", i);
            AzWin_Pump();   // the worker's pump carries nothing of this window
        }
    });
    worker.join();
    AzProgress_View view;
    ASSERT_EQ(AzProgress_State(record->window, &view), 1);
    EXPECT_EQ(view.pos, 0);
    EXPECT_TRUE(view.lines.empty());
    AzWin_Pump();
    ASSERT_EQ(AzProgress_State(record->window, &view), 1);
    EXPECT_EQ(view.pos * 1000 + view.max, 100100);
    ASSERT_EQ(view.lines.size(), 10u);
    EXPECT_EQ(view.lines[9], "step 90");
    EXPECT_EQ(view.received[0], 100);
    Progress_Close(record);
}

} // namespace
