/*
 * The commands of the host program.  Each takes the words after its name
 * (global options already removed) and returns the program's exit code.
 */
#ifndef AZ_COMMANDS_H
#define AZ_COMMANDS_H

#include <string>
#include <vector>

#include "lib/az_app.h"
#include "lib/az_session.h"

int Command_Info(AzApp_Options *options);
int Command_Reslice(AzApp_Options *options);
int Command_Demo(AzApp_Options *options);
int Command_Run(AzApp_Options *options);

/* Removes "--name VALUE" (or "--name=VALUE") from words.  1 when found,
 * 0 when absent, -1 (with a message) when the value is missing. */
int Option_Take(std::vector<std::string> *words, const char *name, std::string *value);

/* The words left that look like options: a message for the first. */
int Options_Unknown(const std::vector<std::string> &words, const char *command);

/* Runs a session on a started host with its studies loaded; the panel is
 * closed and the host stopped afterwards.  The exit code. */
int Session_Play(AzApp *app, const std::vector<AzSession_Step> &steps, const std::string &name);

/* Prints the summary.txt that a dump step wrote into folder. */
void Summary_Print(const std::string &folder);

#endif
