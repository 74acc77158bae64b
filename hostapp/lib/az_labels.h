/*
 * Label volumes and the host's tags.
 *
 * The host paints 8-bit tags; label volumes hold values up to 65535.  A
 * label volume's distinct values are mapped onto tags 1..255 once, when it
 * is read (values that all fit in 1..255 keep their own number as tag), and
 * the mapping stays with the host's tag table: every file written from tags
 * writes the original values back.  A label volume whose grid is not the
 * study's is placed on the study by world position, nearest label.
 */
#ifndef AZ_LABELS_H
#define AZ_LABELS_H

#include <string>
#include <vector>

#include "az_export.h"
#include "az_study.h"

/* The most distinct non-zero label values the 8-bit tags can hold at once. */
#define AZ_LABELS_TAGS_MAX 255
/* The highest label value. */
#define AZ_LABELS_VALUE_MAX 65535

/* Maps a volume's stored values onto tags: every value must be a whole
 * number from 0 to 65535 and at most 255 of them distinct besides 0.  Sets
 * labels->tags, values, values_nb, value_min and value_max.  Values named
 * in labels->value_names join the mapping while room is left, so that a
 * region absent from the volume can still be painted.  1, or 0 with the
 * reason in error. */
AZ_EXPORT int AzLabels_Values_Set(const std::vector<double> &stored, AzLabels *labels, std::string *error);

/* Colour tables: 768 bytes (256 reds, greens, blues) or text lines
 * "value red green blue"; names: text lines "value name"; values 0 to
 * 65535, kept per value (AzLabels_Tables_Set gives them to the tags).  1
 * when read. */
AZ_EXPORT int AzLabels_Read_Colours(const std::string &path, AzLabels *labels);
AZ_EXPORT int AzLabels_Read_Names(const std::string &path, AzLabels *labels);

/* The per-tag colours and names from the per-value tables read beside the
 * volume. */
AZ_EXPORT void AzLabels_Tables_Set(AzLabels *labels);

/* The labels on a series' grid: depth planes of width * height in the
 * series' frame order. */
struct AzLabels_Placed {
    std::vector<uint8_t> tags;
    int same_grid;          /* 1: the label grid is the study's, voxel for voxel */
    std::string relation;   /* how the label grid relates to the study's, in words */
    long long inside_nb;    /* study voxels that fall inside the label volume */
    long long total_nb;     /* study voxels */
};

/* How the label grid lies against the series' grid, in words ("the
 * study's grid", or what differs: size, spacing, storage order,
 * orientation, the centres' distance). */
AZ_EXPORT std::string AzLabels_Relation(const AzLabels &labels, const AzSeries &series);

/* Places the labels on the series: each study voxel takes the label of the
 * label voxel nearest to its world position (0 outside the label volume).
 * Labels without world geometry must have the series' size and are taken
 * slice for slice.  1, or 0 with the reason in error (no overlap at all,
 * or a size that does not fit). */
AZ_EXPORT int AzLabels_Place(const AzLabels &labels, const AzSeries &series, AzLabels_Placed *placed,
                             std::string *error);

/* ------------------------------------------------------------------------
 * What the host's tags stand for (one table for the process, like the
 * host's tag colours)
 * --------------------------------------------------------------------- */

/* Takes the labels' mapping and names, and gives the host's tag table the
 * colours of their table (opacity 0.5; tags whose value the table leaves
 * out keep the host's default colours). */
AZ_EXPORT void AzTags_Map_Set(const AzLabels &labels);
/* Back to tag = value, no names. */
AZ_EXPORT void AzTags_Map_Reset(void);
/* The label value a tag writes (0..65535); the tag itself when unmapped. */
AZ_EXPORT int AzTags_Value(int tag);
/* The tag of a label value, -1 when no tag holds it. */
AZ_EXPORT int AzTags_Of_Value(int value);
/* A tag's region name ("" when unnamed). */
AZ_EXPORT std::string AzTags_Name(int tag);
/* "tag 36: Precentral_L", "tag 3 (label 2001): Precentral_L", "tag 5". */
AZ_EXPORT std::string AzTags_Text(int tag);
/* Tags whose number or name matches what was typed: a number 0..255
 * first, then names starting with it, then names holding it (case
 * ignored), each group in tag order. */
AZ_EXPORT std::vector<int> AzTags_Matches(const std::string &typed);

/* Unsaved strokes: painting marks them, a save of the study's tags clears
 * them. */
AZ_EXPORT void AzTags_Changed(void);
AZ_EXPORT void AzTags_Saved(void);
AZ_EXPORT int AzTags_Unsaved(void);
/* Changes since the process started (for an autosave to notice new ones). */
AZ_EXPORT long AzTags_Change_Count(void);

/* Paints a disc of radius r (frame pixels) centred on (cx, cy) of a frame
 * with a tag.  Each voxel changed is handed to visit (may be null) with the
 * tag it had.  Number of voxels set. */
typedef void (*AzTags_Visit)(void *user, int x, int y, int old_tag);
AZ_EXPORT int AzTags_Paint_Disc(AzFrame *frame, int cx, int cy, float r, int tag, AzTags_Visit visit, void *user);

/* ------------------------------------------------------------------------
 * Saving
 * --------------------------------------------------------------------- */

/* The tags of a loaded study's images (its time point), on the study's
 * grid in location order, with the study's world geometry.  1, or 0 with
 * the reason. */
AZ_EXPORT int AzTags_Study_Volume(const AzLoaded_Series &loaded, AzVolume *volume, std::string *error);

/* Writes the tags of a volume as a NIfTI label volume of the original
 * values (uint8 when they fit, else uint16), with the colour table
 * (NAME.nii.lut, lines "value red green blue") and the names (NAME.nii.txt,
 * lines "value name") beside it.  Each file is complete or absent.  1, or 0
 * with the reason. */
AZ_EXPORT int AzTags_Write(const AzVolume &volume, const std::string &path, std::string *error);

/* The file's name for the colour table or the names beside a label volume
 * (".lut" or ".txt"): a.nii.gz -> a.nii.lut. */
AZ_EXPORT std::string AzTags_Beside(const std::string &path, const char *extension);

/* ------------------------------------------------------------------------
 * What a user does with tags in the host program
 * --------------------------------------------------------------------- */

struct AzApp;

/* A tag from a word: a number 0..255 or a region name (case ignored).  1,
 * or 0 with the reason. */
AZ_EXPORT int AzTags_Parse(const std::string &word, int *tag, std::string *error);

/* Paints a disc of radius r (frame pixels) with a tag on frame n of a
 * direction (0 Original, 1 Oblique) of the current study, as one stroke of
 * a brush, and has the other direction follow.  Voxels set, or -1 with the
 * reason. */
AZ_EXPORT int AzTags_Paint(AzApp *app, int direction, int n, int x, int y, float r, int tag, std::string *error);

/* Writes the current study's tags on its grid to path (AzTags_Write) and
 * marks the strokes saved; with oblique_path not empty also the Oblique
 * direction's tags on its grid.  1, or 0 with the reason. */
AZ_EXPORT int AzTags_Save(AzApp *app, const std::string &path, const std::string &oblique_path, std::string *error);

/* What info --labels says of a label volume: its values (count, range,
 * mapping), names, grid, and how that grid relates to the first study's.
 * Empty when it cannot be read (the reason is reported). */
AZ_EXPORT std::string AzLabels_Info(AzApp *app, const std::string &path);

#endif
