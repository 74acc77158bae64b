/*
 * Studies as the readers deliver them, before they enter the database: a
 * series of single-slice frames with their world geometry (millimetres,
 * patient LPS axes) and grey levels: signed 16-bit levels with one slope
 * and intercept per study that give back the real values; and label
 * volumes.  Readers fill these forms so that DICOM and NIfTI studies enter
 * the database through one path.
 */
#ifndef AZ_SERIES_H
#define AZ_SERIES_H

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "../../host/az_win32.h"
#include "az_vec3.h"

/* One frame: one image header of one slice and times_nb time points. */
struct AzSeries_Frame {
    AzVec3 position;          /* world position of pixel (0, 0) */
    std::vector<int16_t> gli; /* times_nb planes of width * height, row after row */
    std::vector<float> real;  /* the same planes as real values, while they do not
                                 fit gli as they are (AzSeries_Levels_Set empties it) */
    std::string file_name;    /* where the frame came from */
    int source_index;         /* slice index in its source volume (NIfTI k, DICOM frame number) */
};

/* Display byte of headers whose two display values are the window's
 * minimum and maximum (the byte 1 means centre and width to the host's
 * colour set-up). */
#define AZ_DISPLAY_MIN_MAX 0
/* Whether a series has display values yet. */
#define AZ_DISPLAY_UNSET 0xff

struct AzSeries {
    std::string name;          /* the study's name in the database */
    std::string source;        /* the file or folder it was read from */
    std::string uid, description, patient_name, modality;
    std::string number;        /* the scanner's series number, empty when unknown */
    int width, height, times_nb;
    AzVec3 axis_row;           /* unit direction of increasing column */
    AzVec3 axis_col;           /* unit direction of increasing row */
    AzVec3 axis_normal;        /* axis_row x axis_col */
    double spacing[3];         /* column step, row step, slice step (mm) */
    unsigned char display_mode;  /* AZ_DISPLAY_UNSET until a window is known */
    float display_low, display_high;
    double slope, intercept;   /* real value = grey level * slope + intercept */
    double source_slope, source_intercept; /* the file's own scale, when all its images
                                              share one (slope 0: none) */
    int clamped_nb;            /* values that no level holds (NaN, infinite) */
    std::vector<AzSeries_Frame> frames; /* in ascending location */

    AzSeries();
    /* Location of a frame: its position along the normal. */
    double Location(const AzSeries_Frame &frame) const { return AzVec3_Dot(frame.position, axis_normal); }
};

/* A label volume with its world geometry, colours and names.  Its values
 * are held as the host's 8-bit tags; values[tag] is the value a tag stands
 * for (az_labels.h). */
struct AzLabels {
    std::string source;
    int width, height, depth;
    int has_affine;                   /* 0: no world geometry, the volume must be on the study's grid */
    double affine[3][4];              /* voxel (i, j, k) -> world LPS (mm): column 3 is the origin */
    std::vector<uint8_t> tags;        /* depth planes of width * height, in source slice order */
    std::vector<uint16_t> values;     /* 256 entries: the label value of each tag (identity by default) */
    int values_nb;                    /* distinct non-zero values in the volume */
    int value_min, value_max;         /* of the non-zero values (0 when none) */
    int has_colours;
    unsigned char colours[256][3];    /* red, green, blue per tag */
    std::vector<std::string> names;   /* 256 entries per tag, empty when unnamed */
    std::map<int, std::vector<unsigned char>> value_colours; /* per label value, as read beside the volume */
    std::map<int, std::string> value_names;

    AzLabels();
};

/* Appends count real values to a frame's planes: as levels while they
 * are whole numbers that fit 16 bits, else as real values. */
AZ_EXPORT void AzFrame_Values_Add(AzSeries_Frame *frame, const double *values, size_t count);

/* Chooses the study's slope and intercept and turns every frame's real
 * values into levels: whole numbers spanning at most 65536 values stay
 * exact (slope 1), so does data that the file's own scale holds exactly;
 * anything else spreads its range over the 16-bit levels (within 1/131000
 * of the range).  The display window, given as real values, becomes
 * levels.  Values no level holds are counted in clamped_nb. */
AZ_EXPORT void AzSeries_Levels_Set(AzSeries *series);

/* Real value of a level of the study. */
inline double AzSeries_Real(const AzSeries &series, double level) { return level * series.slope + series.intercept; }

/* Sorts the frames by location and sets the slice step from their spacing
 * along the normal (keeps the given step when there is one frame only). */
AZ_EXPORT void AzSeries_Sort(AzSeries *series);

/* Window from the grey levels' range when the source gave none. */
AZ_EXPORT void AzSeries_Display_From_Range(AzSeries *series);

#endif
