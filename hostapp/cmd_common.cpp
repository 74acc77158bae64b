/*
 * What the commands share.
 */
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "az_commands.h"
#include "lib/az_labels.h"

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
    if (AzTags_Unsaved())
        Error_Fct(hwnd, 2, "%s: tags were painted and not saved (a save-tags step keeps them)", name.c_str());
    AzApp_Stop(app);
    return code;
}

void Summary_Print(const std::string &folder)
{
    std::string path = folder + "/summary.txt";
    FILE *file = fopen(path.c_str(), "r");
    if (!file) {
        fprintf(stderr, "azozude: %s: cannot read: %s\n", path.c_str(), strerror(errno));
        return;
    }
    char buffer[4096];
    size_t length;
    while ((length = fread(buffer, 1, sizeof(buffer), file)) > 0)
        fwrite(buffer, 1, length, stdout);
    fclose(file);
    fflush(stdout);
}
