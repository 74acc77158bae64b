/* The host's OpenGL context, raster text, colours, segment-plane test and
 * PNG files. */
#include "draw_fixture.h"

#include <stdio.h>
#include <sys/stat.h>

#include <thread>

class HostGlTest : public DrawTest {};

TEST_F(HostGlTest, ColourSettingsRegistered)
{
    EXPECT_EQ(Fct_Variable_Value("$COLORMAP_GLI_INVALID", nullptr, nullptr, nullptr), 0x00402010);
    EXPECT_EQ(Fct_Variable_Value("$COLOR_SCHEME", nullptr, nullptr, nullptr), 2);
    EXPECT_EQ(Fct_Variable_Value("$TAG_NB", nullptr, nullptr, nullptr), 255);
    const uint16_t *red = (const uint16_t *)Fct_Variable_Value("$TAG_RED", nullptr, nullptr, nullptr);
    const uint16_t *green = (const uint16_t *)Fct_Variable_Value("$TAG_GRN", nullptr, nullptr, nullptr);
    const uint16_t *blue = (const uint16_t *)Fct_Variable_Value("$TAG_BLU", nullptr, nullptr, nullptr);
    const float *alpha = (const float *)Fct_Variable_Value("$TAG_ALPHA", nullptr, nullptr, nullptr);
    ASSERT_TRUE(red && green && blue && alpha);
    // Tag 0 is never drawn over the grey levels; the others half covering.
    EXPECT_EQ(alpha[0], 1.0f);
    for (int t = 1; t <= 255; t++) {
        ASSERT_EQ(alpha[t], 0.5f) << t;
        ASSERT_EQ(red[t] >> 8, red[t] & 0xff) << "both bytes alike: " << t;
        ASSERT_EQ(green[t] >> 8, green[t] & 0xff) << t;
        ASSERT_EQ(blue[t] >> 8, blue[t] & 0xff) << t;
    }
    EXPECT_EQ(red[1], 0xffff);
    EXPECT_EQ(green[1], 0);
    // The first labels are told apart.
    for (int a = 1; a <= 16; a++)
        for (int b = a + 1; b <= 16; b++)
            EXPECT_FALSE(red[a] == red[b] && green[a] == green[b] && blue[a] == blue[b]) << a << " " << b;

    // Entries are replaceable, the table stays where it is.
    EXPECT_EQ(AzGl_Tag_Set(7, 10, 20, 30, 0.25f), 1);
    EXPECT_EQ(red[7], 10 * 257);
    EXPECT_EQ(green[7], 20 * 257);
    EXPECT_EQ(blue[7], 30 * 257);
    EXPECT_EQ(alpha[7], 0.25f);
    EXPECT_EQ(AzGl_Tag_Set(256, 1, 1, 1, 0.0f), 0);
    EXPECT_EQ(AzGl_Tag_Set(-1, 1, 1, 1, 0.0f), 0);
    AzGl_Tags_Default();
    EXPECT_EQ(alpha[7], 0.5f);
    EXPECT_EQ((const uint16_t *)Fct_Variable_Value("$TAG_RED", nullptr, nullptr, nullptr), red);
}

TEST_F(HostGlTest, GreyLevelColours)
{
    EXPECT_EQ(Fct_GLI_2_Color(0, 255.0f, 0.0f), 1);
    EXPECT_EQ(Fct_GLI_2_Color(100), 0xff646464u);
    EXPECT_EQ(Fct_GLI_2_Color(0), 0xff000000u);
    EXPECT_EQ(Fct_GLI_2_Color(-5), 0xff000000u);
    EXPECT_EQ(Fct_GLI_2_Color(255), 0xffffffffu);
    EXPECT_EQ(Fct_GLI_2_Color(70000), 0xffffffffu);
    EXPECT_EQ(Fct_GLI_2_Color(2147483646), 0xff402010u) << "no data";
    EXPECT_EQ(Fct_GLI_2_Color(2147483645), 0xffffffffu);

    // Window 100..1100, maximum first.
    EXPECT_EQ(Fct_GLI_2_Color(7, 1100.0f, 100.0f), 1);
    EXPECT_EQ(Fct_GLI_2_Color(600), 0xff808080u);
    EXPECT_EQ(Fct_GLI_2_Color(100), 0xff000000u);
    EXPECT_EQ(Fct_GLI_2_Color(1100), 0xffffffffu);

    // An empty window, or no window known: 0..4095.
    for (unsigned char mode : {0, 255}) {
        float high = mode ? 500.0f : 10.0f;
        EXPECT_EQ(Fct_GLI_2_Color(mode, high, 10.0f), 1);
        EXPECT_EQ(Fct_GLI_2_Color(4095), 0xffffffffu) << (int)mode;
        EXPECT_EQ(Fct_GLI_2_Color(2048), 0xff808080u) << (int)mode;
        EXPECT_EQ(Fct_GLI_2_Color(0), 0xff000000u) << (int)mode;
    }

    // Values that are no numbers are refused; the last set-up stays.
    EXPECT_EQ(Fct_GLI_2_Color(0, 255.0f, 0.0f), 1);
    EXPECT_EQ(Fct_GLI_2_Color(0, NAN, 0.0f), 0);
    EXPECT_EQ(Fct_GLI_2_Color(0, 255.0f, INFINITY), 0);
    EXPECT_EQ(Fct_GLI_2_Color(100), 0xff646464u);

    // The no-data colour is taken at set-up.
    AzVar_Set("$COLORMAP_GLI_INVALID", 0x00563412);
    EXPECT_EQ(Fct_GLI_2_Color(2147483646), 0xff402010u);
    EXPECT_EQ(Fct_GLI_2_Color(0, 255.0f, 0.0f), 1);
    EXPECT_EQ(Fct_GLI_2_Color(2147483646), 0xff563412u);

    // Each thread keeps its own set-up.
    std::thread other([] {
        Fct_GLI_2_Color(0, 1100.0f, 100.0f);
        EXPECT_EQ(Fct_GLI_2_Color(600), 0xff808080u);
    });
    other.join();
    EXPECT_EQ(Fct_GLI_2_Color(100), 0xff646464u);
}

TEST_F(HostGlTest, SegmentAgainstPlane)
{
    Point_3D normal(0.0f, 0.0f, 1.0f);
    Point_3D out;
    float d = 2.0f;   // the plane z = -2
    Point_3D a(1.0f, 2.0f, -4.0f), b(3.0f, 6.0f, 0.0f);
    float r = GEMS_3D_Intersect_Segment_Plane(&a, &b, &normal, &d, &out);
    EXPECT_GT(r, -549755813888.0f);
    EXPECT_EQ(out.kind, 1);
    EXPECT_TRUE(Vect_Is(out, 2.0f, 4.0f, -2.0f));
    // Reversed ends, same point.
    r = GEMS_3D_Intersect_Segment_Plane(&b, &a, &normal, &d, &out);
    EXPECT_GT(r, -549755813888.0f);
    EXPECT_FLOAT_EQ(out.y, 4.0f);
    // An end on the plane meets it there.
    Point_3D c(5.0f, 5.0f, -2.0f);
    r = GEMS_3D_Intersect_Segment_Plane(&a, &c, &normal, &d, &out);
    EXPECT_GT(r, -549755813888.0f);
    EXPECT_FLOAT_EQ(out.x, 5.0f);
    EXPECT_FLOAT_EQ(out.z, -2.0f);
    // Both ends on one side, or just short of it: no meeting.
    Point_3D e(0.0f, 0.0f, -1.99f);
    out = Point_3D(9.0f, 9.0f, 9.0f);
    EXPECT_LE(GEMS_3D_Intersect_Segment_Plane(&b, &e, &normal, &d, &out), -549755813888.0f);
    EXPECT_EQ(out.x, 9.0f) << "output untouched";
    Point_3D f(0.0f, 0.0f, -2.01f);
    EXPECT_LE(GEMS_3D_Intersect_Segment_Plane(&a, &f, &normal, &d, &out), -549755813888.0f);
    // A slanted normal.
    Point_3D n2(1.0f, 1.0f, 0.0f);
    float d2 = -2.0f;   // x + y = 2
    Point_3D g(0.0f, 0.0f, 7.0f), k(4.0f, 0.0f, 7.0f);
    EXPECT_GT(GEMS_3D_Intersect_Segment_Plane(&g, &k, &n2, &d2, &out), -549755813888.0f);
    EXPECT_FLOAT_EQ(out.x, 2.0f);
    EXPECT_FLOAT_EQ(out.z, 7.0f);
}

TEST_F(HostGlTest, ContextOverTheWindowPixels)
{
    EXPECT_EQ(OpenGL_Context_On(nullptr, 4), 0);
    EXPECT_EQ(OpenGL_Context_Off(nullptr, 4), 0) << "nothing current";
    Make_Window(8, 4);
    ASSERT_EQ(OpenGL_Context_On(window, 4), 1);
    // The usual OpenGL window: y = 0 at the bottom of the screen.
    glViewport(0, 0, 8, 4);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0.0, 8.0, 0.0, 4.0, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glColor3f(1.0f, 0.0f, 0.0f);
    glRectf(0.0f, 3.0f, 8.0f, 4.0f);   // the top row
    glColor3f(0.0f, 1.0f, 0.0f);
    glRectf(0.0f, 0.0f, 1.0f, 1.0f);   // the bottom left pixel
    EXPECT_EQ(OpenGL_Context_Off(window, 4), 1);
    for (int x = 0; x < 8; x++)
        EXPECT_EQ(Pixel(x, 0), 0xff0000ffu) << x;
    EXPECT_EQ(Pixel(0, 3), 0xff00ff00u);
    EXPECT_EQ(Pixel(1, 3), 0xffff0000u);
    EXPECT_EQ(Pixel(4, 1), 0xffff0000u);

    // A destroyed window has no pixels to draw into.
    DestroyWindow(window);
    HWND gone = window;
    window = nullptr;
    EXPECT_EQ(OpenGL_Context_On(gone, 4), 0);
}

TEST_F(HostGlTest, RasterTextAnchoredAtItsBaseline)
{
    Make_Window(120, 60);
    HFONT font = AzFont_Get("arial", 10);
    int ascent = 0, descent = 0;
    ASSERT_TRUE(AzFont_Metrics(font, nullptr, &ascent, &descent, nullptr, nullptr));
    const char *text = "Hg 12";
    // Once with y downward, once with y upward: the same place on screen.
    for (int upward = 0; upward < 2; upward++) {
        ASSERT_EQ(OpenGL_Context_On(window, 4), 1);
        glViewport(0, 0, 120, 60);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        if (upward)
            glOrtho(0.0, 120.0, 0.0, 60.0, -1.0, 1.0);
        else
            glOrtho(0.0, 120.0, 60.0, 0.0, -1.0, 1.0);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 7);   // the caller's state is kept
        EXPECT_EQ(OpenGL_Text_DrawRasterFont(text, 10, 255, 255, 0, 10.0f, upward ? 40.0f : 20.0f, 0.0f), 1);
        GLint row_length = 0;
        glGetIntegerv(GL_UNPACK_ROW_LENGTH, &row_length);
        EXPECT_EQ(row_length, 7);
        EXPECT_FALSE(glIsEnabled(GL_BLEND));
        OpenGL_Context_Off(window, 4);

        std::vector<uint8_t> coverage(120 * 60, 0);
        AzFont_Coverage(font, text, coverage.data(), 120, 60, 10, 20);
        int lit = 0;
        for (int y = 0; y < 60; y++)
            for (int x = 0; x < 120; x++) {
                uint8_t c = coverage[(size_t)y * 120 + x];
                uint32_t p = Rgb(Pixel(x, y));
                if (c == 0) {
                    ASSERT_EQ(p, 0u) << x << "," << y << " upward " << upward;
                }
                if (c == 255) {
                    ASSERT_EQ(p, YELLOW) << x << "," << y << " upward " << upward;
                }
                if (c >= 64) {
                    ASSERT_NE(p, 0u) << x << "," << y << " upward " << upward;
                    lit++;
                }
            }
        EXPECT_GT(lit, 20);
        EXPECT_EQ(OpenGL_Text_DrawRasterFont("", 10, 255, 255, 255, 0.0f, 0.0f, 0.0f), 1);
    }
}

TEST_F(HostGlTest, PngFiles)
{
    Make_Study(20, 10, 5);
    Make_Window(110, 110);
    AzVar_Set("$COLOR_SCHEME", 2);
    Preview(obl, 2);
    std::string path = std::string(AZ_BUILD_DIR) + "/preview_saved.png";
    remove(path.c_str());
    Console_Capture console;
    ASSERT_EQ(AzGl_Save_PNG(window, path.c_str()), 1);
    FILE *file = fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    unsigned char head[33];
    ASSERT_EQ(fread(head, 1, sizeof head, file), sizeof head);
    fclose(file);
    const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    EXPECT_EQ(memcmp(head, signature, 8), 0);
    EXPECT_EQ(memcmp(head + 12, "IHDR", 4), 0);
    EXPECT_EQ(head[16] << 24 | head[17] << 16 | head[18] << 8 | head[19], 110) << "width";
    EXPECT_EQ(head[20] << 24 | head[21] << 16 | head[22] << 8 | head[23], 110) << "height";
    EXPECT_EQ(head[24], 8) << "bit depth";
    EXPECT_EQ(head[25], 2) << "RGB";
    struct stat info;
    EXPECT_NE(stat((path + ".part").c_str(), &info), 0) << "no temporary left";
    EXPECT_TRUE(console.Lines().empty()) << Console_Dump(console.Lines());

    // Failures name the file.
    EXPECT_EQ(AzPng_Write("/nonexistent-folder/x.png", AzWin_Pixels(window, nullptr, nullptr), 110, 110), 0);
    EXPECT_EQ(AzGl_Save_PNG(nullptr, "/tmp/none.png"), 0);
    uint32_t pixel = 0;
    EXPECT_EQ(AzPng_Write("/tmp/empty.png", &pixel, 0, 1), 0);
    EXPECT_EQ(console.Lines(),
              Lines({{2, "Error: cannot write PNG file \"/nonexistent-folder/x.png\": No such file or directory"},
                     {2, "Error: cannot write PNG file \"/tmp/none.png\": no such window"},
                     {2, "Error: cannot write PNG file \"/tmp/empty.png\": no pixels"}}))
        << Console_Dump(console.Lines());
    EXPECT_NE(stat("/tmp/empty.png", &info), 0);
}
