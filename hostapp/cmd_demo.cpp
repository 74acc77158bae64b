/*
 * azozude demo: a brain re-sliced with its atlas as tags, or a built-in
 * phantom when the sample brain is not installed.
 */
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "az_commands.h"

namespace {

const char brain_path[] = "/usr/share/mricron/templates/ch2.nii.gz";
const char atlas_path[] = "/usr/share/mricron/templates/aal.nii.gz";
const double demo_alpha = 25.0, demo_beta = -20.0;

int File_Exists(const char *path)
{
    struct stat info;
    return stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

} // namespace

int Command_Demo(AzApp_Options *options)
{
    std::vector<Option_Spec> specs = Export_Options();
    specs.push_back({"--phantom", 0, ""});
    Option_Values values;
    std::vector<std::string> rest;
    if (!Options_Parse(options->words, specs, &values, &rest))
        return AZ_EXIT_USAGE;
    if (!rest.empty()) {
        AzError(AZ_EXIT_USAGE, "unexpected \"%s\"", rest[0].c_str());
        fputs("usage: azozude demo [-o DIR] [--phantom] [--original] [--pictures] [--montage] [--summary] [--dicom] "
              "[--force]\n", stderr);
        return AZ_EXIT_USAGE;
    }
    std::string folder = values.count("-o") ? values["-o"] : std::string("azozude-demo");
    if (folder.empty())
        return AzError(AZ_EXIT_USAGE, "-o needs a folder");
    int parts = Export_Parts(values);
    std::vector<AzSession_Step> steps;
    std::string error;
    if (!AzSession_Parse(AzSession_Reslice(demo_alpha, demo_beta, (parts & AZ_DUMP_PICTURES) != 0), "", &steps,
                         &error))
        return AzError(AZ_EXIT_MODULE, "%s", error.c_str());
    AzOutput_Signals_Install();
    AzOutput output;
    if (!Export_Folder(&output, folder, values.count("--force") != 0))
        return AZ_EXIT_INPUT;
    AzApp app;
    int code = AzApp_Start(&app, *options);
    if (code != AZ_EXIT_OK)
        return code;
    if (!values.count("--phantom") && File_Exists(brain_path) && File_Exists(atlas_path)) {
        printf("demo: %s with the atlas %s as tags\n", brain_path, atlas_path);
        code = AzApp_Load(&app, std::vector<std::string>(1, brain_path), atlas_path);
    } else {
        if (!values.count("--phantom"))
            printf("demo: %s is not installed (package mricron-data)\n", brain_path);
        printf("demo: using the built-in phantom\n");
        code = AzApp_Load_Phantom(&app);
    }
    if (code != AZ_EXIT_OK) {
        AzApp_Stop(&app);
        return code;
    }
    printf("demo: cutting at alpha %.0f, beta %.0f degrees\n", demo_alpha, demo_beta);
    fflush(stdout);
    code = Export_Run(&app, steps, folder, parts, &output);
    if (code == AZ_EXIT_OK)
        printf("demo: written to %s\n", folder.c_str());
    return code;
}
