/*
 * azozude reslice: a study cut at two angles, written out.
 */
#include <stdio.h>

#include <algorithm>

#include "az_commands.h"

namespace {

const char reslice_usage[] =
    "usage: azozude reslice STUDY --alpha DEG --beta DEG -o DIR [--series N|UID] [--labels FILE]\n"
    "                       [--original] [--pictures] [--montage] [--summary] [--dicom] [--force]\n";

int Angle_Get(const Option_Values &values, const char *name, double *degrees)
{
    auto found = values.find(name);
    if (found == values.end()) {
        AzError(AZ_EXIT_USAGE, "%s is missing (degrees from -90 to 90)", name);
        fputs(reslice_usage, stderr);
        return 0;
    }
    if (!Number_Strict(found->second, -90.0, 90.0, degrees))
        return !AzError(AZ_EXIT_USAGE, "%s must be a decimal number of degrees from -90 to 90, not \"%s\"", name,
                        found->second.c_str());
    return 1;
}

} // namespace

int Command_Reslice(AzApp_Options *options)
{
    std::vector<Option_Spec> specs = Export_Options();
    specs.push_back({"--alpha", 1, "degrees from -90 to 90"});
    specs.push_back({"--beta", 1, "degrees from -90 to 90"});
    specs.push_back({"--labels", 1, "a NIfTI label volume"});
    specs.push_back({"--series", 1, "a series number from azozude info, or its UID"});
    Option_Values values;
    std::vector<std::string> studies;
    if (!Options_Parse(options->words, specs, &values, &studies))
        return AZ_EXIT_USAGE;
    double alpha, beta;
    if (!Angle_Get(values, "--alpha", &alpha) || !Angle_Get(values, "--beta", &beta))
        return AZ_EXIT_USAGE;
    if (!values.count("-o") || values["-o"].empty()) {
        AzError(AZ_EXIT_USAGE, "-o is missing (the output folder)");
        fputs(reslice_usage, stderr);
        return AZ_EXIT_USAGE;
    }
    if (studies.size() != 1) {
        AzError(AZ_EXIT_USAGE, "%s", studies.empty() ? "a STUDY is missing" : "one STUDY only");
        fputs(reslice_usage, stderr);
        return AZ_EXIT_USAGE;
    }
    int parts = Export_Parts(values);
    std::vector<AzSession_Step> steps;
    std::string error;
    if (!AzSession_Parse(AzSession_Reslice(alpha, beta, (parts & AZ_DUMP_PICTURES) != 0), "", &steps, &error))
        return AzError(AZ_EXIT_MODULE, "%s", error.c_str());
    AzOutput_Signals_Install();
    AzOutput output;
    if (!Export_Folder(&output, values["-o"], values.count("--force") != 0))
        return AZ_EXIT_INPUT;
    AzApp app;
    options->series = values.count("--series") ? values["--series"] : std::string();
    int code = AzApp_Start(&app, *options);
    if (code == AZ_EXIT_OK)
        code = AzApp_Load(&app, studies, values.count("--labels") ? values["--labels"] : std::string());
    if (code == AZ_EXIT_OK && app.studies.size() > 1)
        code = AzError(AZ_EXIT_USAGE,
                       "%s holds %d series; choose one with --series N or --series UID (azozude info %s numbers them)",
                       studies[0].c_str(), static_cast<int>(app.studies.size()), studies[0].c_str());
    if (code != AZ_EXIT_OK) {
        AzApp_Stop(&app);
        return code;
    }
    code = Export_Run(&app, steps, values["-o"], parts, &output);
    if (code == AZ_EXIT_OK)
        printf("written to %s\n", values["-o"].c_str());
    return code;
}
