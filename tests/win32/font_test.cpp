#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "hostlib/win32/az_win.h"

TEST(Fonts, MeasuringDrawingAndTheSystemFont)
{
    HWND window = CreateWindowExA(0, "AzTestText", "", 0, 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
    HDC dc = GetDC(window);
    HFONT font = AzFont_Get("arial", 10);
    ASSERT_TRUE(dc && font) << "font file missing?";
    EXPECT_EQ(GetStockObject(SYSTEM_FONT), SelectObject(dc, font)) << "a new DC holds the system font";
    int pixels = 0;
    AzFont_Metrics(font, &pixels, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(pixels, 13) << "10 points at 96 dots per inch";
    EXPECT_EQ(AzFont_Get("Tahoma", 10), font) << "one face serves every name";
    /* An extent is the sum of the advances (no kerning, no tab width), as high as the font;
     * the panel's mapping flips y but does not change measured pixels. */
    TEXTMETRICA tm;
    SIZE size, mapped;
    ASSERT_TRUE(GetTextMetricsA(dc, &tm) && GetTextExtentPoint32A(dc, "AV\tx", 4, &size));
    EXPECT_TRUE(tm.tmHeight == tm.tmAscent + tm.tmDescent && size.cy == tm.tmHeight);
    EXPECT_EQ(size.cx, AzFont_Measure(font, "A", 1, nullptr, nullptr) + AzFont_Measure(font, "Vx", 2, nullptr, nullptr));
    EXPECT_EQ(SetMapMode(dc, MM_ISOTROPIC), MM_TEXT);
    EXPECT_TRUE(SetViewportExtEx(dc, 200, -100, nullptr) && SetViewportOrgEx(dc, 0, 99, nullptr));
    EXPECT_TRUE(GetTextExtentPoint32A(dc, "AV\tx", 4, &mapped) && mapped.cx == size.cx);
    EXPECT_FALSE(GetTextExtentPoint32A(dc, "x", -1, &size));
    /* Drawing matches measuring; coverage is the red channel of white on black; clipped at every
     * edge, nothing outside the buffer is touched. */
    const int w = 60, h = 30;
    std::vector<uint32_t> rgba((size_t)w * (h + 2), 0xFF000000u);
    std::vector<uint8_t> cover((size_t)w * h, 0);
    uint32_t *inner = rgba.data() + w;
    EXPECT_EQ(AzFont_Draw(font, "Hg", inner, w, h, 5, 20, 0xFFFFFFFFu), AzFont_Measure(font, "Hg", 2, nullptr, nullptr));
    EXPECT_EQ(AzFont_Coverage(font, "Hg", cover.data(), w, h, 5, 20), AzFont_Measure(font, "Hg", 2, nullptr, nullptr));
    for (int i = 0; i < w * h; i++)
        ASSERT_EQ(cover[i], inner[i] & 0xFF) << "pixel " << i;
    std::fill(rgba.begin(), rgba.end(), 0x12345678u);
    AzFont_Draw(font, "WWWWWWWWWW", inner, w, h, -7, 3, 0xFF00FF00u);
    AzFont_Draw(font, "gggggggggg", inner, w, h, 40, h + 1, 0xFF00FF00u);
    for (int x = 0; x < w; x++)
        EXPECT_TRUE(rgba[x] == 0x12345678u && rgba[(size_t)(h + 1) * w + x] == 0x12345678u) << x;
    EXPECT_TRUE(ReleaseDC(window, dc) == 1 && DestroyWindow(window));
}

TEST(Fonts, ConcurrentRequestsShareOneFontPerSize)
{
    HFONT got[4][6] = {};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([&got, t] {
            for (int s = 0; s < 6; s++)
                got[t][s] = AzFont_Get("arial", 20 + s);
        });
    for (std::thread &t : threads)
        t.join();
    for (int s = 0; s < 6; s++)
        for (int t = 1; t < 4; t++)
            EXPECT_EQ(got[t][s], got[0][s]);
    EXPECT_NE(got[0][0], got[0][1]);
}
