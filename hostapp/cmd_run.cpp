/*
 * azozude run: a session of panel events played on studies.
 */
#include <stdio.h>

#include "az_commands.h"

int Command_Run(AzApp_Options *options)
{
    Option_Values values;
    std::vector<std::string> words;
    if (!Options_Parse(options->words, {{"--labels", 1, "a NIfTI label volume"}}, &values, &words))
        return AZ_EXIT_USAGE;
    if (words.empty()) {
        AzError(AZ_EXIT_USAGE, "a SESSION is missing");
        fputs("usage: azozude run SESSION [STUDY...] [--labels FILE]\n", stderr);
        return AZ_EXIT_USAGE;
    }
    std::vector<AzSession_Step> steps;
    std::string error;
    if (!AzSession_Load(words[0], &steps, &error))
        return AzError(AZ_EXIT_INPUT, "%s", error.c_str());
    AzOutput_Signals_Install();
    AzApp app;
    int code = AzApp_Start(&app, *options);
    if (code == AZ_EXIT_OK)
        code = AzApp_Load(&app, std::vector<std::string>(words.begin() + 1, words.end()),
                          values.count("--labels") ? values["--labels"] : std::string());
    if (code != AZ_EXIT_OK) {
        AzApp_Stop(&app);
        return code;
    }
    return Session_Play(&app, steps, words[0]);
}
