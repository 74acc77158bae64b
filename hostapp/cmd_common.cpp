/*
 * What the commands share.
 */
#include <stdio.h>
#include <string.h>

#include "az_commands.h"

int Option_Take(std::vector<std::string> *words, const char *name, std::string *value)
{
    std::string with_value = std::string(name) + "=";
    for (size_t i = 0; i < words->size(); i++) {
        const std::string &word = (*words)[i];
        if (word.compare(0, with_value.size(), with_value) == 0) {
            *value = word.substr(with_value.size());
            words->erase(words->begin() + i);
            return 1;
        }
        if (word != name)
            continue;
        if (i + 1 >= words->size()) {
            fprintf(stderr, "azozude: %s needs a value\n", name);
            return -1;
        }
        *value = (*words)[i + 1];
        words->erase(words->begin() + i, words->begin() + i + 2);
        return 1;
    }
    return 0;
}

int Options_Unknown(const std::vector<std::string> &words, const char *command)
{
    for (const std::string &word : words)
        if (word.size() > 1 && word[0] == '-') {
            fprintf(stderr, "azozude %s: unknown option %s\n", command, word.c_str());
            return 1;
        }
    return 0;
}

int Session_Play(AzApp *app, const std::vector<AzSession_Step> &steps, const std::string &name)
{
    std::string error;
    int code = AzSession_Run(app, steps, name, &error);
    if (code != AZ_EXIT_OK)
        fprintf(stderr, "azozude: %s\n", error.c_str());
    AzApp_Stop(app);
    return code;
}

/* With the host's default spacing the valuators of a panel this wide are
 * 1801 pixels long: 1800 steps for their 180 degrees, so that angles in
 * tenths of a degree are met exactly. */
static const int reslice_panel_width = 1851;

std::string Reslice_Session(double alpha, double beta, const std::string &folder)
{
    char text[2048];
    snprintf(text, sizeof(text),
             "open 0 %d\n"
             "direction oblique on\n"
             "rotate %.17g %.17g\n"
             "click \"Update DB\"\n"
             "wait\n"
             "resize\n"
             "slice middle\n"
             "dump \"%s\"\n",
             reslice_panel_width, alpha, beta, folder.c_str());
    return text;
}
