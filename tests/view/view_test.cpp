/*
 * The interactive host in a real window under a private X server, driven
 * through the handlers its callbacks call.  Screenshots go to the build
 * folder's view-shots/.
 */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>

#include <GLFW/glfw3.h>

#include "hostlib/structures/az_progress.h"
#include "hostlib/tools/az_tools.h"
#include "hostlib/win32/az_win.h"
#include "hostapp/lib/az_labels.h"
#include "hostapp/lib/az_read.h"
#include "oblique/oblique.h"
#include "view_fixture.h"

namespace {

/* Pixels whose colour differs (the screen never shows alpha). */
int Differing(const std::vector<uint32_t> &a, const std::vector<uint32_t> &b)
{
    int n = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); i++)
        n += (a[i] & 0xffffff) != (b[i] & 0xffffff);
    return n;
}

/* Half of an 8-bit colour over another, as the host's tag tables give
 * labels (opacity 0.5 stored as the byte 127). */
uint32_t Half_Over(uint32_t under, int r, int g, int b)
{
    int over[3] = {r, g, b};
    uint32_t out = 0xff000000u;
    for (int c = 0; c < 3; c++) {
        int u = static_cast<int>((under >> (8 * c)) & 0xff);
        out |= static_cast<uint32_t>((u * 128 + over[c] * 127 + 127) / 255) << (8 * c);
    }
    return out;
}

int File_Readable(const std::string &path)
{
    FILE *file = fopen(path.c_str(), "rb");
    if (file)
        fclose(file);
    return file != nullptr;
}

int Has_Line(const std::vector<AzConsole_Entry> &lines, const char *text)
{
    for (const AzConsole_Entry &line : lines)
        if (line.text == text)
            return 1;
    return 0;
}

} // namespace

TEST_F(ViewTest, WindowShowsPanelViewsStatusAndConsole)
{
    std::vector<uint32_t> shown;
    int w = 0, h = 0;
    ASSERT_EQ(1, AzViewer_Window_Read(window, &shown, &w, &h));
    ASSERT_EQ(1100, w);
    ASSERT_EQ(720, h);
    EXPECT_EQ(0, Differing(shown, viewer.screen)) << "the X window shows the composed screen";

    // The panel is the module's window of the tool width, at the top left.
    int pw = 0, ph = 0;
    uint32_t *panel = AzWin_Pixels(app.panel_window, &pw, &ph);
    ASSERT_NE(nullptr, panel);
    EXPECT_EQ(300, pw);
    EXPECT_EQ(ph, app.module.Ctrl_Register());
    EXPECT_EQ(panel[3 * pw + 3], Screen(3, 3));
    EXPECT_EQ(panel[(ph - 2) * pw + pw - 2], Screen(pw - 2, ph - 2));

    EXPECT_STREQ("RUD Azozude:", viewer.status.Read());
    EXPECT_EQ(AzApp_Direction(&app, 0, 0), viewer.views[0].shown);
    EXPECT_EQ(AzApp_Direction(&app, 0, 1), viewer.views[1].shown);
    EXPECT_EQ(AzApp_Direction(&app, 0, 0), AzView_Current(viewer.views[0].host_view));
    EXPECT_EQ(32, viewer.views[0].image_w) << "the study's own frames are there from the start";
    EXPECT_EQ(0, viewer.views[1].image_w) << "no oblique frames before Update DB";

    // The panel's opening notice reaches the console pane; traces stay hidden at level 4.
    std::vector<AzConsole_Entry> lines = AzViewer_Console_Shown(&viewer);
    EXPECT_EQ(1, Has_Line(lines, " --- Entering Oblique Class Mode (#1) ---"));
    Error_Fct(hwnd, 11, "a trace for the filter");
    Error_Fct(hwnd, 2, "an error\twith a tab");
    Idle();
    lines = AzViewer_Console_Shown(&viewer);
    EXPECT_EQ(0, Has_Line(lines, "a trace for the filter"));
    EXPECT_EQ(1, Has_Line(lines, "an error    with a tab"));
    AzViewer_Char(&viewer, '>');
    EXPECT_EQ(6, viewer.console_level);
    AzViewer_Char(&viewer, '>');
    EXPECT_EQ(11, viewer.console_level);
    EXPECT_EQ(1, Has_Line(AzViewer_Console_Shown(&viewer), "a trace for the filter"));
    for (int i = 0; i < 10; i++)
        AzViewer_Char(&viewer, '>');
    EXPECT_EQ(15, viewer.console_level);
    for (int i = 0; i < 10; i++)
        AzViewer_Char(&viewer, '<');
    EXPECT_EQ(1, viewer.console_level);
    AzViewer_Char(&viewer, '>');
    AzViewer_Char(&viewer, '>');
    EXPECT_EQ(4, viewer.console_level);
    Idle();
    Shot("start");
}

TEST_F(ViewTest, PanelTakesClicksKeysAndHelp)
{
    Buttons *original = dynamic_cast<Buttons *>(Widget("Dir. Original"));
    Buttons *oblique = dynamic_cast<Buttons *>(Widget("Dir. Oblique"));
    ASSERT_NE(nullptr, original);
    ASSERT_NE(nullptr, oblique);
    EXPECT_EQ(1, original->selected);
    EXPECT_EQ(0, oblique->selected);
    std::vector<uint32_t> before = Crop(viewer.panel_rect);

    Click_Label("Dir. Oblique");
    EXPECT_EQ(0, original->selected);
    EXPECT_EQ(1, oblique->selected);
    EXPECT_GT(Differing(before, Crop(viewer.panel_rect)), 50) << "the panel redrew its buttons";
    EXPECT_EQ(1, viewer.in_panel);
    int x, y;
    Widget_Point(oblique, 0.5, 0.5, &x, &y);
    int px = -1, py = -1, state = -1;
    ASSERT_EQ(1, AzTools_Pointer_Get(app.panel_window, &px, &py, &state));
    EXPECT_EQ(x - viewer.panel_rect.x, px);
    EXPECT_EQ(viewer.panel_rect.h - 1 - y, py) << "panel rows count upward";
    EXPECT_EQ(AZ_POINTER_NONE, state) << "released";

    EXPECT_EQ(0, oblique->lamp);
    Click_Label("On/Off");
    EXPECT_EQ(1, oblique->lamp);
    Click_Label("On/Off");
    EXPECT_EQ(0, oblique->lamp);

    // F1 over "Update DB": the module's help for that control, in the help pane.
    Widget_Point(Widget("Update DB"), 0.5, 0.5, &x, &y);
    AzViewer_Pointer_Move(&viewer, x, y);
    std::vector<uint32_t> help_before = Crop(viewer.help_rect);
    AzViewer_Key(&viewer, GLFW_KEY_F1, 0);
    Idle();
    EXPECT_EQ(1, viewer.help_shown);
    EXPECT_EQ(0u, viewer.help_text.find("Update DB\nCreates or removes the slices")) << viewer.help_text;
    EXPECT_GT(Differing(help_before, Crop(viewer.help_rect)), 200);
    Shot("help");
    AzViewer_Key(&viewer, GLFW_KEY_ESCAPE, 0);
    EXPECT_EQ(0, viewer.help_shown);

    // '?' over the list asks for the list's help.
    Widget_Point(Widget("Current Oblique"), 0.5, 0.5, &x, &y);
    AzViewer_Pointer_Move(&viewer, x, y);
    AzViewer_Key(&viewer, GLFW_KEY_SLASH, GLFW_MOD_SHIFT);
    AzViewer_Char(&viewer, '?');
    EXPECT_EQ(0u, viewer.help_text.find("Current Oblique\n")) << viewer.help_text;

    // The panel takes no key: 'h' goes on to the viewer.
    AzViewer_Key(&viewer, GLFW_KEY_H, 0);
    AzViewer_Char(&viewer, 'h');
    EXPECT_EQ(1, viewer.shortcuts_shown);
    Idle();
    Shot("shortcuts");
    AzViewer_Key(&viewer, GLFW_KEY_ESCAPE, 0);
    EXPECT_EQ(0, viewer.shortcuts_shown);

    // Leaving the panel clears the pointer record the widgets read.
    AzViewer_Pointer_Move(&viewer, viewer.views[0].picture.x + 5, viewer.views[0].picture.y + 5);
    EXPECT_EQ(0, viewer.in_panel);
    EXPECT_EQ(0, AzTools_Pointer_Get(app.panel_window, &px, &py, &state));

    // A one-slice study: greyed direction buttons, and a hint that does not send the user to them.
    EXPECT_EQ("No frames yet: choose Dir. Oblique, switch it on (On/Off) and press Update DB.",
              AzViewer_Hint_Text(&viewer, &viewer.views[1]));
    AzStudy_Plan flat = plan;
    flat.slices = 1;
    flat.name = "Flat";
    flat.series_uid = "1.2.826.0.1.3680043.2.1125.5";
    ASSERT_EQ(AZ_EXIT_OK, AzApp_Load_Built(&app, flat, "flat phantom"));
    Fct_Update(0x200000, nullptr, nullptr, nullptr);   // the database changed: the panel lists it
    Idle();
    Tools *list = Widget("Current Oblique");
    Widget_Point(list, 0.99, 0.5, &x, &y);   // the next entry
    Click(x, y);
    ASSERT_EQ(1, AzApp_Study_Current(&app));
    EXPECT_NE(0, original->Disabled());
    EXPECT_EQ("This study cannot be re-sliced, it is not a 3D group: one frame only (0x40000000).",
              AzViewer_Hint_Text(&viewer, &viewer.views[1]));
}

TEST_F(ViewTest, ValuatorDragRotatesThePreview)
{
    Click_Label("Dir. Oblique");
    AzRect preview = Preview_Rect();
    ASSERT_GT(preview.w, 100);
    std::vector<uint32_t> before = Crop(preview);
    Shot("preview-before");

    Valuators *left = Valuator(1, 0);
    Valuators *right = Valuator(1, 1);
    ASSERT_NE(nullptr, left);
    ASSERT_NE(nullptr, right);
    int x0, y0, x1, y1;
    Widget_Point(left, 0.5, 0.5, &x0, &y0);
    Widget_Point(left, 0.5, 0.85, &x1, &y1);
    Drag(x0, y0, x1, y1);

    Kelvra_Oblique *oblique = dynamic_cast<Kelvra_Oblique *>(AzApp_Direction(&app, 0, 1));
    ASSERT_NE(nullptr, oblique);
    EXPECT_NE(0.0f, left->value);
    EXPECT_EQ(left->value, right->value);
    EXPECT_EQ(left->value, oblique->alpha);
    EXPECT_GT(Differing(before, Crop(preview)), preview.w * preview.h / 20) << "the preview turned";
    Shot("preview-after");
}

TEST_F(ViewTest, FrameViewsScrollZoomSetTheWindowAndFollowThePanel)
{
    AzFrame_View &view = viewer.views[0];
    Sliders *slider = dynamic_cast<Sliders *>(Widget("Demo Frame"));
    ASSERT_NE(nullptr, slider);
    int cx = view.picture.x + view.picture.w / 2, cy = view.picture.y + view.picture.h / 2;
    AzViewer_Pointer_Move(&viewer, cx, cy);
    EXPECT_EQ(8, view.frame) << "the view opens on the middle frame of 16";
    EXPECT_EQ(8.0f, slider->value) << "and so does the panel's preview";
    // Wheel and keys over the view; the panel (on the Original direction) follows, both counting from 0.
    const struct {
        int key;
        double wheel;
        int frame;
    } steps[] = {
        {0, -1.0, 9},  {GLFW_KEY_PAGE_DOWN, 0, 15}, {GLFW_KEY_PAGE_DOWN, 0, 15}, {GLFW_KEY_UP, 0, 14},
        {GLFW_KEY_PAGE_UP, 0, 4}, {GLFW_KEY_HOME, 0, 0}, {0, 1.0, 0}, {GLFW_KEY_RIGHT, 0, 1},
        {GLFW_KEY_END, 0, 15},
    };
    for (const auto &step : steps) {
        if (step.key)
            AzViewer_Key(&viewer, step.key, 0);
        else
            AzViewer_Wheel(&viewer, step.wheel, 0);
        EXPECT_EQ(step.frame, view.frame) << step.key << " " << step.wheel;
        EXPECT_EQ(static_cast<float>(step.frame), slider->value) << step.key << " " << step.wheel;
        AzViewer_Step(&viewer);
        EXPECT_EQ(step.frame, view.followed) << "the panel marks the view's frame";
    }
    EXPECT_EQ("Original   frame 15 (0-15)   32x32   zoom 1", AzViewer_Title_Text(&view));
    // The status line gives the panel's angles to a hundredth of a degree (the preview, whole degrees).
    float kept[2] = {Valuator(1, 0)->value, Valuator(0, 0)->value};
    Valuator(1, 0)->value = 29.6f / 57.29578f;
    Valuator(0, 0)->value = -10.27f / 57.29578f;
    EXPECT_EQ("   alpha 29.60, beta -10.27 degrees", AzViewer_Angles_Text(&viewer));
    Valuator(1, 0)->value = kept[0];
    Valuator(0, 0)->value = kept[1];
    Idle();
    AzFrame *frame = AzViewer_Frame(&view);
    ASSERT_NE(nullptr, frame);
    EXPECT_EQ(AzFrame_Cast(AzApp_Direction(&app, 0, 0)->Child_Get_Pt(15)), frame);

    // Grey levels of the frame through the host's colours, pixel for pixel.
    int sx, sy;
    Frame_Screen(0, 3, 20, &sx, &sy);
    ASSERT_EQ(1, frame->key->display_mode);
    ASSERT_EQ(3000.0f, frame->key->display_high);
    Fct_GLI_2_Color(frame->key->display_mode, frame->key->display_high, frame->key->display_low);
    uint32_t grey = Fct_GLI_2_Color(AzFrame_Get_GLI(frame, 3.0f, 20.0f));
    EXPECT_EQ(0, AzFrame_Get_TAG(frame, 3.0f, 20.0f));
    EXPECT_EQ(grey, Screen(sx, sy));

    // Right drag: a window of its own, wider to the right.
    Drag(cx, cy, cx + 128, cy, 1);
    EXPECT_EQ(1, view.window_custom);
    EXPECT_FLOAT_EQ(3000.0f * 1.5f, view.window_high - view.window_low);
    EXPECT_FLOAT_EQ(1500.0f, (view.window_high + view.window_low) * 0.5f);
    EXPECT_NE(grey, Screen(sx, sy));

    float fit_w = view.image_w * fminf(static_cast<float>(view.picture.w) / view.image_w,
                                       static_cast<float>(view.picture.h) / view.image_h);
    AzViewer_Wheel(&viewer, 1.0, GLFW_MOD_CONTROL);
    EXPECT_FLOAT_EQ(1.25f, view.zoom);
    AzViewer_Char(&viewer, '-');
    EXPECT_FLOAT_EQ(1.0f, view.zoom);
    AzViewer_Char(&viewer, '+');
    Idle();
    int left0, left1, top;
    Frame_Screen(0, 0, 0, &left0, &top);
    Frame_Screen(0, 1, 0, &left1, &top);
    EXPECT_NEAR(fit_w * 1.25f / view.image_w, left1 - left0, 1.0);
    // Middle drag moves the frame by as much as the pointer moved.
    Drag(cx, cy, cx + 30, cy - 20, 2);
    int moved_x, moved_y;
    Frame_Screen(0, 0, 0, &moved_x, &moved_y);
    EXPECT_EQ(left0 + 30, moved_x);
    EXPECT_EQ(top - 20, moved_y);
    AzViewer_Char(&viewer, 'r');
    EXPECT_EQ(0, view.window_custom);
    EXPECT_EQ(0, view.pan_x);
    EXPECT_EQ(0, view.pan_y);
    EXPECT_FLOAT_EQ(1.0f, view.zoom);
    Idle();
    EXPECT_EQ(grey, Screen(sx, sy));

    // The view follows the frame the panel's slider shows, when it changes.
    int x0, y0, x1, y1;
    Widget_Point(slider, 0.02, 0.5, &x0, &y0);
    Widget_Point(slider, 0.5, 0.5, &x1, &y1);
    Drag(x0, y0, x1, y1);
    int chosen = static_cast<int>(slider->value);
    EXPECT_GT(chosen, 2);
    EXPECT_EQ(chosen, view.frame);
    EXPECT_EQ(chosen, view.followed);
}

TEST_F(ViewTest, PaintingReachesTheOtherDirectionAndUndoes)
{
    // Oblique frames at a small angle.
    Click_Label("Dir. Oblique");
    int x0, y0, x1, y1;
    Widget_Point(Valuator(0, 0), 0.5, 0.5, &x0, &y0);
    Widget_Point(Valuator(0, 0), 0.6, 0.5, &x1, &y1);
    Drag(x0, y0, x1, y1);
    Click_Label("On/Off");
    Click_Label("Update DB");
    Idle();
    Kelvra_Class *oblique = AzApp_Direction(&app, 0, 1);
    Kelvra_Class *original = AzApp_Direction(&app, 0, 0);
    int oblique_nb = oblique->Child_Get_Nb();
    ASSERT_GT(oblique_nb, 0);
    EXPECT_EQ(static_cast<int>(dynamic_cast<Kelvra_Oblique *>(oblique)->dim.z), oblique_nb);

    // The new frames' title is right as soon as the work ends, before the pointer moves.
    AzFrame_View &left = viewer.views[0], &right = viewer.views[1];
    std::vector<uint32_t> shown = Crop(right.rect);
    AzViewer_Compose(&viewer);
    EXPECT_EQ(0, Differing(shown, Crop(right.rect)));
    EXPECT_GT(right.image_w, 0);
    EXPECT_EQ(std::string::npos, AzViewer_Title_Text(&right).find(" 0x0 ")) << AzViewer_Title_Text(&right);

    // Keys act on the view Tab chose, even with the pointer over the other one, until the pointer enters a view.
    AzViewer_Pointer_Move(&viewer, left.picture.x + 2, left.picture.y + 2);
    EXPECT_EQ(0, viewer.active_view);
    int left_frame = left.frame, right_frame = right.frame;
    AzViewer_Key(&viewer, GLFW_KEY_TAB, 0);
    EXPECT_EQ(1, viewer.active_view);
    AzViewer_Key(&viewer, GLFW_KEY_HOME, 0);
    AzViewer_Pointer_Move(&viewer, left.picture.x + 3, left.picture.y + 2);
    AzViewer_Key(&viewer, GLFW_KEY_DOWN, 0);
    EXPECT_EQ(left_frame, left.frame);
    EXPECT_EQ(1, right.frame) << "from " << right_frame;
    EXPECT_EQ(1.0f, dynamic_cast<Sliders *>(Widget("Demo Frame"))->value) << "the panel works on the Oblique view";
    AzViewer_Key(&viewer, GLFW_KEY_TAB, 0);
    EXPECT_EQ(0, viewer.active_view);
    AzViewer_Pointer_Move(&viewer, right.picture.x + 2, right.picture.y + 2);
    EXPECT_EQ(1, viewer.active_view) << "entering a view picks it";
    AzViewer_Pointer_Move(&viewer, left.picture.x + 2, left.picture.y + 2);
    AzViewer_View_Step(&viewer, &left, 8 - left.frame);
    Idle();
    ASSERT_EQ(8, left.frame);
    AzFrame *painted = AzViewer_Frame(&left);
    int old_tag = AzFrame_Get_TAG(painted, 10.0f, 12.0f);
    ASSERT_NE(7, old_tag);
    AzViewer_Char(&viewer, '7');
    EXPECT_EQ(7, viewer.tag_cur);
    int sx, sy, ex, ey;
    Frame_Screen(0, 10, 12, &sx, &sy);
    Frame_Screen(0, 14, 12, &ex, &ey);

    // First stroke: find where it lands in the oblique frames, then take it back.
    Drag(sx, sy, ex, ey);
    EXPECT_EQ(7, AzFrame_Get_TAG(painted, 10.0f, 12.0f));
    EXPECT_EQ(7, AzFrame_Get_TAG(painted, 14.0f, 14.0f)) << "brush of 5 reaches 2 rows down";
    EXPECT_EQ(1u, viewer.undo.size());
    int hit_frame = -1, hit_x = 0, hit_y = 0;
    for (int f = 0; f < oblique_nb && hit_frame < 0; f++) {
        AzFrame *frame = AzFrame_Cast(oblique->Child_Get_Pt(f));
        int w = 0, h = 0;
        AzFrame_Get_Dim(frame, &w, &h);
        for (int y = 0; y < h && hit_frame < 0; y++)
            for (int x = 0; x < w && hit_frame < 0; x++)
                if (AzFrame_Get_TAG(frame, static_cast<float>(x), static_cast<float>(y)) == 7) {
                    hit_frame = f;
                    hit_x = x;
                    hit_y = y;
                }
    }
    ASSERT_GE(hit_frame, 0) << "the stroke is in the study, so the oblique frames see it";
    AzViewer_Key(&viewer, GLFW_KEY_Z, GLFW_MOD_CONTROL);
    EXPECT_EQ(0u, viewer.undo.size());
    EXPECT_EQ(old_tag, AzFrame_Get_TAG(painted, 10.0f, 12.0f));
    Idle();

    // The oblique view shows that frame; the same stroke again.
    AzViewer_View_Step(&viewer, &right, hit_frame - right.frame);
    Idle();
    ASSERT_EQ(hit_frame, right.frame);
    AzFrame *seen = AzViewer_Frame(&right);
    int rx, ry;
    Frame_Screen(1, hit_x, hit_y, &rx, &ry);
    uint32_t clean = Screen(rx, ry);
    int dirty_before = seen->dirty_nb;
    Drag(sx, sy, ex, ey);
    EXPECT_GT(seen->dirty_nb, dirty_before) << "the update reached the oblique frames";
    EXPECT_EQ(Half_Over(clean, 255, 128, 0), Screen(rx, ry)) << "tag 7 drawn over the grey level";
    Shot("painted");

    // Ctrl+D writes the re-sliced frames and the painted tag as DICOM.
    char dicom_folder[] = "/tmp/az_view_dicom_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dicom_folder));
    viewer.dicom_folder = dicom_folder;
    AzViewer_Key(&viewer, GLFW_KEY_D, GLFW_MOD_CONTROL);
    std::vector<AzConsole_Entry> lines = AzViewer_Console_Shown(&viewer);
    std::string written = std::string("DICOM written to ") + dicom_folder + "/dicom in ";
    EXPECT_EQ(1, std::count_if(lines.begin(), lines.end(), [&](const AzConsole_Entry &line) {
                  return line.text.compare(0, written.size(), written) == 0;
              }));
    // The phantom's two tags and the stroke's.
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const AzConsole_Entry &line) {
        return line.text.compare(0, 30, "  tags_seg.dcm: 3 segments in ") == 0;
    }));
    struct stat info;
    EXPECT_EQ(0, stat((std::string(dicom_folder) + "/dicom/tags_seg.dcm").c_str(), &info));
    EXPECT_EQ(0, stat((std::string(dicom_folder) + "/dicom/oblique/IM00001.dcm").c_str(), &info));
    EXPECT_EQ(0, system((std::string("rm -r '") + dicom_folder + "'").c_str()));

    AzViewer_Key(&viewer, GLFW_KEY_Z, GLFW_MOD_CONTROL);
    Idle();
    EXPECT_EQ(old_tag, AzFrame_Get_TAG(painted, 10.0f, 12.0f));
    EXPECT_EQ(clean, Screen(rx, ry)) << "the undo reached the oblique view too";
    AzViewer_Key(&viewer, GLFW_KEY_Z, GLFW_MOD_CONTROL);
    EXPECT_EQ(1, Has_Line(AzViewer_Console_Shown(&viewer), "nothing to undo"));

    // Brush sizes stay within their bounds.
    for (int i = 0; i < 20; i++)
        AzViewer_Char(&viewer, ']');
    EXPECT_EQ(31, viewer.brush);
    for (int i = 0; i < 20; i++)
        AzViewer_Char(&viewer, '[');
    EXPECT_EQ(1, viewer.brush);
    (void)original;
}

TEST_F(ViewTest, PaintedTagsAreSavedAskedForAndAutosaved)
{
    char folder_name[] = "/tmp/az_view_tags_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(folder_name));
    std::string folder = folder_name, saved = folder + "/saved.nii.gz";
    // A study read from a file comes back at the next start: its autosave is offered then.
    FILE *source = fopen((folder + "/study.nii").c_str(), "w");
    ASSERT_NE(nullptr, source);
    fclose(source);
    app.studies[0].source = folder + "/study.nii";
    setenv("AZOZUDE_AUTOSAVE_DIR", (folder + "/autosave").c_str(), 1);
    AzViewer_Tags_Init(&viewer, saved);
    EXPECT_EQ(AZ_VIEWER_PROMPT_NONE, viewer.prompt);
    AzLabels names;
    names.names[200] = "Precentral_L";
    AzTags_Map_Set(names);

    // The picker finds a tag by name.
    AzViewer_Char(&viewer, 't');
    for (char c : std::string("PREC"))
        AzViewer_Char(&viewer, static_cast<unsigned char>(c));
    EXPECT_EQ(std::string("pick a tag (number or name): PREC_   tag 200: Precentral_L (1 of 1)   Enter paints with "
                          "it, Up/Down other matches, Esc cancels"),
              AzViewer_Picker_Text(&viewer));
    AzViewer_Key(&viewer, GLFW_KEY_ENTER, 0);
    EXPECT_EQ(200, viewer.tag_cur);
    EXPECT_EQ(0, viewer.picking);

    AzFrame *painted = AzViewer_Frame(&viewer.views[0]);
    int sx, sy, ex, ey;
    Frame_Screen(0, 10, 12, &sx, &sy);
    Frame_Screen(0, 14, 12, &ex, &ey);
    Drag(sx, sy, ex, ey);
    Idle();
    ASSERT_EQ(200, AzFrame_Get_TAG(painted, 12.0f, 12.0f));
    EXPECT_EQ(1, AzTags_Unsaved());
    EXPECT_EQ(1, File_Readable(viewer.autosave_path)) << viewer.autosave_path;

    // Quitting with unsaved strokes asks; Esc goes on painting.
    AzViewer_Char(&viewer, 'q');
    EXPECT_EQ(AZ_VIEWER_PROMPT_QUIT, viewer.prompt);
    EXPECT_EQ(0, viewer.quit);
    AzViewer_Step(&viewer);
    Shot("quit-asks");
    AzViewer_Key(&viewer, GLFW_KEY_ESCAPE, 0);
    EXPECT_EQ(AZ_VIEWER_PROMPT_NONE, viewer.prompt);

    // A crash now loses nothing: the next start offers the autosave, and r restores it.
    AzViewer_Key(&viewer, GLFW_KEY_Z, GLFW_MOD_CONTROL);
    ASSERT_NE(200, AzFrame_Get_TAG(painted, 12.0f, 12.0f));
    AzViewer_Tags_Init(&viewer, saved);
    EXPECT_EQ(AZ_VIEWER_PROMPT_RESTORE, viewer.prompt);
    AzViewer_Key(&viewer, GLFW_KEY_R, 0);
    EXPECT_EQ(AZ_VIEWER_PROMPT_NONE, viewer.prompt);
    EXPECT_EQ(200, AzFrame_Get_TAG(painted, 12.0f, 12.0f));

    // Ctrl+S writes the study's tags with their names; the autosave goes; q then quits at once.
    AzViewer_Key(&viewer, GLFW_KEY_S, GLFW_MOD_CONTROL);
    EXPECT_EQ(0, AzTags_Unsaved());
    EXPECT_EQ(1, File_Readable(saved));
    EXPECT_EQ(0, File_Readable(viewer.autosave_path));
    AzLabels back;
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
    Click_Label("Dir. Oblique");
    Click_Label("On/Off");
    // Holding the database access lock keeps the worker at its first class.
    Access_Init("view test");
    Tools *update = Widget("Update DB");
    int x, y;
    Widget_Point(update, 0.5, 0.5, &x, &y);
    AzViewer_Pointer_Move(&viewer, x, y);
    AzViewer_Button(&viewer, 0, 1, 0);
    AzViewer_Button(&viewer, 0, 0, 0);
    for (int i = 0; i < 200 && !viewer.progress_shown; i++)
        AzViewer_Window_Pass(window, 0.005);
    ASSERT_EQ(1, AzViewer_Busy());
    ASSERT_EQ(1, viewer.progress_shown);
    EXPECT_EQ(1, AzViewer_Window_Cursor_Wait(window));
    Shot("progress");

    // The panel is out of reach meanwhile.
    Buttons *original = dynamic_cast<Buttons *>(Widget("Dir. Original"));
    int ox, oy;
    Widget_Point(original, 0.5, 0.5, &ox, &oy);
    AzViewer_Pointer_Move(&viewer, ox, oy);
    AzViewer_Button(&viewer, 0, 1, 0);
    AzViewer_Button(&viewer, 0, 0, 0);
    EXPECT_EQ(0, original->selected);

    AzViewer_Pointer_Move(&viewer, viewer.cancel_rect.x + 5, viewer.cancel_rect.y + 5);
    AzViewer_Button(&viewer, 0, 1, 0);
    AzViewer_Button(&viewer, 0, 0, 0);
    AzProgress_View progress;
    ASSERT_EQ(1, AzProgress_Last(&progress));
    ASSERT_NE(nullptr, progress.record);
    EXPECT_NE(0, progress.record->cancel);
    Access_End("view test");
    Idle();
    EXPECT_EQ(0, AzViewer_Busy());
    EXPECT_EQ(0, viewer.progress_shown);
    EXPECT_EQ(0, AzViewer_Window_Cursor_Wait(window));
    EXPECT_EQ(0, AzApp_Direction(&app, 0, 1)->Child_Get_Nb()) << "cancelled before the first frame";
    EXPECT_EQ(1, Has_Line(AzViewer_Console_Shown(&viewer), "cancel asked: frame creation stops after the current frame"));
}

namespace {

/* The same 4 x 3 x 2 block of a patient, stored with its rows and columns
 * along the given patient axes (LPS), as a series whose grey levels name
 * the patient point: 7 X + 100 Y + 1000 Z for X, Y, Z from 0 up. */
AzSeries Block_Stored(const char *name, AzVec3 row, AzVec3 col, int width, int height)
{
    AzSeries series;
    series.name = series.source = series.uid = name;
    series.width = width;
    series.height = height;
    series.axis_row = row;
    series.axis_col = col;
    series.axis_normal = AzVec3_Cross(row, col);
    series.display_mode = AZ_DISPLAY_MIN_MAX;
    series.display_low = 0.0f;
    series.display_high = 3000.0f;
    // Pixel (0, 0) lies at the corner the axes run away from.
    AzVec3 corner = {row.x + col.x < 0 ? 3.0 : 0.0, row.y + col.y < 0 ? 2.0 : 0.0, row.z + col.z < 0 ? 1.0 : 0.0};
    for (int k = 0; k < 2; k++) {
        AzSeries_Frame frame;
        frame.position = AzVec3_Add(corner, AzVec3_Scale(series.axis_normal, k));
        frame.source_index = k;
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++) {
                AzVec3 p = AzVec3_Add(frame.position, AzVec3_Add(AzVec3_Scale(row, x), AzVec3_Scale(col, y)));
                frame.gli.push_back(static_cast<int16_t>(7 * p.x + 100 * p.y + 1000 * p.z));
            }
        series.frames.push_back(frame);
    }
    AzSeries_Sort(&series);
    return series;
}

} // namespace

TEST(ViewOrientation, EveryStorageShowsTheSamePictureTheRadiologicalWay)
{
    AzDb_Init();
    AzDb_Tree_Default(nullptr);
    // Axial: LPS rows and columns (as scanners write), RAS (as converters write), LAS.  Coronal: columns running
    // up (rows of a volume stored from the feet).  Each study's picture is compared with the first of its kind.
    struct Storage {
        const char *name;
        AzVec3 row, col;
        int width, height;
        int mirror_x, mirror_y;
    } storages[] = {
        {"lps", {1, 0, 0}, {0, 1, 0}, 4, 3, 0, 0},
        {"ras", {-1, 0, 0}, {0, -1, 0}, 4, 3, 1, 1},
        {"las", {1, 0, 0}, {0, -1, 0}, 4, 3, 0, 1},
        {"coronal", {1, 0, 0}, {0, 0, -1}, 4, 2, 0, 0},
        {"coronal up", {-1, 0, 0}, {0, 0, 1}, 4, 2, 1, 1},
    };
    std::vector<uint32_t> axial, coronal;
    for (const Storage &s : storages) {
        SCOPED_TRACE(s.name);
        AzSeries series = Block_Stored(s.name, s.row, s.col, s.width, s.height);
        AzLoaded_Study loaded;
        std::string error;
        ASSERT_EQ(1, AzSeries_Insert(series, nullptr, &loaded, &error)) << error;
        AzHost_Pump();
        AzFrame_View view = {};
        view.shown = AzLoaded_Study_Class(loaded);
        view.zoom = 1.0f;
        view.picture = AzRect{0, 0, 10 * s.width, 10 * s.height};
        AzViewer_View_Image(&view);
        EXPECT_EQ(s.mirror_x, view.mirror_x);
        EXPECT_EQ(s.mirror_y, view.mirror_y);
        std::vector<uint32_t> &first = s.height == 3 ? axial : coronal;
        if (first.empty())
            first = view.image;
        EXPECT_EQ(first, view.image);
        // The picture's top left shows the patient's right (and anterior, or superior) corner.
        int fx, fy, sx, sy;
        AzViewer_Screen_Point(&view, 0, 0, &sx, &sy);
        ASSERT_EQ(1, AzViewer_Frame_Point(&view, sx, sy, &fx, &fy));
        EXPECT_EQ(0, fx);
        EXPECT_EQ(0, fy);
        ASSERT_EQ(1, AzViewer_Frame_Point(&view, 1, 1, &fx, &fy));
        Vect corner = AzFrame_Get_Pos(AzViewer_Frame(&view), static_cast<float>(fx), static_cast<float>(fy));
        EXPECT_EQ(0.0f, corner.x);
        EXPECT_EQ(s.height == 3 ? 0.0f : 1.0f, s.height == 3 ? corner.y : corner.z);
    }
    AzDb_Reset();
}
