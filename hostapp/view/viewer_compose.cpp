/*
 * Composing the screen: the panel with its preview, the help pane, the two
 * frame views, the status line, the console and the overlays (shortcuts,
 * progress of the worker).
 */
#include <string.h>

#include <algorithm>

#include "../../hostlib/structures/az_gl.h"
#include "../../hostlib/structures/az_progress.h"
#include "../../hostlib/tools/az_tools.h"
#include "../../hostlib/util/az_console.h"
#include "../../hostlib/win32/az_win.h"
#include "az_viewer.h"
#include "../lib/az_labels.h"

namespace {

uint32_t Rgb(int r, int g, int b)
{
    return 0xff000000u | static_cast<uint32_t>(b) << 16 | static_cast<uint32_t>(g) << 8 | static_cast<uint32_t>(r);
}

const int line_height = 16;
const int text_pixels = 13;

HFONT Font(void) { return AzFont_Get_Pixels(text_pixels); }

void Fill(AzViewer *viewer, const AzRect &r, uint32_t colour)
{
    for (int y = r.y < 0 ? 0 : r.y; y < r.y + r.h && y < viewer->height; y++)
        for (int x = r.x < 0 ? 0 : r.x; x < r.x + r.w && x < viewer->width; x++)
            viewer->screen[static_cast<size_t>(y) * viewer->width + x] = colour;
}

void Frame_Rect(AzViewer *viewer, const AzRect &r, uint32_t colour)
{
    Fill(viewer, AzRect{r.x, r.y, r.w, 1}, colour);
    Fill(viewer, AzRect{r.x, r.y + r.h - 1, r.w, 1}, colour);
    Fill(viewer, AzRect{r.x, r.y, 1, r.h}, colour);
    Fill(viewer, AzRect{r.x + r.w - 1, r.y, 1, r.h}, colour);
}

/* One line of text with its top at y, cut to max_w pixels. */
void Text(AzViewer *viewer, const std::string &text, int x, int y, int max_w, uint32_t colour)
{
    HFONT font = Font();
    int ascent = 0;
    AzFont_Measure(font, "", 0, &ascent, nullptr);
    size_t len = text.size();
    while (len > 0 && AzFont_Measure(font, text.c_str(), static_cast<int>(len), nullptr, nullptr) > max_w)
        len--;
    if (len == 0)
        return;
    std::string cut = text.substr(0, len);
    AzFont_Draw(font, cut.c_str(), viewer->screen.data(), viewer->width, viewer->height, x,
                y + (line_height - text_pixels) / 2 + ascent, colour);
}

/* Breaks a text into lines of at most max_w pixels, at blanks when it can. */
std::vector<std::string> Wrap(const std::string &text, int max_w)
{
    std::vector<std::string> lines;
    HFONT font = Font();
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        std::string paragraph = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        std::string line;
        size_t at = 0;
        while (at < paragraph.size()) {
            size_t blank = paragraph.find(' ', at);
            std::string word = paragraph.substr(at, blank == std::string::npos ? std::string::npos : blank - at);
            std::string tried = line.empty() ? word : line + " " + word;
            if (!line.empty() && AzFont_Measure(font, tried.c_str(), -1, nullptr, nullptr) > max_w) {
                lines.push_back(line);
                line = word;
            } else {
                line = tried;
            }
            at = blank == std::string::npos ? paragraph.size() : blank + 1;
        }
        lines.push_back(line);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return lines;
}

void Blit(AzViewer *viewer, const uint32_t *pixels, int w, int h, int left, int top)
{
    for (int y = 0; y < h; y++) {
        int sy = top + y;
        if (sy < 0 || sy >= viewer->height)
            continue;
        for (int x = 0; x < w; x++) {
            int sx = left + x;
            if (sx >= 0 && sx < viewer->width)
                viewer->screen[static_cast<size_t>(sy) * viewer->width + sx] = pixels[static_cast<size_t>(y) * w + x];
        }
    }
}

/* The panel's pixels with its child windows (the preview) over them. */
void Panel_Draw(AzViewer *viewer)
{
    HWND panel = viewer->app->panel_window;
    int w = 0, h = 0;
    uint32_t *pixels = AzWin_Pixels(panel, &w, &h);
    if (!pixels)
        return;
    Blit(viewer, pixels, w, h, viewer->panel_rect.x, viewer->panel_rect.y);
    RECT panel_box;
    GetWindowRect(panel, &panel_box);
    for (HWND child = AzWin_Find(nullptr, nullptr); child; child = AzWin_Find(nullptr, child)) {
        RECT box;
        int cw = 0, ch = 0;
        uint32_t *source = GetParent(child) == panel && IsWindowVisible(child) ? AzWin_Pixels(child, &cw, &ch)
                                                                                : nullptr;
        if (!source || !GetWindowRect(child, &box))
            continue;
        Blit(viewer, source, cw, ch, viewer->panel_rect.x + box.left - panel_box.left,
             viewer->panel_rect.y + box.top - panel_box.top);
    }
}

/* Help texts come broken into lines for a wider window: the first line
 * (the title) stays, the lines of each paragraph after it are joined. */
std::string Reflow(const std::string &text)
{
    std::string out;
    size_t title_end = text.find('\n');
    if (title_end == std::string::npos)
        return text;
    out = text.substr(0, title_end + 1);
    for (size_t i = title_end + 1; i < text.size(); i++) {
        if (text[i] != '\n') {
            out += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == '\n') {
            out += "\n\n";
            i++;
        } else {
            out += ' ';
        }
    }
    return out;
}

void Help_Draw(AzViewer *viewer)
{
    const AzRect &r = viewer->help_rect;
    if (r.h <= 0)
        return;
    Fill(viewer, r, Rgb(40, 44, 52));
    std::string text = viewer->help_shown ? viewer->help_text
                                          : "F1 or ? over a control of the panel shows its help here.\n"
                                            "h shows the shortcuts.";
    if (viewer->help_shown && text.empty())
        text = "(no help text)";
    Text(viewer, viewer->help_shown ? "Help (Esc closes)" : "Help", r.x + 6, r.y + 4, r.w - 12, Rgb(255, 220, 120));
    int y = r.y + 4 + line_height + 2;
    for (const std::string &line : Wrap(Reflow(text), r.w - 12)) {
        if (y + line_height > r.y + r.h)
            break;
        Text(viewer, line, r.x + 6, y, r.w - 12, Rgb(220, 220, 220));
        y += line_height;
    }
}

void View_Title(AzViewer *viewer, const AzFrame_View &view, int index)
{
    AzRect bar{view.rect.x, view.rect.y, view.rect.w, view.picture.y - view.rect.y};
    // The direction the panel works on stands out.
    Fill(viewer, bar, view.direction == AzViewer_Panel_Direction(viewer) ? Rgb(60, 90, 120) : Rgb(50, 50, 56));
    std::string text = AzViewer_Title_Text(&view);
    Text(viewer, text, bar.x + 6, bar.y + 2, bar.w - 12, index == viewer->active_view ? Rgb(255, 255, 255)
                                                                                     : Rgb(200, 200, 200));
}

void Brush_Outline(AzViewer *viewer, const AzFrame_View &view)
{
    int fx, fy;
    if (!AzViewer_Frame_Point(&view, viewer->pointer_x, viewer->pointer_y, &fx, &fy))
        return;
    int half = viewer->brush / 2;
    int x0, y0, x1, y1;
    AzViewer_Screen_Point(&view, fx - half, fy - half, &x0, &y0);
    AzViewer_Screen_Point(&view, fx + half, fy + half, &x1, &y1);
    int pad = (x1 - x0) / (viewer->brush > 1 ? 2 * (viewer->brush - 1) : 1) + 1;
    Frame_Rect(viewer, AzRect{x0 - pad, y0 - pad, x1 - x0 + 2 * pad, y1 - y0 + 2 * pad}, Rgb(255, 255, 0));
}

void View_Draw(AzViewer *viewer, int index)
{
    AzFrame_View &view = viewer->views[index];
    if (view.rect.w <= 0 || view.rect.h <= 0)
        return;
    // The picture first: the title shows its size.
    if (!viewer->busy && !view.image_valid)
        AzViewer_View_Image(&view);
    View_Title(viewer, view, index);
    Fill(viewer, view.picture, Rgb(0, 0, 0));
    if (view.image_w > 0) {
        AzViewer_View_Blit(viewer, &view);
        if (!viewer->busy && view.picture.Inside(viewer->pointer_x, viewer->pointer_y) && viewer->level_view < 0)
            Brush_Outline(viewer, view);
        return;
    }
    std::string hint = AzViewer_Hint_Text(viewer, &view);
    int y = view.picture.y + view.picture.h / 2 - line_height;
    for (const std::string &line : Wrap(hint, view.picture.w - 20)) {
        Text(viewer, line, view.picture.x + 10, y, view.picture.w - 20, Rgb(180, 180, 180));
        y += line_height;
    }
}

} // namespace

std::string AzViewer_Hint_Text(const AzViewer *viewer, const AzFrame_View *view)
{
    if (!view->shown)
        return "No study with both directions is loaded.";
    // The panel greys its direction buttons for a study that is no 3D volume: the usual hint would only fail.
    Tools *oblique = AzTools_Find(viewer->app->panel_window, "Dir. Oblique");
    Kelvra_Class *study = view->shown->Parent_Get_Pt();
    unsigned int group = oblique && oblique->Disabled() && study ? Fct_Group_Test(study->Child_Get_Pt(0)) : 0;
    if (group != 0)
        return "This study cannot be re-sliced, it is " + AzApp_Group_Text(group) + ".";
    if (view->direction == 1)
        return "No frames yet: choose Dir. Oblique, switch it on (On/Off) and press Update DB.";
    return "No frames yet: switch this direction on (On/Off) and press Update DB.";
}

std::string AzViewer_Title_Text(const AzFrame_View *view)
{
    static const char *const names[2] = {"Original", "Oblique"};
    char text[256];
    int count = view->shown ? view->shown->Child_Get_Nb() : 0;
    // Frames count from 0, as the panel's "Demo Frame" slider counts them.
    if (count > 0)
        snprintf(text, sizeof(text), "%s   frame %d (0-%d)   %dx%d   zoom %.2g%s", names[view->direction],
                 view->frame, count - 1, view->image_w, view->image_h, view->zoom,
                 view->window_custom ? "   window set" : "");
    else
        snprintf(text, sizeof(text), "%s", names[view->direction]);
    return text;
}

/* The preview shows the angles in whole degrees; the status line shows
 * them as the valuators hold them: alpha from the vertical ones, beta from
 * the others. */
std::string AzViewer_Angles_Text(const AzViewer *viewer)
{
    const float degrees = 57.29578f;
    float angle[2] = {0.0f, 0.0f};
    int found[2] = {0, 0};
    Tools *tool;
    for (int i = 0; (tool = AzTools_Widget(viewer->app->panel_window, i)) != nullptr; i++) {
        Valuators *valuator = dynamic_cast<Valuators *>(tool);
        int which = valuator && (valuator->style & 0x4u) ? 0 : 1;
        if (valuator && !found[which]) {
            angle[which] = valuator->Read() * degrees;
            found[which] = 1;
        }
    }
    if (!found[0] || !found[1])
        return "";
    char text[96];
    snprintf(text, sizeof(text), "   alpha %.2f, beta %.2f degrees", angle[0] + 0.0f, angle[1] + 0.0f);
    return text;
}

namespace {

/* What lies under the pointer in a view: frame point, grey level, tag. */
std::string Pointer_Text(AzViewer *viewer)
{
    for (AzFrame_View &view : viewer->views) {
        int fx, fy;
        AzFrame *frame = viewer->busy ? nullptr : AzViewer_Frame(&view);
        if (!frame || !AzViewer_Frame_Point(&view, viewer->pointer_x, viewer->pointer_y, &fx, &fy))
            continue;
        char text[160];
        int grey = AzFrame_Get_GLI(frame, static_cast<float>(fx), static_cast<float>(fy));
        snprintf(text, sizeof(text), "   %s (%d, %d): grey %d, ", view.direction ? "Oblique" : "Original", fx, fy,
                 grey);
        const Vexa_Image *header = frame->key;
        // A study whose levels are not its values says the value too.
        if (header && (header->rescale_slope != 1.0f || header->rescale_intercept != 0.0f) && grey != AZ_GLI_INVALID)
            snprintf(text + strlen(text), sizeof(text) - strlen(text), "value %.6g, ",
                     grey * header->rescale_slope + header->rescale_intercept);
        return text + AzTags_Text(AzFrame_Get_TAG(frame, static_cast<float>(fx), static_cast<float>(fy)));
    }
    return "";
}

void Status_Draw(AzViewer *viewer)
{
    const AzRect &r = viewer->status_rect;
    Fill(viewer, r, Rgb(220, 220, 220));
    int w = 0, h = 0;
    uint32_t *label = viewer->status_window ? AzWin_Pixels(viewer->status_window, &w, &h) : nullptr;
    if (label)
        Blit(viewer, label, w, h, r.x, r.y);
    char text[256];
    snprintf(text, sizeof(text), "   brush %d   undo %d%s%s", viewer->brush, static_cast<int>(viewer->undo.size()),
             AzTags_Unsaved() ? "   unsaved" : "", viewer->busy ? "   creating frames..." : "");
    std::string line = viewer->picking ? AzViewer_Picker_Text(viewer)
                                       : AzTags_Text(viewer->tag_cur) + text + AzViewer_Angles_Text(viewer) + Pointer_Text(viewer);
    Text(viewer, line, r.x + w + 6, r.y + (r.h - line_height) / 2, r.w - w - 12, Rgb(0, 0, 0));
}

uint32_t Level_Colour(int level)
{
    if (level <= 2)
        return Rgb(255, 110, 110);
    if (level <= 6)
        return Rgb(230, 230, 230);
    return Rgb(150, 150, 160);
}

void Console_Draw(AzViewer *viewer)
{
    const AzRect &r = viewer->console_rect;
    Fill(viewer, r, Rgb(16, 16, 20));
    char title[128];
    snprintf(title, sizeof(title), "Console: messages up to level %d   (< fewer, > more)", viewer->console_level);
    Text(viewer, title, r.x + 6, r.y + 2, r.w - 12, Rgb(255, 220, 120));
    std::vector<AzConsole_Entry> shown = AzViewer_Console_Shown(viewer);
    int rows = (r.h - line_height - 4) / line_height;
    size_t first = shown.size() > static_cast<size_t>(rows > 0 ? rows : 0) ? shown.size() - rows : 0;
    int y = r.y + 2 + line_height;
    for (size_t i = first; i < shown.size(); i++, y += line_height) {
        char level[8];
        snprintf(level, sizeof(level), "%2d", shown[i].level);
        Text(viewer, level, r.x + 6, y, 20, Rgb(110, 110, 120));
        Text(viewer, shown[i].text, r.x + 30, y, r.w - 36, Level_Colour(shown[i].level));
    }
}

AzRect Centred(const AzViewer *viewer, int w, int h)
{
    return AzRect{(viewer->width - w) / 2, (viewer->height - h) / 2, w, h};
}

void Shortcuts_Draw(AzViewer *viewer)
{
    int count = 0;
    while (AzViewer_Shortcuts[count])
        count++;
    AzRect r = Centred(viewer, 560, (count + 2) * line_height + 12);
    Fill(viewer, r, Rgb(30, 34, 44));
    Frame_Rect(viewer, r, Rgb(255, 220, 120));
    Text(viewer, "Shortcuts (h or Esc closes)", r.x + 10, r.y + 6, r.w - 20, Rgb(255, 220, 120));
    for (int i = 0; i < count; i++) {
        std::string line = AzViewer_Shortcuts[i];
        size_t tab = line.find('\t');
        int y = r.y + 6 + (i + 1) * line_height + 4;
        Text(viewer, line.substr(0, tab), r.x + 10, y, 180, Rgb(255, 255, 255));
        if (tab != std::string::npos)
            Text(viewer, line.substr(tab + 1), r.x + 200, y, r.w - 210, Rgb(210, 210, 210));
    }
}

/* A question waiting for its key. */
void Prompt_Draw(AzViewer *viewer)
{
    std::vector<std::string> lines = AzViewer_Prompt_Lines(viewer);
    if (lines.empty())
        return;
    AzRect r = Centred(viewer, 520, static_cast<int>(lines.size()) * line_height + 16);
    Fill(viewer, r, Rgb(30, 34, 44));
    Frame_Rect(viewer, r, Rgb(255, 220, 120));
    for (size_t i = 0; i < lines.size(); i++)
        Text(viewer, lines[i], r.x + 10, r.y + 8 + static_cast<int>(i) * line_height, r.w - 20,
             i == 0 ? Rgb(255, 220, 120) : Rgb(255, 255, 255));
}

/* The progress of the worker, as the host's "Progress" window shows it. */
void Progress_Draw(AzViewer *viewer)
{
    AzProgress_View progress;
    viewer->progress_shown = viewer->busy && AzProgress_Last(&progress) && !progress.closed && progress.record;
    if (!viewer->progress_shown)
        return;
    AzRect r = Centred(viewer, 400, 250);
    viewer->progress_rect = r;
    Fill(viewer, r, Rgb(236, 236, 236));
    Frame_Rect(viewer, r, Rgb(40, 40, 40));
    Fill(viewer, AzRect{r.x + 1, r.y + 1, r.w - 2, 20}, Rgb(60, 90, 120));
    Text(viewer, progress.title, r.x + 8, r.y + 3, r.w - 16, Rgb(255, 255, 255));
    Text(viewer, progress.subtitle, r.x + 8, r.y + 26, r.w - 16, Rgb(0, 0, 0));
    int rows = 7;
    size_t first = progress.lines.size() > static_cast<size_t>(rows) ? progress.lines.size() - rows : 0;
    int y = r.y + 26 + line_height + 4;
    for (size_t i = first; i < progress.lines.size(); i++, y += line_height) {
        std::vector<char> plain(progress.lines[i].size() + 1);
        AzConsole_Plain(progress.lines[i].c_str(), plain.data(), static_cast<int>(plain.size()));
        Text(viewer, plain.data(), r.x + 8, y, r.w - 16, Rgb(30, 30, 30));
    }
    AzRect bar{r.x + 8, r.y + r.h - 62, r.w - 16, 16};
    Fill(viewer, bar, Rgb(255, 255, 255));
    Frame_Rect(viewer, bar, Rgb(90, 90, 90));
    int done = progress.max > 0 ? static_cast<int>(static_cast<long long>(bar.w - 2) * progress.pos / progress.max) : 0;
    Fill(viewer, AzRect{bar.x + 1, bar.y + 1, done < 0 ? 0 : done, bar.h - 2}, Rgb(70, 140, 210));
    char count[64];
    snprintf(count, sizeof(count), "%d / %d", progress.pos, progress.max);
    Text(viewer, count, bar.x, bar.y + bar.h + 2, bar.w, Rgb(30, 30, 30));
    viewer->cancel_rect = AzRect{r.x + r.w - 98, r.y + r.h - 30, 90, 22};
    Fill(viewer, viewer->cancel_rect, progress.cancel ? Rgb(170, 170, 170) : Rgb(210, 210, 210));
    Frame_Rect(viewer, viewer->cancel_rect, Rgb(60, 60, 60));
    Text(viewer, progress.cancel ? "Cancelling" : "Cancel", viewer->cancel_rect.x + 18, viewer->cancel_rect.y + 3, 70,
         Rgb(0, 0, 0));
}

} // namespace

void AzViewer_Compose(AzViewer *viewer)
{
    std::fill(viewer->screen.begin(), viewer->screen.end(), Rgb(28, 28, 32));
    Panel_Draw(viewer);
    Help_Draw(viewer);
    for (int i = 0; i < 2; i++)
        View_Draw(viewer, i);
    Status_Draw(viewer);
    Console_Draw(viewer);
    if (viewer->shortcuts_shown)
        Shortcuts_Draw(viewer);
    Progress_Draw(viewer);
    Prompt_Draw(viewer);
    viewer->dirty = 0;
}

int AzViewer_Save_PNG(const AzViewer *viewer, const char *path)
{
    return AzPng_Write(path, viewer->screen.data(), viewer->width, viewer->height);
}
