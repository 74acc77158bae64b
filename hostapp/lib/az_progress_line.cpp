/*
 * How far long work is, for the person waiting.
 */
#include <stdio.h>
#include <time.h>

#include <algorithm>
#include <stdlib.h>
#include <unistd.h>

#include "../../host/corvantis_util.h"
#include "../../hostlib/util/az_console.h"
#include "az_app.h"
#include "az_progress_line.h"

/* The program's one clock lives here, beside its main user, so that the
 * readers (which report progress) need nothing else of the application. */
long AzApp_Clock_Ms(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

namespace {

/* A terminal line is redrawn at most this often. */
const long redraw_ms = 100;
/* The console level at which progress shows (user notices). */
const int progress_level = 4;
const int bar_width = 24;

std::string Time_Left(long done, long total, long elapsed_ms)
{
    if (done <= 0 || elapsed_ms < 500 || done >= total)
        return std::string();
    double left = static_cast<double>(elapsed_ms) * (total - done) / done / 1000.0;
    long left_s = std::max(1L, static_cast<long>(left + 0.5));
    char text[48];
    if (left_s >= 60)
        snprintf(text, sizeof(text), ", %ld min %02ld s left", left_s / 60, left_s % 60);
    else
        snprintf(text, sizeof(text), ", %ld s left", left_s);
    return text;
}

int Terminal_Columns(void)
{
    const char *columns = getenv("COLUMNS");
    int value = columns ? atoi(columns) : 0;
    return value >= 40 ? value : 80;
}

} // namespace

std::string AzProgressLine_Text(const std::string &what, long done, long total, long elapsed_ms, int columns)
{
    int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
    int filled = total > 0 ? static_cast<int>(done * bar_width / total) : bar_width;
    std::string line = "[" + std::string(filled, '#') + std::string(bar_width - filled, '.') + "] ";
    char number[8];
    snprintf(number, sizeof(number), "%3d%% ", percent);
    line += number + what + Time_Left(done, total, elapsed_ms);
    // One terminal row, or the redraw would climb the screen.
    if (columns > 4 && static_cast<int>(line.size()) > columns - 1)
        line = line.substr(0, columns - 4) + "...";
    return line;
}

void AzProgressLine_Start(AzProgressLine *progress, const std::string &what, long total)
{
    progress->what = what;
    progress->total = AzConsole_Level_Get() >= progress_level ? total : 0;
    progress->last_quarter = 0;
    progress->start_ms = progress->drawn_ms = AzApp_Clock_Ms();
    progress->terminal = isatty(STDERR_FILENO);
    progress->shown = 0;
}

void AzProgressLine_Step(AzProgressLine *progress, long done)
{
    if (progress->total <= 0)
        return;
    long now = AzApp_Clock_Ms();
    if (progress->terminal) {
        if (now - progress->drawn_ms < redraw_ms && done < progress->total)
            return;
        progress->drawn_ms = now;
        // The finished line goes away by itself, so callers need not end it.
        if (done >= progress->total) {
            AzProgressLine_End(progress);
            return;
        }
        std::string line = AzProgressLine_Text(progress->what, done, progress->total, now - progress->start_ms,
                                           Terminal_Columns());
        fprintf(stderr, "\r%s\033[K", line.c_str());
        fflush(stderr);
        progress->shown = 1;
        return;
    }
    int quarter = static_cast<int>(done * 4 / progress->total);
    if (quarter <= progress->last_quarter)
        return;
    progress->last_quarter = quarter;
    Error_Fct(hwnd, progress_level, "%s: %d%%%s", progress->what.c_str(), quarter * 25,
              Time_Left(done, progress->total, now - progress->start_ms).c_str());
}

void AzProgressLine_End(AzProgressLine *progress)
{
    if (progress->shown) {
        fprintf(stderr, "\r\033[K");
        fflush(stderr);
    }
    progress->shown = 0;
    progress->total = 0;
}
