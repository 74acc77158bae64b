/*
 * The console's progress line: how far long work is, for the person
 * waiting (readers, writers, the export).
 */
#ifndef AZ_PROGRESS_LINE_H
#define AZ_PROGRESS_LINE_H

#include <string>

#include "../../host/az_win32.h"

/* Long work says how far it is: on a terminal one line redrawn in place
 * (bar, percentage, what is being done, time left), otherwise a plain
 * console line at each quarter; nothing below the console's notice level. */
struct AzProgressLine {
    std::string what;
    long total;
    int last_quarter;
    long start_ms, drawn_ms;
    int terminal;     /* redraws a line on standard error */
    int shown;        /* a line is on the terminal */
};
AZ_EXPORT void AzProgressLine_Start(AzProgressLine *progress, const std::string &what, long total);
AZ_EXPORT void AzProgressLine_Step(AzProgressLine *progress, long done);
/* Clears the line from the terminal. */
AZ_EXPORT void AzProgressLine_End(AzProgressLine *progress);
/* The line drawn for done of total after elapsed_ms (for tests). */
AZ_EXPORT std::string AzProgressLine_Text(const std::string &what, long done, long total, long elapsed_ms, int columns);

#endif
