/*
 * Common parts of the study readers.
 */
#include "az_series.h"

#include <math.h>
#include <stdarg.h>
#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>

#include "../../host/corvantis_util.h"

double AzVec3_Norm(AzVec3 a) { return sqrt(AzVec3_Dot(a, a)); }

AzVec3 AzVec3_Unit(AzVec3 a)
{
    double norm = AzVec3_Norm(a);
    return norm > 0.0 ? AzVec3_Scale(a, 1.0 / norm) : a;
}

AzSeries::AzSeries()
    : width(0), height(0), times_nb(1), axis_row{1, 0, 0}, axis_col{0, 1, 0}, axis_normal{0, 0, 1},
      spacing{1, 1, 1}, display_mode(AZ_DISPLAY_UNSET), display_low(0.0f), display_high(0.0f), slope(1.0),
      intercept(0.0), source_slope(0.0), source_intercept(0.0), clamped_nb(0)
{
}

AzLabels::AzLabels()
    : width(0), height(0), depth(0), has_affine(0), affine{}, values(256), values_nb(0), value_min(0), value_max(0),
      has_colours(0), colours{}, names(256)
{
    for (int tag = 0; tag < 256; tag++)
        values[tag] = static_cast<uint16_t>(tag);
}

void AzLoad_Problem(AzLoad_Report *report, const std::string &file, const char *format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    std::string line = file + ": " + text;
    report->problems.push_back(line);
    Error_Fct(hwnd, 2, "%s", line.c_str());
}

namespace {

bool Level_Exact(double value) { return value >= -32768.0 && value <= 32767.0 && value == floor(value); }

/* One pass over every value of a study, levels and real values alike. */
template <class Fct> void Values_Each(const AzSeries &series, Fct fct)
{
    for (const AzSeries_Frame &frame : series.frames) {
        for (int16_t level : frame.gli)
            fct(static_cast<double>(level));
        for (float value : frame.real)
            fct(static_cast<double>(value));
    }
}

struct Value_Range {
    double low, high;
    bool whole; /* every value a whole number */
    bool any;
};

Value_Range Range_Of(const AzSeries &series)
{
    Value_Range range = {0.0, 0.0, true, false};
    Values_Each(series, [&range](double value) {
        if (!std::isfinite(value))
            return;
        range.low = range.any ? std::min(range.low, value) : value;
        range.high = range.any ? std::max(range.high, value) : value;
        range.whole = range.whole && value == floor(value);
        range.any = true;
    });
    return range;
}

/* Whether every value is a level of the scale, to the precision the real
 * values were kept in (float). */
bool Scale_Holds(const AzSeries &series, double slope, double intercept)
{
    bool holds = true;
    Values_Each(series, [&](double value) {
        if (!holds || !std::isfinite(value))
            return;
        double level = (value - intercept) / slope;
        double slack = 1e-3 + fabs(value) * 1.2e-7 / fabs(slope);
        holds = level >= -32768.5 && level <= 32767.5 && fabs(level - floor(level + 0.5)) <= slack;
    });
    return holds;
}

/* The study's scale: exact for whole numbers of a 16-bit span and for
 * values the file's own scale holds, else the range over the levels. */
void Scale_Pick(const AzSeries &series, const Value_Range &range, double *slope, double *intercept)
{
    *slope = 1.0;
    *intercept = 0.0;
    if (!range.any) // nothing but values no level holds
        return;
    if (range.whole && range.high - range.low <= 65535.0) {
        if (range.low < -32768.0 || range.high > 32767.0)
            *intercept = range.low + 32768.0;
        return;
    }
    if (series.source_slope != 0.0 && Scale_Holds(series, series.source_slope, series.source_intercept)) {
        *slope = series.source_slope;
        *intercept = series.source_intercept;
        return;
    }
    if (range.high == range.low) {
        *intercept = range.low;
        return;
    }
    // One level to spare on each side, so that the intercept may be a whole number of slopes from 0.
    *slope = (range.high - range.low) / 65534.0;
    *intercept = *slope * floor((range.low + 32767.0 * *slope) / *slope + 0.5);
}

/* The scale the levels are written with, as the file headers (float) keep it. */
void Scale_Choose(AzSeries *series)
{
    double slope, intercept;
    Scale_Pick(*series, Range_Of(*series), &slope, &intercept);
    series->slope = static_cast<float>(slope);
    series->intercept = static_cast<float>(intercept);
}

int16_t Level_Of(double value, double slope, double intercept, int *clamped_nb)
{
    double level = floor((value - intercept) / slope + 0.5);
    if (!(level >= -32768.0)) { // also catches NaN
        (*clamped_nb)++;
        return -32768;
    }
    if (level > 32767.0) {
        (*clamped_nb)++;
        return 32767;
    }
    return static_cast<int16_t>(level);
}

} // namespace

void AzFrame_Values_Add(AzSeries_Frame *frame, const double *values, size_t count)
{
    bool exact = frame->real.empty();
    for (size_t i = 0; i < count && exact; i++)
        exact = Level_Exact(values[i]);
    if (exact) {
        frame->gli.insert(frame->gli.end(), values, values + count);
        return;
    }
    if (frame->real.empty()) {
        frame->real.assign(frame->gli.begin(), frame->gli.end());
        frame->gli.clear();
    }
    frame->real.insert(frame->real.end(), values, values + count);
}

void AzSeries_Levels_Set(AzSeries *series)
{
    bool any_real = false;
    for (const AzSeries_Frame &frame : series->frames)
        any_real = any_real || !frame.real.empty();
    if (!any_real) {
        series->slope = 1.0;
        series->intercept = 0.0;
        return;
    }
    Scale_Choose(series);
    for (AzSeries_Frame &frame : series->frames) {
        if (frame.real.empty()) {
            for (int16_t &level : frame.gli)
                level = Level_Of(level, series->slope, series->intercept, &series->clamped_nb);
            continue;
        }
        frame.gli.resize(frame.real.size());
        for (size_t i = 0; i < frame.real.size(); i++)
            frame.gli[i] = Level_Of(frame.real[i], series->slope, series->intercept, &series->clamped_nb);
        std::vector<float>().swap(frame.real);
    }
    if (series->display_mode != AZ_DISPLAY_UNSET) {
        series->display_low = static_cast<float>((series->display_low - series->intercept) / series->slope);
        series->display_high = static_cast<float>((series->display_high - series->intercept) / series->slope);
    }
}

void AzSeries_Sort(AzSeries *series)
{
    // Stable: frames at one location keep the order in which they were read.
    std::stable_sort(series->frames.begin(), series->frames.end(), [series](const AzSeries_Frame &a, const AzSeries_Frame &b) {
        return series->Location(a) < series->Location(b);
    });
    size_t count = series->frames.size();
    if (count < 2)
        return;
    double span = series->Location(series->frames[count - 1]) - series->Location(series->frames[0]);
    if (span > 0.0)
        series->spacing[2] = span / static_cast<double>(count - 1);
}

void AzSeries_Display_From_Range(AzSeries *series)
{
    int low = 32767, high = -32768;
    for (const AzSeries_Frame &frame : series->frames)
        for (int16_t value : frame.gli) {
            low = std::min<int>(low, value);
            high = std::max<int>(high, value);
        }
    if (low > high)
        low = high = 0;
    if (low == high)
        high = low + 1;
    series->display_mode = AZ_DISPLAY_MIN_MAX;
    series->display_low = static_cast<float>(low);
    series->display_high = static_cast<float>(high);
}

int AzPath_Ends_With(const std::string &path, const char *suffix)
{
    size_t length = strlen(suffix);
    if (path.size() < length)
        return 0;
    for (size_t i = 0; i < length; i++)
        if (tolower(static_cast<unsigned char>(path[path.size() - length + i])) !=
            tolower(static_cast<unsigned char>(suffix[i])))
            return 0;
    return 1;
}

std::string AzPath_Base_Name(const std::string &path, const char *const *suffixes)
{
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    size_t slash = trimmed.find_last_of('/');
    std::string name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
    for (const char *const *suffix = suffixes; suffix && *suffix; suffix++)
        if (name.size() > strlen(*suffix) && AzPath_Ends_With(name, *suffix))
            return name.substr(0, name.size() - strlen(*suffix));
    return name;
}

namespace {

/* What a file holds, by its first bytes (gzip undone). */
enum File_Kind { KIND_OTHER, KIND_NIFTI, KIND_NIFTI_GZ, KIND_DICOM };

int32_t Int32_At(const unsigned char *bytes)
{
    int32_t value;
    memcpy(&value, bytes, sizeof(value));
    return value;
}

int32_t Int32_Swapped(int32_t value)
{
    uint32_t u = static_cast<uint32_t>(value);
    return static_cast<int32_t>((u >> 24) | ((u >> 8) & 0xff00u) | ((u << 8) & 0xff0000u) | (u << 24));
}

File_Kind File_Kind_Of(const std::string &path)
{
    unsigned char head[2] = {0, 0};
    unsigned char bytes[352];
    memset(bytes, 0, sizeof(bytes));
    FILE *raw = fopen(path.c_str(), "rb");
    if (!raw)
        return KIND_OTHER;
    size_t got_raw = fread(head, 1, 2, raw);
    fclose(raw);
    int gzip = got_raw == 2 && head[0] == 0x1f && head[1] == 0x8b;
    gzFile file = gzopen(path.c_str(), "rb");
    if (!file)
        return KIND_OTHER;
    int got = gzread(file, bytes, sizeof(bytes));
    gzclose(file);
    if (got >= 348) {
        int32_t size = Int32_At(bytes);
        int nifti1 = (size == 348 || Int32_Swapped(size) == 348) &&
                     (memcmp(bytes + 344, "n+1", 4) == 0 || memcmp(bytes + 344, "ni1", 4) == 0);
        int nifti2 = (size == 540 || Int32_Swapped(size) == 540) && memcmp(bytes + 4, "n+2", 4) == 0;
        if (nifti1 || nifti2)
            return gzip ? KIND_NIFTI_GZ : KIND_NIFTI;
    }
    if (!gzip && got >= 132 && memcmp(bytes + 128, "DICM", 4) == 0)
        return KIND_DICOM;
    return KIND_OTHER;
}

/* A NIfTI file known by its content.  The NIfTI library finds files by
 * their extension, so a file without one is read through a link that has
 * it; the series keeps the user's name. */
int Nifti_By_Content(const std::string &path, File_Kind kind, std::vector<AzSeries> *series, AzLoad_Report *report)
{
    AzSeries one;
    std::string extension = kind == KIND_NIFTI_GZ ? ".nii.gz" : ".nii";
    if (AzPath_Ends_With(path, extension.c_str())) {
        if (!AzNifti_Read(path, &one, report))
            return 0;
        series->push_back(std::move(one));
        return 1;
    }
    char folder[] = "/tmp/azozude-link.XXXXXX";
    if (!mkdtemp(folder)) {
        AzLoad_Problem(report, path, "cannot read: %s", strerror(errno));
        return 0;
    }
    std::string name = AzPath_Base_Name(path, nullptr);
    std::string link = std::string(folder) + "/" + name + extension;
    char absolute[PATH_MAX];
    int read = 0;
    if (realpath(path.c_str(), absolute) && symlink(absolute, link.c_str()) == 0) {
        read = AzNifti_Read(link, &one, report);
        unlink(link.c_str());
    }
    rmdir(folder);
    if (!read)
        return 0;
    one.source = one.uid = path;
    one.name = name;
    series->push_back(std::move(one));
    return 1;
}

/* The files of a folder and its subfolders, in name order (hidden ones left out). */
void Files_Walk(const std::string &folder, std::vector<std::string> *files)
{
    DIR *dir = opendir(folder.c_str());
    if (!dir)
        return;
    std::vector<std::string> names;
    while (struct dirent *entry = readdir(dir))
        if (entry->d_name[0] != '.')
            names.push_back(entry->d_name);
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        std::string path = folder + "/" + name;
        struct stat info;
        if (stat(path.c_str(), &info) != 0)
            continue;
        if (S_ISDIR(info.st_mode))
            Files_Walk(path, files);
        else if (S_ISREG(info.st_mode))
            files->push_back(path);
    }
}

/* A folder: its NIfTI files each a study; DICOM files as the DICOM reader
 * finds them.  A folder without NIfTI files is the DICOM reader's alone. */
int Folder_Read(const std::string &path, std::vector<AzSeries> *series, AzLoad_Report *report)
{
    std::vector<std::string> files;
    Files_Walk(path, &files);
    std::vector<std::pair<std::string, File_Kind>> nifti;
    int dicom = 0, other = 0;
    for (const std::string &file : files) {
        File_Kind kind = File_Kind_Of(file);
        if (kind == KIND_NIFTI || kind == KIND_NIFTI_GZ)
            nifti.push_back({file, kind});
        else if (kind == KIND_DICOM)
            dicom++;
        else
            other++;
    }
    if (nifti.empty())
        return AzDicom_Read(path, series, report);
    int read_nb = 0;
    for (const auto &entry : nifti)
        read_nb += Nifti_By_Content(entry.first, entry.second, series, report);
    if (dicom > 0)
        read_nb += AzDicom_Read(path, series, report);
    else if (other > 0) {
        report->files_seen += other;
        report->files_bad += other;
        AzLoad_Problem(report, path, "%d files are neither NIfTI nor DICOM", other);
    }
    return read_nb;
}

} // namespace

int AzStudy_Read(const std::string &path, std::vector<AzSeries> *series, AzLoad_Report *report)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        report->files_seen++;
        report->files_bad++;
        AzLoad_Problem(report, path, "no such file or folder");
        return 0;
    }
    if (S_ISDIR(info.st_mode))
        return Folder_Read(path, series, report);
    File_Kind kind = File_Kind_Of(path);
    if (kind == KIND_NIFTI || kind == KIND_NIFTI_GZ)
        return Nifti_By_Content(path, kind, series, report);
    // A file named as NIfTI that is none: the NIfTI reader says what is wrong with it.
    if (kind != KIND_DICOM && (AzPath_Ends_With(path, ".nii") || AzPath_Ends_With(path, ".nii.gz"))) {
        AzSeries one;
        if (!AzNifti_Read(path, &one, report))
            return 0;
        series->push_back(std::move(one));
        return 1;
    }
    return AzDicom_Read(path, series, report);
}

void AzOrient_Mirror(AzVec3 row, AzVec3 col, int *mirror_x, int *mirror_y)
{
    AzVec3 normal = AzVec3_Cross(row, col);
    double nx = fabs(normal.x), ny = fabs(normal.y), nz = fabs(normal.z);
    bool sagittal = nx > ny && nx > nz, axial = nz >= nx && nz >= ny;
    // Screen right: +x (the patient's left), on sagittal frames +y (posterior); screen down: +y on axial frames
    // (posterior), else -z (inferior).
    *mirror_x = (sagittal ? row.y : row.x) < 0.0;
    *mirror_y = (axial ? col.y : -col.z) < 0.0;
}
