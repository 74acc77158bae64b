/*
 * Raster text for OpenGL views: the Windows layer's font engine renders the
 * glyphs' coverage, which is drawn with glDrawPixels and blended in the
 * text colour.  The same font measures the text in the toolkit, so a right-
 * aligned string ends where it was measured to end.
 */
#include <GL/gl.h>
#include <stdlib.h>
#include <string.h>

#include "../win32/az_win.h"
#include "az_gl.h"

/* Room for glyphs that reach past their advance (italic overhangs, a
 * negative left bearing). */
static int Text_Margin(int pixels)
{
    return pixels / 2 + 1;
}

static uint8_t Text_Channel(int value)
{
    return (uint8_t)(value < 0 ? 0 : value > 255 ? 255 : value);
}

int OpenGL_Text_DrawRasterFont(const char *text, int size, int red, int green, int blue, float x, float y, float z)
{
    if (!text || !*text)
        return 1;
    HFONT font = AzFont_Get("arial", size);
    int pixels = 0, ascent = 0, descent = 0;
    if (!font || !AzFont_Metrics(font, &pixels, &ascent, &descent, NULL, NULL))
        return 0;
    int margin = Text_Margin(pixels);
    int advance = AzFont_Measure(font, text, -1, NULL, NULL);
    int w = advance + 2 * margin;
    int h = ascent + descent;
    if (w <= 0 || h <= 0)
        return 1;

    uint8_t *coverage = (uint8_t *)calloc((size_t)w * h, 1);
    uint8_t *rgba = (uint8_t *)malloc((size_t)w * h * 4);
    if (!coverage || !rgba) {
        free(coverage);
        free(rgba);
        return 0;
    }
    AzFont_Coverage(font, text, coverage, w, h, margin, ascent);
    for (int i = 0; i < w * h; i++) {
        rgba[4 * i + 0] = Text_Channel(red);
        rgba[4 * i + 1] = Text_Channel(green);
        rgba[4 * i + 2] = Text_Channel(blue);
        rgba[4 * i + 3] = coverage[i];
    }

    /* Whatever pixel and blending state the caller set is left as it was. */
    glPushAttrib(GL_COLOR_BUFFER_BIT | GL_ENABLE_BIT | GL_PIXEL_MODE_BIT | GL_CURRENT_BIT);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glDisable(GL_ALPHA_TEST);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    /* The anchor is the baseline's left end in the caller's projection;
     * from there move, in window pixels (y up), to the top left of the
     * glyph box and draw its rows downward. */
    glRasterPos3f(x, y, z);
    glBitmap(0, 0, 0.0f, 0.0f, (float)-margin, (float)ascent, NULL);
    glPixelZoom(1.0f, -1.0f);
    glDrawPixels(w, h, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    glPopClientAttrib();
    glPopAttrib();

    free(coverage);
    free(rgba);
    return 1;
}
