/*
 * Frame views: which frame a view shows, its picture in colour, the
 * mapping between screen and frame pixels, and the brush with its undo.
 */
#include <math.h>

#include "az_viewer.h"
#include "../../hostlib/structures/az_gl.h"
#include "../lib/az_labels.h"
#include "../lib/az_orient.h"

namespace {

/* The bit the panel puts on the frame it shows (own flag word). */
const uint64_t panel_frame_mark = 0x4000;
/* The host's default grey window when a header names none. */
const float default_low = 0.0f, default_high = 4095.0f;
/* Update that hands painted regions to the other direction. */
const uint64_t tags_changed = 0x800000ULL;

/* Fit scale (screen pixels per frame pixel) times the view's zoom, and
 * the screen position of the frame's top-left corner. */
float View_Scale(const AzFrame_View *view, float *ox, float *oy)
{
    if (view->image_w <= 0 || view->image_h <= 0) {
        *ox = static_cast<float>(view->picture.x);
        *oy = static_cast<float>(view->picture.y);
        return 1.0f;
    }
    float fit = fminf(static_cast<float>(view->picture.w) / view->image_w,
                      static_cast<float>(view->picture.h) / view->image_h);
    float scale = fit * view->zoom;
    *ox = view->picture.x + (view->picture.w - view->image_w * scale) * 0.5f + view->pan_x;
    *oy = view->picture.y + (view->picture.h - view->image_h * scale) * 0.5f + view->pan_y;
    return scale;
}

int64_t Voxel_Key(int frame, int x, int y)
{
    return (static_cast<int64_t>(frame) << 40) | (static_cast<int64_t>(x & 0xfffff) << 20) | (y & 0xfffff);
}

struct Dab_Record {
    AzViewer *viewer;
    int frame_index;
};

/* Records a voxel the brush changed, once per stroke, with the tag it had before the stroke. */
void Dab_Visit(void *user, int x, int y, int old_tag)
{
    Dab_Record *record = static_cast<Dab_Record *>(user);
    AzStroke &stroke = record->viewer->stroke;
    if (stroke.seen.insert(Voxel_Key(record->frame_index, x, y)).second)
        stroke.voxels.push_back({record->frame_index, static_cast<short>(x), static_cast<short>(y),
                                 static_cast<unsigned char>(old_tag)});
}

/* Paints the brush disc centred on a frame point; records what it covers. */
void Brush_Dab(AzViewer *viewer, AzFrame *frame, int frame_index, int cx, int cy)
{
    Dab_Record record = {viewer, frame_index};
    AzTags_Paint_Disc(frame, cx, cy, (viewer->brush - 1) * 0.5f, viewer->tag_cur, Dab_Visit, &record);
}

/* Mirrors the picture as AzOrient_Mirror says.  The frames of a class
 * share their axes; they are measured on its middle frame, which lies
 * inside the study, between pixels a quarter of the frame apart around
 * its centre: re-sliced pixels step between source slices, which only a
 * longer reach makes small. */
void View_Mirror(AzFrame_View *view, AzFrame *shown, int w, int h)
{
    AzFrame *middle = AzFrame_Cast(view->shown->Child_Get_Pt(view->shown->Child_Get_Nb() / 2));
    AzFrame *frame = middle ? middle : shown;
    float cx = 0.5f * (w - 1), cy = 0.5f * (h - 1), reach_x = fmaxf(1.0f, 0.25f * w), reach_y = fmaxf(1.0f, 0.25f * h);
    Vect centre = AzFrame_Get_Pos(frame, cx, cy);
    Vect row = AzFrame_Get_Pos(frame, cx + reach_x, cy) - centre;
    Vect col = AzFrame_Get_Pos(frame, cx, cy + reach_y) - centre;
    AzOrient_Mirror({row.x, row.y, row.z}, {col.x, col.y, col.z}, &view->mirror_x, &view->mirror_y);
}

} // namespace

AzFrame *AzViewer_Frame(const AzFrame_View *view)
{
    if (!view->shown)
        return nullptr;
    return AzFrame_Cast(view->shown->Child_Get_Pt(view->frame));
}

/* The grey window a view uses: its own after a right drag, else the header's. */
void AzViewer_View_Window(const AzFrame_View *view, const Vexa_Image *header, float *low, float *high)
{
    if (view->window_custom) {
        *low = view->window_low;
        *high = view->window_high;
        return;
    }
    if (!header || header->display_mode == 0xff || !(header->display_high > header->display_low)) {
        *low = default_low;
        *high = default_high;
        return;
    }
    *low = header->display_low;
    *high = header->display_high;
}

/* The frame the panel marks as the one it shows, or -1. */
static int Marked_Frame(Kelvra_Class *cls, int count)
{
    for (int i = 0; i < count; i++)
        if (cls->Child_Get_Pt(i)->Flag_Get_Bit(0x10, nullptr, panel_frame_mark))
            return i;
    return -1;
}

void AzViewer_View_Sync(AzViewer *viewer, AzFrame_View *view)
{
    AzApp *app = viewer->app;
    Kelvra_Class *cls = AzApp_Direction(app, AzApp_Study_Current(app), view->direction);
    int count = cls ? cls->Child_Get_Nb() : 0;
    int marked = cls ? Marked_Frame(cls, count) : -1;
    if (view->host_view && AzView_Current(view->host_view) != cls)
        AzView_Show(view->host_view, cls);
    // Another study, or frames just made: the panel's frame when it marks one, else the middle one.
    if (cls != view->shown || (view->frames_nb == 0 && count > 0)) {
        view->shown = cls;
        view->frame = marked >= 0 ? marked : count / 2;
        view->image_valid = 0;
        viewer->dirty = 1;
    }
    view->frames_nb = count;
    // Follow the panel only when its choice changes, so that the user may scroll away from it.
    if (marked >= 0 && marked != view->followed && marked != view->frame) {
        view->frame = marked;
        view->image_valid = 0;
        viewer->dirty = 1;
    }
    view->followed = marked;
    int clamped = view->frame >= count ? count - 1 : view->frame;
    if (clamped < 0)
        clamped = 0;
    if (clamped != view->frame) {
        view->frame = clamped;
        view->image_valid = 0;
        viewer->dirty = 1;
    }
}

void AzViewer_View_Image(AzFrame_View *view)
{
    view->image_valid = 1;
    AzFrame *frame = AzViewer_Frame(view);
    int w = 0, h = 0;
    if (!frame || !AzFrame_Get_Dim(frame, &w, &h) || w <= 0 || h <= 0) {
        view->image.clear();
        view->image_w = view->image_h = 0;
        return;
    }
    View_Mirror(view, frame, w, h);
    float low, high;
    AzViewer_View_Window(view, frame->key, &low, &high);
    Fct_GLI_2_Color(0, high, low);
    AzTag_Layer tags = AzTag_Layer_Get();
    size_t n = static_cast<size_t>(w) * h;
    view->image.assign(n, 0);
    view->image_w = w;
    view->image_h = h;
    std::vector<int32_t> gli(tags.scheme == 0 ? 0 : n);
    std::vector<uint8_t> tag(n);
    AzFrame_Read(frame, w, h, gli.empty() ? nullptr : gli.data(), tag.data(), 0);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            size_t i = static_cast<size_t>(y) * w + x;
            uint32_t grey = gli.empty() ? 0xff000000u : Fct_GLI_2_Color(gli[i]);
            size_t shown = static_cast<size_t>(view->mirror_y ? h - 1 - y : y) * w + (view->mirror_x ? w - 1 - x : x);
            view->image[shown] = AzTag_Over(&tags, grey, tag[i]);
        }
}

int AzViewer_Frame_Point(const AzFrame_View *view, int sx, int sy, int *fx, int *fy)
{
    float ox, oy;
    float scale = View_Scale(view, &ox, &oy);
    if (view->image_w <= 0 || !view->picture.Inside(sx, sy))
        return 0;
    int x = static_cast<int>(floorf((sx + 0.5f - ox) / scale));
    int y = static_cast<int>(floorf((sy + 0.5f - oy) / scale));
    if (x < 0 || y < 0 || x >= view->image_w || y >= view->image_h)
        return 0;
    *fx = view->mirror_x ? view->image_w - 1 - x : x;
    *fy = view->mirror_y ? view->image_h - 1 - y : y;
    return 1;
}

void AzViewer_Screen_Point(const AzFrame_View *view, int fx, int fy, int *sx, int *sy)
{
    float ox, oy;
    float scale = View_Scale(view, &ox, &oy);
    fx = view->mirror_x ? view->image_w - 1 - fx : fx;
    fy = view->mirror_y ? view->image_h - 1 - fy : fy;
    *sx = static_cast<int>(floorf(ox + (fx + 0.5f) * scale));
    *sy = static_cast<int>(floorf(oy + (fy + 0.5f) * scale));
}

/* Draws the view's picture into the screen, clipped to its picture area. */
void AzViewer_View_Blit(AzViewer *viewer, const AzFrame_View *view)
{
    float ox, oy;
    float scale = View_Scale(view, &ox, &oy);
    const AzRect &r = view->picture;
    for (int sy = r.y; sy < r.y + r.h && sy < viewer->height; sy++) {
        int y = static_cast<int>(floorf((sy + 0.5f - oy) / scale));
        if (y < 0 || y >= view->image_h)
            continue;
        uint32_t *row = &viewer->screen[static_cast<size_t>(sy) * viewer->width];
        const uint32_t *source = &view->image[static_cast<size_t>(y) * view->image_w];
        for (int sx = r.x; sx < r.x + r.w && sx < viewer->width; sx++) {
            int x = static_cast<int>(floorf((sx + 0.5f - ox) / scale));
            if (x >= 0 && x < view->image_w)
                row[sx] = source[x];
        }
    }
}

void AzViewer_View_Step(AzViewer *viewer, AzFrame_View *view, int delta)
{
    int count = view->shown ? view->shown->Child_Get_Nb() : 0;
    int frame = view->frame + delta;
    frame = frame >= count ? count - 1 : frame;
    frame = frame < 0 ? 0 : frame;
    if (frame == view->frame)
        return;
    view->frame = frame;
    view->image_valid = 0;
    viewer->dirty = 1;
    AzViewer_Panel_Follow(viewer, view);
}

void AzViewer_View_Zoom(AzViewer *viewer, AzFrame_View *view, float factor)
{
    float zoom = view->zoom * factor;
    view->zoom = zoom < 0.25f ? 0.25f : zoom > 32.0f ? 32.0f : zoom;
    viewer->dirty = 1;
}

/* Starts a stroke in a view at a screen point.  1 when painting began. */
int AzViewer_Paint_Begin(AzViewer *viewer, int view_index, int sx, int sy)
{
    AzFrame_View *view = &viewer->views[view_index];
    int fx, fy;
    if (!AzViewer_Frame(view) || !AzViewer_Frame_Point(view, sx, sy, &fx, &fy))
        return 0;
    viewer->painting = view_index;
    viewer->stroke = AzStroke();
    viewer->stroke.direction = view->shown;
    viewer->paint_x = fx;
    viewer->paint_y = fy;
    Brush_Dab(viewer, AzViewer_Frame(view), view->frame, fx, fy);
    view->image_valid = 0;
    Fct_Update(tags_changed, nullptr, nullptr, nullptr);
    viewer->dirty = 1;
    return 1;
}

/* Continues the stroke to a screen point, leaving no gap between dabs. */
void AzViewer_Paint_Move(AzViewer *viewer, int sx, int sy)
{
    AzFrame_View *view = &viewer->views[viewer->painting];
    AzFrame *frame = AzViewer_Frame(view);
    int fx, fy;
    if (!frame || !AzViewer_Frame_Point(view, sx, sy, &fx, &fy))
        return;
    int steps = abs(fx - viewer->paint_x) > abs(fy - viewer->paint_y) ? abs(fx - viewer->paint_x)
                                                                     : abs(fy - viewer->paint_y);
    for (int i = 1; i <= steps; i++) {
        int x = viewer->paint_x + static_cast<int>(lroundf(static_cast<float>(fx - viewer->paint_x) * i / steps));
        int y = viewer->paint_y + static_cast<int>(lroundf(static_cast<float>(fy - viewer->paint_y) * i / steps));
        Brush_Dab(viewer, frame, view->frame, x, y);
    }
    viewer->paint_x = fx;
    viewer->paint_y = fy;
    if (steps > 0) {
        view->image_valid = 0;
        Fct_Update(tags_changed, nullptr, nullptr, nullptr);
        viewer->dirty = 1;
    }
}

void AzViewer_Paint_End(AzViewer *viewer)
{
    if (viewer->painting < 0)
        return;
    viewer->painting = -1;
    if (!viewer->stroke.voxels.empty()) {
        viewer->stroke.seen.clear();
        viewer->undo.push_back(viewer->stroke);
        Error_Fct(hwnd, 11, "painted %d voxels with tag %d", static_cast<int>(viewer->stroke.voxels.size()),
                  viewer->tag_cur);
    }
    viewer->stroke = AzStroke();
}

/* Restores the voxels of the last stroke, newest first, so that a voxel
 * painted twice gets back the tag it had before the stroke. */
int AzViewer_Undo(AzViewer *viewer)
{
    if (viewer->undo.empty()) {
        Error_Fct(hwnd, 4, "nothing to undo");
        return 0;
    }
    AzStroke stroke = viewer->undo.back();
    viewer->undo.pop_back();
    int restored = 0;
    for (size_t i = stroke.voxels.size(); i-- > 0;) {
        const AzStroke_Voxel &voxel = stroke.voxels[i];
        AzFrame *frame = AzFrame_Cast(stroke.direction->Child_Get_Pt(voxel.frame));
        if (frame && AzFrame_Set_TAG(frame, voxel.x, voxel.y, voxel.old_tag))
            restored++;
    }
    for (AzFrame_View &view : viewer->views)
        view.image_valid = 0;
    if (restored > 0)
        AzTags_Changed();
    Fct_Update(tags_changed, nullptr, nullptr, nullptr);
    Error_Fct(hwnd, 4, "undo: %d voxels restored", restored);
    viewer->dirty = 1;
    return 1;
}

/* Window/level drag: right and left widen and narrow the window, down and
 * up lower and raise its centre, both in steps of the starting width. */
void AzViewer_Level_Begin(AzViewer *viewer, int view_index, int sx, int sy)
{
    AzFrame_View *view = &viewer->views[view_index];
    AzFrame *frame = AzViewer_Frame(view);
    AzViewer_View_Window(view, frame ? frame->key : nullptr, &viewer->level_low, &viewer->level_high);
    viewer->level_view = view_index;
    viewer->level_x = sx;
    viewer->level_y = sy;
}

void AzViewer_Level_Move(AzViewer *viewer, int sx, int sy)
{
    AzFrame_View *view = &viewer->views[viewer->level_view];
    float width = viewer->level_high - viewer->level_low;
    float centre = (viewer->level_high + viewer->level_low) * 0.5f;
    float step = width / 256.0f;
    float new_width = fmaxf(1.0f, width + (sx - viewer->level_x) * step);
    float new_centre = centre + (sy - viewer->level_y) * step;
    view->window_custom = 1;
    view->window_low = new_centre - new_width * 0.5f;
    view->window_high = new_centre + new_width * 0.5f;
    view->image_valid = 0;
    viewer->dirty = 1;
}
