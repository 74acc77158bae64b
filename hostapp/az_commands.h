/*
 * The commands of the host program.  Each takes the words after its name
 * (global options already removed) and returns the program's exit code.
 */
#ifndef AZ_COMMANDS_H
#define AZ_COMMANDS_H

#include <map>
#include <string>
#include <vector>

#include "lib/az_app.h"
#include "lib/az_dump.h"
#include "lib/az_error.h"
#include "lib/az_session.h"

int Command_Info(AzApp_Options *options);
int Command_Reslice(AzApp_Options *options);
int Command_Demo(AzApp_Options *options);
int Command_Run(AzApp_Options *options);

/* An option a command takes. */
struct Option_Spec {
    const char *name;
    int takes_value;
    const char *what;   /* what the value is, for the message when it is missing */
};
typedef std::map<std::string, std::string> Option_Values;

/* Splits a command's words into options ("--name VALUE", "--name=VALUE",
 * flags) and the other words; "--" ends the options.  An unknown option,
 * one given twice or one without its value: 0, reported naming it. */
int Options_Parse(const std::vector<std::string> &words, const std::vector<Option_Spec> &specs, Option_Values *values,
                  std::vector<std::string> *positional);

/* A finite decimal number (sign, digits, one point) from low to high. */
int Number_Strict(const std::string &text, double low, double high, double *value);

/* Runs a session on a started host with its studies loaded; the panel is
 * closed and the host stopped afterwards.  The exit code. */
int Session_Play(AzApp *app, const std::vector<AzSession_Step> &steps, const std::string &name);

/* The options of what reslice and demo write, and the parts they ask. */
const std::vector<Option_Spec> &Export_Options(void);
int Export_Parts(const Option_Values &values);

/* Checks the output folder (an earlier run's outputs, other files only
 * with force) and makes it, before any work; 0 with a message. */
int Export_Folder(AzOutput *output, const std::string &folder, int force);

/* Plays the panel steps, then writes the current study's directions into
 * folder through output, all or nothing; prints the summary.  The host is
 * stopped afterwards.  The exit code. */
int Export_Run(AzApp *app, const std::vector<AzSession_Step> &steps, const std::string &folder, int parts,
               AzOutput *output);

#endif
