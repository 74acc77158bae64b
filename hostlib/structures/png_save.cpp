/*
 * PNG files of window pixels.  A file is written under a temporary name and
 * renamed when complete, so that a reader never sees half an image under
 * the final name.
 */
#include <errno.h>
#include <png.h>
#include <setjmp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "../win32/az_win.h"
#include "az_gl.h"

namespace {

/* libpng's failures carry their text here (one writer at a time per call). */
struct Png_Failure {
    char text[200];
};

void Png_Error(png_structp png, png_const_charp message)
{
    Png_Failure *failure = (Png_Failure *)png_get_error_ptr(png);
    snprintf(failure->text, sizeof(failure->text), "%s", message);
    png_longjmp(png, 1);
}

void Png_Warning(png_structp, png_const_charp) {}

/* Writes the image to an open file; 0 with the reason in failure. */
int Png_Encode(FILE *file, const uint32_t *rgba, int w, int h, uint8_t *row, Png_Failure *failure)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, failure, Png_Error, Png_Warning);
    if (!png) {
        snprintf(failure->text, sizeof(failure->text), "out of memory");
        return 0;
    }
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        if (!info)
            snprintf(failure->text, sizeof(failure->text), "out of memory");
        png_destroy_write_struct(&png, info ? &info : NULL);
        return 0;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, (png_uint_32)w, (png_uint_32)h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < h; y++) {
        const uint32_t *source = rgba + (size_t)y * w;
        for (int x = 0; x < w; x++) {
            row[3 * x + 0] = (uint8_t)(source[x] & 0xff);
            row[3 * x + 1] = (uint8_t)(source[x] >> 8 & 0xff);
            row[3 * x + 2] = (uint8_t)(source[x] >> 16 & 0xff);
        }
        png_write_row(png, row);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return 1;
}

int Png_Fail(const char *path, const char *reason)
{
    Error_Fct(hwnd, 2, "Error: cannot write PNG file \"%s\": %s", path, reason);
    return 0;
}

} // namespace

int AzPng_Write(const char *path, const uint32_t *rgba, int w, int h)
{
    if (!path || !*path)
        return Png_Fail("", "no file name");
    if (!rgba || w <= 0 || h <= 0)
        return Png_Fail(path, "no pixels");
    size_t length = strlen(path);
    char *temporary = (char *)malloc(length + 8);
    uint8_t *row = (uint8_t *)malloc((size_t)w * 3);
    if (!temporary || !row) {
        free(temporary);
        free(row);
        return Png_Fail(path, "out of memory");
    }
    snprintf(temporary, length + 8, "%s.part", path);

    Png_Failure failure;
    failure.text[0] = 0;
    int done = 0;
    FILE *file = fopen(temporary, "wb");
    if (!file) {
        snprintf(failure.text, sizeof(failure.text), "%s", strerror(errno));
    } else {
        done = Png_Encode(file, rgba, w, h, row, &failure);
        if (fclose(file) != 0 && done) {
            snprintf(failure.text, sizeof(failure.text), "%s", strerror(errno));
            done = 0;
        }
        if (done && rename(temporary, path) != 0) {
            snprintf(failure.text, sizeof(failure.text), "%s", strerror(errno));
            done = 0;
        }
        if (!done)
            remove(temporary);
    }
    free(temporary);
    free(row);
    return done ? 1 : Png_Fail(path, failure.text);
}

int AzGl_Save_PNG(HWND window, const char *path)
{
    int w = 0, h = 0;
    const uint32_t *pixels = AzWin_Pixels(window, &w, &h);
    if (!pixels)
        return Png_Fail(path ? path : "", "no such window");
    return AzPng_Write(path, pixels, w, h);
}
