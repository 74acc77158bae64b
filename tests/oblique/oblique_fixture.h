/* Shared set-up of the class tests: a fresh database whose insert chain
 * runs through the module, and small builders of images and studies. */
#ifndef OBLIQUE_FIXTURE_H
#define OBLIQUE_FIXTURE_H

#include <gtest/gtest.h>

#include <math.h>
#include <stdlib.h>
#include <string>
#include <vector>

#include "hostlib/structures/az_db.h"
#include "module/entry.h"
#include "oblique/oblique.h"
#include "tests/support/console_capture.h"
#include "tests/support/fault.h"
#include "tests/support/golden.h"
#include "tests/support/host_steps.h"

class ObliqueTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        AzDb_Init();
        AzDb_Tree_Default(Class_Insert);   // levels: 1 study, 2 module, 3 frame
    }
    void TearDown() override
    {
        Fault_Disarm();
        AzHost_Trace_Stop();
        AzDb_Reset();
    }

    /* An image of its own series at a location (pixel size 1, axes identity). */
    static Vexa_Image *Image(int width, int height, float location, int slices = 1, int times = 1)
    {
        Vexa_Image *image = AzImage_Create(width, height, slices, times);
        image->location = location;
        snprintf(image->series_uid, sizeof image->series_uid, "%s", "1.2.3.4");
        snprintf(image->series_description, sizeof image->series_description, "%s", "Manual");
        return image;
    }

    /* A file record of the database over the images. */
    static Kelvra_File *File(const char *name, std::vector<Vexa_Image *> images)
    {
        Vexa_Image **list = (Vexa_Image **)calloc(images.size() + 1, sizeof *list);
        for (size_t i = 0; i < images.size(); i++)
            list[i] = images[i];
        Kelvra_File *file = new Kelvra_File(name, list);
        AzDb_File_Add(file);
        return file;
    }

    /* A study class of our own under the root, named as given. */
    static Kelvra_Class *Study(const char *name)
    {
        AzStudy_Class *study = new AzStudy_Class(name);
        study->Name_Set("%s", name);
        AzDb_Root()->Child_Add(study);
        return study;
    }

    static Kelvra_Oblique *Direction(Kelvra_Class *study, int i)
    {
        return static_cast<Kelvra_Oblique *>(study->Child_Get_Pt(i));
    }

    /* Sizes both directions as the direction set-up does: the Original
     * direction to (w, h, n). */
    static void Size_Original(Kelvra_Oblique *org, int width, int height)
    {
        org->ref_dim = Oblique_Dim{width, height, org->real_files_nb};
        org->dim = org->ref_dim;
    }
};

/* A phantom study fed through the insert chain, its two directions, the
 * Original one sized like the study. */
class ObliqueStudyTest : public ObliqueTest {
  protected:
    AzStudy_Plan plan;
    AzStudy *built = nullptr;
    Kelvra_Class *study = nullptr;
    Kelvra_Oblique *org = nullptr, *obl = nullptr;

    void Load(const AzStudy_Plan &wanted, int order, unsigned seed)
    {
        plan = wanted;
        built = AzStudy_Build(plan);
        ASSERT_NE(built, nullptr);
        ASSERT_EQ(AzStudy_Insert(built, order, seed), plan.slices);
        ASSERT_EQ(AzDb_Root()->Child_Get_Nb(), 1);
        study = AzDb_Root()->Child_Get_Pt(0);
        org = Direction(study, 0);
        obl = Direction(study, 1);
        ASSERT_EQ(org->real_files_nb, plan.slices);
        Size_Original(org, plan.width, plan.height);
    }
    /* The Oblique direction's transform, with both of its matrices. */
    void Turn(const Matrix_4x4 &m)
    {
        obl->matrix = m;
        obl->matrix_pt = new Matrix_4x4(m);
        obl->matrix_inv_pt = new Matrix_4x4(!m);
    }
    void TearDown() override
    {
        AzStudy_Free(built);
        ObliqueTest::TearDown();
    }
};

/* A rotation of angle a about the slice axis, then of b about the row
 * axis, taking the centre cb of one voxel space to the centre co of the
 * other; written out element by element (row-vector convention: p' = p M,
 * translation in row 3). */
inline Matrix_4x4 Rotation_Matrix(double a, double b, const double cb[3], const double co[3])
{
    // R = Rz(a) * Rx(b) for row vectors.
    double ca = cos(a), sa = sin(a), cbb = cos(b), sb = sin(b);
    double r[3][3] = {{ca, sa * cbb, sa * sb}, {-sa, ca * cbb, ca * sb}, {0.0, -sb, cbb}};
    Matrix_4x4 m;
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 3; j++)
            m.m[i][j] = (float)r[i][j];
        m.m[i][3] = 0.0f;
    }
    for (int j = 0; j < 3; j++)
        m.m[3][j] = (float)(co[j] - (cb[0] * r[0][j] + cb[1] * r[1][j] + cb[2] * r[2][j]));
    m.m[3][3] = 1.0f;
    return m;
}

/* p M computed in double from the matrix's elements. */
inline void Transform(const Matrix_4x4 &m, const double p[3], double out[3])
{
    for (int j = 0; j < 3; j++)
        out[j] = p[0] * m.m[0][j] + p[1] * m.m[1][j] + p[2] * m.m[2][j] + m.m[3][j];
}

#endif
