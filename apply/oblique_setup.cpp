/*
 * Direction set-up: keeps a study's two direction classes in step with its
 * frames.  A is the Original direction (the study's frames as recorded),
 * B the Oblique direction (the same volume, axes x and z swapped until the
 * panel rotates it).  Each direction gets one file record whose single
 * image header, copied from the first source frame, describes all its
 * frames.
 */
#include <stdlib.h>

#include <new>

#include "../oblique/oblique.h"
#include "../oblique/oblique_geometry.h"
#include "oblique_apply_fixed.h"

/* Set when the header of B's frames is a resampled view of the study. */
#define HEADER_FLAG_RESAMPLED 0x20000000u

/* Nothing to do while the group verdict holds and the first frame keeps
 * the size the directions were made for. */
static int Setup_Up_To_Date(Kelvra_Oblique *a)
{
    if (a->group_valid < 0)
        return 0;
    if (a->real_files_nb == 0)
        return 1;
    Kelvra_Class *study = a->Parent_Get_Pt();
    int width = 0, height = 0;
    study->Pixel_Get_Dim(study, Oblique_Frame_Key(a, 0), &width, &height);
    return width == a->ref_dim.x && height == a->ref_dim.y;
}

/* The direction's file record and its one header, made once per class. */
static int Setup_Dir_File(Kelvra_Oblique *cls, void *key, const char *name)
{
    if (cls->dir_image)
        return 1;
    Vexa_Image *header = (Vexa_Image *)calloc(1, sizeof(Vexa_Image));
    if (!header) {
        Error_Fct(hwnd, 1, OBLIQUE_MSG_CALLOC, SETUP_LINE_HEADER, SETUP_SOURCE, "oblique->dir_image", 1,
                  (int)sizeof(Vexa_Image));
        return 0;
    }
    Vexa_Image_Header_Copy(hwnd, header, key);
    Vexa_Image **list = (Vexa_Image **)calloc(2, sizeof(Vexa_Image *));
    if (!list) {
        Error_Fct(hwnd, 1, OBLIQUE_MSG_CALLOC, SETUP_LINE_LIST, SETUP_SOURCE, "oblique->dir_file->images", 2,
                  (int)sizeof(Vexa_Image *));
        free(header);
        return 0;
    }
    list[0] = header;
    Kelvra_File *file = new (std::nothrow) Kelvra_File(name, list);
    if (!file) {
        Error_Fct(hwnd, 1, OBLIQUE_MSG_NEW, SETUP_LINE_FILE, SETUP_SOURCE, "oblique->dir_file", 1,
                  (int)sizeof(Kelvra_File));
        free(list);
        free(header);
        return 0;
    }
    cls->dir_file = file;
    cls->dir_image = header;
    return 1;
}

static void Setup_Dim(Oblique_Dim *dim, int x, int y, int z)
{
    dim->x = x;
    dim->y = y;
    dim->z = z;
}

/* World position of pixel (0, 0) of source frame i. */
static Vect Setup_Frame_Pos(Kelvra_Oblique *a, int i)
{
    Kelvra_Class *study = a->Parent_Get_Pt();
    Vect origin(0.0f, 0.0f, (float)a->real_files_z[i], (float)a->real_files_t[i]);
    return study->Pixel_Get_Pos(study, Oblique_Frame_Key(a, i), origin);
}

int Oblique_Setup(Kelvra_Oblique *a, Kelvra_Oblique *b)
{
    if (Setup_Up_To_Date(a))
        return 1;
    a->group_valid = Oblique_Group_Test(a) ? 1 : 0;
    /* The host's test refuses fewer than two frames; without any there is no frame 0 to size from. */
    if (!a->group_valid || a->real_files_nb == 0)
        return 1;

    int n = a->real_files_nb;
    Kelvra_Class *study = a->Parent_Get_Pt();
    void *key = Oblique_Frame_Key(a, 0);
    Vect last = Setup_Frame_Pos(a, n - 1);
    Vect first = Setup_Frame_Pos(a, 0);
    int w = 0, h = 0;
    study->Pixel_Get_Dim(study, key, &w, &h);

    a->Pixel_Get_Dim = Class_Oblique_Pixel_Get_Dim;
    if (!Setup_Dir_File(a, key, "Oblique_Dir_0"))
        return 1;
    Setup_Dim(&a->ref_dim, w, h, n);
    Setup_Dim(&a->dim, w, h, n);
    Oblique_Header_Size(a->dir_image, a->dim);
    const Vect &pixel_size = Oblique_Pixel_Size(a->dir_image);
    a->voxel.x = pixel_size.x;
    a->voxel.y = pixel_size.y;
    a->voxel.z = Oblique_Slice_Step(first, last, n);

    b->Pixel_Get_Dim = Class_Oblique_Pixel_Get_Dim;
    if (!Setup_Dir_File(b, key, "Oblique_Dir_1")) {
        // A's size would make the next call return at once, leaving B without header or size for good.
        Setup_Dim(&a->ref_dim, 0, 0, 0);
        return 1;
    }
    b->dir_image->flags |= HEADER_FLAG_RESAMPLED;
    Setup_Dim(&b->ref_dim, n, h, w);
    Setup_Dim(&b->dim, n, h, w);
    Oblique_Header_Size(b->dir_image, b->dim);
    b->voxel = a->voxel;
    b->axis_x = a->axis_x;
    b->axis_y = a->axis_y;
    b->axis_z = a->axis_z;

    if (b->enabled && b->Child_Get_Nb() != b->ref_dim.z)
        return Ctrl_Apply(a->enabled, a, b->enabled, b);
    return 0;
}
