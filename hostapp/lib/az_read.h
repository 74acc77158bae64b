/*
 * Reading studies and label volumes from files: DICOM files and folders,
 * NIfTI files, and any of them known by content.  Bad files are reported
 * (the console at level 2, and the load's report) and skipped.
 */
#ifndef AZ_READ_H
#define AZ_READ_H

#include <string>
#include <vector>

#include "az_series.h"

/* What a load met: every problem is also reported on the console. */
struct AzLoad_Report {
    int files_seen;
    int files_bad;
    std::vector<std::string> problems;

    AzLoad_Report() : files_seen(0), files_bad(0) {}
};

/* Records a problem with a file ("FILE: problem") and reports it at level 2. */
AZ_EXPORT void AzLoad_Problem(AzLoad_Report *report, const std::string &file, const char *format, ...)
    AZ_PRINTF(3, 4);

/* Reads a DICOM file or folder (recursively): one series per Series
 * Instance UID.  Bad files are reported and skipped; the result is the
 * number of series read. */
AZ_EXPORT int AzDicom_Read(const std::string &path, std::vector<AzSeries> *series, AzLoad_Report *report);

/* Reads a NIfTI-1 or NIfTI-2 file (.nii, .nii.gz): 1, or 0 when reported. */
AZ_EXPORT int AzNifti_Read(const std::string &path, AzSeries *series, AzLoad_Report *report);

/* Reads a label volume from a NIfTI file with its colour table (.lut) and
 * names (.txt) beside it when present: 1, or 0 when reported. */
AZ_EXPORT int AzNifti_Read_Labels(const std::string &path, AzLabels *labels, AzLoad_Report *report);

/* Any study: a folder or DICOM file, or a NIfTI file by its extension.
 * The number of series read (0: nothing usable, every reason reported). */
AZ_EXPORT int AzSeries_Read(const std::string &path, std::vector<AzSeries> *series, AzLoad_Report *report);

#endif
