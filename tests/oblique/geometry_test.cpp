/* The Oblique direction's geometry, one row per rotation: the Original
 * volume as the set-up measures it, the grid the panel gives the turned
 * direction, its mapping back into the volume, and the header the worker
 * writes for its frames. */
#include <gtest/gtest.h>

#include "oblique/oblique_geometry.h"

namespace {

struct Geometry_Row {
    float alpha, beta;     // radians, about x then y
    Oblique_Dim ref_dim;   // the Original volume
    float voxel[3];        // its voxel, mm
    Oblique_Dim dim;       // expected grid
    float dir_voxel[3];    // expected voxel of the grid, mm
    float axes[3][3];      // expected row, column and normal of the frames' header
};

// Source frames cut coronally: rows along x, columns down z, normal along y.
const Vect AXIS_X(1.0f, 0.0f, 0.0f), AXIS_Y(0.0f, 0.0f, -1.0f), AXIS_Z(0.0f, 1.0f, 0.0f);

const Geometry_Row ROWS[] = {
    // Unturned: the volume's voxels, each shrunk by (n - 1) / n to span its centres.
    {0.0f, 0.0f, {256, 256, 100}, {0.5f, 0.5f, 2.0f}, {256, 256, 100}, {0.498046875f, 0.498046875f, 1.98f},
     {{0.99609375f, 0.0f, 0.0f}, {0.0f, 0.0f, -0.99609375f}, {0.0f, 0.99f, 0.0f}}},
    // A quarter turn about x: y and z change places.
    {1.5707964f, 0.0f, {64, 32, 16}, {1.0f, 1.0f, 1.0f}, {64, 16, 32}, {0.984375f, 0.9375f, 0.96875f},
     {{0.984375f, 0.0f, 0.0f}, {0.0f, -0.9375f, 0.0f}, {0.0f, 0.0f, -0.96875f}}},
    // 30 degrees about y, thick slices.
    {0.0f, 0.5235988f, {100, 50, 20}, {0.8f, 0.8f, 2.5f}, {96, 50, 66}, {0.9618668f, 0.784f, 1.2232759f},
     {{1.041251f, 0.192373f, 0.0f}, {0.0f, 0.0f, -0.98f}, {-0.764547f, 0.423755f, 0.0f}}},
    // Both angles.
    {0.5f, -0.25f, {256, 256, 100}, {0.5f, 0.5f, 2.0f}, {299, 272, 266}, {0.6075203f, 0.7603604f, 0.974173f},
     {{1.177268f, -0.065952f, 0.144118f}, {0.0f, -0.182268f, -1.334558f}, {0.482028f, 0.41417f, -0.905048f}}},
    // The benchmarks' head study: 20 and -15 degrees, 1 mm voxels.
    {0.34906584f, -0.26179939f, {181, 217, 181}, {1.0f, 1.0f, 1.0f}, {237, 265, 282},
     {0.9990089f, 0.9982537f, 0.997616f},
     {{0.964969f, -0.242969f, 0.088434f}, {0.0f, -0.341423f, -0.938052f}, {0.258202f, 0.905509f, -0.329578f}}},
};

void Expect_Near(const Vect &v, const float expected[3], float tolerance)
{
    EXPECT_NEAR(v.x, expected[0], tolerance);
    EXPECT_NEAR(v.y, expected[1], tolerance);
    EXPECT_NEAR(v.z, expected[2], tolerance);
}

TEST(ObliqueGeometryTest, RotationGivesGridMappingAndHeader)
{
    for (const Geometry_Row &row : ROWS) {
        SCOPED_TRACE(testing::Message() << "alpha " << row.alpha << " beta " << row.beta);
        // The set-up: pixel size through the header's pointer (its own vector
        // is not the one), spacing from the first and last frames' origins.
        Vect pixel(row.voxel[0], row.voxel[1], 7.0f, 0.0f);
        Vexa_Image header{};
        header.pixel_size.set(9.0f, 9.0f, 9.0f);
        header.pixel_size_pt = &pixel;
        Vect first(10.0f, 20.0f, 30.0f);
        Vect last = first + ((float)(row.ref_dim.z - 1) * row.voxel[2]) * Vect(0.0f, 0.6f, 0.8f);
        Vect voxel(Oblique_Pixel_Size(&header).x, Oblique_Pixel_Size(&header).y,
                   Oblique_Slice_Step(first, last, row.ref_dim.z));
        Expect_Near(voxel, row.voxel, 1e-5f);

        // The panel: the turned grid and its voxel-to-volume mapping.
        Matrix_4x4 rotation = Oblique_Rotation(row.alpha, row.beta, 0.0f);
        Oblique_Grid grid = Oblique_Grid_Rotate(row.ref_dim, voxel, rotation);
        EXPECT_EQ(grid.dim.x, row.dim.x);
        EXPECT_EQ(grid.dim.y, row.dim.y);
        EXPECT_EQ(grid.dim.z, row.dim.z);
        Expect_Near(grid.voxel, row.dir_voxel, 1e-5f);
        Matrix_4x4 matrix = Oblique_Matrix_Rotate(row.ref_dim, voxel, rotation, grid.voxel, grid.corner);
        Vect centre = grid.corner;   // the turned box's corner lands on the volume's centre
        centre *= matrix;
        const float middle[3] = {(row.ref_dim.x - 1) * 0.5f, (row.ref_dim.y - 1) * 0.5f, (row.ref_dim.z - 1) * 0.5f};
        Expect_Near(centre, middle, 1e-3f);

        // The worker: the one header of the direction's frames.
        Oblique_Header_Voxel(&header, grid.voxel);
        header.pixel_size_2.set(0.0f, 0.0f, 0.0f);
        header.axis_row.w = 5.0f;
        Oblique_Header_Shape(&header, grid.dim, AXIS_X, AXIS_Y, AXIS_Z, matrix);
        EXPECT_EQ(header.width, row.dim.x);
        EXPECT_EQ(header.height, row.dim.y);
        EXPECT_EQ(header.slices_nb, row.dim.z);
        Expect_Near(header.pixel_size_2, row.dir_voxel, 1e-5f);
        Expect_Near(header.axis_row, row.axes[0], 1e-5f);
        Expect_Near(header.axis_col, row.axes[1], 1e-5f);
        Expect_Near(header.axis_normal, row.axes[2], 1e-5f);
        EXPECT_EQ(header.axis_row.w, 5.0f);   // the header's own
    }
}

} // namespace
