/*
 * Which way a frame is shown on screen: the views and the exported
 * pictures follow one rule.
 */
#ifndef AZ_ORIENT_H
#define AZ_ORIENT_H

#include "../../host/az_win32.h"
#include "az_vec3.h"

/* How a frame is shown, whatever the order its pixels are stored in: the
 * way radiologists read it.  The patient's left is at the right of the
 * screen on axial and coronal frames, anterior is up on axial frames,
 * superior up on coronal and sagittal ones, anterior at the left on
 * sagittal ones.  Given the world (LPS) step of one column (row) and one
 * row (col), says whether the picture is mirrored left-right (mirror_x)
 * and top-bottom (mirror_y); the frame's kind is the patient axis its
 * normal runs closest to. */
AZ_EXPORT void AzOrient_Mirror(AzVec3 row, AzVec3 col, int *mirror_x, int *mirror_y);

#endif
