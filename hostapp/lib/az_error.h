/*
 * The host program's errors, all one way.  An error is one line on the
 * host's console at the error level, so it reaches whoever listens there
 * (the program's standard error, the viewer's console, a test) and still
 * shows under -q.  The program prints every line of that level as
 *
 *     azozude[ COMMAND]: [WHAT: ]problem
 *
 * where COMMAND is the command being run, once one is chosen, and WHAT
 * names what is at fault when there is one: a file or folder, a session
 * line ("FILE:LINE"), an option.  The problem says what is wrong in the
 * user's words; the exit code says which kind of failure it was.
 */
#ifndef AZ_ERROR_H
#define AZ_ERROR_H

#include <string>

#include "../../host/az_win32.h"

/* Exit codes of the host program: which kind of failure ended it. */
enum {
    AZ_EXIT_OK = 0,
    AZ_EXIT_USAGE = 1,  /* the command line is wrong */
    AZ_EXIT_INPUT = 2,  /* a study or session cannot be read, or an output cannot be written */
    AZ_EXIT_MODULE = 3  /* the module cannot be loaded or refuses to work */
};

/* Console level of errors (and of warnings: a file skipped, tags unsaved). */
#define AZ_ERROR_LEVEL 2

/* Reports an error and returns code (never AZ_EXIT_OK): the exit code it
 * gives when it ends the run, so that a command may end with "return
 * AzError(...)".  A problem the run carries on after is reported the same
 * way and its code dropped. */
AZ_EXPORT int AzError(int code, const char *format, ...) AZ_PRINTF(2, 3);

/* The command that error lines name from now on (empty: the program alone). */
AZ_EXPORT void AzError_Command_Set(const std::string &command);
/* What error lines start with: "azozude" or "azozude COMMAND". */
AZ_EXPORT std::string AzError_Prefix(void);

#endif
