/* Header conversion: any bytes as a frame's header (zero-padded to its
 * size); the copy must equal the source but for the pixel pointers. */
#include <string.h>

#include "fuzz_input.h"
#include "host/corvantis_convert.h"
#include "hostlib/structures/az_db.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz_Quiet(); // the null cases report
    Vexa_Image source, copy;
    memset(&source, 0, sizeof(source));
    memcpy(&source, data, size < sizeof(source) ? size : sizeof(source));
    memset(&copy, 0, sizeof(copy));
    if (Vexa_Image_Header_Copy(nullptr, &copy, &source) != 1 || copy.pixels_pt || copy.pixel_size_pt)
        __builtin_trap();
    copy.pixels_pt = source.pixels_pt;
    copy.pixel_size_pt = source.pixel_size_pt;
    if (memcmp(&copy, &source, sizeof(copy)) != 0)
        __builtin_trap();
    // A header copied onto itself loses its pixels and nothing else.
    Vexa_Image again = source;
    if (Vexa_Image_Header_Copy(nullptr, &again, &again) != 1 || again.pixels_pt || again.pixel_size_pt)
        __builtin_trap();
    // Positions from the copied geometry (no pixel-size pointer after the copy).
    copy.pixel_size_pt = nullptr;
    (void)AzImage_Pos(&copy, 1.0f, 2.0f, 3.0f);
    if (Vexa_Image_Header_Copy(nullptr, nullptr, &source) != 0 || Vexa_Image_Header_Copy(nullptr, &copy, nullptr) != 0)
        __builtin_trap();
    return 0;
}
