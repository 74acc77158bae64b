/*
 * The font engine behind GDI text and the OpenGL raster text: one face
 * file, one cached font per pixel size.  Every glyph of the 256 byte
 * values is rendered once when its font is made, so measuring and drawing
 * read the same integer advances and never touch FreeType (whose faces
 * are not thread-safe) afterwards.
 */
#include <algorithm>
#include <map>
#include <math.h>
#include <mutex>
#include <new>
#include <string.h>
#include <vector>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include "az_win.h"

#ifndef AZ_FONT_FILE
#define AZ_FONT_FILE "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf"
#endif

struct AZ_Glyph {
    int advance;
    int left;  /* pen to the bitmap's left column */
    int top;   /* baseline to the bitmap's top row, upward */
    int width;
    int rows;
    std::vector<uint8_t> coverage;
};

struct AZ_Font {
    uint32_t magic;
    int pixels;
    int ascent;
    int descent;
    int average;
    int widest;
    AZ_Glyph glyphs[256];
};

/* Shared with the device-context code to tell fonts from other objects. */
extern const uint32_t az_font_magic = 0x464F4E54; /* "FONT" */

namespace {

std::mutex font_lock;
FT_Library font_library = nullptr;
FT_Face font_face = nullptr;
bool font_failed = false;
/* Never freed: fonts live as long as the process and stay reachable. */
std::map<int, AZ_Font *> &Fonts()
{
    static std::map<int, AZ_Font *> *fonts = new std::map<int, AZ_Font *>();
    return *fonts;
}

/* Windows-1252 characters of bytes 0x80-0x9F (0: none). */
const unsigned short cp1252_high[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                        0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

/* Character of a byte, 0 for the bytes that have no width. */
unsigned long Font_Char(unsigned byte)
{
    if (byte < 0x20 || byte == 0x7F)
        return 0;
    if (byte >= 0x80 && byte < 0xA0)
        return cp1252_high[byte - 0x80];
    return byte;
}

/* Caller holds font_lock. */
bool Font_Face_Open()
{
    if (font_face)
        return true;
    if (font_failed)
        return false;
    if (FT_Init_FreeType(&font_library) != 0 || FT_New_Face(font_library, AZ_FONT_FILE, 0, &font_face) != 0) {
        font_failed = true;
        return false;
    }
    return true;
}

/* Caller holds font_lock and has set the face's size. */
void Font_Glyph_Load(AZ_Glyph &glyph, unsigned byte)
{
    glyph = AZ_Glyph{0, 0, 0, 0, 0, {}};
    unsigned long code = Font_Char(byte);
    if (!code || FT_Load_Char(font_face, code, FT_LOAD_RENDER) != 0)
        return;
    FT_GlyphSlot slot = font_face->glyph;
    glyph.advance = (int)((slot->advance.x + 32) >> 6);
    const FT_Bitmap &bitmap = slot->bitmap;
    if (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY || !bitmap.buffer)
        return;
    glyph.left = slot->bitmap_left;
    glyph.top = slot->bitmap_top;
    glyph.width = (int)bitmap.width;
    glyph.rows = (int)bitmap.rows;
    glyph.coverage.resize((size_t)glyph.width * glyph.rows);
    for (int y = 0; y < glyph.rows; y++)
        memcpy(&glyph.coverage[(size_t)y * glyph.width], bitmap.buffer + (ptrdiff_t)y * bitmap.pitch,
               (size_t)glyph.width);
}

/* Ascent and descent as Windows takes them: the face's Windows metrics
 * scaled to the pixel size, each rounded. */
void Font_Vertical(AZ_Font *font)
{
    double units = font_face->units_per_EM ? font_face->units_per_EM : 2048;
    double ascender = font_face->ascender, descender = -font_face->descender;
    const TT_OS2 *os2 = static_cast<const TT_OS2 *>(FT_Get_Sfnt_Table(font_face, FT_SFNT_OS2));
    if (os2 && os2->version != 0xFFFF && os2->usWinAscent) {
        ascender = os2->usWinAscent;
        descender = os2->usWinDescent;
    }
    font->ascent = (int)lround(ascender * font->pixels / units);
    font->descent = (int)lround(descender * font->pixels / units);
}

/* Caller holds font_lock. */
AZ_Font *Font_Make(int pixels)
{
    if (!Font_Face_Open() || FT_Set_Pixel_Sizes(font_face, 0, (FT_UInt)pixels) != 0)
        return nullptr;
    AZ_Font *font = new (std::nothrow) AZ_Font();
    if (!font)
        return nullptr;
    font->magic = az_font_magic;
    font->pixels = pixels;
    Font_Vertical(font);
    for (unsigned b = 0; b < 256; b++) {
        Font_Glyph_Load(font->glyphs[b], b);
        font->widest = std::max(font->widest, font->glyphs[b].advance);
    }
    /* Windows' average width: the mean advance of the 52 Latin letters. */
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    int sum = 0;
    for (const char *p = letters; *p; p++)
        sum += font->glyphs[(unsigned char)*p].advance;
    font->average = (sum + 26) / 52;
    return font;
}

bool Font_Valid(HFONT font) { return font && font->magic == az_font_magic; }

/* Shared walk of AzFont_Draw and AzFont_Coverage: calls put(x, y, coverage)
 * for every covered pixel inside w x h; returns the pen advance. */
template <typename Put> int Font_Walk(HFONT font, const char *text, int w, int h, int x, int baseline_y, Put put)
{
    if (!Font_Valid(font) || !text)
        return 0;
    int pen = x;
    for (const unsigned char *p = (const unsigned char *)text; *p; p++) {
        const AZ_Glyph &g = font->glyphs[*p];
        int x0 = pen + g.left, y0 = baseline_y - g.top;
        for (int gy = std::max(0, -y0); gy < g.rows && y0 + gy < h; gy++)
            for (int gx = std::max(0, -x0); gx < g.width && x0 + gx < w; gx++) {
                uint8_t a = g.coverage[(size_t)gy * g.width + gx];
                if (a)
                    put(x0 + gx, y0 + gy, a);
            }
        pen += g.advance;
    }
    return pen - x;
}

uint32_t Blend(uint32_t dst, uint32_t colour, unsigned a)
{
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        unsigned s = (colour >> shift) & 0xFF, d = (dst >> shift) & 0xFF;
        out |= ((s * a + d * (255 - a) + 127) / 255) << shift;
    }
    unsigned da = dst >> 24;
    out |= ((a * 255 + da * (255 - a) + 127) / 255) << 24;
    return out;
}

} // namespace

HFONT AzFont_Get_Pixels(int pixels)
{
    pixels = std::min(std::max(pixels, 1), 512);
    std::lock_guard<std::mutex> hold(font_lock);
    auto found = Fonts().find(pixels);
    if (found != Fonts().end())
        return found->second;
    AZ_Font *font = Font_Make(pixels);
    if (font)
        Fonts()[pixels] = font;
    return font;
}

/* Only one face is bundled; every face name, "arial" included, gets it. */
HFONT AzFont_Get(const char *, int points)
{
    if (points <= 0)
        points = 10;
    return AzFont_Get_Pixels((points * 96 + 36) / 72);
}

int AzFont_Measure(HFONT font, const char *text, int len, int *ascent, int *descent)
{
    if (ascent)
        *ascent = Font_Valid(font) ? font->ascent : 0;
    if (descent)
        *descent = Font_Valid(font) ? font->descent : 0;
    if (!Font_Valid(font) || !text)
        return 0;
    int width = 0;
    for (int i = 0; len < 0 ? text[i] != '\0' : i < len; i++)
        width += font->glyphs[(unsigned char)text[i]].advance;
    return width;
}

int AzFont_Metrics(HFONT font, int *pixels, int *ascent, int *descent, int *average, int *widest)
{
    bool valid = Font_Valid(font);
    if (pixels)
        *pixels = valid ? font->pixels : 0;
    if (ascent)
        *ascent = valid ? font->ascent : 0;
    if (descent)
        *descent = valid ? font->descent : 0;
    if (average)
        *average = valid ? font->average : 0;
    if (widest)
        *widest = valid ? font->widest : 0;
    return valid ? 1 : 0;
}

int AzFont_Draw(HFONT font, const char *text, uint32_t *rgba, int w, int h, int x, int baseline_y, uint32_t colour)
{
    unsigned strength = colour >> 24 ? colour >> 24 : 255;
    auto put = [&](int px, int py, unsigned a) {
        uint32_t &dst = rgba[(size_t)py * w + px];
        dst = Blend(dst, colour, (a * strength + 127) / 255);
    };
    if (!rgba)
        return AzFont_Measure(font, text, -1, nullptr, nullptr);
    return Font_Walk(font, text, w, h, x, baseline_y, put);
}

int AzFont_Coverage(HFONT font, const char *text, uint8_t *coverage, int w, int h, int x, int baseline_y)
{
    auto put = [&](int px, int py, unsigned a) {
        uint8_t &dst = coverage[(size_t)py * w + px];
        dst = (uint8_t)std::max<unsigned>(dst, a);
    };
    if (!coverage)
        return AzFont_Measure(font, text, -1, nullptr, nullptr);
    return Font_Walk(font, text, w, h, x, baseline_y, put);
}
