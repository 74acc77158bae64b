/*
 * What the two halves of the session runner share: the runner's state,
 * how a step fails, and the words both read.  For az_session*.cpp only.
 */
#ifndef AZ_SESSION_PRIVATE_H
#define AZ_SESSION_PRIVATE_H

#include <string>
#include <vector>

#include "az_output.h"
#include "az_session.h"

namespace azsession {

struct Runner {
    AzApp *app;
    AzOutput output;       /* the session's files: all are kept only when every step succeeded */
    std::string failure;   /* why the current step failed */
    int x, y;              /* where the pointer is */
};

const double degrees_per_radian = 57.29577951308232;

/* Notes why the step failed; 0. */
int Fail(Runner *runner, const char *format, ...) AZ_PRINTF(2, 3);
/* 1 when the panel is open, else fails. */
int Panel_Needed(Runner *runner);
/* A whole number (decimal or 0x hexadecimal) filling the word. */
int Integer_Parse(const std::string &word, long *value);
/* "original" or "0", "oblique" or "1"; else fails. */
int Direction_Parse(Runner *runner, const std::string &word, int *direction);

/* The steps that write files (az_session_export.cpp). */
int Step_Save_Panel(Runner *runner, const std::vector<std::string> &words);
int Step_Save_Frame(Runner *runner, const std::vector<std::string> &words);
int Step_Save_Tags(Runner *runner, const std::vector<std::string> &words);
int Step_Dump(Runner *runner, const std::vector<std::string> &words);
int Step_Dicom(Runner *runner, const std::vector<std::string> &words);

} // namespace azsession

#endif
