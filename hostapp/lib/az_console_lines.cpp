/*
 * The host program's console on standard error: lines filtered by level,
 * a run of identical lines printed once with its count, so that traces
 * repeated for every frame do not bury the rest; errors led by the
 * program's name (az_error.h).
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "../../hostlib/util/az_console.h"
#include "az_app.h"
#include "az_error.h"

namespace {

/* Guarded by the console's own lock, which serialises every sink call. */
std::string last_line;
long repeats_nb = 0;

void Repeats_Flush(void)
{
    if (repeats_nb > 0)
        fprintf(stderr, "  (the line above %ld more time%s)\n", repeats_nb, repeats_nb > 1 ? "s" : "");
    repeats_nb = 0;
}

void Console_Lines_Sink(void *, HWND, int level, const char *text)
{
    if (level > AzConsole_Level_Get())
        return;
    std::string plain(strlen(text) + 1, '\0');
    AzConsole_Plain(text, &plain[0], static_cast<int>(plain.size()));
    plain.resize(strlen(plain.c_str()));
    if (plain == last_line) {
        repeats_nb++;
        return;
    }
    Repeats_Flush();
    last_line = plain;
    if (level <= AZ_ERROR_LEVEL)
        fprintf(stderr, "%s: %s\n", AzError_Prefix().c_str(), plain.c_str());
    else
        fprintf(stderr, "%s\n", plain.c_str());
}

} // namespace

void AzApp_Console_Install(void)
{
    AzConsole_Sink_Set(Console_Lines_Sink, nullptr, nullptr);
    atexit(Repeats_Flush);
}

void AzApp_Console_Flush(void) { Repeats_Flush(); }
