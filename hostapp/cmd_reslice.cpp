/*
 * azozude reslice: a study cut at two angles, written out.
 */
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

#include "az_commands.h"

namespace {

int Angle_Parse(const std::string &text, const char *name, double *degrees)
{
    char *end = nullptr;
    *degrees = strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || *degrees < -90.0 || *degrees > 90.0) {
        fprintf(stderr, "azozude reslice: %s must be a number of degrees from -90 to 90, not \"%s\"\n", name,
                text.c_str());
        return 0;
    }
    return 1;
}

} // namespace

int Command_Reslice(AzApp_Options *options)
{
    std::vector<std::string> words = options->words;
    auto dicom_word = std::find(words.begin(), words.end(), "--dicom");
    int dicom = dicom_word != words.end();
    if (dicom)
        words.erase(dicom_word);
    std::string alpha_text = "0", beta_text = "0", folder, labels;
    if (Option_Take(&words, "--alpha", &alpha_text) < 0 || Option_Take(&words, "--beta", &beta_text) < 0 ||
        Option_Take(&words, "-o", &folder) < 0 || Option_Take(&words, "--labels", &labels) < 0 ||
        Options_Unknown(words, "reslice"))
        return AZ_EXIT_USAGE;
    double alpha, beta;
    if (!Angle_Parse(alpha_text, "--alpha", &alpha) || !Angle_Parse(beta_text, "--beta", &beta))
        return AZ_EXIT_USAGE;
    if (words.size() != 1 || folder.empty()) {
        fprintf(stderr, "usage: azozude reslice STUDY --alpha DEG --beta DEG -o DIR [--labels FILE] [--dicom]\n");
        return AZ_EXIT_USAGE;
    }
    std::vector<AzSession_Step> steps;
    std::string error;
    if (!AzSession_Parse(AzSession_Reslice(alpha, beta, folder, dicom), "reslice", &steps, &error)) {
        fprintf(stderr, "azozude: %s\n", error.c_str());
        return AZ_EXIT_USAGE;
    }
    AzApp app;
    int code = AzApp_Start(&app, *options);
    if (code == AZ_EXIT_OK)
        code = AzApp_Load(&app, words, labels);
    if (code != AZ_EXIT_OK) {
        AzApp_Stop(&app);
        return code;
    }
    code = Session_Play(&app, steps, "reslice");
    if (code == AZ_EXIT_OK) {
        Summary_Print(folder);
        printf("written to %s\n", folder.c_str());
    }
    return code;
}
