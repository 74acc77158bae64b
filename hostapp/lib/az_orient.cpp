/*
 * Which way a frame is shown on screen.
 */
#include "az_orient.h"

#include <math.h>

void AzOrient_Mirror(AzVec3 row, AzVec3 col, int *mirror_x, int *mirror_y)
{
    AzVec3 normal = AzVec3_Cross(row, col);
    double nx = fabs(normal.x), ny = fabs(normal.y), nz = fabs(normal.z);
    bool sagittal = nx > ny && nx > nz, axial = nz >= nx && nz >= ny;
    // Screen right: +x (the patient's left), on sagittal frames +y (posterior); screen down: +y on axial frames
    // (posterior), else -z (inferior).
    *mirror_x = (sagittal ? row.y : row.x) < 0.0;
    *mirror_y = (axial ? col.y : -col.z) < 0.0;
}
