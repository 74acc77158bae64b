/*
 * Painting into a window's pixel buffer.  The buffer's row 0 is the top
 * row; the toolkit counts y upward from the bottom row, so every rectangle
 * is turned over here and nowhere else.
 */
#include <string.h>

#include <string>
#include <vector>

#include "../win32/az_win.h"
#include "az_tools_paint.h"

int Tools_Canvas::Open(HWND window)
{
    pixels = window ? AzWin_Pixels(window, &w, &h) : nullptr;
    return pixels != nullptr && w > 0 && h > 0;
}

void Tools_Canvas::Fill(int x, int y, int width, int height, uint32_t colour)
{
    int x0 = x < 0 ? 0 : x;
    int x1 = x + width > w ? w : x + width;
    int y0 = y < 0 ? 0 : y;
    int y1 = y + height > h ? h : y + height;
    for (int row = y0; row < y1; row++) {
        uint32_t *line = pixels + (size_t)(h - 1 - row) * w;
        for (int col = x0; col < x1; col++)
            line[col] = colour;
    }
}

void Tools_Canvas::Frame(int x, int y, int width, int height, int border, uint32_t light, uint32_t dark)
{
    if (border <= 0)
        return;
    if (border * 2 > width || border * 2 > height)
        border = (width < height ? width : height) / 2;
    Fill(x, y + height - border, width, border, light);   // top
    Fill(x, y, border, height, light);                    // left
    Fill(x, y, width, border, dark);                      // bottom
    Fill(x + width - border, y, border, height, dark);    // right
}

/* A text too wide for the room is set a little smaller first (down to
 * three quarters of the font's size, not below 8 pixels); what still does
 * not fit loses characters from its end. */
static std::string Text_Fit(HFONT *font, const char *text, int room, int *ascent, int *descent, int *advance)
{
    std::string fit(text);
    *advance = AzFont_Measure(*font, fit.c_str(), (int)fit.size(), ascent, descent);
    int pixels = 0;
    AzFont_Metrics(*font, &pixels, nullptr, nullptr, nullptr, nullptr);
    int smallest = pixels * 3 / 4 < 8 ? 8 : pixels * 3 / 4;
    for (int size = pixels - 1; *advance > room && size >= smallest; size--) {
        HFONT smaller = AzFont_Get_Pixels(size);
        if (!smaller)
            break;
        *font = smaller;
        *advance = AzFont_Measure(*font, fit.c_str(), (int)fit.size(), ascent, descent);
    }
    while (!fit.empty() && *advance > room) {
        fit.pop_back();
        *advance = AzFont_Measure(*font, fit.c_str(), (int)fit.size(), ascent, descent);
    }
    return fit;
}

void Tools_Canvas::Text(HFONT font, const char *text, int x, int y, int width, int height, int align,
                        uint32_t colour)
{
    if (!font || !text || !*text || width <= 4 || height <= 0)
        return;
    int ascent = 0, descent = 0, advance = 0;
    std::string fit = Text_Fit(&font, text, width - 4, &ascent, &descent, &advance);
    if (fit.empty())
        return;
    int left = 2;
    if (align == TOOLS_ALIGN_CENTRE)
        left = (width - advance) / 2;
    else if (align == TOOLS_ALIGN_RIGHT)
        left = width - 2 - advance;
    // Glyphs go through a copy of the rectangle so that nothing spills over
    // the neighbouring widgets, whatever the font's height.
    int x0 = x < 0 ? 0 : x, x1 = x + width > w ? w : x + width;
    int y0 = y < 0 ? 0 : y, y1 = y + height > h ? h : y + height;
    if (x0 >= x1 || y0 >= y1)
        return;
    int cw = x1 - x0, ch = y1 - y0;
    int top = h - y1;   // buffer row of the rectangle's top row
    std::vector<uint32_t> patch((size_t)cw * ch);
    for (int r = 0; r < ch; r++)
        memcpy(&patch[(size_t)r * cw], pixels + (size_t)(top + r) * w + x0, sizeof(uint32_t) * cw);
    // Baseline of text centred in the full rectangle, counted from the patch's top row.
    int rect_top = h - (y + height);
    int baseline = rect_top + (height - (ascent + descent)) / 2 + ascent - top;
    AzFont_Draw(font, fit.c_str(), patch.data(), cw, ch, x + left - x0, baseline, colour);
    for (int r = 0; r < ch; r++)
        memcpy(pixels + (size_t)(top + r) * w + x0, &patch[(size_t)r * cw], sizeof(uint32_t) * cw);
}
