/*
 * What the commands share.
 */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "az_commands.h"
#include "lib/az_labels.h"

int Options_Parse(const std::vector<std::string> &words, const std::vector<Option_Spec> &specs, Option_Values *values,
                  std::vector<std::string> *positional)
{
    values->clear();
    positional->clear();
    int options_end = 0;
    for (size_t i = 0; i < words.size(); i++) {
        const std::string &word = words[i];
        if (options_end || word.size() < 2 || word[0] != '-') {
            positional->push_back(word);
            continue;
        }
        if (word == "--") {
            options_end = 1;
            continue;
        }
        size_t equals = word.find('=');
        std::string name = word.substr(0, equals);
        auto spec = std::find_if(specs.begin(), specs.end(), [&name](const Option_Spec &s) { return name == s.name; });
        if (spec == specs.end())
            return !AzError(AZ_EXIT_USAGE, "unknown option %s", name.c_str());
        if (values->count(name))
            return !AzError(AZ_EXIT_USAGE, "%s is given twice", name.c_str());
        if (!spec->takes_value) {
            if (equals != std::string::npos)
                return !AzError(AZ_EXIT_USAGE, "%s takes no value", name.c_str());
            (*values)[name] = "";
        } else if (equals != std::string::npos) {
            (*values)[name] = word.substr(equals + 1);
        } else if (i + 1 < words.size()) {
            (*values)[name] = words[++i];
        } else {
            return !AzError(AZ_EXIT_USAGE, "%s needs a value (%s)", name.c_str(), spec->what);
        }
    }
    return 1;
}

int Number_Strict(const std::string &text, double low, double high, double *value)
{
    // Decimal digits with an optional sign and point only: no hexadecimal, exponent, "inf" or "nan".
    size_t i = text[0] == '+' || text[0] == '-' ? 1 : 0;
    size_t digits = 0, points = 0;
    for (size_t j = i; j < text.size(); j++) {
        if (text[j] >= '0' && text[j] <= '9')
            digits++;
        else if (text[j] == '.')
            points++;
        else
            return 0;
    }
    if (text.empty() || digits == 0 || points > 1)
        return 0;
    *value = strtod(text.c_str(), nullptr);
    return *value >= low && *value <= high;
}

int Session_Play(AzApp *app, const std::vector<AzSession_Step> &steps, const std::string &name)
{
    std::string error;
    int code = AzSession_Run(app, steps, name, &error);
    if (code != AZ_EXIT_OK)
        AzError(code, "%s", error.c_str());
    if (AzTags_Unsaved())
        AzError(AZ_EXIT_INPUT, "%s: tags were painted and not saved (a save-tags step keeps them)", name.c_str());
    AzApp_Stop(app);
    return code;
}

int Export_Parts(const Option_Values &values)
{
    int parts = 0;
    if (values.count("--original"))
        parts |= AZ_DUMP_ORIGINAL;
    if (values.count("--pictures"))
        parts |= AZ_DUMP_PICTURES;
    if (values.count("--montage"))
        parts |= AZ_DUMP_MONTAGE;
    if (values.count("--summary"))
        parts |= AZ_DUMP_SUMMARY;
    if (values.count("--dicom"))
        parts |= AZ_DUMP_DICOM;
    return parts;
}

const std::vector<Option_Spec> &Export_Options(void)
{
    static const std::vector<Option_Spec> specs = {
        {"-o", 1, "the output folder"}, {"--force", 0, ""},   {"--original", 0, ""},
        {"--pictures", 0, ""},          {"--montage", 0, ""}, {"--summary", 0, ""},
        {"--dicom", 0, ""}};
    return specs;
}

int Export_Folder(AzOutput *output, const std::string &folder, int force)
{
    std::string error;
    if (AzDump_Folder_Prepare(folder, force, output, &error) && AzOutput_Folder(output, folder, &error))
        return 1;
    return !AzError(AZ_EXIT_INPUT, "%s", error.c_str());
}

int Export_Run(AzApp *app, const std::vector<AzSession_Step> &steps, const std::string &folder, int parts,
               AzOutput *output)
{
    std::string error, summary;
    int code = AZ_EXIT_OK;
    if ((code = AzSession_Run(app, steps, std::string(), &error)) != AZ_EXIT_OK) {
        // What the panel refused is about the study (not a 3D group, say): its source is named.
        const std::string &source = app->studies.empty() ? std::string("the study") : app->studies[0].source;
        AzError(code, "%s: %s", source.c_str(), error.c_str());
    } else if (!AzDump_Write(app, folder, parts, output, &summary, &error) || !AzOutput_Commit(output, &error)) {
        code = AzError(AZ_EXIT_INPUT, "%s", error.c_str());
    }
    AzOutput_Discard(output);
    AzApp_Stop(app);
    if (code == AZ_EXIT_OK) {
        fputs(summary.c_str(), stdout);
        fflush(stdout);
    }
    return code;
}
