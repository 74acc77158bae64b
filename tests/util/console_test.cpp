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
    bool operator==(const Seen &o) const { return window == o.window && level == o.level && text == o.text; }
};

void Record(void *user, HWND window, int level, const char *text)
{
    static_cast<std::vector<Seen> *>(user)->push_back(Seen{window, level, text});
}

} // namespace

TEST(Console, LinesReachTheSinkWhole)
{
    std::vector<Seen> seen;
    void *old_user = nullptr, *mine = nullptr;
    AzConsole_Sink old = AzConsole_Sink_Set(Record, &seen, &old_user);
    HWND window = reinterpret_cast<HWND>(0x1234);
    std::string big(5000, 'q');
    Error_Fct(window, 2, "file:%s line:%d", ".\\w_progress", 370);
    Error_Fct(nullptr, 1, "line %-4d of %s \nmemory error in realloc (var=%s, dim=%dx%d)", 77, ".\\oblique_class",
              "real_files_pt", 3, 8);
    Error_Fct(window, 6, "Creating \x01%d\x02 new frames", 42);
    Error_Fct(nullptr, 11, "<%s|%d>", big.c_str(), 9);
    EXPECT_EQ(AzConsole_Sink_Set(old, old_user, &mine), Record);
    EXPECT_EQ(mine, &seen);
    const std::vector<Seen> want = {
        {window, 2, "file:.\\w_progress line:370"},
        {nullptr, 1, "line 77   of .\\oblique_class \nmemory error in realloc (var=real_files_pt, dim=3x8)"},
        {window, 6, "Creating \x01" "42\x02 new frames"},  // control bytes reach a sink unchanged
        {nullptr, 11, "<" + big + "|9>"},                   // long lines are not cut
    };
    EXPECT_EQ(seen, want);
}

TEST(Console, PlainStripsControlBytes)
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
        {nullptr, 64, ""},
    };
    for (const auto &row : rows) {
        char out[64];
        AzConsole_Plain(row.in, out, row.size);
        EXPECT_STREQ(out, row.out);
    }
}

TEST(Console, StandardErrorFiltersByLevelAndPrintsPlainLines)
{
    int saved = AzConsole_Level_Get();
    AzConsole_Level_Set(4);
    EXPECT_EQ(AzConsole_Level_Get(), 4);
    testing::internal::CaptureStderr();
    Error_Fct(nullptr, 4, "\xF1\x05WARNING:\x02 shown %d", 4);
    Error_Fct(nullptr, 5, "hidden %d", 5);
    Error_Fct(nullptr, 1, "also shown");
    AzConsole_Level_Set(15);
    Error_Fct(nullptr, 15, "trace");
    Error_Fct(nullptr, 16, "beyond");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "WARNING: shown 4\nalso shown\ntrace\n");
    AzConsole_Level_Set(saved);
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
    const char *names[] = {"GL_INVALID_ENUM",    "GL_INVALID_VALUE",   "GL_INVALID_OPERATION",
                           "GL_STACK_OVERFLOW",  "GL_STACK_UNDERFLOW", "GL_OUT_OF_MEMORY",
                           "GL_INVALID_FRAMEBUFFER_OPERATION", "GL_CONTEXT_LOST"};
    for (unsigned i = 0; i < 8; i++)
        EXPECT_STREQ(Error_OpenGL(0x500 + i), names[i]);
    EXPECT_STREQ(Error_OpenGL(0x508), "GL error 0x508");
    EXPECT_STREQ(Error_OpenGL(0x4ff), "GL error 0x4ff");
    EXPECT_STREQ(Error_OpenGL(0), "GL_NO_ERROR");
}

TEST(ErrorTexts, WindowsErrorOfTheCallingThread)
{
    SetLastError(1400);
    EXPECT_STREQ(Error_Windows(8), "Windows error 8: Not enough memory resources are available to process this command.");
    std::string other;
    std::thread([&other] {
        other = Error_Windows(0);  // a fresh thread has no error of its own yet
        SetLastError(1407);
    }).join();
    EXPECT_EQ(other, "Windows error 0: The operation completed successfully.");
    EXPECT_STREQ(Error_Windows(0), "Windows error 1400: Invalid window handle.");
    EXPECT_STREQ(Error_Windows(31337), "Windows error 31337: Unknown error.");
}
