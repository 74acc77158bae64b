/*
 * The message console behind Error_Fct.  The worker thread writes lines
 * too, so formatting happens on the caller's stack and only the hand-over
 * to the sink is serialised; the lock is recursive so that a sink may
 * itself write a line.
 */
#include <mutex>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "az_console.h"

HWND hwnd = nullptr;

namespace {

std::recursive_mutex console_lock;
AzConsole_Sink console_sink = nullptr;
void *console_user = nullptr;

/* The standard-error filter may be preset from the environment so that a
 * run can be made chattier without rebuilding. */
int Console_Level_Initial()
{
    const char *text = getenv("AZ_CONSOLE_LEVEL");
    return text && *text ? atoi(text) : 4;
}

int console_level = Console_Level_Initial();

bool Console_Control_Byte(unsigned char c) { return c == 0x01 || c == 0x02 || c == 0x05 || c == 0xF0 || c == 0xF1; }

void Console_Stderr(int level, const char *text)
{
    if (level > console_level)
        return;
    size_t size = strlen(text) + 1;
    char small[1024];
    char *plain = size <= sizeof small ? small : static_cast<char *>(malloc(size));
    if (!plain)
        return;
    AzConsole_Plain(text, plain, (int)size);
    fprintf(stderr, "%s\n", plain);
    if (plain != small)
        free(plain);
}

void Console_Deliver(HWND window, int level, const char *text)
{
    std::lock_guard<std::recursive_mutex> hold(console_lock);
    if (console_sink)
        console_sink(console_user, window, level, text);
    else
        Console_Stderr(level, text);
}

} // namespace

AzConsole_Sink AzConsole_Sink_Set(AzConsole_Sink sink, void *user, void **previous_user)
{
    std::lock_guard<std::recursive_mutex> hold(console_lock);
    AzConsole_Sink previous = console_sink;
    if (previous_user)
        *previous_user = console_user;
    console_sink = sink;
    console_user = sink ? user : nullptr;
    return previous;
}

void AzConsole_Level_Set(int level)
{
    std::lock_guard<std::recursive_mutex> hold(console_lock);
    console_level = level;
}

int AzConsole_Level_Get(void)
{
    std::lock_guard<std::recursive_mutex> hold(console_lock);
    return console_level;
}

void AzConsole_Plain(const char *text, char *out, int out_size)
{
    if (!out || out_size <= 0)
        return;
    int n = 0;
    for (const char *p = text ? text : ""; *p && n < out_size - 1; p++)
        if (!Console_Control_Byte((unsigned char)*p))
            out[n++] = *p;
    out[n] = '\0';
}

int Error_Fct(HWND window, int level, const char *format, ...)
{
    if (!format)
        return 0;
    char small[1024];
    va_list args;
    va_start(args, format);
    int length = vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (length < 0)
        return 0;
    if ((size_t)length < sizeof small) {
        Console_Deliver(window, level, small);
        return 1;
    }
    /* A long line: format again into a buffer of the exact size. */
    char *large = static_cast<char *>(malloc((size_t)length + 1));
    if (!large) {
        Console_Deliver(window, level, small);
        return 1;
    }
    va_start(args, format);
    vsnprintf(large, (size_t)length + 1, format, args);
    va_end(args);
    Console_Deliver(window, level, large);
    free(large);
    return 1;
}
