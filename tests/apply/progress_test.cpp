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
#include "tests/support/golden.h"
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
    /* A step of the log, then what it did since the last one: the posts to
     * the window (runs of one message counted, with the console lines
     * printed before each), the console lines, the record's position and the
     * window's state as its own thread knows it. */
    void Note(const char *step, HWND window, Progress_Record *record = nullptr)
    {
        std::vector<Post> made;
        {
            std::lock_guard<std::mutex> hold(posts_lock);
            made.swap(posts);
        }
        log.push_back(step);
        char text[400];
        for (size_t i = 0, n = 1; i < made.size(); i += n, n = 1) {
            while (i + n < made.size() && made[i + n].message == made[i].message &&
                   made[i + n].console_lines == made[i].console_lines)
                n++;
            EXPECT_EQ(made[i].window, window) << step;
            snprintf(text, sizeof text, "  post %u x%zu after %zu lines", made[i].message, n, made[i].console_lines);
            log.push_back(text);
        }
        for (const std::string &line : Golden_Console(console.Lines()))
            log.push_back("  " + line);
        console.Clear();
        if (record) {
            snprintf(text, sizeof text, "  record pos %d max %d lines %d cancelled %d", record->pos, record->max,
                     record->lines_nb, Progress_Cancelled(record) != 0);
            log.push_back(text);
        }
        AzProgress_View view;
        if (AzProgress_State(window, &view) == 1) {
            snprintf(text, sizeof text, "  window %s|%s pos %d max %d lines %zu (%s) received %d %d %d %d %d %d "
                     "cancel %d closed %d record %d alive %d", view.title.c_str(), view.subtitle.c_str(), view.pos,
                     view.max, view.lines.size(), view.lines.empty() ? "" : view.lines.back().c_str(),
                     view.received[0], view.received[1], view.received[2], view.received[3], view.received[4],
                     view.received[5], view.cancel, view.closed, view.record != nullptr, IsWindow(window) != 0);
            log.push_back(text);
        }
    }
    HWND parent = nullptr;
    std::vector<std::string> log;
};

/* Create, write, step, cancel and close, each with its posts, console lines
 * and what the window shows (tests/data/traces/progress_client.trace). */
TEST_F(Progress, ClientOperationsInOrder)
{
    parent = Parent(100, 50, 900, 650, (HINSTANCE)(uintptr_t)0x1234abcd);
    Progress_Record *record = Progress_Create(parent, "Title here", "Sub title");
    ASSERT_NE(record, nullptr);
    HWND window = record->window;
    EXPECT_STREQ(AzWin_Class_Name(window), "Progress");
    EXPECT_EQ(GetParent(window), nullptr);
    EXPECT_EQ(GetWindowLongPtrA(window, GWLP_HINSTANCE), 0x1234abcd);
    EXPECT_EQ((Progress_Record *)GetWindowLongPtrA(window, GWLP_USERDATA), record);
    Note("create", window, record);
    AzWin_Pump();
    Note("pump", window, record);
    for (int i = 0; i < 50; i++)
        Progress_Write(record, "line %d of %s", i, "fifty");
    Note("write 50 lines", window, record);
    Progress_Write(record, "line %d", 50);
    EXPECT_STREQ(record->lines[49], "line 49 of fifty");
    Note("write a 51st", window, record);
    AzWin_Pump();
    Note("pump", window, record);
    record->aux_count = 77;
    Progress_Set_Max(record, 10);
    EXPECT_EQ(record->aux_count, 0);
    Note("maximum 10", window, record);
    for (int step : {3, -4, 10, 1, -1, 0}) {
        if (step == 0) {
            Progress_Set_Max(record, 5);
            Note("maximum 5", window, record);
        }
        Progress_Step(record, step);
        Note(("step " + std::to_string(step)).c_str(), window, record);
    }
    AzWin_Pump();
    Note("pump", window, record);
    AzProgress_Cancel(record);
    Note("cancel", window, record);
    Progress_Close(record);
    Note("close", window);
    AzWin_Pump();
    Note("pump", window);

    record = Progress_Create(parent, "T", "S");
    window = record->window;
    SendMessageA(window, WM_CLOSE, 0, 0);
    Note("closed by hand", window, record);
    Progress_Write(record, "%s", std::string(3000, 'x').c_str());
    EXPECT_EQ(strlen(record->lines[0]), 2047u) << "cut to the line size";
    EXPECT_EQ(record->lines[1][0], 0) << "the neighbour line is untouched";
    Progress_Close(record);
    EXPECT_TRUE(Trace_Is("progress_client", log));
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

TEST_F(Progress, MessagesFromAnotherThreadArriveOnTheCreatorsPump)
{
    parent = Parent(0, 0, 800, 600);
    Progress_Record *record = Progress_Create(parent, "T", "S");
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
