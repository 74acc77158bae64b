/*
 * The session steps that write files: pictures of the panel and of frames,
 * the dump of a study's directions, its tags, its DICOM objects.  Every
 * file goes through the session's output, so that none appears unless the
 * whole session succeeds.
 */
#include <stdio.h>

#include "../../hostlib/structures/az_gl.h"
#include "az_dicom_write.h"
#include "az_dump.h"
#include "az_export.h"
#include "az_labels.h"
#include "az_session_private.h"

using namespace azsession;

namespace {

int Panel_Save(Runner *runner, const std::string &path)
{
    std::string error;
    std::string staged = AzOutput_File(&runner->output, path, &error);
    if (staged.empty())
        return Fail(runner, "%s", error.c_str());
    int width = 0, height = 0;
    std::vector<uint32_t> picture = AzDump_Panel_Picture(runner->app->panel_window, &width, &height);
    if (!AzPng_Write(staged.c_str(), picture.data(), width, height))
        return Fail(runner, "%s: cannot write the picture", path.c_str());
    return 1;
}

Kelvra_Class *Direction_Class(Runner *runner, int direction)
{
    int study = AzApp_Study_Current(runner->app);
    Kelvra_Class *cls = AzApp_Direction(runner->app, study, direction);
    if (!cls)
        Fail(runner, "no study with direction classes is loaded");
    return cls;
}

/* What "dump FOLDER [PART...]" writes besides the Oblique volume. */
int Dump_Parts(Runner *runner, const std::vector<std::string> &words, int *parts)
{
    static const struct {
        const char *name;
        int part;
    } names[] = {{"original", AZ_DUMP_ORIGINAL}, {"pictures", AZ_DUMP_PICTURES}, {"montage", AZ_DUMP_MONTAGE},
                 {"summary", AZ_DUMP_SUMMARY},   {"dicom", AZ_DUMP_DICOM},    {"all", AZ_DUMP_ALL}};
    *parts = words.size() > 2 ? 0 : AZ_DUMP_ALL;
    for (size_t i = 2; i < words.size(); i++) {
        int found = 0;
        for (const auto &entry : names)
            if (words[i] == entry.name) {
                *parts |= entry.part;
                found = 1;
            }
        if (!found)
            return Fail(runner, "a dump writes original, pictures, montage, summary, dicom or all, not \"%s\"",
                        words[i].c_str());
    }
    return 1;
}

} // namespace

namespace azsession {

int Step_Save_Panel(Runner *runner, const std::vector<std::string> &words)
{
    return Panel_Needed(runner) && Panel_Save(runner, words[1]);
}

int Step_Save_Frame(Runner *runner, const std::vector<std::string> &words)
{
    int direction;
    long frame;
    if (!Direction_Parse(runner, words[1], &direction))
        return 0;
    if (!Integer_Parse(words[2], &frame) || frame < 0)
        return Fail(runner, "a frame is a number from 0");
    Kelvra_Class *cls = Direction_Class(runner, direction);
    if (!cls)
        return 0;
    AzVolume volume;
    std::string error;
    std::string staged;
    if (!AzVolume_From_Class(cls, &volume, &error, static_cast<int>(frame)) ||
        (staged = AzOutput_File(&runner->output, words[3], &error)).empty() ||
        !AzVolume_Write_Png(volume, 0, staged, &error))
        return Fail(runner, "%s", error.c_str());
    return 1;
}


int Step_Save_Tags(Runner *runner, const std::vector<std::string> &words)
{
    std::string error;
    if (!AzTags_Save(runner->app, words[1], words.size() > 2 ? words[2] : std::string(), &error))
        return Fail(runner, "%s", error.c_str());
    return 1;
}

int Step_Dump(Runner *runner, const std::vector<std::string> &words)
{
    const std::string &folder = words[1];
    int parts = 0;
    std::string error, summary;
    if (!Dump_Parts(runner, words, &parts))
        return 0;
    // A session names its own folders: an earlier dump's files there are replaced, nothing else is touched.
    if (!AzOutput_Folder(&runner->output, folder, &error) ||
        !AzDump_Folder_Prepare(folder, 1, &runner->output, &error) ||
        !AzDump_Write(runner->app, folder, parts, &runner->output, &summary, &error))
        return Fail(runner, "%s", error.c_str());
    return 1;
}

int Step_Dicom(Runner *runner, const std::vector<std::string> &words)
{
    std::string error;
    if (!AzSession_Dicom_Write(runner->app, words[1], &error))
        return Fail(runner, "%s", error.c_str());
    return 1;
}

} // namespace azsession

int AzSession_Dicom_Write(AzApp *app, const std::string &folder, std::string *error)
{
    int index = AzApp_Study_Current(app);
    Kelvra_Class *study = AzApp_Study(app, index);
    if (!study || index >= static_cast<int>(app->studies.size())) {
        *error = "no study is loaded";
        return 0;
    }
    double alpha = 0.0, beta = 0.0;
    if (app->panel_window) {
        if (Valuators *x = dynamic_cast<Valuators *>(AzSession_Widget(app->panel_window, "rot-x-left")))
            alpha = x->Read() * degrees_per_radian;
        if (Valuators *y = dynamic_cast<Valuators *>(AzSession_Widget(app->panel_window, "rot-y-bottom")))
            beta = y->Read() * degrees_per_radian;
    }
    char description[64];
    snprintf(description, sizeof(description), "Oblique alpha %.1f beta %.1f", alpha, beta);
    std::string notes;
    long start = AzApp_Clock_Ms();
    if (!AzDicom_Write_Study(app->studies[index], study, folder, description, &notes, error))
        return 0;
    Error_Fct(hwnd, 4, "DICOM written to %s/dicom in %.2f s", folder.c_str(), (AzApp_Clock_Ms() - start) / 1000.0);
    for (size_t at = 0, end; at < notes.size(); at = end + 1) {
        end = notes.find('\n', at);
        Error_Fct(hwnd, 4, "  %s", notes.substr(at, end - at).c_str());
    }
    return 1;
}
