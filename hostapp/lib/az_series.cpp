/*
 * The forms the readers fill: a series' grey levels and their scale, its
 * frames in order, its display window; a label volume's defaults.
 */
#include "az_series.h"

#include <math.h>

#include <algorithm>
#include <cmath>

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
