/*
 * Common parts of the study readers.
 */
#include "az_series.h"

#include <math.h>
#include <stdarg.h>
#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>

#include "../../host/corvantis_util.h"

double AzVec3_Norm(AzVec3 a) { return sqrt(AzVec3_Dot(a, a)); }

AzVec3 AzVec3_Unit(AzVec3 a)
{
    double norm = AzVec3_Norm(a);
    return norm > 0.0 ? AzVec3_Scale(a, 1.0 / norm) : a;
}

AzSeries::AzSeries()
    : width(0), height(0), times_nb(1), axis_row{1, 0, 0}, axis_col{0, 1, 0}, axis_normal{0, 0, 1},
      spacing{1, 1, 1}, display_mode(AZ_DISPLAY_UNSET), display_low(0.0f), display_high(0.0f), clamped_nb(0)
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

int16_t AzGrey_From(double value, int *clamped_nb)
{
    double rounded = floor(value + 0.5);
    if (!(rounded >= -32768.0)) { // also catches NaN
        (*clamped_nb)++;
        return -32768;
    }
    if (rounded > 32767.0) {
        (*clamped_nb)++;
        return 32767;
    }
    return static_cast<int16_t>(rounded);
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

int AzStudy_Read(const std::string &path, std::vector<AzSeries> *series, AzLoad_Report *report)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        report->files_seen++;
        report->files_bad++;
        AzLoad_Problem(report, path, "no such file or folder");
        return 0;
    }
    if (!S_ISDIR(info.st_mode) && (AzPath_Ends_With(path, ".nii") || AzPath_Ends_With(path, ".nii.gz"))) {
        AzSeries one;
        if (!AzNifti_Read(path, &one, report))
            return 0;
        series->push_back(std::move(one));
        return 1;
    }
    return AzDicom_Read(path, series, report);
}

void AzProgress_Start(AzProgress *progress, const std::string &what, long total)
{
    progress->what = what;
    progress->total = total;
    progress->last_tenth = 0;
}

void AzProgress_Step(AzProgress *progress, long done)
{
    if (progress->total <= 0)
        return;
    int tenth = static_cast<int>(done * 10 / progress->total);
    if (tenth <= progress->last_tenth)
        return;
    progress->last_tenth = tenth;
    Error_Fct(hwnd, 4, "%s: %d%%", progress->what.c_str(), tenth * 10);
}
