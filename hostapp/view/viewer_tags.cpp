/*
 * Keeping what was painted: Ctrl+S writes the study's tags, quitting with
 * unsaved strokes asks first, an autosave file is written while strokes
 * are unsaved and offered again at the next start, and the tag picker
 * chooses any tag by number or name.
 */
#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <functional>

#include <GLFW/glfw3.h>

#include "../../hostlib/structures/az_db.h"
#include "../lib/az_labels.h"
#include "../lib/az_path.h"
#include "../lib/az_read.h"
#include "az_viewer.h"

namespace {

/* The autosave waits this long after the last one, so that a fast series
 * of strokes costs one write. */
const long autosave_pause_ms = 3000;
/* Update that hands painted regions to the other direction. */
const uint64_t tags_changed = 0x800000ULL;

int Folder_Make_All(const std::string &folder)
{
    for (size_t at = 1; at <= folder.size(); at++)
        if (at == folder.size() || folder[at] == '/') {
            std::string part = folder.substr(0, at);
            if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
                return 0;
        }
    return 1;
}

/* Where autosaves live: $AZOZUDE_AUTOSAVE_DIR, else the user's cache. */
std::string Autosave_Folder(void)
{
    const char *own = getenv("AZOZUDE_AUTOSAVE_DIR");
    if (own && *own)
        return own;
    const char *cache = getenv("XDG_CACHE_HOME");
    if (cache && *cache)
        return std::string(cache) + "/azozude";
    const char *home = getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.cache/azozude";
}

int Exists(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

/* One autosave per study file and time point. */
std::string Autosave_Path(const AzLoaded_Series &loaded)
{
    char *full = realpath(loaded.source.c_str(), nullptr);
    std::string key = full ? full : loaded.source;
    free(full);
    char name[64];
    snprintf(name, sizeof(name), "/autosave-%016zx-t%d.nii.gz", std::hash<std::string>()(key), loaded.time_point);
    return Autosave_Folder() + name;
}

void Autosave_Remove(const std::string &path)
{
    if (path.empty())
        return;
    unlink(path.c_str());
    unlink(AzTags_Beside(path, ".lut").c_str());
    unlink(AzTags_Beside(path, ".txt").c_str());
}

/* The study the autosave keeps: the one current when the viewer started,
 * whichever the panel shows later. */
const AzLoaded_Series *Study_Saved(const AzViewer *viewer)
{
    const std::vector<AzLoaded_Series> &studies = viewer->app->studies;
    int index = viewer->autosave_study;
    if (index < 0 || index >= static_cast<int>(studies.size()))
        return nullptr;
    return &studies[index];
}

std::string Time_Text(const std::string &path)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return "";
    char text[64];
    struct tm local;
    localtime_r(&info.st_mtime, &local);
    strftime(text, sizeof(text), "%Y-%m-%d %H:%M", &local);
    return text;
}

/* Writes the autosave's tags back into the study's images. */
int Autosave_Restore(AzViewer *viewer)
{
    const AzLoaded_Series *loaded = Study_Saved(viewer);
    AzLabels saved;
    AzLoad_Report report;
    if (!loaded || !loaded->file || !AzNifti_Read_Labels(viewer->autosave_path, &saved, &report))
        return 0;
    Kelvra_File *file = loaded->file;
    if (file->images_nb != saved.depth || file->images[0]->width != saved.width ||
        file->images[0]->height != saved.height) {
        AzError(AZ_EXIT_INPUT, "%s: the autosave does not fit the study \"%s\"; left as it is",
                  viewer->autosave_path.c_str(), loaded->name.c_str());
        return 0;
    }
    size_t plane = static_cast<size_t>(saved.width) * saved.height;
    long long lost = 0;
    for (int k = 0; k < file->images_nb; k++) {
        Vexa_Image *image = file->images[k];
        uint8_t *tags = AzImage_TAG_Plane(image, 0, loaded->time_point < image->times_nb ? loaded->time_point : 0);
        for (size_t i = 0; tags && i < plane; i++) {
            int tag = AzTags_Of_Value(saved.values[saved.tags[k * plane + i]]);
            lost += tag < 0;
            tags[i] = static_cast<uint8_t>(tag < 0 ? 0 : tag);
        }
    }
    if (lost > 0)
        AzError(AZ_EXIT_INPUT, "%s: %lld voxels hold label values no tag stands for; they were left untagged",
                  viewer->autosave_path.c_str(), lost);
    for (AzFrame_View &view : viewer->views)
        view.image_valid = 0;
    AzTags_Changed();
    Fct_Update(tags_changed, nullptr, nullptr, nullptr);
    Error_Fct(hwnd, 4, "tags restored from the autosave of %s", Time_Text(viewer->autosave_path).c_str());
    return 1;
}

/* A study's name as a file name: what a path or a shell would misread becomes '_'. */
std::string File_Name_Of(const std::string &name)
{
    std::string file = name.empty() ? std::string("study") : name;
    for (char &c : file)
        if (!isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.')
            c = '_';
    return file;
}

void Quit_Now(AzViewer *viewer)
{
    viewer->prompt = AZ_VIEWER_PROMPT_NONE;
    viewer->quit = 1;
}

} // namespace

void AzViewer_Tags_Init(AzViewer *viewer, const std::string &save_path)
{
    viewer->prompt = AZ_VIEWER_PROMPT_NONE;
    viewer->picking = 0;
    viewer->pick_typed.clear();
    viewer->pick_index = 0;
    viewer->autosave_count = AzTags_Change_Count();
    viewer->autosave_ms = 0;
    viewer->autosave_path.clear();
    viewer->autosave_study = AzApp_Study_Current(viewer->app);
    viewer->tags_path = save_path;
    const AzLoaded_Series *loaded = Study_Saved(viewer);
    if (!loaded)
        return;
    if (viewer->tags_path.empty())
        viewer->tags_path = File_Name_Of(loaded->name) + "_tags.nii.gz";
    // Only studies read from files come back at a next start.
    if (!Exists(loaded->source))
        return;
    viewer->autosave_path = Autosave_Path(*loaded);
    if (Exists(viewer->autosave_path))
        viewer->prompt = AZ_VIEWER_PROMPT_RESTORE;
}

std::string AzViewer_Oblique_Path(const AzViewer *viewer)
{
    std::string stem = viewer->tags_path;
    for (const char *suffix : {".nii.gz", ".nii"})
        if (AzPath_Ends_With(stem, suffix)) {
            stem.resize(stem.size() - strlen(suffix));
            break;
        }
    return stem + "_oblique.nii.gz";
}

int AzViewer_Save(AzViewer *viewer, int with_oblique)
{
    std::string error;
    viewer->dirty = 1;
    if (!AzTags_Save(viewer->app, viewer->tags_path, with_oblique ? AzViewer_Oblique_Path(viewer) : std::string(),
                     &error)) {
        AzError(AZ_EXIT_INPUT, "tags not saved: %s", error.c_str());
        return 0;
    }
    Autosave_Remove(viewer->autosave_path);
    viewer->autosave_count = AzTags_Change_Count();
    return 1;
}

void AzViewer_Quit_Ask(AzViewer *viewer)
{
    viewer->dirty = 1;
    if (!AzTags_Unsaved()) {
        Quit_Now(viewer);
        return;
    }
    viewer->prompt = AZ_VIEWER_PROMPT_QUIT;
}

void AzViewer_Autosave_Step(AzViewer *viewer)
{
    long count = AzTags_Change_Count();
    if (viewer->autosave_path.empty() || count == viewer->autosave_count || !AzTags_Unsaved() ||
        viewer->painting >= 0 || viewer->prompt == AZ_VIEWER_PROMPT_RESTORE)
        return;
    long now = AzApp_Clock_Ms();
    if (viewer->autosave_ms != 0 && now - viewer->autosave_ms < autosave_pause_ms)
        return;
    const AzLoaded_Series *loaded = Study_Saved(viewer);
    AzVolume volume;
    std::string error;
    viewer->autosave_ms = now;
    viewer->autosave_count = count;
    if (!loaded || !Folder_Make_All(Autosave_Folder()) || !AzTags_Study_Volume(*loaded, &volume, &error) ||
        !AzTags_Write(volume, viewer->autosave_path, &error)) {
        AzError(AZ_EXIT_INPUT, "autosave failed: %s", error.empty() ? strerror(errno) : error.c_str());
        return;
    }
    Error_Fct(hwnd, 11, "tags autosaved to %s", viewer->autosave_path.c_str());
}

int AzViewer_Prompt_Key(AzViewer *viewer, int key, int mods)
{
    if (viewer->prompt == AZ_VIEWER_PROMPT_NONE)
        return 0;
    viewer->dirty = 1;
    if (viewer->prompt == AZ_VIEWER_PROMPT_QUIT) {
        if (key == GLFW_KEY_S) {
            if (AzViewer_Save(viewer, 0))
                Quit_Now(viewer);
        } else if (key == GLFW_KEY_D) {
            Autosave_Remove(viewer->autosave_path);
            Quit_Now(viewer);
        } else if (key == GLFW_KEY_ESCAPE || key == GLFW_KEY_C) {
            viewer->prompt = AZ_VIEWER_PROMPT_NONE;
        }
        return 1;
    }
    if (key == GLFW_KEY_R) {
        Autosave_Restore(viewer);
        viewer->prompt = AZ_VIEWER_PROMPT_NONE;
    } else if (key == GLFW_KEY_D) {
        Autosave_Remove(viewer->autosave_path);
        viewer->prompt = AZ_VIEWER_PROMPT_NONE;
    } else if (key == GLFW_KEY_ESCAPE) {
        viewer->prompt = AZ_VIEWER_PROMPT_NONE;
    }
    (void)mods;
    return 1;
}

std::vector<std::string> AzViewer_Prompt_Lines(const AzViewer *viewer)
{
    if (viewer->prompt == AZ_VIEWER_PROMPT_QUIT)
        return {"Painted tags are not saved.", "s: save to " + viewer->tags_path + " and quit",
                "d: quit without saving", "Esc: go on painting"};
    if (viewer->prompt == AZ_VIEWER_PROMPT_RESTORE)
        return {"Tags of this study were autosaved " + Time_Text(viewer->autosave_path) + " and never saved.",
                "r: restore them", "d: discard them", "Esc: decide later (the next stroke replaces the autosave)"};
    return {};
}

void AzViewer_Picker_Open(AzViewer *viewer)
{
    viewer->picking = 1;
    viewer->pick_typed.clear();
    viewer->pick_index = 0;
    viewer->dirty = 1;
}

int AzViewer_Picker_Key(AzViewer *viewer, int key)
{
    if (!viewer->picking)
        return 0;
    viewer->dirty = 1;
    std::vector<int> matches = AzTags_Matches(viewer->pick_typed);
    int count = static_cast<int>(matches.size());
    if (key == GLFW_KEY_ESCAPE) {
        viewer->picking = 0;
    } else if (key == GLFW_KEY_ENTER || key == GLFW_KEY_KP_ENTER) {
        if (count > 0)
            viewer->tag_cur = matches[viewer->pick_index < count ? viewer->pick_index : 0];
        viewer->picking = 0;
    } else if (key == GLFW_KEY_BACKSPACE) {
        if (!viewer->pick_typed.empty())
            viewer->pick_typed.pop_back();
        viewer->pick_index = 0;
    } else if (key == GLFW_KEY_DOWN && count > 0) {
        viewer->pick_index = (viewer->pick_index + 1) % count;
    } else if (key == GLFW_KEY_UP && count > 0) {
        viewer->pick_index = (viewer->pick_index + count - 1) % count;
    }
    return 1;
}

int AzViewer_Picker_Char(AzViewer *viewer, unsigned int codepoint)
{
    if (!viewer->picking)
        return 0;
    if (codepoint >= 0x20 && codepoint < 0x7f && viewer->pick_typed.size() < 64) {
        viewer->pick_typed.push_back(static_cast<char>(codepoint));
        viewer->pick_index = 0;
    }
    viewer->dirty = 1;
    return 1;
}

std::string AzViewer_Picker_Text(const AzViewer *viewer)
{
    std::vector<int> matches = AzTags_Matches(viewer->pick_typed);
    std::string text = "pick a tag (number or name): " + viewer->pick_typed + "_   ";
    if (matches.empty())
        return text + (viewer->pick_typed.empty() ? "" : "no match   ") + "Esc cancels";
    int at = viewer->pick_index < static_cast<int>(matches.size()) ? viewer->pick_index : 0;
    char count[48];
    snprintf(count, sizeof(count), " (%d of %d)", at + 1, static_cast<int>(matches.size()));
    return text + AzTags_Text(matches[at]) + count + "   Enter paints with it, Up/Down other matches, Esc cancels";
}
