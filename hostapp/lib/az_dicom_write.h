/*
 * A study's work as DICOM objects that other tools read: the frames of a
 * direction as a derived series of single-slice images beside the source
 * series, and the tags as a binary segmentation on the study's grid.  Both
 * copy the patient, the study and the frame of reference from the source
 * when it was DICOM; a NIfTI study becomes a new study with placeholder
 * patient fields.  The geometry is the export's (AzVolume_From_Class), so
 * the DICOM objects and the NIfTI files place every pixel alike.  Every
 * object is written under a temporary name and renamed when complete.
 */
#ifndef AZ_DICOM_WRITE_H
#define AZ_DICOM_WRITE_H

#include <string>
#include <vector>

#include "az_read.h"
#include "az_study.h"

/* Placeholders of a study that did not come from DICOM. */
#define AZ_DICOM_PLACEHOLDER_PATIENT_NAME "ANONYMOUS^NIFTI"
#define AZ_DICOM_PLACEHOLDER_PATIENT_ID "AZOZUDE-NIFTI"

/* One label in use: the tag painted and the label it stands for (the
 * host's tag mapping: its original value and name). */
struct AzDicom_Segment {
    int tag;
    int value;
    std::string name;           /* empty: unnamed */
    int has_colour;
    unsigned char rgb[3];
};

/* The segments of the tags in use (ascending), with their values, names
 * and the host's tag colours. */
AZ_EXPORT std::vector<AzDicom_Segment> AzDicom_Segments_Of(const std::vector<uint8_t> &tags);

/* A study's DICOM objects under folder/dicom:
 * - oblique/: the frames of the Oblique direction as a derived series, one
 *   image per frame with its position and orientation, the study's rescale
 *   and display window (replaced whole when it exists);
 * - tags_seg.dcm: the tags of the Original direction as a segmentation,
 *   one segment per tag in use, referencing the source images when they
 *   are DICOM; not written when no tag is painted.
 * notes gets a line per object written or left out.
 * Identifiers made for a source without them are shared by both objects.
 * 1, or 0 with the reason (what was not complete is not left behind). */
AZ_EXPORT int AzDicom_Write_Study(const AzLoaded_Series &study, Kelvra_Class *study_class, const std::string &folder,
                                  const std::string &description, std::string *notes, std::string *error);

/* Whether a file is a DICOM segmentation (by its SOP class). */
AZ_EXPORT int AzDicom_Is_Segmentation(const std::string &path);

/* A segmentation read onto a series' grid: every frame must lie on one of
 * the series' frames.  Segment values (or numbers) become tags, segment
 * labels names, recommended colours the colour table.  1, or 0 when
 * reported. */
AZ_EXPORT int AzDicom_Read_Segmentation(const std::string &path, const AzSeries &series, AzLabels *labels,
                                        AzLoad_Report *report);

#endif
