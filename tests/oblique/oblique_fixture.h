/* The class tests on the shared host fixture (whose insert chain runs
 * through the module): small builders of images, file records and studies. */
#ifndef OBLIQUE_FIXTURE_H
#define OBLIQUE_FIXTURE_H

#include <math.h>
#include <stdlib.h>
#include <string>
#include <vector>

#include "hostlib/structures/az_db.h"
#include "module/entry.h"
#include "tests/support/fault.h"
#include "tests/support/golden.h"
#include "tests/support/host_steps.h"
#include "tests/support/host_test.h"

class ObliqueTest : public Host_Test {
  protected:
    using Host_Test::Direction;
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
    /* A header of its own for a direction, in a file record of its own, as
     * the direction set-up gives it. */
    static Vexa_Image *Own_Header(Kelvra_Oblique *cls, Vexa_Image *header, const char *name = "Oblique_Dir_1")
    {
        Vexa_Image **list = (Vexa_Image **)calloc(2, sizeof *list);
        list[0] = header;
        cls->dir_file = new Kelvra_File(name, list);
        return cls->dir_image = header;
    }
    /* Sizes the Original direction as the direction set-up does: (w, h, frames). */
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
    AzPhantom_Plan plan;
    AzPhantom *built = nullptr;
    Kelvra_Class *study = nullptr;
    Kelvra_Oblique *org = nullptr, *obl = nullptr;

    void Enter(const AzPhantom_Plan &wanted, int order, unsigned seed)
    {
        plan = wanted;
        ASSERT_NE(built = Load(plan, order, seed), nullptr);
        study = AzApp_Study_Class(built);
        org = Direction(built, 0);
        obl = Direction(built, 1);
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
};

#endif
