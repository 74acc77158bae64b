/*
 * Studies into the database: a series read from disk becomes one file
 * record of image headers with their pixels, and its frames go through the
 * database's insert chain in location order.
 */
#ifndef AZ_STUDY_H
#define AZ_STUDY_H

#include "../../hostlib/structures/az_db.h"
#include "az_series.h"

/* A series in the database. */
struct AzLoaded_Series {
    std::string name;
    std::string source;         /* the file or folder it was read from */
    std::string series_key;     /* what the study level files it under */
    Kelvra_File *file = nullptr; /* owned by the database */
    int frames_nb = 0;          /* frames fed to the insert chain */
    int inserted_nb = 0;        /* of which the chain took */
    int time_point = 0;         /* the time point of those frames (a 4-D study enters with one) */
    int series_index = 1;       /* its number among the series of its source, from 1 */
    std::vector<std::string> frame_files; /* the file each image came from, in the file record's order */
};

/* Image headers for the series: one per frame, pixels copied, tags from
 * the labels when given, placed on the series by world position
 * (AzLabels_Place; a placement off the study's grid is reported at level
 * 4).  The file record is not yet in the database.  Null with the reason
 * in error (labels that do not overlap the study). */
AZ_EXPORT Kelvra_File *AzSeries_File(const AzSeries &series, const AzLabels *labels, std::string *error);

/* Makes the file record, hands it to the database and feeds every frame
 * into the insert chain in location order.  The frames of a 4-D series are
 * those of one time point: two frames at one position would make no 3D
 * group; the images keep every time point for the views.  1 when every
 * frame was taken; 0 with the reason in error (no such time point, or
 * frames refused). */
AZ_EXPORT int AzSeries_Insert(const AzSeries &series, const AzLabels *labels, AzLoaded_Series *loaded,
                              std::string *error, int time_point = 0);

/* The study class of a loaded study, or null. */
AZ_EXPORT Kelvra_Class *AzLoaded_Series_Class(const AzLoaded_Series &loaded);

#endif
