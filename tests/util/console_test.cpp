#include <errno.h>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "host/corvantis_util.h"
#include "hostlib/util/az_console.h"
#include "tests/support/console_capture.h"

namespace {

struct Seen {
    HWND window;
    int level;
    std::string text;
};

void Record(void *user, HWND window, int level, const char *text)
{
    static_cast<std::vector<Seen> *>(user)->push_back(Seen{window, level, text});
}

/* Restores the standard-error filter level on scope exit. */
struct Level_Scope {
    int saved = AzConsole_Level_Get();
    ~Level_Scope() { AzConsole_Level_Set(saved); }
};

} // namespace

TEST(Console, LinesReachTheSinkWithLevelWindowAndExactText)
{
    std::vector<Seen> seen;
    void *old_user = nullptr;
    AzConsole_Sink old = AzConsole_Sink_Set(Record, &seen, &old_user);
    HWND window = reinterpret_cast<HWND>(0x1234);
    Error_Fct(window, 2, "file:%s line:%d", ".\\w_progress", 370);
    Error_Fct(nullptr, 1, "line %-4d of %s \nmemory error in realloc (var=%s, dim=%dx%d)", 77, ".\\oblique_class",
              "real_files_pt", 3, 8);
    Error_Fct(window, 6, "Creating \x01%d\x02 new frames", 42);
    void *mine = nullptr;
    EXPECT_EQ(AzConsole_Sink_Set(old, old_user, &mine), Record);
    EXPECT_EQ(mine, &seen);

    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].window, window);
    EXPECT_EQ(seen[0].level, 2);
    EXPECT_EQ(seen[0].text, "file:.\\w_progress line:370");
    EXPECT_EQ(seen[1].window, nullptr);
    EXPECT_EQ(seen[1].level, 1);
    EXPECT_EQ(seen[1].text, "line 77   of .\\oblique_class \nmemory error in realloc (var=real_files_pt, dim=3x8)");
    /* Control bytes reach a sink unchanged. */
    EXPECT_EQ(seen[2].text, "Creating \x01" "42\x02 new frames");
}

TEST(Console, LongLinesAreNotCut)
{
    Console_Capture capture;
    std::string big(5000, 'q');
    Error_Fct(nullptr, 11, "<%s|%d>", big.c_str(), 9);
    std::vector<Console_Line> lines = capture.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text.size(), 5004u);
    EXPECT_EQ(lines[0].text, "<" + big + "|9>");
    EXPECT_EQ(lines[0].level, 11);
}

TEST(Console, PlainStripsControlBytes)
{
    char out[64];
    AzConsole_Plain("\xF1\x05WARNING:\x02 class locked!", out, sizeof out);
    EXPECT_STREQ(out, "WARNING: class locked!");
    AzConsole_Plain("\xF1\t skipping: \x01Study 1", out, sizeof out);
    EXPECT_STREQ(out, "\t skipping: Study 1") << "tab is not a control byte";
    AzConsole_Plain("\x03\x04\xF2 kept", out, sizeof out);
    EXPECT_STREQ(out, "\x03\x04\xF2 kept");
    AzConsole_Plain("\x01" "abcdef", out, 4);
    EXPECT_STREQ(out, "abc") << "output is cut to its size with the NUL";
    AzConsole_Plain(nullptr, out, sizeof out);
    EXPECT_STREQ(out, "");
}

TEST(Console, StandardErrorFiltersByLevelAndPrintsPlainLines)
{
    Level_Scope level;
    AzConsole_Level_Set(4);
    EXPECT_EQ(AzConsole_Level_Get(), 4);
    testing::internal::CaptureStderr();
    Error_Fct(nullptr, 4, "\xF1\x05WARNING:\x02 shown %d", 4);
    Error_Fct(nullptr, 5, "hidden %d", 5);
    Error_Fct(nullptr, 11, "hidden %d", 11);
    Error_Fct(nullptr, 1, "also shown");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "WARNING: shown 4\nalso shown\n");

    AzConsole_Level_Set(15);
    testing::internal::CaptureStderr();
    Error_Fct(nullptr, 15, "trace");
    Error_Fct(nullptr, 16, "beyond");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "trace\n");
}

TEST(Console, ConcurrentWritersLoseNoLine)
{
    Console_Capture capture;
    auto writer = [](int who) {
        for (int i = 0; i < 300; i++)
            Error_Fct(nullptr, 11, "writer %d line %d", who, i);
    };
    std::thread a(writer, 1), b(writer, 2);
    a.join();
    b.join();
    EXPECT_EQ(capture.Lines().size(), 600u);
    EXPECT_EQ(capture.Count("writer 1 line "), 300u);
    EXPECT_EQ(capture.Count("writer 2 line 299"), 1u);
}

TEST(ErrorTexts, OpenGLCodes)
{
    EXPECT_STREQ(Error_OpenGL(0x500), "GL_INVALID_ENUM");
    EXPECT_STREQ(Error_OpenGL(0x501), "GL_INVALID_VALUE");
    EXPECT_STREQ(Error_OpenGL(0x502), "GL_INVALID_OPERATION");
    EXPECT_STREQ(Error_OpenGL(0x503), "GL_STACK_OVERFLOW");
    EXPECT_STREQ(Error_OpenGL(0x504), "GL_STACK_UNDERFLOW");
    EXPECT_STREQ(Error_OpenGL(0x505), "GL_OUT_OF_MEMORY");
    EXPECT_STREQ(Error_OpenGL(0x506), "GL_INVALID_FRAMEBUFFER_OPERATION");
    EXPECT_STREQ(Error_OpenGL(0x507), "GL_CONTEXT_LOST");
    EXPECT_STREQ(Error_OpenGL(0x508), "GL error 0x508");
    EXPECT_STREQ(Error_OpenGL(0x4ff), "GL error 0x4ff");
    EXPECT_STREQ(Error_OpenGL(0), "GL_NO_ERROR");
}

TEST(ErrorTexts, WindowsErrorOfTheCallingThread)
{
    SetLastError(1400);
    EXPECT_STREQ(Error_Windows(0), "Windows error 1400: Invalid window handle.");
    EXPECT_STREQ(Error_Windows(8), "Windows error 8: Not enough memory resources are available to process this command.");
    std::string other;
    std::thread([&other] {
        /* A fresh thread has no error of its own yet. */
        other = Error_Windows(0);
        SetLastError(1407);
    }).join();
    EXPECT_EQ(other, "Windows error 0: The operation completed successfully.");
    EXPECT_STREQ(Error_Windows(0), "Windows error 1400: Invalid window handle.");
    EXPECT_STREQ(Error_Windows(31337), "Windows error 31337: Unknown error.");
}
