#include <gtest/gtest.h>
#include <math.h>
#include <string.h>
#include <thread>
#include <vector>

#include "hostlib/win32/az_win.h"

namespace {

/* A DC on a fresh window with the 10-point font selected. */
class Text : public testing::Test {
  protected:
    void SetUp() override
    {
        window = CreateWindowExA(0, "AzTestText", "", 0, 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
        dc = GetDC(window);
        ASSERT_NE(dc, nullptr);
        font = AzFont_Get("arial", 10);
        ASSERT_NE(font, nullptr) << "font file missing?";
        previous = SelectObject(dc, font);
    }
    void TearDown() override
    {
        SelectObject(dc, previous);
        EXPECT_EQ(ReleaseDC(window, dc), 1);
        DestroyWindow(window);
    }
    int Width(const char *text, int len = -1, HDC on = nullptr)
    {
        SIZE size = {-1, -1};
        EXPECT_TRUE(GetTextExtentPoint32A(on ? on : dc, text, len < 0 ? (int)strlen(text) : len, &size));
        return size.cx;
    }
    HWND window = nullptr;
    HDC dc = nullptr;
    HFONT font = nullptr;
    HGDIOBJ previous = nullptr;
};

} // namespace

TEST_F(Text, MetricsAndExtents)
{
    TEXTMETRICA tm;
    ASSERT_TRUE(GetTextMetricsA(dc, &tm));
    EXPECT_EQ(tm.tmHeight, tm.tmAscent + tm.tmDescent);
    EXPECT_GT(tm.tmAscent, tm.tmDescent);
    EXPECT_GT(tm.tmDescent, 0);
    int pixels = 0;
    AzFont_Metrics(font, &pixels, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(pixels, 13) << "10 points at 96 dots per inch";
    EXPECT_EQ(AzFont_Get("Tahoma", 10), font) << "one face serves every name";
    EXPECT_NE(AzFont_Get("arial", 12), font);
    /* Average width: the mean of the 52 Latin letters, rounded. */
    int sum = 0;
    for (char c = 'a'; c <= 'z'; c++) {
        char pair[3] = {c, (char)(c - 'a' + 'A'), 0};
        sum += Width(pair);
    }
    EXPECT_EQ(tm.tmAveCharWidth, (LONG)lround(sum / 52.0));
    EXPECT_GE(tm.tmMaxCharWidth, Width("W"));

    /* An extent is the sum of the advances: no kerning, no tab width. */
    sum = 0;
    for (const char *p = "Alpha: 45"; *p; p++)
        sum += Width(p, 1);
    EXPECT_EQ(Width("Alpha: 45"), sum);
    EXPECT_EQ(AzFont_Measure(font, "Alpha: 45", -1, nullptr, nullptr), sum);
    EXPECT_EQ(Width("AV"), Width("A") + Width("V"));
    EXPECT_EQ(Width("Alpha", 3), Width("Alp")) << "the length counts bytes";
    EXPECT_EQ(Width("", 0), 0);
    EXPECT_EQ(Width("a\tb"), Width("ab"));
    EXPECT_GT(Width("\xB0"), 0) << "degree sign of the single-byte code page";
    SIZE size;
    ASSERT_TRUE(GetTextExtentPoint32A(dc, "x", 1, &size));
    EXPECT_EQ(size.cy, tm.tmHeight);
    EXPECT_FALSE(GetTextExtentPoint32A(dc, "x", -1, &size));

    /* A new DC holds the 16-pixel system font; the preview's mapping flips y but does not change
     * measured pixels; a shared font stays usable when deleted. */
    HDC other = GetDC(window);
    HGDIOBJ stock = GetStockObject(SYSTEM_FONT);
    EXPECT_EQ(AzDc_Font(other), stock);
    AzFont_Metrics(static_cast<HFONT>(stock), &pixels, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(pixels, 16);
    EXPECT_EQ(SelectObject(other, font), stock);
    EXPECT_EQ(SetMapMode(other, MM_ISOTROPIC), MM_TEXT);
    EXPECT_TRUE(SetViewportExtEx(other, 200, -100, nullptr) && SetViewportOrgEx(other, 0, 99, nullptr));
    EXPECT_EQ(Width("Beta: 10", 8, other), Width("Beta: 10", 8));
    EXPECT_EQ(ReleaseDC(window, other), 1);
    EXPECT_TRUE(DeleteObject(font));
    EXPECT_EQ(Width("x"), AzFont_Measure(font, "x", 1, nullptr, nullptr));
}

TEST_F(Text, DrawingMatchesMeasuring)
{
    const int w = 60, h = 30, baseline = 20;
    std::vector<uint32_t> rgba((size_t)w * h, 0xFF000000u);
    int ascent = 0, descent = 0;
    int advance = AzFont_Draw(font, "Hg", rgba.data(), w, h, 5, baseline, 0xFFFFFFFFu);
    EXPECT_EQ(advance, AzFont_Measure(font, "Hg", 2, &ascent, &descent));
    int below = 0, outside = 0;
    for (int i = 0; i < w * h; i++)
        if (rgba[i] & 0xFF) {
            below += i / w >= baseline;
            outside += i % w < 5 || i / w < baseline - ascent;
        }
    EXPECT_GT(below, 0) << "the g descends";
    EXPECT_EQ(outside, 0) << "nothing left of the pen or above the ascent";
    /* Coverage of the same text is the red channel of white on black. */
    std::vector<uint8_t> cover((size_t)w * h, 0);
    EXPECT_EQ(AzFont_Coverage(font, "Hg", cover.data(), w, h, 5, baseline), advance);
    for (size_t i = 0; i < cover.size(); i++)
        ASSERT_EQ(cover[i], rgba[i] & 0xFF) << "pixel " << i;
    /* Clipped at every edge, nothing outside the buffer is touched. */
    std::vector<uint32_t> guarded((size_t)w * (h + 2), 0x12345678u);
    uint32_t *inner = guarded.data() + w;
    std::fill(inner, inner + (size_t)w * h, 0u);
    AzFont_Draw(font, "WWWWWWWWWW", inner, w, h, -7, 3, 0xFF00FF00u);
    AzFont_Draw(font, "gggggggggg", inner, w, h, 40, h + 1, 0xFF00FF00u);
    for (int x = 0; x < w; x++) {
        EXPECT_EQ(guarded[x], 0x12345678u);
        EXPECT_EQ(guarded[(size_t)(h + 1) * w + x], 0x12345678u);
    }
    EXPECT_EQ(AzFont_Draw(nullptr, "x", inner, w, h, 0, 10, 0), 0);
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
