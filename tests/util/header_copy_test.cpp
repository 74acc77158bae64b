#include <gtest/gtest.h>
#include <stddef.h>
#include <string.h>
#include <vector>

#include "host/corvantis_convert.h"
#include "tests/support/console_capture.h"

TEST(HeaderCopy, CopiesEveryByteButThePixels)
{
    Vexa_Image src, dst;
    unsigned char *raw = reinterpret_cast<unsigned char *>(&src);
    for (size_t i = 0; i < sizeof src; i++)
        raw[i] = (unsigned char)(i * 7 + 3);
    Vect size(0.5f, 0.5f, 2.0f);
    src.pixel_size_pt = &size;
    src.pixels_pt = reinterpret_cast<Vexa_Pixels *>(&size);
    Vexa_Image before = src;
    memset(static_cast<void *>(&dst), 0, sizeof dst);
    EXPECT_EQ(Vexa_Image_Header_Copy(nullptr, &dst, &src), 1);
    EXPECT_EQ(dst.pixels_pt, nullptr);
    EXPECT_EQ(dst.pixel_size_pt, nullptr);
    const unsigned char *a = reinterpret_cast<const unsigned char *>(&dst);
    size_t pixels_at = offsetof(Vexa_Image, pixels_pt), size_at = offsetof(Vexa_Image, pixel_size_pt);
    for (size_t i = 0; i < sizeof dst; i++)
        ASSERT_TRUE(a[i] == raw[i] || (i >= pixels_at && i < pixels_at + 8) || (i >= size_at && i < size_at + 8))
            << "byte " << i;
    EXPECT_EQ(memcmp(&before, &src, sizeof src), 0) << "the source is left alone";

    /* Null headers are refused with a line, nothing written. */
    Console_Capture capture;
    memset(static_cast<void *>(&dst), 0x5A, sizeof dst);
    EXPECT_EQ(Vexa_Image_Header_Copy(nullptr, nullptr, &dst), 0);
    EXPECT_EQ(Vexa_Image_Header_Copy(nullptr, &dst, nullptr), 0);
    EXPECT_EQ(reinterpret_cast<unsigned char *>(&dst)[100], 0x5A);
    std::vector<Console_Line> want = {{2, "Vexa_Image_Header_Copy: null header"},
                                      {2, "Vexa_Image_Header_Copy: null header"}};
    EXPECT_EQ(capture.Lines(), want) << Console_Dump(capture.Lines());
}
