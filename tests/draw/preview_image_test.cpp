/* The preview's slice images: sampling, tag colours, the colour schemes,
 * and OpenGL error reports of the drawing. */
#include "draw_fixture.h"

namespace {

const uint32_t MAGENTA = 0xff00ffu;   // the tests' own clear colour


} // namespace

class PreviewImageTest : public DrawTest {
  protected:
    /* Draws both layers at the window's top left, one window pixel per
     * slice pixel, over a magenta background, with a colour scheme. */
    void Draw_Layers(int scheme, short w = 16, short h = 8)
    {
        AzVar_Set("$COLOR_SCHEME", scheme);
        ASSERT_EQ(OpenGL_Context_On(window, 4), 1);
        int ww = 0, wh = 0;
        AzWin_Pixels(window, &ww, &wh);
        glViewport(0, 0, ww, wh);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0.0, ww, wh, 0.0, -1.0, 1.0);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glClearColor(1.0f, 0.0f, 1.0f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glRasterPos2f(0.0f, 0.0f);
        EXPECT_EQ(Oblique_Pixels_Draw(1.0f, 1.0f, w, h), 1);
        OpenGL_Context_Off(window, 4);
    }

    /* Tag entries of the tests; $TAG_NB 4. */
    void Tag_Tables()
    {
        uint16_t *red = (uint16_t *)Fct_Variable_Value("$TAG_RED", nullptr, nullptr, nullptr);
        uint16_t *green = (uint16_t *)Fct_Variable_Value("$TAG_GRN", nullptr, nullptr, nullptr);
        uint16_t *blue = (uint16_t *)Fct_Variable_Value("$TAG_BLU", nullptr, nullptr, nullptr);
        float *alpha = (float *)Fct_Variable_Value("$TAG_ALPHA", nullptr, nullptr, nullptr);
        ASSERT_TRUE(red && green && blue && alpha);
        const uint16_t r[5] = {0, 0xffff, 0, 0, 0x80ff};
        const uint16_t g[5] = {0, 0, 0xff00, 0, 0x1234};
        const uint16_t b[5] = {0, 0, 0, 0x8000, 0xff00};
        const float a[5] = {1.0f, 0.5f, 1.0f, 0.992f, 0.25f};
        for (int i = 0; i < 5; i++) {
            red[i] = r[i];
            green[i] = g[i];
            blue[i] = b[i];
            alpha[i] = a[i];
        }
        AzVar_Set("$TAG_NB", 4);
    }
};

TEST_F(PreviewImageTest, SamplesEveryPixelAtIntegerPointsRowByRow)
{
    Make_Study(16, 8, 5);
    Make_Window(16, 8);
    volume.record = true;
    EXPECT_EQ(Oblique_GLI_Build(obl, &header, 16, 8, 3), 1);
    ASSERT_EQ(volume.seen.size(), 128u);
    for (int i = 0; i < 128; i++) {
        const Vect &p = volume.seen[i];
        ASSERT_EQ(p.x, (float)(i % 16)) << i;
        ASSERT_EQ(p.y, (float)(i / 16)) << i;
        ASSERT_EQ(p.z, 3.0f) << "the slice index of the single image";
        ASSERT_EQ(p.w, 0.0f);
    }
    // Mapped through the class's own matrix: one slice further on.
    volume.seen.clear();
    obl->matrix.translate(0.0f, 0.0f, 1.0f, Matrix_4x4::post);
    EXPECT_EQ(Oblique_GLI_Build(obl, &header, 16, 8, 3), 1);
    ASSERT_EQ(volume.seen.size(), 128u);
    EXPECT_EQ(volume.seen[0].z, 4.0f);
    // Slice 4 maps to 5, beyond the last frame: nothing asked of the study.
    volume.seen.clear();
    EXPECT_EQ(Oblique_GLI_Build(obl, &header, 16, 8, 4), 1);
    EXPECT_TRUE(volume.seen.empty());
    Draw_Layers(3);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 16; x++)
            ASSERT_EQ(Rgb(Pixel(x, y)), DARK_BLUE) << x << "," << y;
}

TEST_F(PreviewImageTest, GreyLayerRowZeroOnTop)
{
    Make_Study(16, 8, 5);
    Make_Window(40, 30);
    EXPECT_EQ(Oblique_GLI_Build(obl, &header, 16, 8, 2), 1);
    Draw_Layers(3);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 16; x++)
            ASSERT_EQ(Rgb(Pixel(x, y)), Grey(x * 5 + y * 10 + 2)) << x << "," << y;
    EXPECT_EQ(Rgb(Pixel(16, 0)), MAGENTA) << "one step beyond the image";
    EXPECT_EQ(Rgb(Pixel(0, 8)), MAGENTA);

    // Points outside the volume take the host's colour for no data, read
    // anew while building.
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
    Make_Study(16, 8, 5);
    Make_Window(16, 8);
    Tag_Tables();
    // Slice 1, source row 0: tags 0, 1, 2, 3, 4, 9, 257, 255 in columns 0-7.
    const int tags[8] = {0, 1, 2, 3, 4, 9, 257, 255};
    for (int x = 0; x < 8; x++)
        volume.tag[volume.At(x, 0, 1)] = tags[x];
    // Slice columns 0-3 fall outside the volume.
    obl->matrix.translate(-4.0f, 0.0f, 0.0f, Matrix_4x4::post);
    ASSERT_EQ(Oblique_GLI_Build(obl, &header, 16, 8, 1), 1);
    ASSERT_EQ(Oblique_TAG_Build(obl, &header, 16, 8, 1), 1);

    // Tag colour of each column 4-11 of row 0 (source columns 0-7).
    const uint32_t colour[8] = {0x000000, 0x0000ff, 0x00ff00, 0x800000, 0xff1280, 0xff1280, 0x0000ff, 0xff1280};
    const int alpha[8] = {255, 127, 255, 252, 63, 63, 127, 63};
    auto grey = [](int x, int y) { return Grey((x - 4) * 5 + y * 10 + 1); };

    // 0: the tag layer alone, opaque; unmapped points black.
    Draw_Layers(0);
    for (int i = 0; i < 8; i++) {
        EXPECT_EQ(Rgb(Pixel(4 + i, 0)), colour[i]) << "tag " << tags[i];
        EXPECT_EQ((int)(Pixel(4 + i, 0) >> 24), alpha[i]) << "tag " << tags[i];
    }
    EXPECT_EQ(Pixel(0, 0), 0xff000000u);
    EXPECT_EQ(Rgb(Pixel(12, 0)), 0u) << "tag 0 is black";

    // 3: the grey layer alone.
    Draw_Layers(3);
    for (int i = 0; i < 8; i++)
        EXPECT_EQ(Rgb(Pixel(4 + i, 0)), grey(4 + i, 0)) << "tag " << tags[i];
    EXPECT_EQ(Rgb(Pixel(0, 0)), DARK_BLUE);

    // 1: tags whose alpha is below 0.99 drawn opaque, the others leave the grey.
    Draw_Layers(1);
    for (int i = 0; i < 8; i++) {
        uint32_t expected = alpha[i] <= 252 ? colour[i] : grey(4 + i, 0);
        EXPECT_EQ(Rgb(Pixel(4 + i, 0)), expected) << "tag " << tags[i];
    }
    EXPECT_EQ(Rgb(Pixel(0, 0)), DARK_BLUE) << "unmapped: the grey layer shows";
    EXPECT_EQ(Rgb(Pixel(5, 3)), grey(5, 3)) << "tag 0 leaves the grey";

    // 2: the same tags blended with their alpha.
    Draw_Layers(2);
    for (int i = 0; i < 8; i++) {
        uint32_t p = Pixel(4 + i, 0);
        if (alpha[i] > 252) {
            EXPECT_EQ(Rgb(p), grey(4 + i, 0)) << "tag " << tags[i];
            continue;
        }
        uint32_t g = grey(4 + i, 0);
        for (int shift = 0; shift < 24; shift += 8) {
            double s = (colour[i] >> shift & 0xff), d = (g >> shift & 0xff), a = alpha[i] / 255.0;
            EXPECT_NEAR((double)(p >> shift & 0xff), s * a + d * (1.0 - a), 1.01) << "tag " << tags[i] << " byte "
                                                                                 << shift / 8;
        }
    }
    EXPECT_EQ(Rgb(Pixel(0, 0)), DARK_BLUE);
    EXPECT_EQ(Rgb(Pixel(8, 5)), grey(8, 5));

    // 4 to 255: the tag layer hides the grey layer.
    for (int scheme : {4, 200, 255}) {
        Draw_Layers(scheme);
        for (int i = 0; i < 8; i++)
            EXPECT_EQ(Rgb(Pixel(4 + i, 0)), colour[i]) << "scheme " << scheme << " tag " << tags[i];
        EXPECT_EQ(Rgb(Pixel(0, 0)), 0u) << "scheme " << scheme;
        EXPECT_EQ(Rgb(Pixel(8, 5)), 0u) << "scheme " << scheme;
    }
    // Only the low byte of the scheme counts: 259 is 3, 256 is 0.
    Draw_Layers(259);
    EXPECT_EQ(Rgb(Pixel(5, 0)), grey(5, 0));
    Draw_Layers(256);
    EXPECT_EQ(Rgb(Pixel(5, 0)), 0x0000ffu);
    EXPECT_EQ(Rgb(Pixel(0, 0)), 0u);
}

TEST_F(PreviewImageTest, EmptySizesAndFailedGreySetUp)
{
    Make_Study(16, 8, 5);
    Make_Window(16, 8);
    Console_Capture console;
    ASSERT_EQ(Oblique_GLI_Build(obl, &header, 16, 8, 1), 1);
    ASSERT_EQ(Oblique_TAG_Build(obl, &header, 16, 8, 1), 1);

    // The grey set-up is refused: the buffer keeps the last slice.
    Vexa_Image refused = header;
    refused.display_low = NAN;
    EXPECT_EQ(Oblique_GLI_Build(obl, &refused, 16, 8, 3), 0);
    Draw_Layers(3);
    EXPECT_EQ(Rgb(Pixel(2, 2)), Grey(10 + 20 + 1)) << "still slice 1";

    // Width 0: both buffers released, nothing sampled, nothing drawn; the
    // set-up still comes first and still decides the grey result.
    volume.record = true;
    EXPECT_EQ(Oblique_GLI_Build(obl, &refused, 0, 8, 1), 0);
    EXPECT_EQ(Oblique_GLI_Build(obl, &header, 0, 8, 1), 1);
    EXPECT_EQ(Oblique_TAG_Build(obl, &header, 16, 0, 1), 1);
    EXPECT_TRUE(volume.seen.empty());
    for (int scheme : {2, 3, 0}) {
        Draw_Layers(scheme);
        EXPECT_EQ(Rgb(Pixel(2, 2)), MAGENTA) << scheme;
    }
    // Negative sizes the same.
    EXPECT_EQ(Oblique_GLI_Build(obl, &header, -16, 8, 1), 1);
    EXPECT_EQ(Oblique_TAG_Build(obl, &header, 16, -8, 1), 1);
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
}

TEST_F(PreviewImageTest, OpenGLErrorsReportedPerCheckpoint)
{
    Make_Study(16, 8, 5);
    Make_Window(16, 8);
    ASSERT_EQ(Oblique_GLI_Build(obl, &header, 16, 8, 1), 1);
    ASSERT_EQ(Oblique_TAG_Build(obl, &header, 16, 8, 1), 1);
    Console_Capture console;
    AzVar_Set("$COLOR_SCHEME", 2);
    ASSERT_EQ(OpenGL_Context_On(window, 4), 1);
    // An error left pending before the draw: reported at the first checkpoint.
    glEnable(0x1234);
    EXPECT_EQ(Oblique_Pixels_Draw(1.0f, 1.0f, 16, 8), 1);
    // A negative row length is refused by OpenGL.
    EXPECT_EQ(Oblique_Pixels_Draw(1.0f, 1.0f, -3, 8), 1);
    OpenGL_Context_Off(window, 4);
    EXPECT_EQ(console.Lines(), std::vector<Console_Line>({{11, "file:.\\oblique_ctrl_ima line:141"},
                                      {11, "OpenGL Error 1280 in glPixelZoom"},
                                      {11, "GL_INVALID_ENUM"},
                                      {11, "file:.\\oblique_ctrl_ima line:147"},
                                      {11, "OpenGL Error 1281 in glPixelStore"},
                                      {11, "GL_INVALID_VALUE"}}))
        << Console_Dump(console.Lines());
}
