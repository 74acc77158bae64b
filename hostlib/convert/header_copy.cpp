/* Image header conversion. */
#include <string.h>

#include "../../host/corvantis_convert.h"

int Vexa_Image_Header_Copy(HWND window, Vexa_Image *dst, void *src)
{
    if (!dst || !src) {
        Error_Fct(window, 2, "Vexa_Image_Header_Copy: null header");
        return 0;
    }
    if (dst != src)
        memcpy(dst, src, sizeof(Vexa_Image));
    /* The copy describes the frame; the pixels stay with the source. */
    dst->pixels_pt = nullptr;
    dst->pixel_size_pt = nullptr;
    return 1;
}
