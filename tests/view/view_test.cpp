/*
 * The interactive host in a real window under a private X server (Xvfb):
 * the host started with the module, a phantom study, the viewer and its
 * window, driven through the handlers the window's callbacks call.
 */
#include <fcntl.h>
#include <math.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <tuple>

#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include "hostapp/lib/az_labels.h"
#include "hostapp/lib/az_read.h"
#include "hostapp/view/az_viewer.h"
#include "hostlib/structures/az_progress.h"
#include "hostlib/tools/az_tools.h"
#include "hostlib/win32/az_win.h"
#include "oblique/oblique.h"
#include "tests/support/host_test.h"

namespace {

pid_t xvfb_pid = -1;

void Xvfb_Stop()
{
    if (xvfb_pid > 0)
        kill(xvfb_pid, SIGTERM), waitpid(xvfb_pid, nullptr, 0), xvfb_pid = -1;
}

/* Starts an X server of our own and points DISPLAY at it; 1 when it runs. */
int Xvfb_Start()
{
    int fds[2];
    if (pipe(fds) != 0 || (xvfb_pid = fork()) < 0)
        return 0;
    if (xvfb_pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);  // the server goes with this program, even when a test crashes
        dup2(open("/dev/null", O_WRONLY), 2);
        dup2(fds[1], 1);
        execlp("Xvfb", "Xvfb", "-displayfd", "1", "-screen", "0", "1600x1000x24", "-nolisten", "tcp", (char *)nullptr);
        _exit(127);
    }
    close(fds[1]);
    /* The server writes the display number it took, then a line end, once it accepts clients. */
    char text[32] = {0};
    struct pollfd wait_for{fds[0], POLLIN, 0};
    FILE *in = fdopen(fds[0], "r");
    if (poll(&wait_for, 1, 20000) > 0 && fgets(text, sizeof(text), in) && strchr(text, '\n'))
        setenv("DISPLAY", (":" + std::to_string(atoi(text))).c_str(), 1);
    else
        Xvfb_Stop();
    fclose(in);
    return xvfb_pid > 0;
}

/* Pixels whose colour differs (the screen never shows alpha). */
int Differing(const std::vector<uint32_t> &a, const std::vector<uint32_t> &b)
{
    int n = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); i++)
        n += (a[i] & 0xffffff) != (b[i] & 0xffffff);
    return n;
}

int Lines_Starting(AzViewer *viewer, const std::string &start)
{
    std::vector<AzConsole_Entry> lines = AzViewer_Console_Shown(viewer);
    return (int)std::count_if(lines.begin(), lines.end(),
                              [&](const AzConsole_Entry &line) { return line.text.compare(0, start.size(), start) == 0; });
}

class ViewTest : public Host_Test {
  protected:
    void SetUp() override
    {
        Host_Test::SetUp();
        if (!Xvfb_Start())
            GTEST_SKIP() << "no X server: view tests skipped";
        AzApp_Options options;
        std::string error;
        char program[] = "azozude", command[] = "view";
        char *argv[] = {program, command};
        ASSERT_EQ(1, AzApp_Options_Parse(2, argv, &options, &error));
        options.module_path = std::string(AZ_BUILD_DIR) + "/libclass_oblique_open.so";  // one copy of its state
        ASSERT_EQ(AZ_EXIT_OK, AzApp_Start(&app, options));
        started = 1;
        plan.width = plan.height = 32, plan.slices = 16;
        ASSERT_EQ(AZ_EXIT_OK, AzApp_Load_Built(&app, plan, "test phantom"));
        ASSERT_TRUE(app.studies[0].inserted_nb == 16 && AzViewer_Init(&viewer, &app, 1100, 720, 300) == 1);
        ASSERT_NE(nullptr, window = AzViewer_Window_Open(&viewer, "view test"));
        Idle();
    }
    void TearDown() override
    {
        if (window)
            AzViewer_Window_Close(window);
        if (started)
            AzViewer_Done(&viewer), AzApp_Stop(&app);
        Xvfb_Stop();
        Host_Test::TearDown();
    }
    /* Window passes until the host and the viewer are idle. */
    void Idle()
    {
        for (int i = 0; i < 4000 && (!AzApp_Idle(&app) || viewer.busy); i++)
            AzViewer_Window_Pass(window, 0.005);
        AzViewer_Window_Pass(window, 0.0);
    }
    Tools *Widget(const char *label)
    {
        Tools *widget = AzTools_Find(app.panel_window, label);
        EXPECT_NE(nullptr, widget) << label;
        return widget;
    }
    /* Screen point of a widget of the panel at fractions of its size, or of a pixel of a view's frame. */
    AzRect At(const Tools *widget, double fx = 0.5, double fy = 0.5)
    {
        return {viewer.panel_rect.x + widget->x + static_cast<int>(lround(fx * (widget->width - 1))),
                viewer.panel_rect.y + viewer.panel_rect.h - 1 - widget->y - static_cast<int>(lround(fy * (widget->height - 1))), 1, 1};
    }
    AzRect At(int view, int fx, int fy)
    {
        AzRect at = {0, 0, 1, 1};
        AzViewer_Screen_Point(&viewer.views[view], fx, fy, &at.x, &at.y);
        return at;
    }
    /* A vertical or horizontal valuator, the leftmost or lowest first. */
    Valuators *Valuator(int vertical, int index)
    {
        std::vector<Valuators *> found;
        for (int i = 0; Tools *widget = AzTools_Widget(app.panel_window, i); i++) {
            Valuators *valuator = dynamic_cast<Valuators *>(widget);
            if (valuator && ((valuator->style & 0x4) != 0) == (vertical != 0))
                found.push_back(valuator);
        }
        std::sort(found.begin(), found.end(),
                  [vertical](const Valuators *a, const Valuators *b) { return vertical ? a->x < b->x : a->y < b->y; });
        return index < static_cast<int>(found.size()) ? found[index] : nullptr;
    }
    void Press(AzRect at, int button = 0)
    {
        AzViewer_Pointer_Move(&viewer, at.x, at.y);
        AzViewer_Button(&viewer, button, 1, 0), AzViewer_Button(&viewer, button, 0, 0);
    }
    void Click(const char *label, double fx = 0.5)
    {
        Press(At(Widget(label), fx));
        Idle();
    }
    void Drag(AzRect from, AzRect to, int button = 0)
    {
        AzViewer_Pointer_Move(&viewer, from.x, from.y);
        AzViewer_Button(&viewer, button, 1, 0);
        for (int i = 1; i <= 8; i++) {
            AzViewer_Pointer_Move(&viewer, from.x + (to.x - from.x) * i / 8, from.y + (to.y - from.y) * i / 8);
            AzViewer_Window_Pass(window, 0.0);
        }
        AzViewer_Button(&viewer, button, 0, 0);
        Idle();
    }
    uint32_t Screen(int view, int fx, int fy)
    {
        AzRect at = At(view, fx, fy);
        return viewer.screen[static_cast<size_t>(at.y) * viewer.width + at.x];
    }
    std::vector<uint32_t> Crop(const AzRect &r) const
    {
        std::vector<uint32_t> out;
        for (int y = r.y; y < r.y + r.h; y++)
            out.insert(out.end(), &viewer.screen[(size_t)y * viewer.width + r.x],
                       &viewer.screen[(size_t)y * viewer.width + r.x + r.w]);
        return out;
    }

    AzApp app;
    AzViewer viewer;
    AzViewer_Window *window = nullptr;
    int started = 0;
    AzPhantom_Plan plan;
};

} // namespace

TEST_F(ViewTest, WindowShowsPanelViewsStatusAndConsole)
{
    std::vector<uint32_t> shown;
    int w = 0, h = 0, pw = 0, ph = 0;
    ASSERT_TRUE(AzViewer_Window_Read(window, &shown, &w, &h) == 1 && w == 1100 && h == 720);
    EXPECT_EQ(0, Differing(shown, viewer.screen)) << "the X window shows the composed screen";
    /* The panel is the module's window of the tool width, at the top left. */
    uint32_t *panel = AzWin_Pixels(app.panel_window, &pw, &ph);
    ASSERT_TRUE(panel && pw == 300 && ph == app.module.Ctrl_Register()) << pw << " " << ph;
    EXPECT_EQ(panel[(ph - 2) * pw + pw - 2], viewer.screen[(ph - 2) * 1100 + pw - 2]);
    EXPECT_STREQ("RUD Azozude:", viewer.status.Read());
    EXPECT_TRUE(AzApp_Direction(&app, 0, 0) == viewer.views[0].shown && AzApp_Direction(&app, 0, 1) == viewer.views[1].shown);
    /* The study's own frames are there from the start, no oblique frames before Update DB. */
    EXPECT_TRUE(viewer.views[0].image_w == 32 && viewer.views[1].image_w == 0);

    /* The panel's opening notice reaches the console pane; traces stay hidden at level 4 until the
     * filter steps through 1 2 4 6 11 13 15, within its ends. */
    EXPECT_EQ(1, Lines_Starting(&viewer, " --- Entering Oblique Class Mode (#1) ---"));
    Error_Fct(hwnd, 11, "a trace for the filter");
    Error_Fct(hwnd, 2, "an error\twith a tab");
    Idle();
    EXPECT_EQ(0, Lines_Starting(&viewer, "a trace for the filter"));
    EXPECT_EQ(1, Lines_Starting(&viewer, "an error    with a tab"));
    const std::pair<char, int> keys[] = {{'>', 6},  {'>', 11}, {'>', 13}, {'>', 15}, {'>', 15}, {'<', 13}, {'<', 11},
                                         {'<', 6},  {'<', 4},  {'<', 2},  {'<', 1},  {'<', 1},  {'>', 2},  {'>', 4}};
    for (const auto &key : keys) {
        AzViewer_Char(&viewer, key.first);
        EXPECT_TRUE(viewer.console_level == key.second &&
                    (key.second >= 11) == (Lines_Starting(&viewer, "a trace for the filter") == 1)) << key.second;
    }
}

TEST_F(ViewTest, FrameViewsScrollZoomSetTheWindowAndFollowThePanel)
{
    AzFrame_View &view = viewer.views[0];
    Sliders *slider = dynamic_cast<Sliders *>(Widget("Demo Frame"));
    ASSERT_NE(nullptr, slider);
    int cx = view.picture.x + view.picture.w / 2, cy = view.picture.y + view.picture.h / 2;
    AzViewer_Pointer_Move(&viewer, cx, cy);
    /* The view opens on the middle frame of 16; wheel (key 0: a wheel step) and keys over the view;
     * the panel (on the Original direction) follows and marks the view's frame, both counting from 0. */
    const int steps[][3] = {{0, 0, 8},   {0, -1, 9},  {GLFW_KEY_PAGE_DOWN, 0, 15}, {GLFW_KEY_PAGE_DOWN, 0, 15},
                            {GLFW_KEY_UP, 0, 14},     {GLFW_KEY_PAGE_UP, 0, 4},    {GLFW_KEY_HOME, 0, 0},
                            {0, 1, 0},   {GLFW_KEY_RIGHT, 0, 1},                   {GLFW_KEY_END, 0, 15}};
    for (const auto &step : steps) {
        step[0] ? AzViewer_Key(&viewer, step[0], 0) : step[1] ? AzViewer_Wheel(&viewer, step[1], 0) : (void)0;
        AzViewer_Step(&viewer);
        EXPECT_TRUE(step[2] == view.frame && step[2] == slider->value && step[2] == view.followed)
            << step[0] << " " << step[1] << ": " << view.frame << " " << slider->value << " " << view.followed;
    }
    EXPECT_EQ("Original   frame 15 (0-15)   32x32   zoom 1", AzViewer_Title_Text(&view));
    /* The status line gives the panel's angles to a hundredth of a degree. */
    float kept[2] = {Valuator(1, 0)->value, Valuator(0, 0)->value};
    Valuator(1, 0)->value = 29.6f / 57.29578f, Valuator(0, 0)->value = -10.27f / 57.29578f;
    EXPECT_EQ("   alpha 29.60, beta -10.27 degrees", AzViewer_Angles_Text(&viewer));
    Valuator(1, 0)->value = kept[0], Valuator(0, 0)->value = kept[1];
    Idle();

    /* Grey levels of the frame through the host's colours, pixel for pixel; a right drag sets a
     * window of its own, wider to the right; 'r' resets it with zoom and pan. */
    AzFrame *frame = AzViewer_Frame(&view);
    ASSERT_EQ(AzFrame_Cast(AzApp_Direction(&app, 0, 0)->Child_Get_Pt(15)), frame);
    ASSERT_TRUE(frame->key->display_mode == 1 && frame->key->display_high == 3000.0f);
    Fct_GLI_2_Color(1, 3000.0f, frame->key->display_low);
    uint32_t grey = Fct_GLI_2_Color(AzFrame_Get_GLI(frame, 3.0f, 20.0f));
    EXPECT_EQ(grey, Screen(0, 3, 20));
    Drag({cx, cy, 1, 1}, {cx + 128, cy, 1, 1}, 1);
    EXPECT_EQ(1, view.window_custom);
    EXPECT_FLOAT_EQ(3000.0f * 1.5f, view.window_high - view.window_low);
    EXPECT_FLOAT_EQ(1500.0f, (view.window_high + view.window_low) * 0.5f);
    EXPECT_NE(grey, Screen(0, 3, 20));
    AzViewer_Wheel(&viewer, 1.0, GLFW_MOD_CONTROL);
    EXPECT_FLOAT_EQ(1.25f, view.zoom);
    Drag({cx, cy, 1, 1}, {cx + 30, cy - 20, 1, 1}, 2);  // the middle button pans
    EXPECT_TRUE(view.pan_x == 30 && view.pan_y == -20) << view.pan_x << " " << view.pan_y;
    AzViewer_Char(&viewer, 'r');
    EXPECT_TRUE(view.window_custom == 0 && view.pan_x == 0 && view.pan_y == 0 && view.zoom == 1.0f);
    Idle();
    EXPECT_EQ(grey, Screen(0, 3, 20));
    /* The view follows the frame the panel's slider shows, when it changes. */
    Drag(At(slider, 0.02), At(slider));
    int chosen = static_cast<int>(slider->value);
    EXPECT_TRUE(chosen > 2 && chosen == view.frame && chosen == view.followed) << chosen;
}

TEST_F(ViewTest, PaintingReachesTheOtherDirectionAndUndoes)
{
    /* Both vertical valuators and the Oblique direction turn together; then oblique frames. */
    Click("Dir. Oblique");
    Drag(At(Valuator(1, 0)), At(Valuator(1, 0), 0.5, 0.85));
    Kelvra_Oblique *oblique = dynamic_cast<Kelvra_Oblique *>(AzApp_Direction(&app, 0, 1));
    ASSERT_NE(nullptr, oblique);
    EXPECT_TRUE(oblique->alpha != 0.0f && Valuator(1, 0)->value == Valuator(1, 1)->value &&
                Valuator(1, 0)->value == oblique->alpha) << oblique->alpha;
    Drag(At(Valuator(0, 0)), At(Valuator(0, 0), 0.6));
    Click("On/Off"), Click("Update DB");
    int oblique_nb = oblique->Child_Get_Nb();
    ASSERT_TRUE(oblique_nb > 0 && static_cast<int>(oblique->dim.z) == oblique_nb) << oblique_nb;
    /* The new frames' title is right as soon as the work ends, before the pointer moves. */
    AzFrame_View &left = viewer.views[0], &right = viewer.views[1];
    std::vector<uint32_t> shown = Crop(right.rect);
    AzViewer_Compose(&viewer);
    EXPECT_EQ(0, Differing(shown, Crop(right.rect)));
    EXPECT_EQ(std::string::npos, AzViewer_Title_Text(&right).find(" 0x0 ")) << AzViewer_Title_Text(&right);

    /* Keys act on the view Tab chose, even with the pointer over the other one. */
    AzViewer_Pointer_Move(&viewer, left.picture.x + 2, left.picture.y + 2);
    int left_frame = left.frame;
    AzViewer_Key(&viewer, GLFW_KEY_TAB, 0), AzViewer_Key(&viewer, GLFW_KEY_END, 0);
    EXPECT_TRUE(right.frame == oblique_nb - 1 && left.frame == left_frame);
    AzViewer_Key(&viewer, GLFW_KEY_TAB, 0);
    AzViewer_View_Step(&viewer, &left, 8 - left.frame);
    Idle();
    AzFrame *painted = AzViewer_Frame(&left);
    int old_tag = AzFrame_Get_TAG(painted, 10.0f, 12.0f);
    AzViewer_Char(&viewer, '7');
    ASSERT_TRUE(old_tag != 7 && viewer.tag_cur == 7);

    /* First stroke: find where it lands in the oblique frames, then take it back. */
    Drag(At(0, 10, 12), At(0, 14, 12));
    EXPECT_TRUE(AzFrame_Get_TAG(painted, 10.0f, 12.0f) == 7 && AzFrame_Get_TAG(painted, 14.0f, 14.0f) == 7)
        << "a brush of 5 reaches 2 rows down";
    int hit_frame = -1, hit_x = 0, hit_y = 0;
    for (int f = 0; f < oblique_nb && hit_frame < 0; f++) {
        AzFrame *frame = AzFrame_Cast(oblique->Child_Get_Pt(f));
        int w = 0, h = 0;
        AzFrame_Get_Dim(frame, &w, &h);
        for (int i = 0; i < w * h && hit_frame < 0; i++)
            if (AzFrame_Get_TAG(frame, static_cast<float>(i % w), static_cast<float>(i / w)) == 7)
                hit_frame = f, hit_x = i % w, hit_y = i / w;
    }
    ASSERT_GE(hit_frame, 0) << "the stroke is in the study, so the oblique frames see it";
    AzViewer_Key(&viewer, GLFW_KEY_Z, GLFW_MOD_CONTROL);
    EXPECT_TRUE(viewer.undo.empty() && old_tag == AzFrame_Get_TAG(painted, 10.0f, 12.0f));
    /* The oblique view shows that frame; the same stroke again is drawn there at half opacity. */
    AzViewer_View_Step(&viewer, &right, hit_frame - right.frame);
    Idle();
    AzFrame *seen = AzViewer_Frame(&right);
    uint32_t clean = Screen(1, hit_x, hit_y), mixed = 0xff000000u;
    int dirty_before = seen->dirty_nb;
    Drag(At(0, 10, 12), At(0, 14, 12));
    EXPECT_GT(seen->dirty_nb, dirty_before) << "the update reached the oblique frames";
    for (int c = 0; c < 3; c++)  // tag 7's colour (255, 128, 0) at opacity 127/255 over the grey level
        mixed |= (((clean >> (8 * c) & 0xff) * 128 + (c == 0 ? 255 : c == 1 ? 128 : 0) * 127 + 127) / 255) << (8 * c);
    EXPECT_EQ(mixed, Screen(1, hit_x, hit_y));

    /* Ctrl+D writes the re-sliced frames and the tags (the phantom's two and the stroke's) as DICOM. */
    char dicom_folder[] = "/tmp/az_view_dicom_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dicom_folder));
    viewer.dicom_folder = dicom_folder;
    AzViewer_Key(&viewer, GLFW_KEY_D, GLFW_MOD_CONTROL);
    EXPECT_EQ(1, Lines_Starting(&viewer, std::string("DICOM written to ") + dicom_folder + "/dicom in "));
    EXPECT_EQ(1, Lines_Starting(&viewer, "  tags_seg.dcm: 3 segments in "));
    EXPECT_EQ(0, system((std::string("rm -r '") + dicom_folder + "'").c_str()));
    AzViewer_Key(&viewer, GLFW_KEY_Z, GLFW_MOD_CONTROL);
    Idle();
    EXPECT_EQ(clean, Screen(1, hit_x, hit_y)) << "the undo reached the oblique view too";
    AzViewer_Key(&viewer, GLFW_KEY_Z, GLFW_MOD_CONTROL);
    EXPECT_EQ(1, Lines_Starting(&viewer, "nothing to undo"));
}

TEST_F(ViewTest, PaintedTagsAreSavedAskedForAndAutosaved)
{
    char folder_name[] = "/tmp/az_view_tags_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(folder_name));
    std::string folder = folder_name, saved = folder + "/saved.nii.gz";
    /* A study read from a file comes back at the next start: its autosave is offered then. */
    ASSERT_EQ(0, system(("touch '" + folder + "/study.nii'").c_str()));
    app.studies[0].source = folder + "/study.nii";
    setenv("AZOZUDE_AUTOSAVE_DIR", (folder + "/autosave").c_str(), 1);
    AzViewer_Tags_Init(&viewer, saved);
    EXPECT_EQ(AZ_VIEWER_PROMPT_NONE, viewer.prompt);
    AzLabels names, back;
    names.names[200] = "Precentral_L";
    AzTags_Map_Set(names);
    /* The picker finds a tag by name. */
    for (char c : std::string("tPREC"))
        AzViewer_Char(&viewer, static_cast<unsigned char>(c));
    EXPECT_EQ("pick a tag (number or name): PREC_   tag 200: Precentral_L (1 of 1)   Enter paints with it, Up/Down "
              "other matches, Esc cancels",
              AzViewer_Picker_Text(&viewer));
    AzViewer_Key(&viewer, GLFW_KEY_ENTER, 0);
    EXPECT_TRUE(viewer.tag_cur == 200 && viewer.picking == 0);
    AzFrame *painted = AzViewer_Frame(&viewer.views[0]);
    Drag(At(0, 10, 12), At(0, 14, 12));
    ASSERT_EQ(200, AzFrame_Get_TAG(painted, 12.0f, 12.0f));
    EXPECT_TRUE(AzTags_Unsaved() == 1 && access(viewer.autosave_path.c_str(), R_OK) == 0) << viewer.autosave_path;
    /* Quitting with unsaved strokes asks; Esc goes on painting. */
    AzViewer_Char(&viewer, 'q');
    EXPECT_TRUE(viewer.prompt == AZ_VIEWER_PROMPT_QUIT && viewer.quit == 0);
    AzViewer_Key(&viewer, GLFW_KEY_ESCAPE, 0);
    /* A crash now loses nothing: the next start offers the autosave, and r restores it. */
    AzViewer_Key(&viewer, GLFW_KEY_Z, GLFW_MOD_CONTROL);
    ASSERT_TRUE(viewer.prompt == AZ_VIEWER_PROMPT_NONE && AzFrame_Get_TAG(painted, 12.0f, 12.0f) != 200);
    AzViewer_Tags_Init(&viewer, saved);
    EXPECT_EQ(AZ_VIEWER_PROMPT_RESTORE, viewer.prompt);
    AzViewer_Key(&viewer, GLFW_KEY_R, 0);
    EXPECT_TRUE(viewer.prompt == AZ_VIEWER_PROMPT_NONE && AzFrame_Get_TAG(painted, 12.0f, 12.0f) == 200);
    /* Ctrl+S writes the study's tags with their names; the autosave goes; q then quits at once. */
    AzViewer_Key(&viewer, GLFW_KEY_S, GLFW_MOD_CONTROL);
    EXPECT_TRUE(AzTags_Unsaved() == 0 && access(viewer.autosave_path.c_str(), R_OK) != 0);
    AzLoad_Report report;
    ASSERT_EQ(1, AzNifti_Read_Labels(saved, &back, &report));
    EXPECT_EQ("Precentral_L", back.names[200]);
    AzViewer_Char(&viewer, 'q');
    EXPECT_EQ(1, viewer.quit);
    AzTags_Map_Reset();
    unsetenv("AZOZUDE_AUTOSAVE_DIR");
    EXPECT_EQ(0, system(("rm -rf '" + folder + "'").c_str()));
}

TEST_F(ViewTest, ProgressWindowWaitCursorAndCancel)
{
    Click("Dir. Oblique"), Click("On/Off");
    Access_Init("view test");  // holding the database access lock keeps the worker at its first class
    Press(At(Widget("Update DB")));
    for (int i = 0; i < 200 && !viewer.progress_shown; i++)
        AzViewer_Window_Pass(window, 0.005);
    ASSERT_TRUE(AzViewer_Busy() && viewer.progress_shown);
    EXPECT_EQ(1, AzViewer_Window_Cursor_Wait(window));
    Press(At(Widget("Dir. Original")));
    EXPECT_EQ(0, dynamic_cast<Buttons *>(Widget("Dir. Original"))->selected) << "the panel is out of reach meanwhile";
    Press({viewer.cancel_rect.x + 5, viewer.cancel_rect.y + 5, 1, 1});
    AzProgress_View progress;
    ASSERT_TRUE(AzProgress_Last(&progress) == 1 && progress.record && progress.record->cancel);
    Access_End("view test");
    Idle();
    EXPECT_TRUE(!AzViewer_Busy() && !viewer.progress_shown);
    EXPECT_EQ(0, AzApp_Direction(&app, 0, 1)->Child_Get_Nb()) << "cancelled before the first frame";
    EXPECT_EQ(1, Lines_Starting(&viewer, "cancel asked: frame creation stops after the current frame"));
}

TEST_F(ViewTest, PanelTakesClicksKeysAndHelp)
{
    /* A click reaches the panel's widget under the pointer, in the panel's rows counted upward. */
    Buttons *original = dynamic_cast<Buttons *>(Widget("Dir. Original")), *oblique = dynamic_cast<Buttons *>(Widget("Dir. Oblique"));
    ASSERT_TRUE(original && oblique);
    std::vector<uint32_t> before = Crop(viewer.panel_rect);
    Click("Dir. Oblique");
    EXPECT_TRUE(!original->selected && oblique->selected);
    EXPECT_GT(Differing(before, Crop(viewer.panel_rect)), 50) << "the panel redrew its buttons";
    int px = -1, py = -1, state = -1;
    AzRect at = At(oblique);
    ASSERT_EQ(1, AzTools_Pointer_Get(app.panel_window, &px, &py, &state));
    EXPECT_TRUE(px == at.x - viewer.panel_rect.x && py == viewer.panel_rect.h - 1 - at.y && state == AZ_POINTER_NONE);

    /* F1 over "Update DB": the module's help for that control, in the help pane. */
    at = At(Widget("Update DB"));
    AzViewer_Pointer_Move(&viewer, at.x, at.y);
    before = Crop(viewer.help_rect);
    AzViewer_Key(&viewer, GLFW_KEY_F1, 0);
    Idle();
    EXPECT_EQ(0u, viewer.help_text.find("Update DB\nCreates or removes the slices")) << viewer.help_text;
    EXPECT_GT(Differing(before, Crop(viewer.help_rect)), 200);
    AzViewer_Key(&viewer, GLFW_KEY_ESCAPE, 0);
    EXPECT_EQ(0, viewer.help_shown);
    /* Leaving the panel clears the pointer record the widgets read. */
    AzViewer_Pointer_Move(&viewer, viewer.views[0].picture.x + 5, viewer.views[0].picture.y + 5);
    EXPECT_TRUE(viewer.in_panel == 0 && AzTools_Pointer_Get(app.panel_window, &px, &py, &state) == 0);

    /* A one-slice study: greyed direction buttons, and a hint that does not send the user to them. */
    EXPECT_EQ("No frames yet: choose Dir. Oblique, switch it on (On/Off) and press Update DB.",
              AzViewer_Hint_Text(&viewer, &viewer.views[1]));
    AzPhantom_Plan flat = plan;
    flat.slices = 1, flat.name = "Flat", flat.series_uid = "1.2.826.0.1.3680043.2.1125.5";
    ASSERT_EQ(AZ_EXIT_OK, AzApp_Load_Built(&app, flat, "flat phantom"));
    Fct_Update(0x200000, nullptr, nullptr, nullptr);  // the database changed: the panel lists it
    Idle();
    Click("Current Oblique", 0.99);  // the next entry
    ASSERT_EQ(1, AzApp_Study_Current(&app));
    EXPECT_NE(0, original->Disabled());
    EXPECT_EQ("This study cannot be re-sliced, it is not a 3D group: one frame only (0x40000000).",
              AzViewer_Hint_Text(&viewer, &viewer.views[1]));
}

/* The same 4 x 3 x 2 block of a patient stored with its rows and columns along the given patient
 * axes (LPS): each study's picture is the first of its kind's, its top left the patient's right
 * (and anterior, or superior) corner.  Grey levels name the patient point: 7 X + 100 Y + 1000 Z. */
class ViewOrientation : public Host_Test {
  protected:
    ViewOrientation() { module_level = false; }
};

TEST_F(ViewOrientation, EveryStorageShowsTheSamePictureTheRadiologicalWay)
{
    const std::tuple<const char *, AzVec3, AzVec3, int, int, int> storages[] = {
        {"lps", {1, 0, 0}, {0, 1, 0}, 3, 0, 0},          // as scanners write
        {"ras", {-1, 0, 0}, {0, -1, 0}, 3, 1, 1},        // as converters write
        {"las", {1, 0, 0}, {0, -1, 0}, 3, 0, 1},
        {"coronal", {1, 0, 0}, {0, 0, -1}, 2, 0, 0},
        {"coronal up", {-1, 0, 0}, {0, 0, 1}, 2, 1, 1},  // a volume stored from the feet
    };
    std::vector<uint32_t> first[2];
    for (const auto &[name, row, col, height, mirror_x, mirror_y] : storages) {
        SCOPED_TRACE(name);
        AzSeries series;
        series.name = series.source = series.uid = name;
        series.width = 4, series.height = height, series.display_mode = AZ_DISPLAY_MIN_MAX, series.display_high = 3000.0f;
        series.axis_row = row, series.axis_col = col, series.axis_normal = AzVec3_Cross(row, col);
        AzVec3 corner = {row.x + col.x < 0 ? 3.0 : 0.0, row.y + col.y < 0 ? 2.0 : 0.0,
                         row.z + col.z < 0 ? 1.0 : 0.0};  // pixel (0, 0): the corner the axes run away from
        for (int k = 0; k < 2; k++) {
            AzSeries_Frame frame;
            frame.position = AzVec3_Add(corner, AzVec3_Scale(series.axis_normal, k));
            frame.source_index = k;
            for (int i = 0; i < 4 * height; i++) {
                AzVec3 p = AzVec3_Add(frame.position,
                                      AzVec3_Add(AzVec3_Scale(row, i % 4), AzVec3_Scale(col, i / 4)));
                frame.gli.push_back(static_cast<int16_t>(7 * p.x + 100 * p.y + 1000 * p.z));
            }
            series.frames.push_back(frame);
        }
        AzSeries_Sort(&series);
        AzLoaded_Series loaded;
        std::string error;
        ASSERT_EQ(1, AzSeries_Insert(series, nullptr, &loaded, &error)) << error;
        AzHost_Pump();
        AzFrame_View view = {};
        view.shown = AzLoaded_Series_Class(loaded), view.zoom = 1.0f, view.picture = AzRect{0, 0, 40, 10 * height};
        AzViewer_View_Image(&view);
        EXPECT_TRUE(view.mirror_x == mirror_x && view.mirror_y == mirror_y);
        std::vector<uint32_t> &want = first[height == 3];
        if (want.empty())
            want = view.image;
        EXPECT_EQ(want, view.image);
        int fx, fy, sx, sy;
        AzViewer_Screen_Point(&view, 0, 0, &sx, &sy);
        ASSERT_TRUE(AzViewer_Frame_Point(&view, sx, sy, &fx, &fy) == 1 && fx == 0 && fy == 0);
        ASSERT_EQ(1, AzViewer_Frame_Point(&view, 1, 1, &fx, &fy));
        Vect at = AzFrame_Get_Pos(AzViewer_Frame(&view), static_cast<float>(fx), static_cast<float>(fy));
        EXPECT_TRUE(at.x == 0.0f && (height == 3 ? at.y : at.z) == (height == 3 ? 0.0f : 1.0f)) << at.y << " " << at.z;
    }
}
