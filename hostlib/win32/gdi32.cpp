/*
 * Device contexts and GDI text metrics.  A DC only carries a window, the
 * selected font and the mapping values; text is measured by the font
 * engine in pixels whatever the mapping says.
 */
#include <new>
#include <string.h>

#include "az_win.h"

extern const uint32_t az_font_magic;

struct AZ_Dc {
    uint32_t magic;
    HWND window;
    HFONT font;
    int map_mode;
    SIZE window_ext;
    SIZE viewport_ext;
    POINT viewport_org;
};

namespace {

const uint32_t dc_magic = 0x48444321; /* "HDC!" */
const int stock_system_pixels = 16;

bool Dc_Valid(HDC dc) { return dc && dc->magic == dc_magic; }

/* Fonts are the only GDI objects; their first word tells them apart. */
bool Object_Is_Font(HGDIOBJ object) { return object && *static_cast<const uint32_t *>(object) == az_font_magic; }

} // namespace

HDC GetDC(HWND window)
{
    if (window && !IsWindow(window)) {
        SetLastError(AZ_ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    AZ_Dc *dc = new (std::nothrow) AZ_Dc();
    if (!dc) {
        SetLastError(AZ_ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    dc->magic = dc_magic;
    dc->window = window;
    dc->font = static_cast<HFONT>(GetStockObject(SYSTEM_FONT));
    dc->map_mode = MM_TEXT;
    dc->window_ext = SIZE{1, 1};
    dc->viewport_ext = SIZE{1, 1};
    dc->viewport_org = POINT{0, 0};
    return dc;
}

int ReleaseDC(HWND, HDC dc)
{
    if (!Dc_Valid(dc))
        return 0;
    dc->magic = 0;
    delete dc;
    return 1;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object)
{
    if (!Dc_Valid(dc) || !Object_Is_Font(object)) {
        SetLastError(AZ_ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HFONT previous = dc->font;
    dc->font = static_cast<HFONT>(object);
    return previous;
}

HGDIOBJ GetStockObject(int which)
{
    if (which != SYSTEM_FONT)
        return nullptr;
    return AzFont_Get_Pixels(stock_system_pixels);
}

/* Fonts are shared by the engine's cache and live as long as the process. */
BOOL DeleteObject(HGDIOBJ object) { return Object_Is_Font(object) ? TRUE : FALSE; }

BOOL GetTextMetricsA(HDC dc, TEXTMETRICA *metrics)
{
    int pixels, ascent, descent, average, widest;
    if (!Dc_Valid(dc) || !metrics || !AzFont_Metrics(dc->font, &pixels, &ascent, &descent, &average, &widest))
        return FALSE;
    memset(metrics, 0, sizeof *metrics);
    metrics->tmHeight = ascent + descent;
    metrics->tmAscent = ascent;
    metrics->tmDescent = descent;
    metrics->tmInternalLeading = ascent + descent > pixels ? ascent + descent - pixels : 0;
    metrics->tmExternalLeading = 0;
    metrics->tmAveCharWidth = average;
    metrics->tmMaxCharWidth = widest;
    metrics->tmWeight = 400;
    return TRUE;
}

BOOL GetTextExtentPoint32A(HDC dc, LPCSTR text, int length, SIZE *size)
{
    int ascent, descent;
    if (!Dc_Valid(dc) || !size || length < 0 || (length > 0 && !text) ||
        !AzFont_Metrics(dc->font, nullptr, &ascent, &descent, nullptr, nullptr))
        return FALSE;
    size->cx = AzFont_Measure(dc->font, text, length, nullptr, nullptr);
    size->cy = ascent + descent;
    return TRUE;
}

int SetMapMode(HDC dc, int mode)
{
    if (!Dc_Valid(dc))
        return 0;
    int previous = dc->map_mode;
    dc->map_mode = mode;
    return previous;
}

BOOL SetWindowExtEx(HDC dc, int x, int y, SIZE *old)
{
    if (!Dc_Valid(dc))
        return FALSE;
    if (old)
        *old = dc->window_ext;
    dc->window_ext = SIZE{x, y};
    return TRUE;
}

BOOL SetViewportExtEx(HDC dc, int x, int y, SIZE *old)
{
    if (!Dc_Valid(dc))
        return FALSE;
    if (old)
        *old = dc->viewport_ext;
    dc->viewport_ext = SIZE{x, y};
    return TRUE;
}

BOOL SetViewportOrgEx(HDC dc, int x, int y, POINT *old)
{
    if (!Dc_Valid(dc))
        return FALSE;
    if (old)
        *old = dc->viewport_org;
    dc->viewport_org = POINT{x, y};
    return TRUE;
}

HWND AzDc_Window(HDC dc) { return Dc_Valid(dc) ? dc->window : nullptr; }

HFONT AzDc_Font(HDC dc) { return Dc_Valid(dc) ? dc->font : nullptr; }

int AzDc_Map_Mode(HDC dc) { return Dc_Valid(dc) ? dc->map_mode : 0; }
