/*
 * Studies into the database.
 */
#include "az_study.h"
#include "az_labels.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <functional>

#include "../../host/corvantis_util.h"
#include "../../hostlib/structures/az_gl.h"

namespace {

template <size_t N> void Text_Set(char (&field)[N], const std::string &text)
{
    snprintf(field, N, "%s", text.c_str());
}

Vect Vect_Of(AzVec3 v) { return Vect(static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)); }

void Header_Fill(Vexa_Image *image, const AzSeries &series, const AzSeries_Frame &frame)
{
    image->slices_nb = 1;
    image->times_nb = static_cast<uint16_t>(series.times_nb);
    image->pixel_size = Vect(static_cast<float>(series.spacing[0]), static_cast<float>(series.spacing[1]),
                             static_cast<float>(series.spacing[2]));
    image->pixel_size_2 = image->pixel_size;
    image->pixel_size_pt = nullptr;
    image->axis_row = Vect_Of(series.axis_row);
    image->axis_col = Vect_Of(series.axis_col);
    image->axis_normal = Vect_Of(series.axis_normal);
    image->location = static_cast<float>(series.Location(frame));
    image->position = Vect_Of(frame.position);
    image->rescale_slope = static_cast<float>(series.slope);
    image->rescale_intercept = static_cast<float>(series.intercept);
    Text_Set(image->patient_name, series.patient_name);
    Text_Set(image->series_uid, series.uid);
    Text_Set(image->series_description, series.name);
    Text_Set(image->modality, series.modality);
    Text_Set(image->file_name, frame.file_name);
    image->display_mode = series.display_mode;
    image->display_low = series.display_low;
    image->display_high = series.display_high;
}

/* Grey levels of every time point; the tags of the frame's place (tags
 * holds the labels placed on the series, frame after frame). */
void Pixels_Fill(Vexa_Image *image, const AzSeries &series, size_t index, const AzLabels_Placed *tags)
{
    const AzSeries_Frame &frame = series.frames[index];
    size_t plane = static_cast<size_t>(series.width) * series.height;
    for (int t = 0; t < series.times_nb; t++) {
        memcpy(AzImage_GLI_Plane(image, 0, t), frame.gli.data() + t * plane, plane * sizeof(int16_t));
        if (tags)
            memcpy(AzImage_TAG_Plane(image, 0, t), tags->tags.data() + index * plane, plane);
    }
}

/* Says how labels off the study's grid were placed on it. */
void Placement_Report(const AzLabels &labels, const AzSeries &series, const AzLabels_Placed &placed)
{
    if (placed.same_grid)
        return;
    Error_Fct(hwnd, 4,
              "%s: the label grid differs from the study's (%s): labels resampled onto \"%s\" by world position, "
              "nearest label; %.1f %% of the study's voxels lie inside the label volume",
              labels.source.c_str(), placed.relation.c_str(), series.name.c_str(),
              100.0 * static_cast<double>(placed.inside_nb) / static_cast<double>(placed.total_nb));
}

/* The series' own key when the database has no study under it yet, else
 * a fresh one: loading a study twice gives two studies. */
std::string Key_Unique(const std::string &uid, const std::string &source)
{
    std::string key = uid.empty() ? source : uid;
    const size_t key_max = sizeof(Vexa_Image::series_uid) - 1;
    if (key.size() > key_max) {
        char hashed[32];
        snprintf(hashed, sizeof(hashed), "az.%016zx", std::hash<std::string>()(key));
        key = hashed;
    }
    std::string unique = key;
    for (int n = 2; AzStudy_Find(unique.c_str()); n++) {
        char suffix[16];
        snprintf(suffix, sizeof(suffix), "#%d", n);
        unique = key.substr(0, key_max - strlen(suffix)) + suffix;
    }
    return unique;
}

} // namespace

Kelvra_File *AzSeries_File(const AzSeries &series, const AzLabels *labels, std::string *error)
{
    AzLabels_Placed placed;
    if (labels && !AzLabels_Place(*labels, series, &placed, error))
        return nullptr;
    if (labels)
        Placement_Report(*labels, series, placed);
    size_t count = series.frames.size();
    Vexa_Image **images = static_cast<Vexa_Image **>(calloc(count + 1, sizeof(Vexa_Image *)));
    if (!images) {
        *error = "out of memory for the image list";
        return nullptr;
    }
    if (!AzImage_Create_Series((int)count, series.width, series.height, 1, series.times_nb, images)) {
        *error = "out of memory for the images";
        free(images);
        return nullptr;
    }
    for (size_t i = 0; i < count; i++) {
        Header_Fill(images[i], series, series.frames[i]);
        Pixels_Fill(images[i], series, i, labels ? &placed : nullptr);
    }
    return new Kelvra_File(series.name.c_str(), images);
}

int AzSeries_Insert(const AzSeries &series, const AzLabels *labels, AzLoaded_Series *loaded, std::string *error,
                    int time_point)
{
    if (series.frames.empty()) {
        *error = "the study has no frames";
        return 0;
    }
    if (time_point < 0 || time_point >= series.times_nb) {
        char text[128];
        snprintf(text, sizeof(text), "no time point %d: the study has %d time point(s)", time_point,
                 series.times_nb);
        *error = text;
        return 0;
    }
    AzSeries keyed = series;
    keyed.uid = Key_Unique(series.uid, series.source);
    Kelvra_File *file = AzSeries_File(keyed, labels, error);
    if (!file)
        return 0;
    AzDb_File_Add(file);
    loaded->name = series.name;
    loaded->source = series.source;
    loaded->series_key = keyed.uid;
    loaded->file = file;
    loaded->frames_nb = 0;
    loaded->inserted_nb = 0;
    loaded->time_point = time_point;
    // The header's file name field is short; derived DICOM objects need the whole path back.
    loaded->frame_files.clear();
    for (const AzSeries_Frame &frame : series.frames)
        loaded->frame_files.push_back(frame.file_name);
    // One slice per image: the frame's slice index is its time point.
    for (int bunch = 0; bunch < static_cast<int>(series.frames.size()); bunch++) {
        loaded->frames_nb++;
        if (AzDb_Insert(file, bunch, time_point))
            loaded->inserted_nb++;
    }
    if (loaded->inserted_nb == loaded->frames_nb)
        return 1;
    char text[128];
    snprintf(text, sizeof(text), "the database took %d of %d frames", loaded->inserted_nb, loaded->frames_nb);
    *error = text;
    return 0;
}

Kelvra_Class *AzLoaded_Series_Class(const AzLoaded_Series &loaded) { return AzStudy_Find(loaded.series_key.c_str()); }
