/*
 * The host program's own set-up run inside the test: AzApp with the built
 * module, studies, sessions of panel events, and a folder for what the
 * runs write (kept under the build folder, so that the pictures can be
 * looked at afterwards).
 */
#ifndef HOST_RUN_H
#define HOST_RUN_H

#include <string>

#include "hostapp/lib/az_app.h"
#include "hostapp/lib/az_session.h"

/* A started host with the built module, console at errors only, 4-D
 * studies entering at time_point. */
bool Host_Start(AzApp *app, int time_point = 0);

/* Runs a session's text on the host; "" when done, else the reason. */
std::string Host_Session(AzApp *app, const std::string &text, const std::string &name);

/* AZ_BUILD_DIR/integration/NAME, made (with its parents) when missing and
 * emptied of the files a run writes into it. */
std::string Output_Folder(const std::string &name);

/* Whether a regular file exists. */
bool File_Exists(const std::string &path);

#endif
