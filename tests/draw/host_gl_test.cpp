/* The host's grey-level colours the preview draws with, and its PNG files. */
#include "draw_fixture.h"

#include <stdio.h>
#include <sys/stat.h>

#include <thread>

class HostGlTest : public DrawTest {};

TEST_F(HostGlTest, GreyLevelColours)
{
    EXPECT_EQ(Fct_Variable_Value("$COLORMAP_GLI_INVALID", nullptr, nullptr, nullptr), 0x00402010);
    // Set-up (mode, maximum, minimum), then levels and their colours.
    const struct {
        unsigned char mode;
        float high, low;
        std::vector<std::pair<int, uint32_t>> levels;
    } cases[] = {
        {0, 255.0f, 0.0f,
         {{100, 0xff646464u}, {0, 0xff000000u}, {-5, 0xff000000u}, {255, 0xffffffffu}, {70000, 0xffffffffu},
          {2147483646, 0xff402010u}, {2147483645, 0xffffffffu}}},
        {7, 1100.0f, 100.0f, {{600, 0xff808080u}, {100, 0xff000000u}, {1100, 0xffffffffu}}},
        // An empty window, or no window known: 0..4095.
        {0, 10.0f, 10.0f, {{4095, 0xffffffffu}, {2048, 0xff808080u}, {0, 0xff000000u}}},
        {255, 500.0f, 10.0f, {{4095, 0xffffffffu}, {2048, 0xff808080u}, {0, 0xff000000u}}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Fct_GLI_2_Color(c.mode, c.high, c.low), 1);
        for (const auto &level : c.levels)
            EXPECT_EQ(Fct_GLI_2_Color(level.first), level.second) << (int)c.mode << " " << level.first;
    }
    // Values that are no numbers are refused; the last set-up stays.
    EXPECT_EQ(Fct_GLI_2_Color(0, 255.0f, 0.0f), 1);
    EXPECT_EQ(Fct_GLI_2_Color(0, NAN, 0.0f) + Fct_GLI_2_Color(0, 255.0f, INFINITY), 0);
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

TEST_F(HostGlTest, PngFiles)
{
    Make_Study(20, 10, 5);
    Make_Window(110, 110);
    Preview(obl, 2);
    std::string path = std::string(AZ_BUILD_DIR) + "/preview_saved.png";
    remove(path.c_str());
    console.Clear();
    ASSERT_EQ(AzGl_Save_PNG(window, path.c_str()), 1);
    FILE *file = fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    unsigned char head[33];
    ASSERT_EQ(fread(head, 1, sizeof head, file), sizeof head);
    fclose(file);
    // Signature, IHDR, width 110, height 110, 8 bits, RGB.
    const unsigned char want[26] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                                    0,    0,   0,   110, 0,    0,    0,    110,  8, 2};
    EXPECT_EQ(memcmp(head, want, sizeof want), 0);
    struct stat info;
    EXPECT_NE(stat((path + ".part").c_str(), &info), 0) << "no temporary left";
    EXPECT_TRUE(console.Lines().empty()) << Console_Dump(console.Lines());
    // Failures name the file.
    uint32_t pixel = 0;
    EXPECT_EQ(AzPng_Write("/nonexistent-folder/x.png", AzWin_Pixels(window, nullptr, nullptr), 110, 110), 0);
    EXPECT_EQ(AzGl_Save_PNG(nullptr, "/tmp/none.png"), 0);
    EXPECT_EQ(AzPng_Write("/tmp/empty.png", &pixel, 0, 1), 0);
    const std::vector<Console_Line> errors{
        {2, "Error: cannot write PNG file \"/nonexistent-folder/x.png\": No such file or directory"},
        {2, "Error: cannot write PNG file \"/tmp/none.png\": no such window"},
        {2, "Error: cannot write PNG file \"/tmp/empty.png\": no pixels"}};
    EXPECT_EQ(console.Lines(), errors) << Console_Dump(console.Lines());
    EXPECT_NE(stat("/tmp/empty.png", &info), 0);
}
