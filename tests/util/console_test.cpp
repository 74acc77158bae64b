#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "host/corvantis_util.h"
#include "hostlib/util/az_console.h"
#include "tests/support/console_capture.h"

TEST(Console, LinesReachTheSinkWholeFromEveryThread)
{
    Console_Capture capture;
    std::string big(5000, 'q');
    Error_Fct(nullptr, 1, "line %-4d of %s \nmemory error in realloc (var=%s, dim=%dx%d)", 77, ".\\oblique_class",
              "real_files_pt", 3, 8);
    Error_Fct(nullptr, 6, "Creating \x01%d\x02 new frames", 42);
    Error_Fct(nullptr, 11, "<%s|%d>", big.c_str(), 9);
    const std::vector<Console_Line> want = {
        {1, "line 77   of .\\oblique_class \nmemory error in realloc (var=real_files_pt, dim=3x8)"},
        {6, "Creating \x01" "42\x02 new frames"},  // control bytes reach a sink unchanged
        {11, "<" + big + "|9>"},                    // long lines are not cut
    };
    EXPECT_EQ(capture.Lines(), want);
    auto writer = [](int who) {
        for (int i = 0; i < 300; i++)
            Error_Fct(nullptr, 11, "writer %d line %d", who, i);
    };
    std::thread a(writer, 1), b(writer, 2);
    a.join();
    b.join();
    EXPECT_EQ(capture.Count("writer 1 line "), 300u);
    EXPECT_EQ(capture.Count("writer 2 line "), 300u);
}

TEST(Console, StandardErrorFiltersByLevelAndPrintsPlainLines)
{
    const struct {
        const char *in;
        size_t size;
        const char *out;
    } rows[] = {
        {"\xF1\x05WARNING:\x02 class locked!", 64, "WARNING: class locked!"},
        {"\xF1\t skipping: \x01Study 1", 64, "\t skipping: Study 1"},  // a tab is no control byte
        {"\x03\x04\xF2 kept", 64, "\x03\x04\xF2 kept"},
        {"\x01" "abcdef", 4, "abc"},  // cut to its size, with the NUL
    };
    for (const auto &row : rows) {
        char out[64];
        AzConsole_Plain(row.in, out, row.size);
        EXPECT_STREQ(out, row.out);
    }
    int saved = AzConsole_Level_Get();
    AzConsole_Level_Set(4);
    testing::internal::CaptureStderr();
    Error_Fct(nullptr, 4, "\xF1\x05WARNING:\x02 shown %d", 4);
    Error_Fct(nullptr, 5, "hidden %d", 5);
    Error_Fct(nullptr, 1, "also shown");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "WARNING: shown 4\nalso shown\n");
    AzConsole_Level_Set(saved);
}

TEST(ErrorTexts, OpenGLCodesAndTheWindowsErrorOfTheCallingThread)
{
    EXPECT_STREQ(Error_OpenGL(0x505), "GL_OUT_OF_MEMORY");
    EXPECT_STREQ(Error_OpenGL(0x507), "GL_CONTEXT_LOST");
    EXPECT_STREQ(Error_OpenGL(0x508), "GL error 0x508");
    SetLastError(1400);
    std::string other;
    std::thread([&other] {
        other = Error_Windows(0);  // a fresh thread has no error of its own, nor does it change ours
        SetLastError(1407);
    }).join();
    EXPECT_EQ(other, "Windows error 0: The operation completed successfully.");
    EXPECT_STREQ(Error_Windows(0), "Windows error 1400: Invalid window handle.");
    EXPECT_STREQ(Error_Windows(8), "Windows error 8: Not enough memory resources are available to process this command.");
    EXPECT_STREQ(Error_Windows(31337), "Windows error 31337: Unknown error.");
}
