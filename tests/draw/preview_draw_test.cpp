/* One preview: where the slice image goes, the volume outline and the
 * cutting polygon, the info text, and the failure reports. */
#include "draw_fixture.h"

class PreviewDrawTest : public DrawTest {
  protected:
    void SetUp() override
    {
        DrawTest::SetUp();
        AzVar_Set("$COLOR_SCHEME", 3);
    }
};

TEST_F(PreviewDrawTest, SliceImageCentredInTopLeftSquare)
{
    // Volume 20 x 10 x 5 mm: diagonal 22.9 mm, taken as 22; the window is
    // 110 high, so 5 pixels per mm and the image starts at (5, 30).
    Make_Study(20, 10, 5);
    Make_Window(300, 110);
    Preview(obl, 2);
    for (int j = 0; j < 10; j++) {
        for (int i = 0; i < 20; i++) {
            int x = 5 + 5 * i + 2, y = 30 + 5 * j + 2;
            if (abs(x - 100) <= 2)
                continue;   // the outline's left edge (centred in the window) crosses here
            ASSERT_EQ(Rgb(Pixel(x, y)), Grey(i * 5 + j * 10 + 2)) << "slice pixel " << i << "," << j;
        }
    }
    // Every screen pixel of one slice pixel, and one step beyond the image.
    for (int y = 30; y < 35; y++)
        for (int x = 5; x < 10; x++)
            EXPECT_EQ(Rgb(Pixel(x, y)), Grey(2)) << x << "," << y;
    EXPECT_EQ(Rgb(Pixel(4, 32)), DARK_BLUE);
    EXPECT_EQ(Rgb(Pixel(50, 29)), DARK_BLUE);
    EXPECT_EQ(Rgb(Pixel(50, 80)), DARK_BLUE);
    EXPECT_EQ(Rgb(Pixel(50, 79)), Grey(9 * 5 + 90 + 2));
    EXPECT_EQ(Rgb(Pixel(2, 2)), DARK_BLUE) << "background: the host's colour for no data";

    // A slice a millimetre wider than the truncated diagonal starts left
    // of the window and is still drawn, clipped.
    obl->dim.x = 23;
    Preview(obl, 2);
    EXPECT_EQ(Rgb(Pixel(0, 32)), Grey(2)) << "slice pixel 0 spans x -2.5 .. 2.5";
    EXPECT_EQ(Rgb(Pixel(5, 32)), Grey(5 + 2));
    EXPECT_EQ(Rgb(Pixel(50, 32)), Grey(10 * 5 + 2));
}

TEST_F(PreviewDrawTest, ZeroAnglesShowTheSliceRectangle)
{
    // Outline centred at (55, 200), 5 pixels per mm: the slice rectangle
    // +-10 x +-5 mm spans x 5..105 and y 175..225, two pixels wide.
    Make_Study(20, 10, 5);
    Make_Window(110, 400);
    Preview(obl, 2);
    for (int x = 10; x <= 100; x++) {
        EXPECT_TRUE(Rgb(Pixel(x, 174)) == YELLOW || Rgb(Pixel(x, 175)) == YELLOW) << x;
        EXPECT_TRUE(Rgb(Pixel(x, 224)) == YELLOW || Rgb(Pixel(x, 225)) == YELLOW) << x;
        EXPECT_EQ(Rgb(Pixel(x, 200)), DARK_BLUE) << x;
    }
    for (int y = 180; y <= 220; y++) {
        EXPECT_TRUE(Rgb(Pixel(4, y)) == YELLOW || Rgb(Pixel(5, y)) == YELLOW) << y;
        EXPECT_TRUE(Rgb(Pixel(104, y)) == YELLOW || Rgb(Pixel(105, y)) == YELLOW) << y;
    }
    int all = Count(YELLOW, 0, 0, 109, 399);
    int near_edges = Count(YELLOW, 3, 173, 106, 176) + Count(YELLOW, 3, 223, 106, 226) +
                     Count(YELLOW, 3, 177, 6, 222) + Count(YELLOW, 103, 177, 106, 222);
    EXPECT_EQ(all, near_edges) << "no yellow away from the rectangle";
    EXPECT_GT(all, 2 * (90 + 40));

    // What a draw leaves behind: no device context held, one matrix on each stack.
    EXPECT_TRUE(Y_DC == nullptr && Y_Window == nullptr);
    ASSERT_EQ(OpenGL_Context_On(window, 4), 1);
    GLint depth[2] = {0, 0};
    glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &depth[0]);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth[1]);
    EXPECT_TRUE(depth[0] == 1 && depth[1] == 1 && !glIsEnabled(GL_LINE_STIPPLE));
    OpenGL_Context_Off(window, 4);
    // A slice plane that misses the volume: no polygon and no message.
    console.Clear();
    Preview(obl, -10);
    EXPECT_EQ(Count(YELLOW, 0, 0, 109, 399), 0);
    EXPECT_TRUE(console.Lines().empty()) << Console_Dump(console.Lines());
}

TEST_F(PreviewDrawTest, InfoLinesRightAlignedAtTheirBaselines)
{
    Make_Study(20, 10, 5);
    Make_Window(460, 110);
    obl->alpha = 0.7854f;
    obl->beta = -0.0087f;
    obl->theta = 1.0f;
    obl->voxel = Vect(0.5f, 0.25f, 2.0f, 0.0f);
    Preview(obl, 2);

    HFONT font = AzFont_Get("arial", 10);
    int ascent = 0, descent = 0;
    ASSERT_TRUE(AzFont_Metrics(font, nullptr, &ascent, &descent, nullptr, nullptr));
    int th = ascent + descent;
    const int w = 460, h = 110;
    struct Line {
        const char *text;
        int y;
    } lines[6] = {{"Alpha: 45", th + 3},
                  {"Beta: -0", 2 * th + 3},
                  {"Theta: 57", 3 * th + 3},
                  {"5 slices", h - 2 * th - 3},
                  {"20 x 10 pix", h - th - 3},
                  {"0.50 x 0.25 x 2.00 mm", h - 3}};
    std::vector<uint8_t> coverage((size_t)w * h);
    for (const Line &line : lines) {
        int tw = AzFont_Measure(font, line.text, -1, nullptr, nullptr);
        int x = w - tw - 3;
        std::fill(coverage.begin(), coverage.end(), 0);
        AzFont_Coverage(font, line.text, coverage.data(), w, h, x, line.y);
        int lit = 0, right = -1;
        for (int y = line.y - ascent; y < line.y + descent; y++) {
            for (int px = x - 2; px < w; px++) {
                if (y < 0 || y >= h)
                    continue;
                uint8_t c = coverage[(size_t)y * w + px];
                uint32_t p = Rgb(Pixel(px, y));
                if (c == 0) {
                    EXPECT_EQ(p, DARK_BLUE) << line.text << " at " << px << "," << y;
                }
                if (c >= 128) {
                    EXPECT_NE(p, DARK_BLUE) << line.text << " at " << px << "," << y;
                    lit++;
                    right = px > right ? px : right;
                }
                if (c == 255) {
                    EXPECT_EQ(p, WHITE) << line.text << " at " << px << "," << y;
                }
            }
        }
        EXPECT_GT(lit, 10) << line.text;
        EXPECT_LE(right, w - 4) << line.text << ": 3 pixels free at the right edge";
        EXPECT_GE(right, w - 6) << line.text;
    }
}

TEST_F(PreviewDrawTest, ContextFailureReported)
{
    Make_Study(20, 10, 5);
    Make_Window(110, 110);
    console.Clear();
    Oblique_Image(nullptr, &box, obl);
    EXPECT_EQ(console.Lines(), std::vector<Console_Line>({{11, "file:.\\oblique_ctrl_draw line:54"},
                                      {2, "Error: in YGL_CONTEXT_RGB( box_image )"}}))
        << Console_Dump(console.Lines());
    EXPECT_EQ(Y_DC, nullptr);
    EXPECT_NE(Rgb(Pixel(50, 50)), DARK_BLUE) << "nothing drawn";
}

TEST_F(PreviewDrawTest, OpenGLErrorsReportedPerCheckpoint)
{
    Make_Study(20, 10, 5);
    Make_Window(110, 110);
    Preview(obl, 2);   // both slice images built
    console.Clear();
    // The slice images: an error left pending before the draw, then a
    // negative row length, which OpenGL refuses.
    AzVar_Set("$COLOR_SCHEME", 2);
    ASSERT_EQ(OpenGL_Context_On(window, 4), 1);
    glEnable(0x1234);
    EXPECT_EQ(Oblique_Pixels_Draw(1.0f, 1.0f, 16, 8), 1);
    EXPECT_EQ(Oblique_Pixels_Draw(1.0f, 1.0f, -3, 8), 1);
    // The preview: an error left pending, a slice 22 mm away (the solid
    // pass's near and far planes meet), a box of width 0 (every projection
    // of it is empty).
    glEnable(0x1234);
    OpenGL_Context_Off(window, 4);
    AzVar_Set("$COLOR_SCHEME", 3);
    Preview(obl, 2);
    Preview(obl, -20);
    box.width = 0;
    Preview(obl, 2);
    EXPECT_TRUE(Trace_Is("draw_gl_errors", Golden_Console(console.Lines())));
}
