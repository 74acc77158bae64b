/*
 * Update propagation between the two directions of a study: tags painted in
 * one direction change the study's images, so the frames of the other
 * direction showing the same voxels are told which region changed.
 */
#include <stdlib.h>

#include "oblique_internal.h"

#define UPDATE_TAG_BIT 0x800000ULL

/* Passes a changed region to every frame of cls; the count is read again
 * after each call since a frame may change the tree. */
static void Oblique_Children_Update(Kelvra_Oblique *cls, uint64_t flags, void *context, void *key, Region_4D *box)
{
    for (int i = 0; i < cls->Child_Get_Nb(); i++)
        cls->Child_Get_Pt(i)->Update_Child_A(flags, context, key, box);
}

int Kelvra_Oblique::Update_B(uint64_t flags)
{
    if (!Oblique_Validate(this, UPDATE_B_LABEL, UPDATE_SOURCE, UPDATE_B_LINE))
        return 0;
    // The host may paint from another thread while updates run: the list
    // is read, handed on and released under the mutex the tag callback
    // holds while it adds to it, so a tag set meanwhile waits and then
    // starts the next list.
    Mutex_Open(SET_TAG_LABEL);
    if (update_nb == 0 || !(flags & UPDATE_TAG_BIT)) {
        Mutex_Close(SET_TAG_LABEL);
        return 1;
    }
    int d = Class_A_Get() - OBLIQUE_TYPE_ORIGINAL;
    Error_Fct(hwnd, 11, "Update_B for (%s) dir: %d", Name_Get(), d);
    Kelvra_Class *study = Parent_Get_Pt();
    for (int i = 0; i < 2; i++) {
        if (i == d)
            continue;
        Kelvra_Class *other = study ? study->Child_Get_Pt(i) : nullptr;
        if (!other || other->Child_Get_Nb() < 1)
            continue;
        for (unsigned e = 0; e < update_nb; e++)
            other->Update_Child_A(flags, nullptr, update_pt[e].key, &update_pt[e].region);
    }
    Oblique_Block_Free(update_pt);
    update_pt = nullptr;
    update_nb = 0;
    Mutex_Close(SET_TAG_LABEL);
    return 1;
}

/* The range of source frames a change of key touches: lo..hi, or hi < lo
 * when it touches none.  A null key names every frame. */
static void Oblique_Frame_Range(const Kelvra_Oblique *org, const void *key, const Region_4D *box, int *lo, int *hi)
{
    if (!key) {
        *lo = 0;
        *hi = org->real_files_nb;
        return;
    }
    *lo = 100000;
    *hi = -100000;
    for (int i = 0; i < org->real_files_nb; i++) {
        if (Oblique_Frame_Key(org, i) != key)
            continue;
        float z = (float)org->real_files_z[i];
        float t = (float)org->real_files_t[i];
        if (box->min[2] <= z && z <= box->max[2] && box->min[3] <= t && t <= box->max[3]) {
            *lo = i < *lo ? i : *lo;
            *hi = i > *hi ? i : *hi;
        }
    }
}

void Kelvra_Oblique::Update_Child_A(uint64_t flags, void *context, void *key, Region_4D *box)
{
    if (!Oblique_Validate(this, UPDATE_CHILD_LABEL, UPDATE_SOURCE, UPDATE_CHILD_LINE))
        return;
    if (!matrix_pt) {
        Oblique_Children_Update(this, flags, context, key, box);   // the frames are the study's own
        return;
    }
    if (!box)
        return;   // nothing to translate
    int lo, hi;
    Oblique_Frame_Range(Oblique_Original(this), key, box, &lo, &hi);
    if (hi < lo)
        return;
    Region_4D changed = *box;
    changed.min[2] = (float)lo;
    changed.max[2] = (float)hi;
    if (matrix_inv_pt)
        changed *= *matrix_inv_pt;
    // Every frame of this direction is a slice of the one header dir_image.
    Oblique_Children_Update(this, flags, context, dir_image, &changed);
}
