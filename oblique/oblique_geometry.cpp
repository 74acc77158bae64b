/*
 * A direction's geometry: see oblique_geometry.h.
 */
#include <math.h>

#include "oblique_geometry.h"

Matrix_4x4 Oblique_Rotation(float alpha, float beta, float theta)
{
    Matrix_4x4 m;
    m.init();
    m.rot_x(alpha, Matrix_4x4::post);
    m.rot_y(beta, Matrix_4x4::post);
    m.rot_z(theta, Matrix_4x4::post);
    return m;
}

Region_3D Oblique_Box_Rotate(Oblique_Dim ref_dim, float sx, float sy, float sz, const Matrix_4x4 &rotation)
{
    Region_3D box;
    box.kind = 2;
    for (int i = 0; i < 3; i++) {
        box.min[i] = 100000.0f;
        box.max[i] = -100000.0f;
    }
    box.Add((float)(ref_dim.x - 1) * 0.5f * sx, (float)(ref_dim.y - 1) * 0.5f * sy,
            (float)(ref_dim.z - 1) * 0.5f * sz);
    box.Add((float)(1 - ref_dim.x) * 0.5f * sx, (float)(1 - ref_dim.y) * 0.5f * sy,
            (float)(1 - ref_dim.z) * 0.5f * sz);
    box *= rotation;
    return box;
}

Oblique_Grid Oblique_Grid_Rotate(Oblique_Dim ref_dim, const Vect &voxel, const Matrix_4x4 &rotation)
{
    Oblique_Grid grid;
    Region_3D voxels = Oblique_Box_Rotate(ref_dim, 1.0f, 1.0f, 1.0f, rotation);
    grid.dim.x = (int32_t)(voxels.max[0] - voxels.min[0] + 1.0f);
    grid.dim.y = (int32_t)(voxels.max[1] - voxels.min[1] + 1.0f);
    grid.dim.z = (int32_t)(voxels.max[2] - voxels.min[2] + 1.0f);
    grid.corner.set(voxels.max[0], voxels.max[1], voxels.max[2]);

    Region_3D mm = Oblique_Box_Rotate(ref_dim, voxel.x, voxel.y, voxel.z, rotation);
    grid.voxel.set(fabsf(mm.max[0] - mm.min[0]) / (float)grid.dim.x, fabsf(mm.max[1] - mm.min[1]) / (float)grid.dim.y,
                   fabsf(mm.max[2] - mm.min[2]) / (float)grid.dim.z);
    return grid;
}

Matrix_4x4 Oblique_Matrix_Rotate(Oblique_Dim ref_dim, const Vect &org_voxel, const Matrix_4x4 &rotation,
                                 const Vect &voxel, const Vect &corner)
{
    // Built from the Original voxel to the direction's, then turned round:
    // the pixel callbacks go from a voxel of the direction to the volume.
    Matrix_4x4 m;
    m.init();
    m.translate((float)(1 - ref_dim.x) * 0.5f, (float)(1 - ref_dim.y) * 0.5f, (float)(1 - ref_dim.z) * 0.5f,
                Matrix_4x4::post);
    m.scale(org_voxel.x, org_voxel.y, org_voxel.z, Matrix_4x4::post);
    m *= rotation;
    m.scale(1.0f / voxel.x, 1.0f / voxel.y, 1.0f / voxel.z, Matrix_4x4::post);
    m.translate(corner.x, corner.y, corner.z, Matrix_4x4::post);
    return !m;
}

Vect Oblique_Axis(const Vect &axis_x, const Vect &axis_y, const Vect &axis_z, const Matrix_4x4 &transform, int a)
{
    const Vect *axes[3] = {&axis_x, &axis_y, &axis_z};
    float x = 0.0f, y = 0.0f, z = 0.0f;
    for (int j = 0; j < 3; j++) {
        x += axes[j]->x * transform[a][j];
        y += axes[j]->y * transform[a][j];
        z += axes[j]->z * transform[a][j];
    }
    return Vect(x, y, z, 0.0f);
}

void Oblique_Header_Size(Vexa_Image *header, Oblique_Dim dim)
{
    header->width = (uint16_t)dim.x;
    header->height = (uint16_t)dim.y;
    header->slices_nb = (uint16_t)dim.z;
}

void Oblique_Header_Voxel(Vexa_Image *header, const Vect &voxel)
{
    header->pixel_size = voxel;
    header->pixel_size_2 = voxel;
}

/* The x, y, z of an orientation vector; its w is the header's own. */
static void Oblique_Header_Axis(Vect *to, const Vect &from)
{
    to->set(from.x, from.y, from.z, to->w);
}

void Oblique_Header_Shape(Vexa_Image *header, Oblique_Dim dim, const Vect &axis_x, const Vect &axis_y,
                          const Vect &axis_z, const Matrix_4x4 &transform)
{
    Oblique_Header_Size(header, dim);
    Oblique_Header_Axis(&header->axis_row, Oblique_Axis(axis_x, axis_y, axis_z, transform, 0));
    Oblique_Header_Axis(&header->axis_col, Oblique_Axis(axis_x, axis_y, axis_z, transform, 1));
    Oblique_Header_Axis(&header->axis_normal, Oblique_Axis(axis_x, axis_y, axis_z, transform, 2));
    header->pixel_size_2 = header->pixel_size;
}

float Oblique_Slice_Step(const Vect &first, const Vect &last, int n)
{
    return last.dist(first) / (float)(n - 1);
}
