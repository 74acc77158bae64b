/*
 * The viewer's set-up, layout and loop step: it keeps the host pumped,
 * the frame views in step with the panel and the database, and collects
 * the console's lines.
 */
#include <string.h>

#include "../../hostlib/structures/az_db.h"
#include "../../hostlib/structures/az_progress.h"
#include "../../hostlib/tools/az_tools.h"
#include "../../hostlib/util/az_console.h"
#include "../../hostlib/win32/az_win.h"
#include "az_viewer.h"

const int AzViewer_Levels[AZ_VIEWER_LEVELS_NB] = {1, 2, 4, 6, 11, 13, 15};

namespace {

const int status_height = 22;
const int status_label_width = 160;
const int title_height = 20;
const int gap = 4;
const int console_min_height = 100;
const int help_min_height = 4 + 4 * 16;   /* the help pane's title and three lines */
const int view_min_width = 160;
/* Host update that tells the module the frame shown has changed. */
const uint64_t frame_changed = 0x400000ULL;
/* Class ids of the two views: their own entries of "$FRAME_CUR". */
const unsigned short view_class_b[2] = {20, 21};
const char *const view_names[2] = {"Original view", "Oblique view"};

/* The window's console shows every line; errors also go on to the console
 * the viewer replaced (the program's standard error), where they outlast
 * the window. */
void Console_Sink(void *user, HWND window, int level, const char *text)
{
    AzViewer *viewer = static_cast<AzViewer *>(user);
    if (level <= AZ_ERROR_LEVEL && viewer->previous_sink)
        viewer->previous_sink(viewer->previous_sink_user, window, level, text);
    std::vector<char> plain(strlen(text ? text : "") + 1);
    AzConsole_Plain(text, plain.data(), static_cast<int>(plain.size()));
    std::lock_guard<std::mutex> hold(viewer->console_lock);
    std::string line;
    for (const char *p = plain.data();; p++) {
        if (*p == '\n' || *p == 0) {
            viewer->console.push_back({level, line});
            line.clear();
            if (*p == 0)
                break;
        } else if (*p == '\t') {
            line.append(4 - line.size() % 4, ' ');
        } else {
            line += *p;
        }
    }
    if (viewer->console.size() > AZ_VIEWER_CONSOLE_MAX)
        viewer->console.erase(viewer->console.begin(),
                              viewer->console.begin() + (viewer->console.size() - AZ_VIEWER_CONSOLE_MAX));
    viewer->console_changed = 1;
}

void Redraw_Hook(uint64_t, void *user)
{
    AzViewer *viewer = static_cast<AzViewer *>(user);
    for (AzFrame_View &view : viewer->views)
        view.image_valid = 0;
    viewer->dirty = 1;
}

/* The module's status label lives in a window of its own, like the
 * host's status bar. */
void Status_Create(AzViewer *viewer)
{
    viewer->status_window = CreateWindowExA(0, AZ_TOOLS_CLASS, "status", WS_CHILD | WS_VISIBLE, 0, 0,
                                            status_label_width, status_height, viewer->app->main_window, nullptr,
                                            nullptr, nullptr);
    Texts &status = viewer->status;
    status.x = 0;
    status.y = 0;
    status.width = status_label_width;
    status.height = status_height;
    status.font_name = Fct_Variable_Value("$INTERFACE_TOOL_FONT_NAME", nullptr, nullptr, nullptr);
    status.font_weight = Fct_Variable_Value("$INTERFACE_TOOL_FONT_WEIGHT", nullptr, nullptr, nullptr);
    status.font_scale = static_cast<short>(Fct_Variable_Value("$INTERFACE_TOOL_FONT_SCALE", nullptr, nullptr, nullptr));
    status.window = viewer->status_window;
    viewer->app->module.Class_Status(&status);
}

void View_Create(AzFrame_View *view, int direction)
{
    view->direction = direction;
    view->host_view = AzView_Create(view_names[direction], view_class_b[direction]);
    view->shown = nullptr;
    view->frame = 0;
    view->followed = -1;
    view->frames_nb = 0;
    view->zoom = 1.0f;
    view->pan_x = view->pan_y = 0;
    view->window_custom = 0;
    view->window_low = view->window_high = 0.0f;
    view->image.clear();
    view->image_w = view->image_h = 0;
    view->mirror_x = view->mirror_y = 0;
    view->image_valid = 0;
    view->rect = view->picture = AzRect{0, 0, 0, 0};
}

/* Moves the panel's "Demo Frame" slider to a frame and tells the module, as
 * the host does when its own view moves to another frame: the preview then
 * shows that frame and the panel marks it.  Nothing while frames are being
 * created, or when the slider does not reach that far (the panel's angles
 * changed since the frames were made). */
void Panel_Slice_Set(AzViewer *viewer, int frame)
{
    Sliders *slider = dynamic_cast<Sliders *>(AzTools_Find(viewer->app->panel_window, "Demo Frame"));
    if (!slider || slider->Disabled() || AzViewer_Busy() || frame < 0 || frame > slider->maximum ||
        static_cast<int>(slider->value) == frame)
        return;
    slider->value = static_cast<float>(frame);
    slider->Adjust();
    Fct_Update(frame_changed, nullptr, nullptr, nullptr);
    AzApp_Pump(viewer->app);
    viewer->dirty = 1;
}

/* A change of the interface lock: an apply started or ended. */
void Busy_Changed(AzViewer *viewer, int busy)
{
    viewer->busy = busy;
    viewer->dirty = 1;
    if (!busy) {
        for (AzFrame_View &view : viewer->views)
            view.image_valid = 0;
        return;
    }
    // The worker deletes and inserts frames: strokes in progress or kept for undo would name frames that change.
    viewer->painting = -1;
    viewer->stroke = AzStroke();
    viewer->level_view = -1;
    viewer->pan_view = -1;
    if (!viewer->undo.empty())
        Error_Fct(hwnd, 11, "undo history dropped: frames are being created");
    viewer->undo.clear();
}

} // namespace

int AzViewer_Busy(void)
{
    return AzApp_Interface_Locked();
}

int AzViewer_Wait_Cursor(const AzViewer *viewer)
{
    return viewer->busy || AzViewer_Busy() || AzTools_Wait_Cursor() > 0;
}

int AzViewer_Init(AzViewer *viewer, AzApp *app, int width, int height, int panel_width)
{
    viewer->app = app;
    viewer->console.clear();
    viewer->console_level = app->options.console_level > 0 ? app->options.console_level : 4;
    viewer->console_changed = 0;
    viewer->previous_sink = AzConsole_Sink_Set(Console_Sink, viewer, &viewer->previous_sink_user);
    viewer->help_text.clear();
    viewer->help_shown = viewer->shortcuts_shown = 0;
    viewer->pointer_x = viewer->pointer_y = 0;
    viewer->pointer_known = viewer->buttons = viewer->mods = viewer->in_panel = viewer->char_taken = 0;
    viewer->tag_cur = 1;
    viewer->brush = 5;
    viewer->painting = viewer->level_view = -1;
    viewer->paint_x = viewer->paint_y = viewer->level_x = viewer->level_y = 0;
    viewer->level_low = viewer->level_high = 0.0f;
    viewer->undo.clear();
    viewer->pan_view = -1;
    viewer->pan_from_x = viewer->pan_from_y = 0;
    viewer->active_view = 0;
    viewer->pointer_view = -1;
    viewer->busy = 0;
    viewer->progress_shown = 0;
    viewer->progress_rect = viewer->cancel_rect = AzRect{0, 0, 0, 0};
    viewer->dirty = 1;
    viewer->quit = 0;
    viewer->status_window = nullptr;
    for (int d = 0; d < 2; d++)
        View_Create(&viewer->views[d], d);
    AzHost_Redraw_Hook_Set(Redraw_Hook, viewer);
    if (panel_width > 0)
        AzVar_Set("$INTERFACE_TOOL_WIDTH", panel_width);
    if (!AzApp_Panel_Open(app, 0, 0)) {
        AzViewer_Done(viewer);
        return 0;
    }
    Status_Create(viewer);
    AzViewer_Tags_Init(viewer, std::string());
    AzViewer_Resize(viewer, width, height);
    // Open on the middle frame: the first is often the edge of the volume, or empty.
    Kelvra_Class *cls = AzApp_Direction(app, AzApp_Study_Current(app), AzViewer_Panel_Direction(viewer));
    if (cls && cls->Child_Get_Nb() > 0)
        Panel_Slice_Set(viewer, cls->Child_Get_Nb() / 2);
    return 1;
}

void AzViewer_Min_Size(int panel_w, int panel_h, int *width, int *height)
{
    *width = panel_w + 3 * gap + 2 * view_min_width;
    int above_console = panel_h + help_min_height + status_height;
    // The console takes a fifth of the height, at least console_min_height.
    int by_fifth = (above_console * 5 + 3) / 4;
    *height = above_console + console_min_height > by_fifth ? above_console + console_min_height : by_fifth;
}

int AzViewer_Panel_Direction(const AzViewer *viewer)
{
    Buttons *oblique = dynamic_cast<Buttons *>(AzTools_Find(viewer->app->panel_window, "Dir. Oblique"));
    return oblique && oblique->selected ? 1 : 0;
}

void AzViewer_Panel_Follow(AzViewer *viewer, const AzFrame_View *view)
{
    if (view->shown && view->direction == AzViewer_Panel_Direction(viewer))
        Panel_Slice_Set(viewer, view->frame);
}

void AzViewer_Done(AzViewer *viewer)
{
    AzHost_Redraw_Hook_Set(nullptr, nullptr);
    AzConsole_Sink_Set(viewer->previous_sink, viewer->previous_sink_user, nullptr);
    if (viewer->status_window)
        DestroyWindow(viewer->status_window);
    viewer->status_window = nullptr;
    viewer->status.window = nullptr;
}

void AzViewer_Resize(AzViewer *viewer, int width, int height)
{
    viewer->width = width < 1 ? 1 : width > AZ_VIEWER_WIDTH_MAX ? AZ_VIEWER_WIDTH_MAX : width;
    viewer->height = height < 1 ? 1 : height > AZ_VIEWER_HEIGHT_MAX ? AZ_VIEWER_HEIGHT_MAX : height;
    viewer->screen.assign(static_cast<size_t>(viewer->width) * viewer->height, 0xff000000u);
    AzViewer_Layout(viewer);
    viewer->dirty = 1;
}

void AzViewer_Layout(AzViewer *viewer)
{
    int panel_w = 0, panel_h = 0;
    AzWin_Pixels(viewer->app->panel_window, &panel_w, &panel_h);
    int w = viewer->width, h = viewer->height;
    int console_h = h / 5 > console_min_height ? h / 5 : console_min_height;
    viewer->console_rect = AzRect{0, h - console_h, w, console_h};
    viewer->status_rect = AzRect{0, viewer->console_rect.y - status_height, w, status_height};
    int top = viewer->status_rect.y;
    viewer->panel_rect = AzRect{0, 0, panel_w, panel_h};
    viewer->help_rect = AzRect{0, panel_h, panel_w, top - panel_h > 0 ? top - panel_h : 0};
    int x0 = panel_w + gap;
    int view_w = (w - x0 - 2 * gap) / 2;
    for (int d = 0; d < 2; d++) {
        AzFrame_View &view = viewer->views[d];
        view.rect = AzRect{x0 + d * (view_w + gap), 0, view_w > 0 ? view_w : 0, top - gap > 0 ? top - gap : 0};
        view.picture = AzRect{view.rect.x, view.rect.y + title_height, view.rect.w,
                              view.rect.h - title_height > 0 ? view.rect.h - title_height : 0};
    }
}

int AzViewer_Step(AzViewer *viewer)
{
    if (AzApp_Pump(viewer->app) > 0)
        viewer->dirty = 1;
    int busy = AzViewer_Busy();
    if (busy != viewer->busy)
        Busy_Changed(viewer, busy);
    // The worker's progress moves on its own: follow it while it runs.
    if (busy)
        viewer->dirty = 1;
    else
        for (AzFrame_View &view : viewer->views)
            AzViewer_View_Sync(viewer, &view);
    AzViewer_Autosave_Step(viewer);
    {
        std::lock_guard<std::mutex> hold(viewer->console_lock);
        if (viewer->console_changed)
            viewer->dirty = 1;
        viewer->console_changed = 0;
    }
    if (!viewer->dirty)
        return 0;
    AzViewer_Compose(viewer);
    return 1;
}

std::vector<AzConsole_Entry> AzViewer_Console_Shown(AzViewer *viewer)
{
    std::vector<AzConsole_Entry> shown;
    std::lock_guard<std::mutex> hold(viewer->console_lock);
    for (const AzConsole_Entry &entry : viewer->console)
        if (entry.level <= viewer->console_level)
            shown.push_back(entry);
    return shown;
}

void AzViewer_Console_Step(AzViewer *viewer, int direction)
{
    int at = 0;
    while (at < AZ_VIEWER_LEVELS_NB - 1 && AzViewer_Levels[at] < viewer->console_level)
        at++;
    if (direction > 0 && AzViewer_Levels[at] <= viewer->console_level)
        at++;
    else if (direction < 0)
        at--;
    at = at < 0 ? 0 : at >= AZ_VIEWER_LEVELS_NB ? AZ_VIEWER_LEVELS_NB - 1 : at;
    viewer->console_level = AzViewer_Levels[at];
    viewer->dirty = 1;
}

void AzViewer_Panel_Help(AzViewer *viewer, int key)
{
    AzApp *app = viewer->app;
    int px = viewer->pointer_x - viewer->panel_rect.x;
    int py = viewer->panel_rect.h - 1 - (viewer->pointer_y - viewer->panel_rect.y);
    AzTools_Pointer_Set(app->panel_window, px, py, AZ_POINTER_NONE);
    app->module.Ctrl_Help(nullptr, key, static_cast<short>(px), static_cast<short>(py));
    AzApp_Pump(app);
    viewer->help_text = AzHost_Help_Last();
    viewer->help_shown = 1;
    viewer->dirty = 1;
}
