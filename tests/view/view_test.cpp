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
#include <functional>
#include <map>
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
#include "tests/support/golden.h"
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

/* The parts of a script line between "; ". */
std::vector<std::string> Parts(const std::string &text)
{
    std::vector<std::string> parts;
    for (size_t at = 0, end = 0; at < text.size(); at = end + 2)
        parts.push_back(text.substr(at, (end = std::min(text.find("; ", at), text.size())) - at));
    return parts;
}

int Key_Code(const std::string &name)
{
    static const std::map<std::string, int> keys = {
        {"TAB", GLFW_KEY_TAB},         {"ENTER", GLFW_KEY_ENTER}, {"ESCAPE", GLFW_KEY_ESCAPE}, {"F1", GLFW_KEY_F1},
        {"HOME", GLFW_KEY_HOME},       {"END", GLFW_KEY_END},     {"UP", GLFW_KEY_UP},         {"RIGHT", GLFW_KEY_RIGHT},
        {"PAGE_UP", GLFW_KEY_PAGE_UP}, {"PAGE_DOWN", GLFW_KEY_PAGE_DOWN}};
    return name.size() == 1 ? name[0] : keys.at(name);
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
    Tools *Widget(const std::string &label)
    {
        Tools *widget = AzTools_Find(app.panel_window, label.c_str());
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
    /* Pixels of a part of the screen whose colour differs from the snapshot's (the screen never shows alpha). */
    int Changed(const AzRect &r)
    {
        int n = 0;
        for (size_t y = r.y; y < (size_t)(r.y + r.h); y++)
            for (size_t x = r.x; x < (size_t)(r.x + r.w); x++)
                n += ((snap[y * viewer.width + x] ^ viewer.screen[y * viewer.width + x]) & 0xffffff) > 0;
        return n;
    }
    /* Runs a key script of tests/data/traces: per line actions, then after " | " the state they leave,
     * each "field=value", separated by "; " (see Act and State); the trace is the script with the values
     * found. */
    testing::AssertionResult Script(const std::string &name, const Golden_Names &names = {})
    {
        std::vector<std::string> trace;
        for (const std::string &line : Golden_Lines(name, names)) {
            size_t bar = std::min(line.find(" | "), line.size());
            std::string out = line.substr(0, bar), separator = " | ";
            for (const std::string &action : Parts(out))
                Act(action);
            for (const std::string &check : Parts(line.substr(std::min(bar + 3, line.size())))) {
                std::string field = check.substr(0, check.find('='));
                out += separator + field + "=" + State(field), separator = "; ";
            }
            trace.push_back(out);
        }
        return Trace_Is(name, trace, names);
    }
    /* key [ctrl+]NAME; type TEXT; wheel [ctrl+]STEPS; step; idle; look (nothing); click LABEL[@FX] (then
     * idle); press LABEL; hover LABEL or view (the left view's centre); drag DX DY BUTTON (from that
     * centre); paint X0 Y0 X1 Y1 (in the left view's frame); turn vertical|horizontal FX FY (the first
     * valuator); slide FX0 FX1 (the frame slider); go VIEW FRAME; find TAG (in the oblique frames);
     * show (the right view at what find found); lock, unlock (the database access); wait (for the
     * progress window); cancel; reopen (the tags, as at the next start); snap (the screen); compose;
     * flat (a one-slice study joins). */
    void Act(const std::string &action)
    {
        std::string verb = action.substr(0, action.find(' '));
        std::string arg = action.substr(std::min(action.size(), verb.size() + 1));
        int mods = arg.compare(0, 5, "ctrl+") == 0 ? (arg.erase(0, 5), GLFW_MOD_CONTROL) : 0;
        double n[4] = {0, 0, 0, 0};
        size_t number = arg.find_first_of("-0123456789"), at = arg.find('@');
        if (number != std::string::npos)
            sscanf(arg.c_str() + number, "%lf %lf %lf %lf", &n[0], &n[1], &n[2], &n[3]);
        const AzRect &picture = viewer.views[0].picture;
        AzRect centre = {picture.x + picture.w / 2, picture.y + picture.h / 2, 1, 1};
        auto spot = [&] { return arg == "view" ? centre : At(Widget(arg.substr(0, at)), at < arg.size() ? n[0] : 0.5); };
        const std::map<std::string, std::function<void()>> verbs = {
            {"key", [&] { AzViewer_Key(&viewer, Key_Code(arg), mods); }},
            {"type", [&] { for (char c : arg) AzViewer_Char(&viewer, static_cast<unsigned char>(c)); }},
            {"wheel", [&] { AzViewer_Wheel(&viewer, n[0], mods); }},
            {"step", [&] { AzViewer_Step(&viewer); }},
            {"idle", [&] { Idle(); }},
            {"look", [] {}},
            {"click", [&] { Press(spot()), Idle(); }},
            {"press", [&] { Press(spot()); }},
            {"hover", [&] { AzViewer_Pointer_Move(&viewer, spot().x, spot().y); }},
            {"drag", [&] { Drag(centre, {centre.x + (int)n[0], centre.y + (int)n[1], 1, 1}, (int)n[2]); }},
            {"paint", [&] { Drag(At(0, (int)n[0], (int)n[1]), At(0, (int)n[2], (int)n[3])); }},
            {"turn", [&] { Drag(At(Valuator(arg[0] == 'v', 0)), At(Valuator(arg[0] == 'v', 0), n[0], n[1])); }},
            {"slide", [&] { Drag(At(Widget("Demo Frame"), n[0]), At(Widget("Demo Frame"), n[1])); }},
            {"go", [&] { Go((int)n[0], (int)n[1]); }},
            {"find", [&] { Find((int)n[0]); }},
            {"show", [&] { Go(1, hit[0]), clean = Screen(1, hit[1], hit[2]);
                           dirty = AzViewer_Frame(&viewer.views[1])->dirty_nb; }},
            {"lock", [] { Access_Init("view test"); }},
            {"unlock", [] { Access_End("view test"); }},
            {"wait", [&] { for (int i = 0; i < 200 && !viewer.progress_shown; i++) AzViewer_Window_Pass(window, 0.005); }},
            {"cancel", [&] { Press({viewer.cancel_rect.x + 5, viewer.cancel_rect.y + 5, 1, 1}); }},
            {"reopen", [&] { AzViewer_Tags_Init(&viewer, viewer.tags_path); }},
            {"snap", [&] { snap = viewer.screen; }},
            {"compose", [&] { AzViewer_Compose(&viewer); }},
            {"flat", [&] { Load_Flat(); }}};
        if (verbs.count(verb))
            verbs.at(verb)();
        else
            ADD_FAILURE() << "no action " << action;
    }
    void Go(int v, int frame) { AzViewer_View_Step(&viewer, &viewer.views[v], frame - viewer.views[v].frame), Idle(); }
    void Load_Flat()
    {
        AzPhantom_Plan flat = plan;
        flat.slices = 1, flat.name = "Flat", flat.series_uid = "1.2.826.0.1.3680043.2.1125.5";
        EXPECT_EQ(AZ_EXIT_OK, AzApp_Load_Built(&app, flat, "flat phantom"));
        Fct_Update(0x200000, nullptr, nullptr, nullptr);  // the database changed: the panel lists it
        Idle();
    }
    /* The first pixel of an oblique frame that holds the tag: frame, x, y. */
    void Find(int tag)
    {
        Kelvra_Class *oblique = AzApp_Direction(&app, 0, 1);
        hit[0] = -1;
        for (int f = 0, w = 0, h = 0; f < oblique->Child_Get_Nb() && hit[0] < 0; f++) {
            AzFrame *frame = AzFrame_Cast(oblique->Child_Get_Pt(f));
            AzFrame_Get_Dim(frame, &w, &h);
            for (int i = 0; i < w * h && hit[0] < 0; i++)
                if (AzFrame_Get_TAG(frame, static_cast<float>(i % w), static_cast<float>(i / w)) == tag)
                    hit[0] = f, hit[1] = i % w, hit[2] = i / w;
        }
    }
    /* A field's first word names it, the rest (numbers, a label or a text) says what of. */
    std::string State(const std::string &field)
    {
        static const char *const prompts[] = {"none", "quit", "restore"};
        const AzFrame_View &left = viewer.views[0], &right = viewer.views[1];
        Kelvra_Oblique *oblique = static_cast<Kelvra_Oblique *>(AzApp_Direction(&app, 0, 1));
        std::string label = field.substr(std::min(field.size(), field.find(' ') + 1));
        int x = 0, y = 0, state = 0;
        if (label.find_first_of("0123456789") != std::string::npos)
            sscanf(label.c_str() + label.find_first_of("0123456789"), "%d %d", &x, &y);
        AzProgress_View progress;
        uint32_t shown = hit[0] < 0 ? 0 : Screen(1, hit[1], hit[2]);
        const std::map<std::string, std::function<std::string()>> fields = {
            // the left view's frame, the panel slider's, the panel's mark
            {"frames", [&] { return Golden_Text("%d %g %d", left.frame, dynamic_cast<Sliders *>(Widget("Demo Frame"))->value,
                                         left.followed); }},
            {"frame", [&] { return Golden_Text("%d %d", left.frame, right.frame); }},
            {"title", [&] { return AzViewer_Title_Text(&viewer.views[x]); }},
            {"hint", [&] { return AzViewer_Hint_Text(&viewer, &viewer.views[x]); }},
            {"tag", [&] { return std::to_string(AzFrame_Get_TAG(AzViewer_Frame(&left), (float)x, (float)y)); }},
            {"pixel", [&] { return Golden_Text("%08x", Screen(0, x, y)); }},
            {"lines", [&] { std::vector<AzConsole_Entry> lines = AzViewer_Console_Shown(&viewer);
                            return std::to_string(std::count_if(lines.begin(), lines.end(), [&](const AzConsole_Entry &l) {
                                return l.text.compare(0, label.size(), label) == 0; })); }},
            // pixels of the panel, the help pane or the right view that differ from the snapshot (many: over 200)
            {"changed", [&] { int n = Changed(label == "panel" ? viewer.panel_rect : label == "help" ? viewer.help_rect
                                                                                                     : right.rect);
                              return n == 0 ? "none" : n <= 200 ? "a few" : "many"; }},
            {"level", [&] { return std::to_string(viewer.console_level); }},
            {"window", [&] { return left.window_custom ? Golden_Text("%g %g", left.window_high - left.window_low,
                                                              (left.window_high + left.window_low) / 2) : "header"; }},
            {"view", [&] { return Golden_Text("zoom %g pan %d %d", left.zoom, left.pan_x, left.pan_y); }},
            {"brush", [&] { return Golden_Text("tag %d picking %d undo %zu", viewer.tag_cur, viewer.picking,
                                        viewer.undo.size()); }},
            {"prompt", [&] { return std::string(prompts[viewer.prompt]) + (viewer.quit ? ", quit" : ""); }},
            {"picker", [&] { return AzViewer_Picker_Text(&viewer); }},
            // strokes not saved, the autosave file
            {"saved", [&] { return Golden_Text("%d %s", AzTags_Unsaved(), access(viewer.autosave_path.c_str(), R_OK) == 0
                                                                         ? "autosaved" : "no autosave"); }},
            // shown or not, its first two lines
            {"help", [&] { const std::string &help = viewer.help_text;
                           return Golden_Text("%d ", viewer.help_shown) +
                                  Golden_Escaped(help.substr(0, help.find('\n', help.find('\n') + 1))); }},
            // over the panel or not, and where its widgets see it
            {"pointer", [&] { return std::string(viewer.in_panel ? "in" : "out") +
                                     (AzTools_Pointer_Get(app.panel_window, &x, &y, &state)
                                          ? Golden_Text(" at %d %d %d", x, y, state) : ", no record"); }},
            {"button", [&] { return Golden_Text("selected %d disabled %d", dynamic_cast<Buttons *>(Widget(label))->selected,
                                         Widget(label)->Disabled()); }},
            // the interface lock, the progress window, the wait cursor, a cancel asked
            {"busy", [&] { int cancel = AzProgress_Last(&progress) == 1 && progress.record && progress.record->cancel;
                           return Golden_Text("%d %d %d %d", AzViewer_Busy(), viewer.progress_shown,
                                       AzViewer_Window_Cursor_Wait(window), cancel); }},
            {"oblique", [&] { float alpha = oblique->alpha, v0 = Valuator(1, 0)->value, v1 = Valuator(1, 1)->value;
                              return Golden_Text("%d frames, %d deep, alpha %s", oblique->Child_Get_Nb(), (int)oblique->dim.z,
                                          !alpha ? "0" : alpha == v0 && alpha == v1 ? "on both valuators"
                                                                                     : "apart"); }},
            {"current", [&] { return std::to_string(AzApp_Study_Current(&app)); }},
            // the found pixel as the right view shows it, and whether its frame heard of a change since show
            {"hit", [&] { const char *looks = shown == clean ? "clean" : shown == Mixed(clean) ? "mixed" : "other";
                          return hit[0] < 0 ? "not found" : Golden_Text("%s, %s", looks, AzViewer_Frame(&right)->dirty_nb > dirty
                                                                                     ? "updated" : "as shown"); }}};
        auto found = fields.find(field.substr(0, field.find(' ')));
        return found == fields.end() ? "no field " + field : found->second();
    }
    /* Tag 7's colour (255, 128, 0) at opacity 127/255 over a grey level. */
    static uint32_t Mixed(uint32_t grey)
    {
        uint32_t mixed = 0xff000000u;
        for (int c = 0; c < 3; c++)
            mixed |= (((grey >> (8 * c) & 0xff) * 128 + (c == 0 ? 255 : c == 1 ? 128 : 0) * 127 + 127) / 255) << (8 * c);
        return mixed;
    }

    AzApp app;
    AzViewer viewer;
    AzViewer_Window *window = nullptr;
    int started = 0;
    AzPhantom_Plan plan;
    std::vector<uint32_t> snap;
    int hit[3] = {-1, 0, 0}, dirty = 0;
    uint32_t clean = 0;
};

} // namespace

TEST_F(ViewTest, WindowShowsPanelViewsStatusAndConsole)
{
    int w = 0, h = 0, pw = 0, ph = 0;
    ASSERT_TRUE(AzViewer_Window_Read(window, &snap, &w, &h) == 1 && w == 1100 && h == 720);
    EXPECT_EQ(0, Changed({0, 0, w, h})) << "the X window shows the composed screen";
    /* The panel is the module's window of the tool width, at the top left. */
    uint32_t *panel = AzWin_Pixels(app.panel_window, &pw, &ph);
    ASSERT_TRUE(panel && pw == 300 && ph == app.module.Ctrl_Register()) << pw << " " << ph;
    EXPECT_EQ(panel[(ph - 2) * pw + pw - 2], viewer.screen[(ph - 2) * 1100 + pw - 2]);
    EXPECT_STREQ("RUD Azozude:", viewer.status.Read());
    EXPECT_TRUE(AzApp_Direction(&app, 0, 0) == viewer.views[0].shown &&
                AzApp_Direction(&app, 0, 1) == viewer.views[1].shown);
    /* The study's own frames are there from the start, no oblique frames before Update DB. */
    EXPECT_TRUE(viewer.views[0].image_w == 32 && viewer.views[1].image_w == 0);
    Error_Fct(hwnd, 11, "a trace for the filter");
    Error_Fct(hwnd, 2, "an error\twith a tab");
    EXPECT_TRUE(Script("view_console"));
}

TEST_F(ViewTest, FrameViewsScrollZoomSetTheWindowAndFollowThePanel)
{
    /* The status line gives the panel's angles to a hundredth of a degree. */
    float kept[2] = {Valuator(1, 0)->value, Valuator(0, 0)->value};
    Valuator(1, 0)->value = 29.6f / 57.29578f, Valuator(0, 0)->value = -10.27f / 57.29578f;
    EXPECT_EQ("   alpha 29.60, beta -10.27 degrees", AzViewer_Angles_Text(&viewer));
    Valuator(1, 0)->value = kept[0], Valuator(0, 0)->value = kept[1];
    /* The grey level of the last frame at (3, 20) through the host's colours. */
    AzFrame *frame = AzFrame_Cast(AzApp_Direction(&app, 0, 0)->Child_Get_Pt(15));
    ASSERT_TRUE(frame->key->display_mode == 1 && frame->key->display_high == 3000.0f);
    Fct_GLI_2_Color(1, 3000.0f, frame->key->display_low);
    EXPECT_TRUE(Script("view_frames", {{"grey", Golden_Text("%08x", Fct_GLI_2_Color(AzFrame_Get_GLI(frame, 3.0f, 20.0f)))}}));
}

TEST_F(ViewTest, PaintingReachesTheOtherDirectionAndUndoes)
{
    char dicom_folder[] = "/tmp/az_view_dicom_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dicom_folder));
    viewer.dicom_folder = dicom_folder;
    EXPECT_TRUE(Script("view_paint", {{"dicom", dicom_folder}}));
    EXPECT_EQ(0, system((std::string("rm -r '") + dicom_folder + "'").c_str()));
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
    AzLabels names, back;
    names.names[200] = "Precentral_L";
    AzTags_Map_Set(names);
    EXPECT_TRUE(Script("view_tags"));
    AzLoad_Report report;
    ASSERT_EQ(1, AzNifti_Read_Labels(saved, &back, &report)) << "Ctrl+S writes the study's tags with their names";
    EXPECT_EQ("Precentral_L", back.names[200]);
    AzTags_Map_Reset();
    unsetenv("AZOZUDE_AUTOSAVE_DIR");
    EXPECT_EQ(0, system(("rm -rf '" + folder + "'").c_str()));
}

TEST_F(ViewTest, ProgressWindowWaitCursorAndCancel) { EXPECT_TRUE(Script("view_progress")); }

TEST_F(ViewTest, PanelTakesClicksKeysAndHelp) { EXPECT_TRUE(Script("view_panel")); }

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
        series.width = 4, series.height = height;
        series.display_mode = AZ_DISPLAY_MIN_MAX, series.display_high = 3000.0f;
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
