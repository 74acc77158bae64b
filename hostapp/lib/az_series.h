/*
 * Studies as the readers deliver them, before they enter the database: a
 * series of single-slice frames with their world geometry (millimetres,
 * patient LPS axes) and grey levels: signed 16-bit levels with one slope
 * and intercept per study that give back the real values.
 * Readers fill this form so that DICOM and NIfTI studies enter the
 * database through one path.
 */
#ifndef AZ_SERIES_H
#define AZ_SERIES_H

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "../../host/az_win32.h"

struct AzVec3 {
    double x, y, z;
};

inline AzVec3 AzVec3_Add(AzVec3 a, AzVec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline AzVec3 AzVec3_Sub(AzVec3 a, AzVec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline AzVec3 AzVec3_Scale(AzVec3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline double AzVec3_Dot(AzVec3 a, AzVec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline AzVec3 AzVec3_Cross(AzVec3 a, AzVec3 b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
AZ_EXPORT double AzVec3_Norm(AzVec3 a);
/* a / |a|; a itself when it has no length. */
AZ_EXPORT AzVec3 AzVec3_Unit(AzVec3 a);

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

/* What a load met: every problem is also reported on the console. */
struct AzLoad_Report {
    int files_seen;
    int files_bad;
    std::vector<std::string> problems;

    AzLoad_Report() : files_seen(0), files_bad(0) {}
};

/* Whether a path ends with a suffix, ignoring case (".nii.gz"). */
AZ_EXPORT int AzPath_Ends_With(const std::string &path, const char *suffix);
/* The last part of a path, trailing slashes ignored, less a suffix when
 * it ends with one of them (null-terminated list, may be null). */
AZ_EXPORT std::string AzPath_Base_Name(const std::string &path, const char *const *suffixes);

/* Records a problem with a file ("FILE: problem") and reports it at level 2. */
AZ_EXPORT void AzLoad_Problem(AzLoad_Report *report, const std::string &file, const char *format, ...)
    AZ_PRINTF(3, 4);

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

/* Reads a DICOM file or folder (recursively): one series per Series
 * Instance UID.  Bad files are reported and skipped; the result is the
 * number of series read. */
AZ_EXPORT int AzDicom_Read(const std::string &path, std::vector<AzSeries> *series, AzLoad_Report *report);

/* Reads a NIfTI-1 or NIfTI-2 file (.nii, .nii.gz): 1, or 0 when reported. */
AZ_EXPORT int AzNifti_Read(const std::string &path, AzSeries *series, AzLoad_Report *report);

/* Reads a label volume from a NIfTI file with its colour table (.lut) and
 * names (.txt) beside it when present: 1, or 0 when reported. */
AZ_EXPORT int AzNifti_Read_Labels(const std::string &path, AzLabels *labels, AzLoad_Report *report);

/* Colour tables: 768 bytes (256 reds, greens, blues) or text lines
 * "value red green blue"; names: text lines "value name"; values 0 to
 * 65535, kept per value (AzLabels_Tables_Set gives them to the tags).  1
 * when read. */
AZ_EXPORT int AzLabels_Read_Colours(const std::string &path, AzLabels *labels);
AZ_EXPORT int AzLabels_Read_Names(const std::string &path, AzLabels *labels);

/* Any study: a folder or DICOM file, or a NIfTI file by its extension.
 * The number of series read (0: nothing usable, every reason reported). */
AZ_EXPORT int AzStudy_Read(const std::string &path, std::vector<AzSeries> *series, AzLoad_Report *report);

/* How a frame is shown, whatever the order its pixels are stored in: the
 * way radiologists read it.  The patient's left is at the right of the
 * screen on axial and coronal frames, anterior is up on axial frames,
 * superior up on coronal and sagittal ones, anterior at the left on
 * sagittal ones.  Given the world (LPS) step of one column (row) and one
 * row (col), says whether the picture is mirrored left-right (mirror_x)
 * and top-bottom (mirror_y); the frame's kind is the patient axis its
 * normal runs closest to. */
AZ_EXPORT void AzOrient_Mirror(AzVec3 row, AzVec3 col, int *mirror_x, int *mirror_y);

/* Long work says how far it is: on a terminal one line redrawn in place
 * (bar, percentage, what is being done, time left), otherwise a plain
 * console line at each quarter; nothing below the console's notice level. */
struct AzProgress {
    std::string what;
    long total;
    int last_quarter;
    long start_ms, drawn_ms;
    int terminal;     /* redraws a line on standard error */
    int shown;        /* a line is on the terminal */
};
AZ_EXPORT void AzProgress_Start(AzProgress *progress, const std::string &what, long total);
AZ_EXPORT void AzProgress_Step(AzProgress *progress, long done);
/* Clears the line from the terminal. */
AZ_EXPORT void AzProgress_End(AzProgress *progress);
/* The line drawn for done of total after elapsed_ms (for tests). */
AZ_EXPORT std::string AzProgress_Line(const std::string &what, long done, long total, long elapsed_ms, int columns);

#endif
