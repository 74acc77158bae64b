/*
 * azozude demo: a brain re-sliced with its atlas as tags, or a built-in
 * phantom when the sample brain is not installed.
 */
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>

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
    std::vector<std::string> words = options->words;
    std::string folder = "azozude-demo";
    if (Option_Take(&words, "-o", &folder) < 0)
        return AZ_EXIT_USAGE;
    int phantom = std::find(words.begin(), words.end(), "--phantom") != words.end();
    words.erase(std::remove(words.begin(), words.end(), "--phantom"), words.end());
    if (Options_Unknown(words, "demo"))
        return AZ_EXIT_USAGE;
    if (!words.empty()) {
        fprintf(stderr, "usage: azozude demo [-o DIR] [--phantom]\n");
        return AZ_EXIT_USAGE;
    }
    std::vector<AzSession_Step> steps;
    std::string error;
    if (!AzSession_Parse(AzSession_Reslice(demo_alpha, demo_beta, folder), "demo", &steps, &error)) {
        fprintf(stderr, "azozude: %s\n", error.c_str());
        return AZ_EXIT_USAGE;
    }
    AzApp app;
    int code = AzApp_Start(&app, *options);
    if (code != AZ_EXIT_OK)
        return code;
    if (!phantom && File_Exists(brain_path) && File_Exists(atlas_path)) {
        printf("demo: %s with the atlas %s as tags\n", brain_path, atlas_path);
        code = AzApp_Load(&app, std::vector<std::string>(1, brain_path), atlas_path);
    } else {
        if (!phantom)
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
    code = Session_Play(&app, steps, "demo");
    if (code == AZ_EXIT_OK) {
        Summary_Print(folder);
        printf("demo: written to %s (summary.txt, oblique.nii.gz, oblique_tags.nii.gz, *_montage.png, panel.png)\n",
               folder.c_str());
    }
    return code;
}
