/*
 * Class_Insert: the module's level of the host's insert chain.  Every frame
 * of a study is recorded, in location order, in the study's
 * Original-direction class, which the study's first frame creates together
 * with the Oblique-direction class; the frame then goes on to the next
 * level below the Original-direction class.
 */
#include <new>
#include <stdlib.h>
#include <string.h>

#include "../module/entry.h"
#include "oblique_internal.h"

#define STUDY_NAME_MAX 20

/* Grows one frame array by an entry (malloc when still empty); reports
 * and keeps the array as it was on failure. */
template <typename T> static int Oblique_Array_Grow(T *&array, unsigned nb, int line, const char *var)
{
    void *grown = Oblique_Block_Grow(array, nb * sizeof(T), (nb + 1) * sizeof(T));
    if (!grown) {
        Error_Fct(hwnd, 1, OBLIQUE_MSG_REALLOC, line, CLASS_SOURCE, var, (int)(nb + 1), (int)sizeof(T));
        return 0;
    }
    array = static_cast<T *>(grown);
    return 1;
}

/* Creates one frame array with a single zeroed entry. */
template <typename T> static int Oblique_Array_Create(T *&array, int line, const char *var)
{
    array = static_cast<T *>(calloc(1, sizeof(T)));
    if (!array) {
        Error_Fct(hwnd, 1, OBLIQUE_MSG_CALLOC, line, CLASS_SOURCE, var, 1, (int)sizeof(T));
        return 0;
    }
    return 1;
}

/* Stops at the first array that cannot grow: the ones before it are merely
 * larger, which the count makes harmless. */
static int Oblique_Arrays_Grow(Kelvra_Oblique *org)
{
    unsigned nb = org->real_files_nb;
    const int line = CLASS_LINE_GROW;
    return Oblique_Array_Grow(org->real_files_pt, nb, line, "oblique->real_files_pt") &&
           Oblique_Array_Grow(org->real_files_bunch, nb, line + 1, "oblique->real_files_bunch") &&
           Oblique_Array_Grow(org->real_files_slice, nb, line + 2, "oblique->real_files_slice") &&
           Oblique_Array_Grow(org->real_files_z, nb, line + 3, "oblique->real_files_z") &&
           Oblique_Array_Grow(org->real_files_t, nb, line + 4, "oblique->real_files_t") &&
           Oblique_Array_Grow(org->real_files_d, nb, line + 5, "oblique->real_files_d");
}

static int Oblique_Arrays_Create(Kelvra_Oblique *org)
{
    const int line = CLASS_LINE_CREATE;
    return Oblique_Array_Create(org->real_files_pt, line, "oblique_0->real_files_pt") &&
           Oblique_Array_Create(org->real_files_bunch, line + 1, "oblique_0->real_files_bunch") &&
           Oblique_Array_Create(org->real_files_slice, line + 2, "oblique_0->real_files_slice") &&
           Oblique_Array_Create(org->real_files_z, line + 3, "oblique_0->real_files_z") &&
           Oblique_Array_Create(org->real_files_t, line + 4, "oblique_0->real_files_t") &&
           Oblique_Array_Create(org->real_files_d, line + 5, "oblique_0->real_files_d");
}

/* Writes source frame i of the arrays from the frame's image header. */
static void Oblique_Frame_Write(Kelvra_Oblique *org, int i, Kelvra_File *file, int bunch, int slice)
{
    const Vexa_Image *header = file->images[bunch];
    // A header without a slice count still holds one slice per volume.
    int spv = header->slices_nb ? header->slices_nb : 1;
    org->real_files_pt[i] = file;
    org->real_files_bunch[i] = bunch;
    org->real_files_slice[i] = slice;
    org->real_files_z[i] = slice % spv;
    org->real_files_t[i] = slice / spv;
    org->real_files_d[i] = header->location;
}

/* Records a further frame of a study in location order. */
static int Oblique_Frame_Record(Kelvra_Oblique *org, Kelvra_File *file, int bunch, int slice)
{
    if (!Oblique_Arrays_Grow(org))
        return 0;
    int nb = org->real_files_nb;
    float location = file->images[bunch]->location;
    int i = 0;
    while (i < nb && !(org->real_files_d[i] > location))   // equal locations keep arrival order
        i++;
    int moved = nb - i;
    memmove(org->real_files_pt + i + 1, org->real_files_pt + i, moved * sizeof *org->real_files_pt);
    memmove(org->real_files_bunch + i + 1, org->real_files_bunch + i, moved * sizeof *org->real_files_bunch);
    memmove(org->real_files_slice + i + 1, org->real_files_slice + i, moved * sizeof *org->real_files_slice);
    memmove(org->real_files_z + i + 1, org->real_files_z + i, moved * sizeof *org->real_files_z);
    memmove(org->real_files_t + i + 1, org->real_files_t + i, moved * sizeof *org->real_files_t);
    memmove(org->real_files_d + i + 1, org->real_files_d + i, moved * sizeof *org->real_files_d);
    Oblique_Frame_Write(org, i, file, bunch, slice);
    org->real_files_nb++;
    org->group_valid = -1;
    return 1;
}

/* The study's name as the direction names carry it: at most 20 characters,
 * a longer one cut and marked with "...". */
static void Oblique_Study_Name(Kelvra_Class *study, char out[STUDY_NAME_MAX + 4])
{
    const char *name = study->Name_Get();
    size_t length = strlen(name);
    if (length > STUDY_NAME_MAX) {
        memcpy(out, name, STUDY_NAME_MAX);
        memcpy(out + STUDY_NAME_MAX, "...", 4);
    } else {
        memcpy(out, name, length + 1);
    }
}

/* Builds both direction classes of a study from its first frame and hangs
 * them below the study; null when memory fails (nothing attached then). */
static Kelvra_Oblique *Oblique_Study_Create(Kelvra_File *file, int bunch, int slice, Kelvra_Class *study,
                                            unsigned short class_id, unsigned short level)
{
    Kelvra_Oblique *org = new (std::nothrow) Kelvra_Oblique(study, class_id, file, bunch, slice);
    Kelvra_Oblique *obl = org ? new (std::nothrow) Kelvra_Oblique(study, class_id, (signed char)1) : nullptr;
    if (!obl) {
        Error_Fct(hwnd, 1, OBLIQUE_MSG_NEW, CLASS_LINE_STUDY, CLASS_SOURCE, org ? "oblique_1" : "oblique_0", 1,
                  (int)sizeof(Kelvra_Oblique));
        delete org;
        return nullptr;
    }
    if (!Oblique_Arrays_Create(org)) {
        // Never attached: deleting them frees what was allocated so far.
        delete obl;
        delete org;
        return nullptr;
    }
    Oblique_Frame_Write(org, 0, file, bunch, slice);
    org->real_files_nb = 1;
    org->tree_level = level;
    obl->tree_level = level;

    char name[STUDY_NAME_MAX + 4];
    Oblique_Study_Name(study, name);
    org->Name_Set("%s (dir:Original)", name);
    obl->Name_Set("%s (dir:Oblique)", name);
    obl->Flag_Set_On(16, nullptr, 0x1000000);

    study->Child_Add(org);   // every part relies on Original = child 0, Oblique = child 1
    study->Child_Add(obl);
    Fct_Update(0xc00300, nullptr, org, nullptr);
    Fct_Update(0xc00300, nullptr, obl, nullptr);
    return org;
}

/* Hands the frame to the next level with the Original-direction class as
 * its parent. */
static int Oblique_Forward(Kelvra_Insert_Fct *tree, Kelvra_File *file, int bunch, int slice, Kelvra_Oblique *org,
                           unsigned short level)
{
    if (!tree || !tree[level + 1])
        return 0;
    return tree[level + 1](file, bunch, slice, org, (unsigned short)(level + 1));
}

extern "C" int Class_Insert(Kelvra_File *file, int bunch, int slice, Kelvra_Class *parent, unsigned short level)
{
    Error_Fct(hwnd, 11, "Class Kelvra_Oblique: Class_Insert(slice:%d)", slice);
    const unsigned short *ids = (const unsigned short *)Fct_Variable_Value("$DB_TREE_ID", nullptr, nullptr, nullptr);
    Kelvra_Insert_Fct *tree = (Kelvra_Insert_Fct *)Fct_Variable_Value("$DB_TREE_PT", nullptr, nullptr, nullptr);

    Kelvra_Oblique *org;
    if (parent->Child_Get_Nb() != 0) {
        org = static_cast<Kelvra_Oblique *>(parent->Child_Get_Pt(0));
        if (!Oblique_Frame_Record(org, file, bunch, slice))
            return 0;
    } else {
        org = Oblique_Study_Create(file, bunch, slice, parent, ids ? ids[level] : 0, level);
        if (!org)
            return 0;
    }
    return Oblique_Forward(tree, file, bunch, slice, org, level);
}
