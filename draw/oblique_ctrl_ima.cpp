/*
 * The preview's slice images: one grey-level and one tag image of the
 * current slice, sampled through the direction's own voxel mapping, and
 * their drawing with glDrawPixels under the host's colour scheme.
 *
 * Both buffers belong to the panel's thread; nothing here is locked.
 */
#include <GL/gl.h>
#include <stdint.h>
#include <stdlib.h>

#include "../oblique/oblique.h"
#include "oblique_draw_fixed.h"

/* RGBA pixels, red in the low byte: the layout glDrawPixels reads with
 * GL_RGBA / GL_UNSIGNED_BYTE and the host's colour values already have. */
static uint32_t *Oblique_GLI = NULL;
static uint32_t *Oblique_TAG = NULL;
/* Pixels each buffer holds, so that a draw never reads past its end. */
static int Oblique_GLI_nb = 0;
static int Oblique_TAG_nb = 0;

/* Every pending OpenGL error of a checkpoint, three console lines each. */
void Oblique_GL_Check(const char *source, int line, const char *label)
{
    GLenum code;
    while ((code = glGetError()) != GL_NO_ERROR) {
        Error_Fct(hwnd, 11, OBLIQUE_MSG_WHERE, source, line);
        Error_Fct(hwnd, 11, "OpenGL Error %d in %s", (int)code, label);
        Error_Fct(hwnd, 11, "%s", Error_OpenGL((int)code));
    }
}

/* Sizes a buffer to n pixels (released when n is not positive).  On a
 * failed allocation the buffer is released too: a half-sized image must
 * never be drawn. */
static int Oblique_Buffer_Size(uint32_t **buffer, int *count, int n, int line, const char *name)
{
    if (n <= 0) {
        free(*buffer);
        *buffer = NULL;
        *count = 0;
        return 1;
    }
    size_t bytes = (size_t)n * 4;
    uint32_t *grown = (uint32_t *)(*buffer ? realloc(*buffer, bytes) : malloc(bytes));
    if (!grown) {
        free(*buffer);
        *buffer = NULL;
        *count = 0;
        Error_Fct(hwnd, 1, OBLIQUE_MSG_REALLOC, line, IMA_SOURCE, name, n, 4);
        return 0;
    }
    *buffer = grown;
    *count = n;
    return 1;
}

int Oblique_GLI_Build(Kelvra_Oblique *cls, Vexa_Image *header, int width, int height, int k)
{
    if (!Oblique_Buffer_Size(&Oblique_GLI, &Oblique_GLI_nb, width * height, IMA_LINE_GLI, "Oblique_GLI"))
        return 0;
    /* The header keeps the window minimum first and the maximum second;
     * the host's set-up takes the maximum first. */
    if (!Fct_GLI_2_Color(header->display_mode, header->display_high, header->display_low))
        return 0;
    Kelvra_Class *study = cls->Parent_Get_Pt();
    if (height < 1)
        return 1;
    uint32_t *pixel = Oblique_GLI;
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++, pixel++) {
            /* Integer pixel coordinates, no half-pixel offset: the same
             * points the created frames will answer for. */
            Vect position((float)x, (float)y, (float)k, 0.0f);
            void *key = header;
            if (Oblique_Map_Direct(cls, &key, &position))
                *pixel = Fct_GLI_2_Color(study->Pixel_Get_GLI(study, key, position));
            else
                *pixel = (uint32_t)Fct_Variable_Value("$COLORMAP_GLI_INVALID", NULL, NULL, NULL);
        }
    }
    return 1;
}

/* One tag's colour from the host's tables: high bytes of the 16-bit
 * components, the opacity scaled to a byte. */
static inline uint32_t Oblique_Tag_Color(const uint16_t *red, const uint16_t *green, const uint16_t *blue,
                                         const float *alpha, unsigned int i)
{
    uint32_t a = (uint32_t)(int)(alpha[i] * 255.0) & 0xffu;
    return (uint32_t)(red[i] >> 8) | (uint32_t)(green[i] >> 8) << 8 | (uint32_t)(blue[i] >> 8) << 16 | a << 24;
}

/* Tag fragments with alpha below 0.99 are drawn: alpha bytes 0 to 252.
 * Renderers that compare in 8 bits round the reference to a byte first,
 * and 0.99 itself rounds to 252, which would hide 252 too; a reference
 * between 252/255 and 253/255 that rounds to 253 splits the bytes where
 * 0.99 does, whether the comparison is made in floats or in bytes. */
#define TAG_ALPHA_REFERENCE (252.6f / 255.0f)

/* Opaque black: points outside the volume, left out by the alpha test. */
#define TAG_UNMAPPED 0xff000000u

int Oblique_TAG_Build(Kelvra_Oblique *cls, Vexa_Image *header, int width, int height, int k)
{
    if (!Oblique_Buffer_Size(&Oblique_TAG, &Oblique_TAG_nb, width * height, IMA_LINE_TAG, "Oblique_TAG"))
        return 0;
    uint16_t tag_nb = (uint16_t)Fct_Variable_Value("$TAG_NB", NULL, NULL, NULL);
    const uint16_t *red = (const uint16_t *)Fct_Variable_Value("$TAG_RED", NULL, NULL, NULL);
    const uint16_t *green = (const uint16_t *)Fct_Variable_Value("$TAG_GRN", NULL, NULL, NULL);
    const uint16_t *blue = (const uint16_t *)Fct_Variable_Value("$TAG_BLU", NULL, NULL, NULL);
    const float *alpha = (const float *)Fct_Variable_Value("$TAG_ALPHA", NULL, NULL, NULL);
    Kelvra_Class *study = cls->Parent_Get_Pt();
    if (height < 1)
        return 1;
    /* A host without colour tables: show every point as unmapped rather
     * than read through a null table. */
    int tables = red && green && blue && alpha;
    uint32_t *pixel = Oblique_TAG;
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++, pixel++) {
            Vect position((float)x, (float)y, (float)k, 0.0f);
            void *key = header;
            if (tables && Oblique_Map_Direct(cls, &key, &position)) {
                unsigned int t = (unsigned int)study->Pixel_Get_TAG(study, key, position) & 0xffu;
                /* Tags past the table's end share its last entry. */
                unsigned int i = (uint16_t)t < tag_nb ? t : (tag_nb & 0xffu);
                *pixel = Oblique_Tag_Color(red, green, blue, alpha, i);
            } else {
                *pixel = TAG_UNMAPPED;
            }
        }
    }
    return tables;
}

/* Draws one layer when its buffer holds the whole image; after a failed
 * allocation the buffer is null and the layer is left out. */
static void Oblique_Layer_Draw(const uint32_t *buffer, int count, short width, short height)
{
    if (buffer && width > 0 && height > 0 && (int)width * (int)height <= count)
        glDrawPixels(width, height, GL_RGBA, GL_UNSIGNED_BYTE, buffer);
}

int Oblique_Pixels_Draw(float zoom_x, float zoom_y, short width, short height)
{
    /* Negative y zoom: rows go downward from the raster position, so row 0
     * of the slice is at the top. */
    glPixelZoom(zoom_x, -zoom_y);
    Oblique_GL_Check(IMA_SOURCE, IMA_LINE_ZOOM, "glPixelZoom");
    glPixelStorei(GL_UNPACK_ROW_LENGTH, width);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    Oblique_GL_Check(IMA_SOURCE, IMA_LINE_STORE, "glPixelStore");

    unsigned int scheme = (unsigned int)Fct_Variable_Value("$COLOR_SCHEME", NULL, NULL, NULL) & 0xffu;
    if (scheme != 0) {
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        Oblique_GL_Check(IMA_SOURCE, IMA_LINE_GLI_STORE, "glPixelStore");
        Oblique_Layer_Draw(Oblique_GLI, Oblique_GLI_nb, width, height);
        Oblique_GL_Check(IMA_SOURCE, IMA_LINE_GLI_DRAW, "glDrawPixels");
    }
    if (scheme != 3) {
        if (scheme == 1 || scheme == 2) {
            /* Only tags with alpha below 0.99 show; opaque black (points
             * outside the volume) and "invisible" entries leave the grey. */
            glEnable(GL_ALPHA_TEST);
            glAlphaFunc(GL_LESS, TAG_ALPHA_REFERENCE);
        }
        if (scheme == 2) {
            glEnable(GL_BLEND);
            glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        }
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        Oblique_GL_Check(IMA_SOURCE, IMA_LINE_TAG_STORE, "glPixelStore");
        Oblique_Layer_Draw(Oblique_TAG, Oblique_TAG_nb, width, height);
        Oblique_GL_Check(IMA_SOURCE, IMA_LINE_TAG_DRAW, "glDrawPixels");
        if (scheme == 2)
            glDisable(GL_BLEND);
        if (scheme == 1 || scheme == 2)
            glDisable(GL_ALPHA_TEST);
    }
    glPixelZoom(1.0f, 1.0f);
    Oblique_GL_Check(IMA_SOURCE, IMA_LINE_UNZOOM, "glPixelZoom");
    return 1;
}

void Oblique_Buffers_Release(void)
{
    free(Oblique_GLI);
    Oblique_GLI = NULL;
    Oblique_GLI_nb = 0;
    free(Oblique_TAG);
    Oblique_TAG = NULL;
    Oblique_TAG_nb = 0;
}
