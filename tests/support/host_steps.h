/* Steps many host-level tests share: a phantom's plan, listing frames, a
 * matrix that keeps voxels on voxels, and picking trace lines. */
#ifndef HOST_STEPS_H
#define HOST_STEPS_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostlib/structures/az_db.h"
#include "oblique/oblique.h"

/* The description of a phantom study of that size and spacing (mm),
 * otherwise the defaults. */
AzPhantom_Plan Plan_Of(const char *name, int width, int height, int slices, float sx = 1.0f, float sy = 1.0f,
                     float sz = 1.0f);

/* Host frames under a class, in child order. */
std::vector<AzFrame *> Frames_Of(Kelvra_Class *cls);

/* Oblique transform q = p * m that keeps voxels on voxels: the Oblique
 * direction's column x is source frame last - x (x when not reversed), its
 * frame k the source column k. */
Matrix_4x4 Swap_Matrix(int last, int reversed = 1);

/* A point or vector equal to (x, y, z), each to within float rounding;
 * the failure names all three. */
testing::AssertionResult Xyz_Is(float vx, float vy, float vz, float x, float y, float z);
template <typename P> testing::AssertionResult Vect_Is(const P &v, float x, float y, float z)
{
    return Xyz_Is(v.x, v.y, v.z, x, y, z);
}

/* "x y z" of a direction size, to compare a whole size at once. */
std::string Dim_Text(const Oblique_Dim &dim);

/* Lines that start with one of the prefixes, or that contain a part. */
std::vector<std::string> Lines_Starting(const std::vector<std::string> &lines,
                                        const std::vector<std::string> &prefixes);
std::vector<std::string> Lines_With(const std::vector<std::string> &lines, const std::string &part);

#endif
