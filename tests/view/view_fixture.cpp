#include "view_fixture.h"

#include <fcntl.h>
#include <math.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

#include "hostlib/tools/az_tools.h"
#include "hostlib/win32/az_win.h"

namespace {

pid_t xvfb_pid = -1;
/* How long the server may take to say which display it took. */
const int xvfb_start_ms = 20000;

} // namespace

int Xvfb_Start(void)
{
    if (xvfb_pid > 0)
        return 1;
    int fds[2];
    if (pipe(fds) != 0)
        return 0;
    pid_t pid = fork();
    if (pid < 0)
        return 0;
    if (pid == 0) {
        // The server goes with this program, even when a test crashes.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        close(fds[0]);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        char fd_text[16];
        snprintf(fd_text, sizeof(fd_text), "%d", fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd_text, "-screen", "0", "1600x1000x24", "-nolisten", "tcp",
               static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    // The server writes the display number it took once it accepts clients.
    char text[32] = {0};
    size_t got = 0;
    struct pollfd wait_for{fds[0], POLLIN, 0};
    while (got < sizeof(text) - 1 && poll(&wait_for, 1, xvfb_start_ms) > 0) {
        ssize_t n = read(fds[0], text + got, sizeof(text) - 1 - got);
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
        if (memchr(text, '\n', got))
            break;
    }
    close(fds[0]);
    if (!memchr(text, '\n', got)) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        return 0;
    }
    std::string display = std::string(":") + std::to_string(atoi(text));
    setenv("DISPLAY", display.c_str(), 1);
    xvfb_pid = pid;
    return 1;
}

void Xvfb_Stop(void)
{
    if (xvfb_pid <= 0)
        return;
    kill(xvfb_pid, SIGTERM);
    waitpid(xvfb_pid, nullptr, 0);
    xvfb_pid = -1;
}

void ViewTest::SetUp()
{
    if (!Xvfb_Start())
        GTEST_SKIP() << "no X server: view tests skipped";
    AzApp_Options options;
    std::string error;
    char program[] = "azozude", command[] = "view";
    char *argv[] = {program, command};
    ASSERT_EQ(1, AzApp_Options_Parse(2, argv, &options, &error));
    // The module this program is linked with: one copy of its state.
    options.module_path = std::string(AZ_BUILD_DIR) + "/libclass_oblique_open.so";
    ASSERT_EQ(AZ_EXIT_OK, AzApp_Start(&app, options));
    started = 1;
    plan.width = 32;
    plan.height = 32;
    plan.slices = 16;
    plan.name = "Phantom";
    AzStudy *study = AzStudy_Build(plan);
    ASSERT_NE(nullptr, study);
    AzLoaded_Study loaded;
    loaded.name = plan.name;
    loaded.source = "test phantom";
    loaded.series_key = study->file->images[0]->series_uid;
    loaded.file = study->file;
    loaded.frames_nb = static_cast<int>(study->frame_bunch.size());
    loaded.inserted_nb = AzStudy_Insert(study, AZ_ORDER_ASCENDING, 0);
    AzStudy_Free(study);
    app.studies.push_back(loaded);
    ASSERT_EQ(16, loaded.inserted_nb);
    ASSERT_EQ(1, AzViewer_Init(&viewer, &app, 1100, 720, 300));
    window = AzViewer_Window_Open(&viewer, "view test");
    ASSERT_NE(nullptr, window);
    Idle();
    // The panel's state belongs to the module, which outlives one test in this program.
    Buttons *original = dynamic_cast<Buttons *>(Widget("Dir. Original"));
    ASSERT_NE(nullptr, original);
    if (!original->selected)
        Click_Label("Dir. Original");
}

void ViewTest::TearDown()
{
    if (window)
        AzViewer_Window_Close(window);
    window = nullptr;
    if (started) {
        AzViewer_Done(&viewer);
        AzApp_Stop(&app);
    }
    started = 0;
    Xvfb_Stop();
}

void ViewTest::Idle()
{
    for (int i = 0; i < 4000; i++) {
        AzViewer_Window_Pass(window, 0.005);
        if (!AzViewer_Busy() && AzHost_Pending() == 0 && !viewer.busy)
            break;
    }
    AzViewer_Window_Pass(window, 0.0);
}

void ViewTest::Widget_Point(const Tools *widget, double fx, double fy, int *sx, int *sy)
{
    int px = widget->x + static_cast<int>(lround(fx * (widget->width - 1)));
    int py = widget->y + static_cast<int>(lround(fy * (widget->height - 1)));
    *sx = viewer.panel_rect.x + px;
    *sy = viewer.panel_rect.y + viewer.panel_rect.h - 1 - py;
}

Tools *ViewTest::Widget(const char *label)
{
    Tools *widget = AzTools_Find(app.panel_window, label);
    EXPECT_NE(nullptr, widget) << label;
    return widget;
}

Valuators *ViewTest::Valuator(int vertical, int index)
{
    std::vector<Valuators *> found;
    for (int i = 0; Tools *widget = AzTools_Widget(app.panel_window, i); i++) {
        Valuators *valuator = dynamic_cast<Valuators *>(widget);
        if (valuator && ((valuator->style & 0x4) != 0) == (vertical != 0))
            found.push_back(valuator);
    }
    std::sort(found.begin(), found.end(), [vertical](const Valuators *a, const Valuators *b) {
        return vertical ? a->x < b->x : a->y < b->y;
    });
    return index < static_cast<int>(found.size()) ? found[index] : nullptr;
}

void ViewTest::Click(int sx, int sy, int button)
{
    AzViewer_Pointer_Move(&viewer, sx, sy);
    AzViewer_Button(&viewer, button, 1, 0);
    AzViewer_Button(&viewer, button, 0, 0);
    Idle();
}

void ViewTest::Click_Label(const char *label)
{
    Tools *widget = Widget(label);
    ASSERT_NE(nullptr, widget);
    int sx, sy;
    Widget_Point(widget, 0.5, 0.5, &sx, &sy);
    Click(sx, sy);
}

void ViewTest::Drag(int x0, int y0, int x1, int y1, int button, int steps)
{
    AzViewer_Pointer_Move(&viewer, x0, y0);
    AzViewer_Button(&viewer, button, 1, 0);
    for (int i = 1; i <= steps; i++) {
        AzViewer_Pointer_Move(&viewer, x0 + (x1 - x0) * i / steps, y0 + (y1 - y0) * i / steps);
        AzViewer_Window_Pass(window, 0.0);
    }
    AzViewer_Button(&viewer, button, 0, 0);
    Idle();
}

void ViewTest::Frame_Screen(int view, int fx, int fy, int *sx, int *sy)
{
    AzViewer_Screen_Point(&viewer.views[view], fx, fy, sx, sy);
}

uint32_t ViewTest::Screen(int sx, int sy) const
{
    return viewer.screen[static_cast<size_t>(sy) * viewer.width + sx];
}

std::vector<uint32_t> ViewTest::Crop(const AzRect &r) const
{
    std::vector<uint32_t> out;
    for (int y = r.y; y < r.y + r.h; y++)
        for (int x = r.x; x < r.x + r.w; x++)
            out.push_back(Screen(x, y));
    return out;
}

void ViewTest::Shot(const char *name)
{
    std::string folder = std::string(AZ_BUILD_DIR) + "/view-shots";
    mkdir(folder.c_str(), 0777);
    EXPECT_EQ(1, AzViewer_Save_PNG(&viewer, (folder + "/" + name + ".png").c_str()));
}

AzRect ViewTest::Preview_Rect()
{
    RECT panel_box;
    GetWindowRect(app.panel_window, &panel_box);
    for (HWND child = AzWin_Find(nullptr, nullptr); child; child = AzWin_Find(nullptr, child)) {
        RECT box;
        if (GetParent(child) != app.panel_window || !GetWindowRect(child, &box))
            continue;
        return AzRect{viewer.panel_rect.x + box.left - panel_box.left, viewer.panel_rect.y + box.top - panel_box.top,
                      box.right - box.left, box.bottom - box.top};
    }
    return AzRect{0, 0, 0, 0};
}
