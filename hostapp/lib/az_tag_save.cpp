/*
 * Painted tags into files: a study's tags on its own grid, or any volume
 * read through a direction's frames, as NIfTI label volumes of the
 * original values with their colour table and names beside them.
 */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include "../../hostlib/structures/az_db.h"
#include "../../hostlib/structures/az_gl.h"
#include "../../host/corvantis_util.h"
#include "az_app.h"
#include "az_labels.h"
#include "az_path.h"
#include "az_read.h"

namespace {

AzVec3 Vec3_Of(Vect v) { return {v.x, v.y, v.z}; }

/* Voxel (i, j, k) -> world of a study's images in location order. */
void Study_Affine(Vexa_Image **images, int count, AzVolume *volume)
{
    const Vexa_Image *first = images[0];
    Vect size = AzImage_Pixel_Size(first);
    AzVec3 columns[4];
    columns[0] = AzVec3_Scale(Vec3_Of(first->axis_row), size.x);
    columns[1] = AzVec3_Scale(Vec3_Of(first->axis_col), size.y);
    columns[2] = count > 1 ? AzVec3_Scale(AzVec3_Sub(Vec3_Of(images[count - 1]->position), Vec3_Of(first->position)),
                                          1.0 / (count - 1))
                           : AzVec3_Scale(Vec3_Of(first->axis_normal), size.z > 0.0f ? size.z : 1.0);
    columns[3] = Vec3_Of(first->position);
    for (int c = 0; c < 4; c++) {
        volume->affine[0][c] = columns[c].x;
        volume->affine[1][c] = columns[c].y;
        volume->affine[2][c] = columns[c].z;
    }
}

/* Writes text to path through a temporary name. */
int Text_Write(const std::string &path, const std::string &text, std::string *error)
{
    std::string temporary = path + ".part" + std::to_string(static_cast<long>(getpid()));
    FILE *file = fopen(temporary.c_str(), "w");
    if (!file) {
        *error = path + ": cannot create: " + strerror(errno);
        return 0;
    }
    int written = fwrite(text.data(), 1, text.size(), file) == text.size();
    int closed = fclose(file) == 0;
    if (!written || !closed || rename(temporary.c_str(), path.c_str()) != 0) {
        *error = path + ": cannot write: " + strerror(errno ? errno : EIO);
        unlink(temporary.c_str());
        return 0;
    }
    return 1;
}

/* The tags a colour table and name list describe: those in the volume and
 * those with a name. */
std::vector<int> Tags_Described(const AzVolume &volume)
{
    std::vector<char> present(256, 0);
    for (uint8_t tag : volume.tag)
        present[tag] = 1;
    std::vector<int> tags;
    for (int tag = 1; tag < 256; tag++)
        if (present[tag] || !AzTags_Name(tag).empty())
            tags.push_back(tag);
    return tags;
}

std::string Colour_Table(const std::vector<int> &tags)
{
    const uint16_t *red = reinterpret_cast<const uint16_t *>(Fct_Variable_Value("$TAG_RED", nullptr, nullptr, nullptr));
    const uint16_t *green = reinterpret_cast<const uint16_t *>(Fct_Variable_Value("$TAG_GRN", nullptr, nullptr, nullptr));
    const uint16_t *blue = reinterpret_cast<const uint16_t *>(Fct_Variable_Value("$TAG_BLU", nullptr, nullptr, nullptr));
    std::string text = "# value red green blue\n";
    if (!red || !green || !blue)
        return text;
    for (int tag : tags) {
        char line[64];
        snprintf(line, sizeof(line), "%d %d %d %d\n", AzTags_Value(tag), red[tag] >> 8, green[tag] >> 8, blue[tag] >> 8);
        text += line;
    }
    return text;
}

std::string Name_List(const std::vector<int> &tags)
{
    std::string text;
    for (int tag : tags) {
        std::string name = AzTags_Name(tag);
        if (!name.empty())
            text += std::to_string(AzTags_Value(tag)) + " " + name + "\n";
    }
    return text;
}

} // namespace

int AzTags_Study_Volume(const AzLoaded_Series &loaded, AzVolume *volume, std::string *error)
{
    Kelvra_File *file = loaded.file;
    if (!file || file->images_nb < 1 || !file->images[0]) {
        *error = "\"" + loaded.name + "\" has no images";
        return 0;
    }
    *volume = AzVolume();
    volume->width = file->images[0]->width;
    volume->height = file->images[0]->height;
    volume->depth = file->images_nb;
    volume->times = 1;
    size_t plane = static_cast<size_t>(volume->width) * volume->height;
    volume->tag.assign(plane * volume->depth, 0);
    for (int k = 0; k < file->images_nb; k++) {
        Vexa_Image *image = file->images[k];
        int t = loaded.time_point < image->times_nb ? loaded.time_point : 0;
        uint8_t *tags = image->width == volume->width && image->height == volume->height
                            ? AzImage_TAG_Plane(image, 0, t)
                            : nullptr;
        if (!tags) {
            *error = "\"" + loaded.name + "\" has images of different sizes or without tags";
            return 0;
        }
        memcpy(volume->tag.data() + k * plane, tags, plane);
    }
    Study_Affine(file->images, file->images_nb, volume);
    return 1;
}

std::string AzTags_Beside(const std::string &path, const char *extension)
{
    std::string stem = path;
    if (AzPath_Ends_With(stem, ".gz"))
        stem.resize(stem.size() - 3);
    return stem + extension;
}

int AzTags_Write(const AzVolume &volume, const std::string &path, std::string *error)
{
    if (!AzVolume_Write_Nifti(volume, path, AZ_EXPORT_TAGS, error))
        return 0;
    std::vector<int> tags = Tags_Described(volume);
    std::string names = Name_List(tags);
    if (!Text_Write(AzTags_Beside(path, ".lut"), Colour_Table(tags), error))
        return 0;
    std::string names_path = AzTags_Beside(path, ".txt");
    if (names.empty()) {
        unlink(names_path.c_str()); // an older list would name regions this file does not have
        return 1;
    }
    return Text_Write(names_path, names, error);
}

int AzTags_Parse(const std::string &word, int *tag, std::string *error)
{
    char *end = nullptr;
    long number = strtol(word.c_str(), &end, 10);
    if (!word.empty() && *end == '\0') {
        if (number < 0 || number > 255) {
            *error = "a tag is a number from 0 to 255 or a region name, not \"" + word + "\"";
            return 0;
        }
        *tag = static_cast<int>(number);
        return 1;
    }
    for (int candidate = 1; candidate < 256; candidate++)
        if (strcasecmp(AzTags_Name(candidate).c_str(), word.c_str()) == 0) {
            *tag = candidate;
            return 1;
        }
    *error = "no region is named \"" + word + "\"";
    return 0;
}

namespace {

/* Update that hands painted regions to the other direction. */
const uint64_t tags_changed = 0x800000ULL;

} // namespace

int AzTags_Paint(AzApp *app, int direction, int n, int x, int y, float r, int tag, std::string *error)
{
    Kelvra_Class *cls = AzApp_Direction(app, AzApp_Study_Current(app), direction);
    if (!cls) {
        *error = "no study with direction classes is loaded";
        return -1;
    }
    AzFrame *frame = n >= 0 && n < cls->Child_Get_Nb() ? AzFrame_Cast(cls->Child_Get_Pt(n)) : nullptr;
    if (!frame) {
        *error = std::string("\"") + cls->Name_Get() + "\" has no frame " + std::to_string(n) + " (it has " +
                 std::to_string(cls->Child_Get_Nb()) + ")";
        return -1;
    }
    int set_nb = AzTags_Paint_Disc(frame, x, y, r, tag, nullptr, nullptr);
    if (set_nb == 0) {
        *error = "nothing painted: (" + std::to_string(x) + ", " + std::to_string(y) + ") lies off frame " +
                 std::to_string(n) + " of \"" + cls->Name_Get() + "\"";
        return -1;
    }
    Fct_Update(tags_changed, nullptr, nullptr, nullptr);
    AzApp_Pump(app);
    Error_Fct(hwnd, 4, "painted %d voxels of frame %d of \"%s\" with %s", set_nb, n, cls->Name_Get(),
              AzTags_Text(tag).c_str());
    return set_nb;
}

int AzTags_Save(AzApp *app, const std::string &path, const std::string &oblique_path, std::string *error)
{
    int index = AzApp_Study_Current(app);
    if (index < 0 || index >= static_cast<int>(app->studies.size())) {
        *error = "no study is loaded";
        return 0;
    }
    AzVolume volume;
    if (!AzTags_Study_Volume(app->studies[index], &volume, error) || !AzTags_Write(volume, path, error))
        return 0;
    AzTags_Saved();
    Error_Fct(hwnd, 4, "tags of \"%s\" written to %s", app->studies[index].name.c_str(), path.c_str());
    if (oblique_path.empty())
        return 1;
    Kelvra_Class *oblique = AzApp_Direction(app, index, 1);
    if (!oblique) {
        *error = "the study has no Oblique direction";
        return 0;
    }
    AzVolume cut;
    if (!AzVolume_From_Class(oblique, &cut, error) || !AzTags_Write(cut, oblique_path, error))
        return 0;
    Error_Fct(hwnd, 4, "tags of \"%s\" written to %s", oblique->Name_Get(), oblique_path.c_str());
    return 1;
}

namespace {

/* The geometry of a loaded study's images, as a series without pixels. */
AzSeries Study_Geometry(const AzLoaded_Series &loaded)
{
    AzSeries series;
    series.name = loaded.name;
    const Kelvra_File *file = loaded.file;
    if (!file || file->images_nb < 1)
        return series;
    const Vexa_Image *first = file->images[0];
    Vect size = AzImage_Pixel_Size(first);
    series.width = first->width;
    series.height = first->height;
    series.axis_row = Vec3_Of(first->axis_row);
    series.axis_col = Vec3_Of(first->axis_col);
    series.axis_normal = Vec3_Of(first->axis_normal);
    series.spacing[0] = size.x;
    series.spacing[1] = size.y;
    series.spacing[2] = size.z;
    series.frames.resize(file->images_nb);
    for (int k = 0; k < file->images_nb; k++) {
        series.frames[k].position = Vec3_Of(file->images[k]->position);
        series.frames[k].source_index = k;
    }
    return series;
}

} // namespace

std::string AzLabels_Info(AzApp *app, const std::string &path)
{
    AzLabels labels;
    AzLoad_Report report;
    if (!AzNifti_Read_Labels(path, &labels, &report))
        return "";
    char text[512];
    std::string out = "\nlabels: " + path + "\n";
    int mapped = 0;
    for (int tag = 0; tag < 256; tag++)
        mapped |= labels.values[tag] != tag;
    snprintf(text, sizeof(text), "  values: %d distinct besides 0, %d .. %d (%s)\n", labels.values_nb,
             labels.value_min, labels.value_max,
             mapped ? "mapped onto tags in ascending order" : "each value is its own tag");
    out += text;
    int named_nb = 0;
    for (int tag = 1; tag < 256; tag++)
        named_nb += !labels.names[tag].empty();
    snprintf(text, sizeof(text), "  names: %d; colour table: %s\n", named_nb, labels.has_colours ? "yes" : "no");
    out += text;
    double spacing[3];
    for (int c = 0; c < 3; c++)
        spacing[c] = AzVec3_Norm({labels.affine[0][c], labels.affine[1][c], labels.affine[2][c]});
    snprintf(text, sizeof(text), "  grid: %d x %d x %d voxels of %.4g x %.4g x %.4g mm\n", labels.width, labels.height,
             labels.depth, spacing[0], spacing[1], spacing[2]);
    out += text;
    if (app->studies.empty())
        return out;
    AzSeries series = Study_Geometry(app->studies[0]);
    AzLabels_Placed placed;
    std::string error;
    if (!AzLabels_Place(labels, series, &placed, &error))
        return out + "  against study 1: " + error + "\n";
    snprintf(text, sizeof(text), "; %.1f %% of the study's voxels inside the label volume",
             100.0 * static_cast<double>(placed.inside_nb) / static_cast<double>(placed.total_nb));
    return out + "  against study 1: " + placed.relation + text + "\n";
}
