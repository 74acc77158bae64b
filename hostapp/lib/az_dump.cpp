/*
 * Directions written out.
 */
#include "az_dump.h"

#include <dirent.h>
#include <errno.h>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "../../hostlib/structures/az_gl.h"
#include "../../hostlib/tools/az_tools.h"
#include "../../hostlib/win32/az_win.h"
#include "az_export.h"
#include "az_session.h"

namespace {

const double degrees_per_radian = 57.29577951308232;
const char *const direction_names[2] = {"original", "oblique"};

/* printf into a std::string. */
std::string Text(const char *format, ...) AZ_PRINTF(1, 2);
std::string Text(const char *format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    return text;
}

/* A component as printed to four decimals, without a "-0.0000" for a
 * rounding residue. */
double Component_Clean(double c) { return fabs(c) < 5e-5 ? 0.0 : c; }

std::string Vector_Text(const char *label, AzVec3 v)
{
    return Text("%s (%.4f, %.4f, %.4f)", label, Component_Clean(v.x), Component_Clean(v.y), Component_Clean(v.z));
}

std::string Direction_Summary(int direction, int frames_nb, const AzExport_Result &result)
{
    AzVec3 axes[3];
    for (int c = 0; c < 3; c++)
        axes[c] = {result.affine[0][c], result.affine[1][c], result.affine[2][c]};
    std::string text = Text("%s: %d frames of %d x %d pixels, spacing %.4g x %.4g x %.4g mm%s\n",
                            direction_names[direction], frames_nb, result.width, result.height,
                            AzVec3_Norm(axes[0]), AzVec3_Norm(axes[1]), AzVec3_Norm(axes[2]),
                            result.tagged ? ", tags" : "");
    text += "  orientation:" + Vector_Text(" row", AzVec3_Unit(axes[0])) +
            Vector_Text(", column", AzVec3_Unit(axes[1])) + Vector_Text(", normal", AzVec3_Unit(axes[2])) + "\n";
    return text;
}

/* A staged file for name in folder; empty path (and error) when it cannot be made. */
std::string Staged(AzOutput *output, const std::string &folder, const std::string &name, std::string *error)
{
    return AzOutput_File(output, folder + "/" + name, error);
}

/* One direction: its volume files when wanted, its pictures when asked,
 * its summary lines. */
int Direction_Write(AzApp *app, const std::string &folder, int direction, int parts, AzOutput *output,
                    std::string *summary, std::string *error)
{
    Kelvra_Class *cls = AzApp_Direction(app, AzApp_Study_Current(app), direction);
    if (!cls) {
        *error = "no study with direction classes is loaded";
        return 0;
    }
    int frames_nb = cls->Child_Get_Nb();
    if (frames_nb == 0) {
        *summary += std::string(direction_names[direction]) + ": no frames\n";
        return 1;
    }
    std::string base = direction_names[direction];
    AzExport_Request request;
    request.what = base + ".nii.gz";
    int volume = direction == 1 || (parts & AZ_DUMP_ORIGINAL);
    if (volume) {
        request.grey_path = Staged(output, folder, base + ".nii.gz", error);
        request.tags_path = Staged(output, folder, base + "_tags.nii.gz", error);
        if (request.grey_path.empty() || request.tags_path.empty())
            return 0;
    }
    request.keep_middle = (parts & AZ_DUMP_PICTURES) != 0;
    request.keep_montage = (parts & AZ_DUMP_MONTAGE) != 0;
    if (!volume && !request.keep_middle && !request.keep_montage) {
        *summary += std::string(direction_names[direction]) + Text(": %d frames\n", frames_nb);
        return 1;
    }
    AzExport_Result result;
    if (!AzExport_Class(cls, request, &result, error))
        return 0;
    if (volume && !result.tagged)
        AzOutput_Drop(output, folder + "/" + base + "_tags.nii.gz");
    if (request.keep_middle) {
        std::string path = Staged(output, folder, base + "_middle.png", error);
        if (path.empty() || !AzVolume_Write_Png(result.middle, 0, path, error))
            return 0;
    }
    if (request.keep_montage) {
        std::string path = Staged(output, folder, base + "_montage.png", error);
        if (path.empty() || !AzVolume_Write_Montage(result.montage, 0, path, error))
            return 0;
    }
    *summary += Direction_Summary(direction, frames_nb, result);
    return 1;
}

std::string Study_Line(AzApp *app)
{
    int index = AzApp_Study_Current(app);
    Kelvra_Class *study = AzApp_Study(app, index);
    std::string text = std::string("study: ") + (study ? study->Name_Get() : "(none)");
    if (study) {
        const AzLoaded_Series &loaded = app->studies[index];
        int times_nb = loaded.file && loaded.file->images_nb > 0 ? loaded.file->images[0]->times_nb : 1;
        if (times_nb > 1)
            text += Text(", time point %d of %d", loaded.time_point, times_nb);
    }
    return text + "\n";
}

std::string Angles_Line(AzApp *app)
{
    if (!app->panel_window)
        return std::string();
    double alpha = 0.0, beta = 0.0;
    if (Valuators *x = dynamic_cast<Valuators *>(AzSession_Widget(app->panel_window, "rot-x-left")))
        alpha = x->Read() * degrees_per_radian;
    if (Valuators *y = dynamic_cast<Valuators *>(AzSession_Widget(app->panel_window, "rot-y-bottom")))
        beta = y->Read() * degrees_per_radian;
    return Text("panel angles: alpha %.2f degrees, beta %.2f degrees\n", alpha, beta);
}

std::string Times_Line(AzApp *app, double export_s)
{
    std::string text = Text("times: load %.2f s, ", app->load_s);
    if (app->apply_s >= 0.0)
        text += Text("apply %.2f s (\"Update DB\" to the last frame), ", app->apply_s);
    else
        text += "no apply, ";
    return text + Text("export %.2f s\n", export_s);
}

int Panel_Write(AzApp *app, const std::string &path, std::string *error)
{
    int width = 0, height = 0;
    std::vector<uint32_t> picture = AzDump_Panel_Picture(app->panel_window, &width, &height);
    if (AzPng_Write(path.c_str(), picture.data(), width, height))
        return 1;
    *error = path + ": cannot write the picture";
    return 0;
}

int Summary_Write(const std::string &path, const std::string &text, std::string *error)
{
    FILE *file = fopen(path.c_str(), "w");
    if (!file) {
        *error = path + ": cannot create: " + strerror(errno);
        return 0;
    }
    int written = fwrite(text.data(), 1, text.size(), file) == text.size();
    if (fclose(file) != 0 || !written) {
        *error = path + ": cannot write: " + strerror(errno ? errno : EIO);
        return 0;
    }
    return 1;
}

} // namespace

std::vector<uint32_t> AzDump_Panel_Picture(HWND panel, int *width, int *height)
{
    uint32_t *pixels = AzWin_Pixels(panel, width, height);
    std::vector<uint32_t> picture(pixels, pixels + static_cast<size_t>(*width) * *height);
    RECT panel_rect;
    GetWindowRect(panel, &panel_rect);
    for (HWND child = AzWin_Find(nullptr, nullptr); child; child = AzWin_Find(nullptr, child)) {
        if (GetParent(child) != panel || !IsWindowVisible(child))
            continue;
        RECT rect;
        int w = 0, h = 0;
        uint32_t *source = AzWin_Pixels(child, &w, &h);
        if (!source || !GetWindowRect(child, &rect))
            continue;
        int left = rect.left - panel_rect.left, top = rect.top - panel_rect.top;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                if (left + x >= 0 && left + x < *width && top + y >= 0 && top + y < *height)
                    picture[static_cast<size_t>(top + y) * *width + left + x] = source[static_cast<size_t>(y) * w + x];
    }
    return picture;
}

static int Dump_Write(AzApp *app, const std::string &folder, int parts, AzOutput *output, std::string *summary,
               std::string *error);

int AzDump_Write(AzApp *app, const std::string &folder, int parts, AzOutput *output, std::string *summary,
                 std::string *error)
{
    if (Dump_Write(app, folder, parts, output, summary, error))
        return 1;
    *error = AzOutput_Message(output, *error);
    return 0;
}

static int Dump_Write(AzApp *app, const std::string &folder, int parts, AzOutput *output, std::string *summary,
               std::string *error)
{
    long start = AzApp_Clock_Ms();
    *summary = Study_Line(app) + Angles_Line(app);
    if (!Direction_Write(app, folder, 0, parts, output, summary, error) ||
        !Direction_Write(app, folder, 1, parts, output, summary, error))
        return 0;
    if ((parts & AZ_DUMP_PICTURES) && app->panel_window) {
        std::string path = Staged(output, folder, "panel.png", error);
        if (path.empty() || !Panel_Write(app, path, error))
            return 0;
    }
    if (parts & AZ_DUMP_DICOM) {
        // The writer makes "dicom" inside the folder it is given: the staging folder.
        std::string path = Staged(output, folder, "dicom", error);
        if (path.empty() || !AzSession_Dicom_Write(app, path.substr(0, path.rfind('/')), error))
            return 0;
    }
    *summary += Times_Line(app, (AzApp_Clock_Ms() - start) / 1000.0);
    if (parts & AZ_DUMP_SUMMARY) {
        std::string path = Staged(output, folder, "summary.txt", error);
        if (path.empty() || !Summary_Write(path, *summary, error))
            return 0;
    }
    return 1;
}

int AzDump_Folder_Prepare(const std::string &folder, int force, AzOutput *output, std::string *error)
{
    DIR *dir = opendir(folder.c_str());
    if (!dir)
        return 1; // made when the outputs are written; a folder that cannot be read fails there
    const std::vector<std::string> &known = AzOutput_Known_Names();
    std::string foreign;
    int busy = 0;
    while (struct dirent *entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        int leftover = AzOutput_Leftover(folder, name);
        busy |= leftover < 0;
        if (leftover != 0)
            continue;
        if (std::find(known.begin(), known.end(), name) != known.end())
            AzOutput_Replace(output, folder + "/" + name);
        else if (foreign.empty())
            foreign = name;
    }
    closedir(dir);
    if (busy) {
        *error = folder + ": another azozude run is writing into this folder";
        return 0;
    }
    if (foreign.empty() || force)
        return 1;
    *error = folder + ": the folder holds other files (\"" + foreign +
             "\"); choose an empty or new folder, or add --force to write beside them";
    return 0;
}
