/*
 * The current study's directions written out: the Oblique direction as
 * NIfTI (grey levels, and tags when any is set) always; on request the
 * Original direction (a copy of the input as the module shows it), a
 * picture of each direction's middle slice and of the panel, montages and
 * a summary.  Every file goes through an AzOutput, so a failure or an
 * interruption leaves none of them.
 */
#ifndef AZ_DUMP_H
#define AZ_DUMP_H

#include <string>
#include <vector>

#include "az_app.h"
#include "az_output.h"

enum {
    AZ_DUMP_ORIGINAL = 1,  /* original.nii.gz (and original_tags.nii.gz) */
    AZ_DUMP_PICTURES = 2,  /* *_middle.png of each direction, panel.png when a panel is open */
    AZ_DUMP_MONTAGE = 4,   /* *_montage.png of each direction */
    AZ_DUMP_SUMMARY = 8,   /* summary.txt */
    AZ_DUMP_ALL = 15,      /* the four above */
    AZ_DUMP_DICOM = 16     /* dicom/oblique/ (a derived series) and dicom/tags_seg.dcm: asked for by name only */
};

/* Writes into folder (which must exist) what parts asks; the summary's text
 * is returned whether or not it is written.  1, or 0 with the reason. */
AZ_EXPORT int AzDump_Write(AzApp *app, const std::string &folder, int parts, AzOutput *output, std::string *summary,
                           std::string *error);

/* Prepares folder for a new run's outputs: the earlier run's outputs in it
 * (AzOutput_Known_Names) are replaced at the commit.  Anything else in it
 * refuses the folder unless force (it is then left alone).  1, or 0 with
 * "FOLDER: ..." in error. */
AZ_EXPORT int AzDump_Folder_Prepare(const std::string &folder, int force, AzOutput *output, std::string *error);

/* The panel with its child windows (the preview) over it. */
AZ_EXPORT std::vector<uint32_t> AzDump_Panel_Picture(HWND panel, int *width, int *height);

#endif
