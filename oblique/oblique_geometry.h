/*
 * The geometry of a direction, as pure functions: how the panel's angles
 * turn the Original volume into a direction's size, voxel and
 * voxel-to-volume mapping, how the worker orients and sizes the header of
 * the direction's frames, and how the set-up measures the Original
 * volume.  The panel, the worker, the set-up and the preview all take it
 * from here, so that the frames the worker creates are the ones the panel
 * showed.
 *
 * Points are row vectors and every step is appended (combine mode post):
 * see host/corvantis_util.h.  The float operations are made in a fixed
 * order; the pixels of created frames depend on the last bit of them.
 */
#ifndef OBLIQUE_GEOMETRY_H
#define OBLIQUE_GEOMETRY_H

#include "oblique.h"

/* A direction's rotation: alpha about x, then beta about y, then theta
 * about z (radians). */
Matrix_4x4 Oblique_Rotation(float alpha, float beta, float theta);

/* The bounding box of the Original volume's voxel centres, each
 * coordinate scaled by (sx, sy, sz), centred on the volume and turned by
 * rotation.  Scale 1 gives voxels, the voxel size millimetres. */
Region_3D Oblique_Box_Rotate(Oblique_Dim ref_dim, float sx, float sy, float sz, const Matrix_4x4 &rotation);

/* The grid a rotation gives a direction. */
struct Oblique_Grid {
    Oblique_Dim dim;  /* voxels covering the turned box, each axis cut to a whole number */
    Vect voxel;       /* x, y, z in millimetres; w is 0 (a direction keeps its own) */
    Vect corner;      /* the turned box's maximum corner, in voxels: where the volume's centre lands */
};

/* The grid of the direction that the Original volume (ref_dim voxels of
 * size voxel) becomes when turned by rotation. */
Oblique_Grid Oblique_Grid_Rotate(Oblique_Dim ref_dim, const Vect &voxel, const Matrix_4x4 &rotation);

/* A direction's voxel-to-volume mapping: a voxel of the direction (x, y,
 * slice), of size voxel, to a voxel of the Original volume (ref_dim
 * voxels of size org_voxel), for a grid made by Oblique_Grid_Rotate. */
Matrix_4x4 Oblique_Matrix_Rotate(Oblique_Dim ref_dim, const Vect &org_voxel, const Matrix_4x4 &rotation,
                                 const Vect &voxel, const Vect &corner);

/* Orientation vector a (0 row, 1 column, 2 normal) of a resampled
 * direction's frames: the source axes carried through row a of its
 * transform.  w is 0. */
Vect Oblique_Axis(const Vect &axis_x, const Vect &axis_y, const Vect &axis_z, const Matrix_4x4 &transform, int a);

/* Width, height and slices per volume of a header, cut to 16 bits. */
void Oblique_Header_Size(Vexa_Image *header, Oblique_Dim dim);

/* Both pixel-size vectors of a header (all four components). */
void Oblique_Header_Voxel(Vexa_Image *header, const Vect &voxel);

/* The one header of a resampled direction's frames: its size, its three
 * orientation vectors (their w kept) and the second copy of its pixel
 * size. */
void Oblique_Header_Shape(Vexa_Image *header, Oblique_Dim dim, const Vect &axis_x, const Vect &axis_y,
                          const Vect &axis_z, const Matrix_4x4 &transform);

/* The pixel size of an image header: the one it points to, else its own. */
inline const Vect &Oblique_Pixel_Size(const Vexa_Image *header)
{
    return header->pixel_size_pt ? *header->pixel_size_pt : header->pixel_size;
}

/* Spacing of n frames (n >= 2) whose first and last origins are first
 * and last. */
float Oblique_Slice_Step(const Vect &first, const Vect &last, int n);

#endif
