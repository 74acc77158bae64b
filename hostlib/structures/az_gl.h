/*
 * Host-internal side of the host's OpenGL, colour and image services.
 *
 * OpenGL: OpenGL_Context_On gives the calling thread one off-screen RGBA
 * context (made on the thread's first use, destroyed when the thread ends)
 * drawing straight into the window's own pixel buffer.  The context keeps
 * OpenGL's usual window coordinates (y = 0 is the bottom row on screen)
 * while the buffer is stored top row first, so the pixels read back through
 * AzWin_Pixels, and the PNG files written from them, are upright.  The
 * drawing reaches the buffer at OpenGL_Context_Off, and then replaces all
 * of it: what the window held before is not kept, so a view clears and
 * draws everything between On and Off.
 *
 * Raster text: OpenGL_Text_DrawRasterFont draws with the Windows layer's
 * font engine, the face and size of Y_Create_Font("arial", size), so that a
 * string measured with that font is exactly as wide as it is drawn.  The
 * raster position (x, y, z) is the left end of the text's baseline.
 *
 * Grey-level colours (Fct_GLI_2_Color): the set-up takes a display byte and
 * the window's maximum and minimum grey levels.  Levels at or below the
 * minimum are black, at or above the maximum white, linear in between.  A
 * display byte of 0xFF (no window known) or an empty window (maximum <=
 * minimum) gives the default window 0..4095; values that are not finite
 * are refused (result 0).  The no-data level 2147483646 gives the
 * "$COLORMAP_GLI_INVALID" colour as it was at set-up.  Colours are opaque.
 * The set-up is kept per thread, so views drawing on different threads do
 * not disturb one another.
 *
 * Host variables registered by AzGl_Init:
 *   "$COLORMAP_GLI_INVALID"  colour of pixels without data (dark blue)
 *   "$COLOR_SCHEME"          how the tag layer meets the grey layer (2)
 *   "$TAG_NB"                highest tag entry in use (255)
 *   "$TAG_RED" "$TAG_GRN" "$TAG_BLU"  tables of 256 uint16 components
 *   "$TAG_ALPHA"             table of 256 floats; 1.0 hides a tag
 * Tag 0 (no label) is black with alpha 1.0; the others have distinct
 * colours at alpha 0.5.
 */
#ifndef AZ_GL_H
#define AZ_GL_H

#include <stdint.h>

#include "../../host/kelvra_structures.h"

#define AZ_GL_TAG_TABLE 256
#define AZ_GL_DEFAULT_GLI_INVALID 0x00402010u
#define AZ_GL_DEFAULT_SCHEME 2
#define AZ_GL_DEFAULT_TAG_NB 255
#define AZ_GL_DISPLAY_UNSET 0xff

extern "C" {

/* Registers the colour variables above with their defaults (again: back to
 * the defaults).  Returns 1. */
AZ_EXPORT int AzGl_Init(void);

/* Replaces one tag entry (0..255): 8-bit components, opacity 0..1. */
AZ_EXPORT int AzGl_Tag_Set(int tag, int red, int green, int blue, float alpha);
/* Puts back the default tag colours. */
AZ_EXPORT void AzGl_Tags_Default(void);

/* The tag layer over the grey layer, one rule for every picture the host
 * makes (views, exported pictures), the same as the module's preview draws
 * it for each "$COLOR_SCHEME": 0 the tag colour alone (opaque, over
 * black), 1 the tag colour where its alpha byte is below 253 else the
 * grey, 2 the tag blended over the grey with its alpha where below 253
 * else the grey, 3 the grey alone, 4 and above the tag colour opaque.  A
 * tag beyond "$TAG_NB" takes entry "$TAG_NB"; colour components are the
 * high bytes of the 16-bit tables; the alpha byte is the table's float
 * times 255, truncated.  The settings are read once by AzTag_Layer_Get. */
typedef struct AzTag_Layer {
    unsigned int highest;
    const uint16_t *red, *green, *blue;
    const float *alpha;
    int scheme;
} AzTag_Layer;
AZ_EXPORT AzTag_Layer AzTag_Layer_Get(void);
/* The pixel shown for a grey colour (RGBA, red in bits 0-7) and a tag. */
AZ_EXPORT uint32_t AzTag_Over(const AzTag_Layer *layer, uint32_t grey, int tag);

/* Writes a window's pixels to a PNG file (RGB; the window's alpha, which
 * the screen never shows, is dropped).  1 when written. */
AZ_EXPORT int AzGl_Save_PNG(HWND window, const char *path);
/* Writes w x h RGBA pixels (red in bits 0-7, row 0 at the top) as an RGB
 * PNG, to a temporary name first and renamed when complete, so that a file
 * of that name is never half written.  Errors go to the console (level 2)
 * with the file name; 1 when written. */
AZ_EXPORT int AzPng_Write(const char *path, const uint32_t *rgba, int w, int h);
}

#endif
