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
    size_t differing = 0;
    for (size_t i = 0; i < sizeof dst; i++) {
        bool cleared = (i >= pixels_at && i < pixels_at + 8) || (i >= size_at && i < size_at + 8);
        if (!cleared && a[i] != raw[i])
            differing++;
    }
    EXPECT_EQ(differing, 0u);
    EXPECT_EQ(dst.width, src.width);
    EXPECT_EQ(memcmp(&before, &src, sizeof src), 0) << "the source is left alone";
    EXPECT_EQ(src.pixels_pt, reinterpret_cast<Vexa_Pixels *>(&size));
}

TEST(HeaderCopy, NullHeadersAreRefusedWithALine)
{
    Console_Capture capture;
    Vexa_Image img;
    memset(static_cast<void *>(&img), 0x5A, sizeof img);
    EXPECT_EQ(Vexa_Image_Header_Copy(nullptr, nullptr, &img), 0);
    EXPECT_EQ(Vexa_Image_Header_Copy(nullptr, &img, nullptr), 0);
    EXPECT_EQ(reinterpret_cast<unsigned char *>(&img)[100], 0x5A) << "nothing written";
    std::vector<Console_Line> lines = capture.Lines();
    std::vector<Console_Line> want = {{2, "Vexa_Image_Header_Copy: null header"},
                                      {2, "Vexa_Image_Header_Copy: null header"}};
    EXPECT_EQ(lines, want) << Console_Dump(lines);
}
