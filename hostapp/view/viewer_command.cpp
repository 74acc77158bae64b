/*
 * azozude view: the interactive host on studies (a built-in phantom when
 * none is named).
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "../lib/az_session.h"
#include "az_viewer.h"

namespace {

const char usage_text[] =
    "usage: azozude view [STUDY...] [--labels FILE] [--size WxH] [--panel-width N]\n"
    "                    [--session FILE] [--screenshot FILE.png] [--save FILE.nii.gz]\n"
    "  without a study a built-in phantom is shown; h in the window lists the shortcuts.\n"
    "  --session plays a session of panel events (as azozude run does) before the window opens;\n"
    "  --screenshot writes the screen as it would first show and quits, without a window.\n"
    "  --save is where Ctrl+S writes the study's tags (default STUDY_tags.nii.gz here).\n";

struct View_Options {
    std::vector<std::string> studies;
    std::string labels;
    int width = 1280, height = 800;
    int size_given = 0;
    int panel_width = 300;
    std::string session;
    std::string screenshot;
    std::string save;
};

/* "--name VALUE" or "--name=VALUE" at words[*at]: 1 with the value, 0 when
 * the word is not that option, -1 when the value is missing. */
int Option_Value(const std::vector<std::string> &words, size_t *at, const char *name, std::string *value)
{
    const std::string &word = words[*at];
    size_t n = strlen(name);
    if (word.compare(0, n, name) != 0)
        return 0;
    if (word.size() > n && word[n] == '=') {
        *value = word.substr(n + 1);
        return 1;
    }
    if (word.size() != n)
        return 0;
    if (*at + 1 >= words.size())
        return -1;
    *value = words[++*at];
    return 1;
}

int Options_Parse(const std::vector<std::string> &words, View_Options *options)
{
    static const char *const names[] = {"--labels", "--size", "--panel-width", "--session", "--screenshot", "--save"};
    const int names_nb = static_cast<int>(sizeof(names) / sizeof(names[0]));
    for (size_t at = 0; at < words.size(); at++) {
        std::string value;
        int found = 0, which = 0;
        for (; which < names_nb && found == 0; which++)
            found = Option_Value(words, &at, names[which], &value);
        if (found < 0)
            return !AzError(AZ_EXIT_USAGE, "%s needs a value", names[which - 1]);
        if (found == 0 && words[at].size() > 1 && words[at][0] == '-')
            return !AzError(AZ_EXIT_USAGE, "unknown option %s", words[at].c_str());
        if (found == 0) {
            options->studies.push_back(words[at]);
        } else if (which == 1) {
            options->labels = value;
        } else if (which == 2) {
            char rest = 0;
            if (sscanf(value.c_str(), "%dx%d%c", &options->width, &options->height, &rest) != 2 ||
                options->width < 1 || options->height < 1 || options->width > AZ_VIEWER_WIDTH_MAX ||
                options->height > AZ_VIEWER_HEIGHT_MAX)
                return !AzError(AZ_EXIT_USAGE, "--size is WIDTHxHEIGHT, at most %dx%d, not \"%s\"",
                                AZ_VIEWER_WIDTH_MAX, AZ_VIEWER_HEIGHT_MAX, value.c_str());
            options->size_given = 1;
        } else if (which == 4) {
            options->session = value;
        } else if (which == 5) {
            options->screenshot = value;
        } else if (which == 6) {
            options->save = value;
        } else {
            options->panel_width = atoi(value.c_str());
            if (options->panel_width < 150 || options->panel_width > 1000)
                return !AzError(AZ_EXIT_USAGE, "--panel-width is from 150 to 1000");
        }
    }
    return 1;
}

/* The window's size: as asked, when the panel fits in it whole; the
 * default grows to fit a wide panel.  0 (reported) when the size asked is
 * too small. */
int Size_Fit(const AzApp &app, View_Options *options)
{
    int min_w = 0, min_h = 0;
    AzViewer_Min_Size(app.panel_width, app.panel_height, &min_w, &min_h);
    if (options->width >= min_w && options->height >= min_h)
        return 1;
    if (options->size_given)
        return !AzError(AZ_EXIT_USAGE, "--size %dx%d is too small for a panel %d pixels wide: at least %dx%d",
                        options->width, options->height, app.panel_width, min_w, min_h);
    options->width = options->width > min_w ? options->width : min_w;
    options->height = options->height > min_h ? options->height : min_h;
    return 1;
}

/* The screen as the window would first show it. */
int Screenshot(AzViewer *viewer, const std::string &path)
{
    AzViewer_Step(viewer);
    AzViewer_Compose(viewer);
    if (!AzViewer_Save_PNG(viewer, path.c_str()))
        return AzError(AZ_EXIT_INPUT, "%s: cannot write the picture", path.c_str());
    return AZ_EXIT_OK;
}

} // namespace

int Command_View(AzApp_Options *app_options)
{
    View_Options options;
    for (const std::string &word : app_options->words)
        if (word == "-h" || word == "--help") {
            fputs(usage_text, stdout);
            return AZ_EXIT_OK;
        }
    if (!Options_Parse(app_options->words, &options)) {
        fputs(usage_text, stderr);
        return AZ_EXIT_USAGE;
    }
    std::vector<AzSession_Step> steps;
    std::string error;
    if (!options.session.empty() && !AzSession_Load(options.session, &steps, &error))
        return AzError(AZ_EXIT_INPUT, "%s", error.c_str());
    AzApp app;
    int code = AzApp_Start(&app, *app_options);
    if (code == AZ_EXIT_OK)
        code = options.studies.empty() ? AzApp_Load_Phantom(&app) : AzApp_Load(&app, options.studies, options.labels);
    if (code != AZ_EXIT_OK) {
        AzApp_Stop(&app);
        return code;
    }
    AzViewer viewer;
    if (!AzViewer_Init(&viewer, &app, options.width, options.height, options.panel_width)) {
        AzApp_Stop(&app);
        return AZ_EXIT_MODULE;
    }
    if (!Size_Fit(app, &options)) {
        AzViewer_Done(&viewer);
        AzApp_Stop(&app);
        return AZ_EXIT_USAGE;
    }
    AzViewer_Resize(&viewer, options.width, options.height);
    if (!options.save.empty())
        viewer.tags_path = options.save;
    // Step by step, so that the views follow the panel as they would on screen.
    for (const AzSession_Step &step : steps) {
        code = AzSession_Run(&app, std::vector<AzSession_Step>(1, step), options.session, &error);
        if (code != AZ_EXIT_OK) {
            AzError(code, "%s", error.c_str());
            break;
        }
        AzViewer_Step(&viewer);
    }
    if (code == AZ_EXIT_OK && !options.screenshot.empty())
        code = Screenshot(&viewer, options.screenshot);
    else if (code == AZ_EXIT_OK)
        code = AzViewer_Run(&viewer);
    AzViewer_Done(&viewer);
    AzApp_Stop(&app);
    return code;
}
