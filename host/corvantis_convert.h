/*
 * Corvantis_Convert: header conversion.
 */
#ifndef CORVANTIS_CONVERT_H
#define CORVANTIS_CONVERT_H

#include "kelvra_structures.h"

/* Fills dst (a zero-filled header) from the header of the frame key src:
 * every field but the pixels, which stay with src (dst->pixels_pt null,
 * dst->pixel_size_pt null).  1 when done, 0 when a pointer is null. */
extern "C" AZ_EXPORT int Vexa_Image_Header_Copy(HWND window, Vexa_Image *dst, void *src);

#endif
