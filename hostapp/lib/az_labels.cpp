/*
 * Label volumes: colour tables and names, values onto tags, placement on a
 * study by world position, and what the host's tags stand for.
 */
#include "az_labels.h"

#include <ctype.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <atomic>

#include "../../hostlib/structures/az_gl.h"

namespace {

const long binary_table_size = 768;

int File_Size(FILE *file, long *size)
{
    if (fseek(file, 0, SEEK_END) != 0)
        return 0;
    *size = ftell(file);
    return fseek(file, 0, SEEK_SET) == 0 && *size >= 0;
}

unsigned char Component(int value) { return static_cast<unsigned char>(value < 0 ? 0 : value > 255 ? 255 : value); }

/* 256 reds, then 256 greens, then 256 blues: values 0 to 255. */
int Colours_Binary(FILE *file, AzLabels *labels)
{
    unsigned char table[binary_table_size];
    if (fread(table, 1, sizeof(table), file) != sizeof(table))
        return 0;
    for (int i = 0; i < 256; i++)
        labels->value_colours[i] = {table[i], table[256 + i], table[512 + i]};
    return 1;
}

/* Lines "value red green blue"; other lines are skipped. */
int Colours_Text(FILE *file, AzLabels *labels)
{
    char line[512];
    int read_nb = 0;
    while (fgets(line, sizeof(line), file)) {
        int value, red, green, blue;
        if (sscanf(line, "%d %d %d %d", &value, &red, &green, &blue) != 4)
            continue;
        if (value < 0 || value > AZ_LABELS_VALUE_MAX)
            continue;
        labels->value_colours[value] = {Component(red), Component(green), Component(blue)};
        read_nb++;
    }
    return read_nb > 0;
}

} // namespace

int AzLabels_Read_Colours(const std::string &path, AzLabels *labels)
{
    FILE *file = fopen(path.c_str(), "rb");
    if (!file)
        return 0;
    long size = 0;
    int done = File_Size(file, &size) &&
               (size == binary_table_size ? Colours_Binary(file, labels) : Colours_Text(file, labels));
    fclose(file);
    if (done)
        labels->has_colours = 1;
    return done;
}

int AzLabels_Read_Names(const std::string &path, AzLabels *labels)
{
    FILE *file = fopen(path.c_str(), "r");
    if (!file)
        return 0;
    char line[512];
    int read_nb = 0;
    while (fgets(line, sizeof(line), file)) {
        int value;
        char name[256];
        if (sscanf(line, "%d %255s", &value, name) != 2 || value < 0 || value > AZ_LABELS_VALUE_MAX)
            continue;
        labels->value_names[value] = name;
        read_nb++;
    }
    fclose(file);
    return read_nb > 0;
}

/* ------------------------------------------------------------------------
 * Values onto tags
 * --------------------------------------------------------------------- */

namespace {

/* A stored value as a label value: a whole number from 0 to 65535. */
int Value_Whole(double stored, int *value)
{
    double rounded = floor(stored + 0.5);
    if (!(rounded >= 0.0 && rounded <= AZ_LABELS_VALUE_MAX) || fabs(stored - rounded) > 1e-3)
        return 0;
    *value = static_cast<int>(rounded);
    return 1;
}

/* Tags beyond the volume's values stand for fresh values: the next unused
 * ones above the highest in use (from 1 again past 65535), so that a new
 * region painted never merges with an existing one in the file. */
void Fresh_Values(const std::vector<char> &used, int first_free_tag, int highest, AzLabels *labels)
{
    int value = highest;
    for (int tag = first_free_tag; tag < 256; tag++) {
        do
            value = value >= AZ_LABELS_VALUE_MAX ? 1 : value + 1;
        while (used[value]);
        labels->values[tag] = static_cast<uint16_t>(value);
    }
}

} // namespace

int AzLabels_Values_Set(const std::vector<double> &stored, AzLabels *labels, std::string *error)
{
    std::vector<char> used(AZ_LABELS_VALUE_MAX + 1, 0);
    std::vector<uint16_t> whole(stored.size());
    for (size_t i = 0; i < stored.size(); i++) {
        int value = 0;
        if (!Value_Whole(stored[i], &value)) {
            char text[160];
            snprintf(text, sizeof(text), "label value %g at voxel %zu is not a whole number from 0 to %d", stored[i],
                     i, AZ_LABELS_VALUE_MAX);
            *error = text;
            return 0;
        }
        whole[i] = static_cast<uint16_t>(value);
        used[value] = 1;
    }
    std::vector<int> in_volume;
    for (int value = 1; value <= AZ_LABELS_VALUE_MAX; value++)
        if (used[value])
            in_volume.push_back(value);
    if (in_volume.size() > AZ_LABELS_TAGS_MAX) {
        char text[160];
        snprintf(text, sizeof(text), "%d distinct label values (%d to %d): the host's tags hold at most %d at once",
                 static_cast<int>(in_volume.size()), in_volume.front(), in_volume.back(), AZ_LABELS_TAGS_MAX);
        *error = text;
        return 0;
    }
    labels->values_nb = static_cast<int>(in_volume.size());
    labels->value_min = in_volume.empty() ? 0 : in_volume.front();
    labels->value_max = in_volume.empty() ? 0 : in_volume.back();
    std::vector<int> named;
    for (const auto &entry : labels->value_names)
        if (entry.first > 0 && !used[entry.first])
            named.push_back(entry.first);
    int highest = std::max(labels->value_max, named.empty() ? 0 : named.back());
    std::vector<uint8_t> tag_of(AZ_LABELS_VALUE_MAX + 1, 0);
    if (highest <= AZ_LABELS_TAGS_MAX) {
        // Values that fit keep their number: the tag a user sees is the atlas's own.
        for (int tag = 0; tag < 256; tag++) {
            labels->values[tag] = static_cast<uint16_t>(tag);
            tag_of[tag] = static_cast<uint8_t>(tag);
        }
    } else {
        std::vector<int> mapped = in_volume;
        if (mapped.size() + named.size() <= AZ_LABELS_TAGS_MAX)
            mapped.insert(mapped.end(), named.begin(), named.end());
        std::sort(mapped.begin(), mapped.end());
        labels->values[0] = 0;
        for (size_t i = 0; i < mapped.size(); i++) {
            labels->values[i + 1] = static_cast<uint16_t>(mapped[i]);
            tag_of[mapped[i]] = static_cast<uint8_t>(i + 1);
            used[mapped[i]] = 1;
        }
        Fresh_Values(used, static_cast<int>(mapped.size()) + 1, mapped.empty() ? 0 : mapped.back(), labels);
    }
    labels->tags.resize(whole.size());
    for (size_t i = 0; i < whole.size(); i++)
        labels->tags[i] = tag_of[whole[i]];
    return 1;
}

void AzLabels_Tables_Set(AzLabels *labels)
{
    for (int tag = 0; tag < 256; tag++) {
        int value = labels->values[tag];
        auto colour = labels->value_colours.find(value);
        if (colour != labels->value_colours.end())
            for (int c = 0; c < 3; c++)
                labels->colours[tag][c] = colour->second[c];
        auto name = labels->value_names.find(value);
        labels->names[tag] = name != labels->value_names.end() && tag > 0 ? name->second : std::string();
    }
}

/* ------------------------------------------------------------------------
 * Placement on a study
 * --------------------------------------------------------------------- */

namespace {

struct Mat3 {
    double m[3][3];
};

AzVec3 Mat3_Apply(const Mat3 &a, AzVec3 v)
{
    return {a.m[0][0] * v.x + a.m[0][1] * v.y + a.m[0][2] * v.z, a.m[1][0] * v.x + a.m[1][1] * v.y + a.m[1][2] * v.z,
            a.m[2][0] * v.x + a.m[2][1] * v.y + a.m[2][2] * v.z};
}

/* Inverse of the label affine's voxel axes; 0 when they are degenerate. */
int Label_Inverse(const AzLabels &labels, Mat3 *inverse)
{
    const double (*a)[4] = labels.affine;
    double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                 a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    if (!(fabs(det) > 1e-12))
        return 0;
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 3; c++) {
            // Cofactor of (c, r), transposed.
            int r0 = (c + 1) % 3, r1 = (c + 2) % 3, c0 = (r + 1) % 3, c1 = (r + 2) % 3;
            inverse->m[r][c] = (a[r0][c0] * a[r1][c1] - a[r0][c1] * a[r1][c0]) / det;
        }
    return 1;
}

AzVec3 Label_Column(const AzLabels &labels, int c) { return {labels.affine[0][c], labels.affine[1][c], labels.affine[2][c]}; }
AzVec3 Label_Origin(const AzLabels &labels) { return Label_Column(labels, 3); }

/* World step from one frame of the series to the next. */
AzVec3 Series_Step(const AzSeries &series)
{
    size_t n = series.frames.size();
    if (n > 1)
        return AzVec3_Scale(AzVec3_Sub(series.frames[n - 1].position, series.frames[0].position), 1.0 / (n - 1));
    return AzVec3_Scale(series.axis_normal, series.spacing[2]);
}

/* The series' voxel axes as world steps: column, row, frame. */
void Series_Axes(const AzSeries &series, AzVec3 axes[3])
{
    axes[0] = AzVec3_Scale(series.axis_row, series.spacing[0]);
    axes[1] = AzVec3_Scale(series.axis_col, series.spacing[1]);
    axes[2] = Series_Step(series);
}

AzVec3 Series_Centre(const AzSeries &series)
{
    AzVec3 axes[3];
    Series_Axes(series, axes);
    AzVec3 first = series.frames.front().position, last = series.frames.back().position;
    AzVec3 middle = AzVec3_Scale(AzVec3_Add(first, last), 0.5);
    return AzVec3_Add(middle, AzVec3_Add(AzVec3_Scale(axes[0], (series.width - 1) * 0.5),
                                         AzVec3_Scale(axes[1], (series.height - 1) * 0.5)));
}

AzVec3 Labels_Centre(const AzLabels &labels)
{
    AzVec3 centre = Label_Origin(labels);
    const double half[3] = {(labels.width - 1) * 0.5, (labels.height - 1) * 0.5, (labels.depth - 1) * 0.5};
    for (int c = 0; c < 3; c++)
        centre = AzVec3_Add(centre, AzVec3_Scale(Label_Column(labels, c), half[c]));
    return centre;
}

std::string Size_Text(int a, int b, int c)
{
    char text[64];
    snprintf(text, sizeof(text), "%dx%dx%d", a, b, c);
    return text;
}

std::string Spacing_Text(const double s[3])
{
    char text[96];
    snprintf(text, sizeof(text), "%.4gx%.4gx%.4g mm", s[0], s[1], s[2]);
    return text;
}

/* The label voxel steps of one study voxel step along each axis:
 * columns of inverse * study axes. */
void Steps_In_Labels(const Mat3 &inverse, const AzVec3 axes[3], AzVec3 steps[3])
{
    for (int c = 0; c < 3; c++)
        steps[c] = Mat3_Apply(inverse, axes[c]);
}

/* The label axis each study axis runs along (sign included, 1-based), or
 * 0 when it runs along none (a rotation). */
int Axis_Along(AzVec3 step)
{
    AzVec3 unit = AzVec3_Unit(step);
    const double parts[3] = {unit.x, unit.y, unit.z};
    for (int a = 0; a < 3; a++)
        if (fabs(fabs(parts[a]) - 1.0) < 1e-3)
            return parts[a] > 0 ? a + 1 : -(a + 1);
    return 0;
}

/* Storage order and orientation words; empty when they agree. */
std::string Order_Text(const AzLabels &labels, const AzVec3 axes[3], const AzVec3 steps[3])
{
    static const char names[3] = {'x', 'y', 'z'};
    int along[3];
    for (int c = 0; c < 3; c++)
        along[c] = Axis_Along(steps[c]);
    if (!along[0] || !along[1] || !along[2]) {
        double worst = 0.0;
        for (int c = 0; c < 3; c++) {
            double best = 0.0;
            for (int a = 0; a < 3; a++)
                best = std::max(best, fabs(AzVec3_Dot(AzVec3_Unit(axes[c]), AzVec3_Unit(Label_Column(labels, a)))));
            worst = std::max(worst, acos(std::min(1.0, best)) * 57.29577951308232);
        }
        char text[96];
        snprintf(text, sizeof(text), "orientation rotated (axes up to %.1f degrees apart)", worst);
        return text;
    }
    std::string flipped, text;
    int permuted = 0;
    for (int c = 0; c < 3; c++) {
        permuted |= abs(along[c]) != c + 1;
        if (along[c] < 0)
            flipped += flipped.empty() ? std::string(1, names[c]) : std::string(", ") + names[c];
    }
    if (permuted)
        text = "axes stored in another order";
    if (!flipped.empty())
        text += (text.empty() ? "" : "; ") + std::string("storage order flipped along ") + flipped;
    return text;
}

void Join(std::string *text, const std::string &part)
{
    if (!part.empty())
        *text += (text->empty() ? "" : "; ") + part;
}

} // namespace

std::string AzLabels_Relation(const AzLabels &labels, const AzSeries &series)
{
    if (!labels.has_affine || series.frames.empty())
        return "no world geometry: taken slice for slice";
    Mat3 inverse;
    if (!Label_Inverse(labels, &inverse))
        return "degenerate voxel axes";
    AzVec3 axes[3], steps[3];
    Series_Axes(series, axes);
    Steps_In_Labels(inverse, axes, steps);
    int depth = static_cast<int>(series.frames.size());
    std::string text;
    if (labels.width != series.width || labels.height != series.height || labels.depth != depth)
        Join(&text, "size " + Size_Text(labels.width, labels.height, labels.depth) + " against the study's " +
                        Size_Text(series.width, series.height, depth));
    double label_spacing[3], study_spacing[3];
    for (int c = 0; c < 3; c++) {
        label_spacing[c] = AzVec3_Norm(Label_Column(labels, c));
        study_spacing[c] = AzVec3_Norm(axes[c]);
    }
    double a[3], b[3];
    std::copy(label_spacing, label_spacing + 3, a);
    std::copy(study_spacing, study_spacing + 3, b);
    std::sort(a, a + 3);
    std::sort(b, b + 3);
    if (fabs(a[0] - b[0]) > 1e-3 * b[0] || fabs(a[1] - b[1]) > 1e-3 * b[1] || fabs(a[2] - b[2]) > 1e-3 * b[2])
        Join(&text, "spacing " + Spacing_Text(label_spacing) + " against the study's " + Spacing_Text(study_spacing));
    Join(&text, Order_Text(labels, axes, steps));
    double apart = AzVec3_Norm(AzVec3_Sub(Labels_Centre(labels), Series_Centre(series)));
    if (apart > 0.5 * std::min(b[0], a[0])) {
        char words[64];
        snprintf(words, sizeof(words), "centres %.1f mm apart", apart);
        Join(&text, words);
    }
    if (text.empty()) {
        AzVec3 at = Mat3_Apply(inverse, AzVec3_Sub(series.frames[0].position, Label_Origin(labels)));
        if (AzVec3_Norm(at) > 1e-3) {
            char words[96];
            snprintf(words, sizeof(words), "grids offset by (%.2f, %.2f, %.2f) voxels", at.x, at.y, at.z);
            Join(&text, words);
        }
    }
    return text.empty() ? "the study's grid" : text;
}

namespace {

/* Labels without world geometry: the series' size, slice for slice in
 * source order. */
int Place_By_Index(const AzLabels &labels, const AzSeries &series, AzLabels_Placed *placed, std::string *error)
{
    if (labels.width != series.width || labels.height != series.height ||
        labels.depth != static_cast<int>(series.frames.size())) {
        *error = "label volume " + Size_Text(labels.width, labels.height, labels.depth) +
                 " does not match the study's grid " +
                 Size_Text(series.width, series.height, static_cast<int>(series.frames.size()));
        return 0;
    }
    size_t plane = static_cast<size_t>(series.width) * series.height;
    placed->tags.resize(plane * series.frames.size());
    for (size_t k = 0; k < series.frames.size(); k++)
        std::copy_n(labels.tags.begin() + series.frames[k].source_index * plane, plane, placed->tags.begin() + k * plane);
    placed->same_grid = 1;
    placed->relation = "the study's grid";
    placed->inside_nb = placed->total_nb = static_cast<long long>(placed->tags.size());
    return 1;
}

/* Nearest label voxel index along one axis, -1 outside.  Inside, u + 0.5
 * is not negative, so truncation is the floor (and much cheaper). */
inline int Nearest(double u, int size)
{
    double shifted = u + 0.5;
    return shifted >= 0.0 && shifted < size ? static_cast<int>(shifted) : -1;
}

/* One frame of the series: each pixel's world position taken into label
 * voxels (start of each row plus column steps), nearest label. */
long long Frame_Place(const AzLabels &labels, AzVec3 start, const AzVec3 steps[3], int width, int height,
                      uint8_t *out)
{
    long long inside = 0;
    size_t plane = static_cast<size_t>(labels.width) * labels.height;
    for (int y = 0; y < height; y++) {
        AzVec3 row = AzVec3_Add(start, AzVec3_Scale(steps[1], y));
        for (int x = 0; x < width; x++) {
            int i = Nearest(row.x + steps[0].x * x, labels.width);
            int j = Nearest(row.y + steps[0].y * x, labels.height);
            int k = Nearest(row.z + steps[0].z * x, labels.depth);
            if (i < 0 || j < 0 || k < 0) {
                out[static_cast<size_t>(y) * width + x] = 0;
                continue;
            }
            out[static_cast<size_t>(y) * width + x] = labels.tags[k * plane + static_cast<size_t>(j) * labels.width + i];
            inside++;
        }
    }
    return inside;
}

} // namespace

int AzLabels_Place(const AzLabels &labels, const AzSeries &series, AzLabels_Placed *placed, std::string *error)
{
    *placed = AzLabels_Placed();
    if (series.frames.empty()) {
        *error = "the study has no frames";
        return 0;
    }
    if (!labels.has_affine)
        return Place_By_Index(labels, series, placed, error);
    Mat3 inverse;
    if (!Label_Inverse(labels, &inverse)) {
        *error = labels.source + ": the label volume's voxel axes are degenerate";
        return 0;
    }
    AzVec3 axes[3], steps[3];
    Series_Axes(series, axes);
    Steps_In_Labels(inverse, axes, steps);
    size_t plane = static_cast<size_t>(series.width) * series.height;
    placed->tags.assign(plane * series.frames.size(), 0);
    placed->total_nb = static_cast<long long>(placed->tags.size());
    for (size_t k = 0; k < series.frames.size(); k++) {
        AzVec3 start = Mat3_Apply(inverse, AzVec3_Sub(series.frames[k].position, Label_Origin(labels)));
        placed->inside_nb += Frame_Place(labels, start, steps, series.width, series.height,
                                         placed->tags.data() + k * plane);
    }
    placed->relation = AzLabels_Relation(labels, series);
    placed->same_grid = placed->relation == "the study's grid";
    if (placed->inside_nb == 0) {
        *error = labels.source + ": the label volume does not overlap the study at all (" + placed->relation + ")";
        return 0;
    }
    return 1;
}

/* ------------------------------------------------------------------------
 * The host's tags
 * --------------------------------------------------------------------- */

namespace {

struct Tag_Map {
    uint16_t values[256];
    std::string names[256];

    Tag_Map() { Reset(); }
    void Reset()
    {
        for (int tag = 0; tag < 256; tag++) {
            values[tag] = static_cast<uint16_t>(tag);
            names[tag].clear();
        }
    }
};

Tag_Map tag_map;
std::atomic<long> change_count(0);
std::atomic<long> saved_count(0);

std::string Lower(const std::string &text)
{
    std::string lower = text;
    for (char &c : lower)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return lower;
}

} // namespace

void AzTags_Map_Set(const AzLabels &labels)
{
    for (int tag = 0; tag < 256; tag++) {
        tag_map.values[tag] = labels.values[tag];
        tag_map.names[tag] = labels.names[tag];
    }
    if (!labels.has_colours)
        return;
    // Tags whose value the table leaves out (fresh ones among them) keep the host's own distinct colours.
    AzGl_Tags_Default();
    for (int tag = 1; tag < AZ_GL_TAG_TABLE; tag++)
        if (labels.value_colours.count(labels.values[tag]))
            AzGl_Tag_Set(tag, labels.colours[tag][0], labels.colours[tag][1], labels.colours[tag][2], 0.5f);
}

void AzTags_Map_Reset(void) { tag_map.Reset(); }

int AzTags_Value(int tag) { return tag >= 0 && tag < 256 ? tag_map.values[tag] : 0; }

int AzTags_Of_Value(int value)
{
    for (int tag = 0; tag < 256; tag++)
        if (tag_map.values[tag] == value)
            return tag;
    return -1;
}

std::string AzTags_Name(int tag) { return tag > 0 && tag < 256 ? tag_map.names[tag] : std::string(); }

std::string AzTags_Text(int tag)
{
    char text[64];
    int value = AzTags_Value(tag);
    if (value != tag)
        snprintf(text, sizeof(text), "tag %d (label %d)", tag, value);
    else
        snprintf(text, sizeof(text), "tag %d", tag);
    std::string name = AzTags_Name(tag);
    return name.empty() ? std::string(text) : std::string(text) + ": " + name;
}

std::vector<int> AzTags_Matches(const std::string &typed)
{
    std::vector<int> found;
    if (typed.empty())
        return found;
    char *end = nullptr;
    long number = strtol(typed.c_str(), &end, 10);
    if (*end == '\0' && number >= 0 && number < 256)
        found.push_back(static_cast<int>(number));
    std::string wanted = Lower(typed);
    for (int pass = 0; pass < 2; pass++)
        for (int tag = 1; tag < 256; tag++) {
            std::string name = Lower(tag_map.names[tag]);
            size_t at = name.empty() ? std::string::npos : name.find(wanted);
            int fits = pass == 0 ? at == 0 : at != std::string::npos && at > 0;
            if (fits && std::find(found.begin(), found.end(), tag) == found.end())
                found.push_back(tag);
        }
    return found;
}

void AzTags_Changed(void) { change_count++; }
void AzTags_Saved(void) { saved_count.store(change_count.load()); }
int AzTags_Unsaved(void) { return change_count.load() != saved_count.load(); }
long AzTags_Change_Count(void) { return change_count.load(); }

int AzTags_Paint_Disc(AzFrame *frame, int cx, int cy, float r, int tag, AzTags_Visit visit, void *user)
{
    int width = 0, height = 0;
    if (!frame || !AzFrame_Get_Dim(frame, &width, &height))
        return 0;
    int reach = static_cast<int>(ceilf(r));
    int set_nb = 0;
    for (int dy = -reach; dy <= reach; dy++)
        for (int dx = -reach; dx <= reach; dx++) {
            int x = cx + dx, y = cy + dy;
            if (dx * dx + dy * dy > r * r + 0.25f || x < 0 || y < 0 || x >= width || y >= height)
                continue;
            float fx = static_cast<float>(x), fy = static_cast<float>(y);
            int old = AzFrame_Get_TAG(frame, fx, fy);
            if (!AzFrame_Set_TAG(frame, fx, fy, static_cast<unsigned char>(tag)))
                continue;
            set_nb++;
            if (visit)
                visit(user, x, y, old);
        }
    if (set_nb > 0)
        AzTags_Changed();
    return set_nb;
}
