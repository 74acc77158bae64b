/*
 * The host's message console behind Error_Fct.  Every line goes to one
 * sink: by default standard error, filtered by level (lines above the
 * filter level are dropped); the host program and tests may install their
 * own sink, which sees every line with its level, unfiltered.
 */
#ifndef AZ_CONSOLE_H
#define AZ_CONSOLE_H

#include "../../host/corvantis_util.h"

typedef void (*AzConsole_Sink)(void *user, HWND window, int level, const char *text);

extern "C" {
/* Installs a sink (null: back to standard error); returns the previous one. */
AZ_EXPORT AzConsole_Sink AzConsole_Sink_Set(AzConsole_Sink sink, void *user, void **previous_user);
/* Highest level printed by the standard-error sink (default 4). */
AZ_EXPORT void AzConsole_Level_Set(int level);
AZ_EXPORT int AzConsole_Level_Get(void);
/* Strips the console's control bytes (0x01, 0x02, 0x05, 0xF0, 0xF1) for plain output. */
AZ_EXPORT void AzConsole_Plain(const char *text, char *out, int out_size);
}

#endif
