/* The preview's slice images: sampling, tag colours and the colour schemes
 * of the drawing, empty sizes. */
#include "draw_fixture.h"

namespace {

const uint32_t MAGENTA = 0xff00ffu;   // the tests' own clear colour

} // namespace

class PreviewImageTest : public DrawTest {
  protected:
    void SetUp() override
    {
        DrawTest::SetUp();
        Make_Study(16, 8, 5);
        Make_Window(16, 8);
    }
    /* Draws both layers at the window's top left, one window pixel per
     * slice pixel, over a magenta background, with a colour scheme. */
    void Draw_Layers(int scheme, short w = 16, short h = 8)
    {
        AzVar_Set("$COLOR_SCHEME", scheme);
        ASSERT_EQ(OpenGL_Context_On(window, 4), 1);
        glViewport(0, 0, 16, 8);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0.0, 16.0, 8.0, 0.0, -1.0, 1.0);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glClearColor(1.0f, 0.0f, 1.0f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glRasterPos2f(0.0f, 0.0f);
        EXPECT_EQ(Oblique_Pixels_Draw(1.0f, 1.0f, w, h), 1);
        // What a draw leaves behind for the next one.
        EXPECT_FALSE(glIsEnabled(GL_BLEND) || glIsEnabled(GL_ALPHA_TEST)) << scheme;
        OpenGL_Context_Off(window, 4);
    }
    int Build(int k, int w = 16, int h = 8)
    {
        return Oblique_GLI_Build(obl, &header, w, h, k) * 10 + Oblique_TAG_Build(obl, &header, w, h, k);
    }
};

TEST_F(PreviewImageTest, SamplesEveryPixelAtIntegerPointsRowByRow)
{
    volume.record = true;
    EXPECT_EQ(Oblique_GLI_Build(obl, &header, 16, 8, 3), 1);
    ASSERT_EQ(volume.seen.size(), 128u);
    for (int i = 0; i < 128; i++) {
        const Vect &p = volume.seen[i];
        ASSERT_TRUE(p.x == i % 16 && p.y == i / 16 && p.z == 3.0f && p.w == 0.0f) << i;
    }
    // Mapped through the class's own matrix: one slice further on.
    volume.seen.clear();
    obl->matrix.translate(0.0f, 0.0f, 1.0f, Matrix_4x4::post);
    EXPECT_EQ(Oblique_GLI_Build(obl, &header, 16, 8, 3), 1);
    EXPECT_EQ(volume.seen.at(0).z, 4.0f);
    // Slice 4 maps to 5, beyond the last frame: nothing asked of the study.
    volume.seen.clear();
    EXPECT_EQ(Oblique_GLI_Build(obl, &header, 16, 8, 4), 1);
    EXPECT_TRUE(volume.seen.empty());
    Draw_Layers(3);
    EXPECT_EQ(Count(DARK_BLUE, 0, 0, 15, 7), 128);
}

TEST_F(PreviewImageTest, GreyLayerRowZeroOnTop)
{
    EXPECT_EQ(Oblique_GLI_Build(obl, &header, 16, 8, 2), 1);
    Draw_Layers(3);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 16; x++)
            ASSERT_EQ(Rgb(Pixel(x, y)), Grey(x * 5 + y * 10 + 2)) << x << "," << y;
    // Points outside the volume take the host's colour for no data, read anew while building.
    AzVar_Set("$COLORMAP_GLI_INVALID", 0x00030201);
    obl->matrix.translate(-4.0f, 0.0f, 0.0f, Matrix_4x4::post);
    EXPECT_EQ(Oblique_GLI_Build(obl, &header, 16, 8, 2), 1);
    Draw_Layers(3);
    EXPECT_EQ(Rgb(Pixel(0, 0)), 0x030201u);
    EXPECT_EQ(Rgb(Pixel(3, 7)), 0x030201u);
    EXPECT_EQ(Rgb(Pixel(4, 0)), Grey(2));
    EXPECT_EQ(Rgb(Pixel(15, 7)), Grey(11 * 5 + 70 + 2));
}

TEST_F(PreviewImageTest, TagColoursAndSchemes)
{
    // Tag entries of the test; $TAG_NB 4.
    uint16_t *red = (uint16_t *)Fct_Variable_Value("$TAG_RED", nullptr, nullptr, nullptr);
    uint16_t *green = (uint16_t *)Fct_Variable_Value("$TAG_GRN", nullptr, nullptr, nullptr);
    uint16_t *blue = (uint16_t *)Fct_Variable_Value("$TAG_BLU", nullptr, nullptr, nullptr);
    float *alpha = (float *)Fct_Variable_Value("$TAG_ALPHA", nullptr, nullptr, nullptr);
    const uint16_t r[5] = {0, 0xffff, 0, 0, 0x80ff}, g[5] = {0, 0, 0xff00, 0, 0x1234}, b[5] = {0, 0, 0, 0x8000, 0xff00};
    const float a[5] = {1.0f, 0.5f, 1.0f, 0.992f, 0.25f};
    for (int i = 0; i < 5; i++) {
        red[i] = r[i];
        green[i] = g[i];
        blue[i] = b[i];
        alpha[i] = a[i];
    }
    AzVar_Set("$TAG_NB", 4);
    // Slice 1, source row 0: tags 0, 1, 2, 3, 4, 9, 257, 255 in columns 0-7,
    // shown in window columns 4-11; window columns 0-3 fall outside the volume.
    const int tags[8] = {0, 1, 2, 3, 4, 9, 257, 255};
    for (int x = 0; x < 8; x++)
        volume.tag[volume.At(x, 0, 1)] = tags[x];
    obl->matrix.translate(-4.0f, 0.0f, 0.0f, Matrix_4x4::post);
    ASSERT_EQ(Build(1), 11);
    const uint32_t colour[8] = {0x000000, 0x0000ff, 0x00ff00, 0x800000, 0xff1280, 0xff1280, 0x0000ff, 0xff1280};
    const int alpha_byte[8] = {255, 127, 255, 252, 63, 63, 127, 63};
    auto grey = [](int x, int y) { return Grey((x - 4) * 5 + y * 10 + 1); };

    // Row 0 and two more pixels per scheme (tests/data/traces/tag_schemes.trace).
    // 2, the tags blended with their alpha, within a level of OpenGL's rounding.
    std::vector<std::string> shown;
    for (int scheme : {0, 3, 1, 4, 200, 255, 256, 259}) {
        Draw_Layers(scheme);
        char text[16];
        std::string line = "scheme " + std::to_string(scheme) + ":";
        for (int n = 0; n < 14; n++) {
            uint32_t p = n < 12 ? Pixel(n, 0) : Pixel(n == 12 ? 5 : 8, n == 12 ? 3 : 5);   // then (5, 3), (8, 5)
            snprintf(text, sizeof text, "%s%0*x", n == 12 ? " | " : " ", scheme ? 6 : 8, scheme ? Rgb(p) : p);
            line += text;
        }
        shown.push_back(line);
    }
    EXPECT_TRUE(Trace_Is("tag_schemes", shown));
    Draw_Layers(2);
    for (int i = 0; i < 8; i++) {
        uint32_t p = Pixel(4 + i, 0), under = grey(4 + i, 0);
        for (int shift = 0; shift < 24; shift += 8) {
            double s = colour[i] >> shift & 0xff, d = under >> shift & 0xff, f = alpha_byte[i] / 255.0;
            double want = alpha_byte[i] > 252 ? d : s * f + d * (1.0 - f);
            EXPECT_NEAR((double)(p >> shift & 0xff), want, 1.01) << "tag " << tags[i] << " byte " << shift / 8;
        }
    }
    EXPECT_EQ(Rgb(Pixel(0, 0)), DARK_BLUE);
}

TEST_F(PreviewImageTest, EmptySizesAndFailedGreySetUp)
{
    console.Clear();
    ASSERT_EQ(Build(1), 11);
    // The grey set-up is refused: the buffer keeps the last slice.
    Vexa_Image refused = header;
    refused.display_low = NAN;
    EXPECT_EQ(Oblique_GLI_Build(obl, &refused, 16, 8, 3), 0);
    Draw_Layers(3);
    EXPECT_EQ(Rgb(Pixel(2, 2)), Grey(10 + 20 + 1)) << "still slice 1";
    // Width 0 or below: both buffers released, nothing sampled, nothing
    // drawn; the set-up still comes first and still decides the grey result.
    volume.record = true;
    EXPECT_EQ(Oblique_GLI_Build(obl, &refused, 0, 8, 1), 0);
    EXPECT_EQ(Build(1, 0, 8), 11);
    for (int scheme : {2, 3, 0}) {
        Draw_Layers(scheme);
        EXPECT_EQ(Rgb(Pixel(2, 2)), MAGENTA) << scheme;
    }
    EXPECT_EQ(Build(1, -16, 8) + Build(1, 16, -8), 22);
    EXPECT_TRUE(volume.seen.empty());
    Draw_Layers(2);
    EXPECT_EQ(Rgb(Pixel(2, 2)), MAGENTA);
    // A draw larger than the buffers never reads past them.
    ASSERT_EQ(Oblique_GLI_Build(obl, &header, 4, 2, 1), 1);
    Draw_Layers(3, 16, 8);
    EXPECT_EQ(Rgb(Pixel(2, 1)), MAGENTA);
    Draw_Layers(3, 4, 2);
    EXPECT_EQ(Rgb(Pixel(2, 1)), Grey(2 * 5 + 10 + 1));
    EXPECT_TRUE(console.Lines().empty()) << Console_Dump(console.Lines());
    // A build that cannot size its buffer releases it (its report is the
    // fault table's): the last image is not drawn again.
    Fault_Arm("realloc", 1);
    EXPECT_EQ(Oblique_GLI_Build(obl, &header, 16, 8, 1), 0);
    Fault_Disarm();
    Draw_Layers(3, 4, 2);
    EXPECT_EQ(Rgb(Pixel(2, 1)), MAGENTA);
}
