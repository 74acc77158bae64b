/*
 * Mapping of a direction's voxel space into the study's frames, and the
 * pixel callbacks of the direction classes.  The mapping is the hot loop of
 * every view of a re-sliced frame: it only reads fields, with no lock,
 * allocation, search or virtual call.
 */
#include <stdlib.h>

#include "oblique_internal.h"

/* Oblique_Map for a class whose matrix_pt is set. */
static inline __attribute__((always_inline)) int Oblique_Map_Set(Kelvra_Oblique *cls, void **key, void **key_next,
                                                                 Vect *point)
{
    // The Original class first: nothing of the point is then held across the call.
    const Kelvra_Oblique *org = Oblique_Original(cls);
    *point *= *cls->matrix_pt;
    return Oblique_Locate(org, key, key_next, point);
}

int Oblique_Map(Kelvra_Oblique *cls, void **key, void **key_next, Vect *point)
{
    if (!cls->matrix_pt)
        return 1;   // the class's frames are the study's own
    return Oblique_Map_Set(cls, key, key_next, point);
}

int Class_Oblique_Pixel_Get_Dim(Kelvra_Class *cls, void *, int *width, int *height)
{
    const Kelvra_Oblique *obl = static_cast<const Kelvra_Oblique *>(cls);
    if (width)
        *width = obl->dim.x;
    if (height)
        *height = obl->dim.y;
    return 1;
}

int Class_Oblique_Pixel_Get_GLI(Kelvra_Class *cls, void *key, Vect point)
{
    Kelvra_Oblique *obl = static_cast<Kelvra_Oblique *>(cls);
    Kelvra_Class *parent = obl->Parent_Get_Pt();
    if (!obl->matrix_pt)
        return parent->Pixel_Get_GLI(parent, key, point);
    void *key_next = nullptr;
    if (!Oblique_Map_Set(obl, &key, &key_next, &point))
        return OBLIQUE_GLI_INVALID;
    return Fct_GLI_Interpolate(parent, key, key_next, point);
}

int Class_Oblique_Pixel_Get_TAG(Kelvra_Class *cls, void *key, Vect point)
{
    Kelvra_Oblique *obl = static_cast<Kelvra_Oblique *>(cls);
    Kelvra_Class *parent = obl->Parent_Get_Pt();
    if (!obl->matrix_pt)
        return parent->Pixel_Get_TAG(parent, key, point);
    // Two calls, not one shared by both ways: the point mapped in place
    // then stays in registers.
    if (!Oblique_Map_Set(obl, &key, nullptr, &point))
        return 0;
    return parent->Pixel_Get_TAG(parent, key, point);
}

/* The entry of the update list for a frame key, added (with an empty box)
 * when the key is new; null when the list cannot grow.  Called with the
 * class mutex held. */
static Oblique_Update *Oblique_Update_Entry(Kelvra_Oblique *obl, void *key)
{
    for (unsigned i = 0; i < obl->update_nb; i++)
        if (obl->update_pt[i].key == key)
            return &obl->update_pt[i];
    unsigned nb = obl->update_nb;
    void *grown = nb < 0xFFFF ? Oblique_Block_Grow(obl->update_pt, nb * sizeof(Oblique_Update),
                                                   (nb + 1) * sizeof(Oblique_Update))
                              : nullptr;   // the count is 16-bit
    if (!grown) {
        Error_Fct(hwnd, 1, OBLIQUE_MSG_REALLOC, CALLBACK_LINE_UPDATE_PT, CALLBACK_SOURCE, "oblique->update_pt",
                  (int)(nb + 1), (int)sizeof(Oblique_Update));
        return nullptr;
    }
    obl->update_pt = static_cast<Oblique_Update *>(grown);
    Oblique_Update *entry = &obl->update_pt[nb];
    entry->key = key;
    entry->region.kind = 6;
    entry->region.Clear();
    obl->update_nb = (unsigned short)(nb + 1);
    return entry;
}

int Class_Oblique_Pixel_Set_TAG(Kelvra_Class *cls, void *key, Vect point, unsigned char tag)
{
    Kelvra_Oblique *obl = static_cast<Kelvra_Oblique *>(cls);
    if (!Oblique_Map(obl, &key, nullptr, &point))
        return 0;
    obl->Mutex_Open(SET_TAG_LABEL);
    Oblique_Update *entry = Oblique_Update_Entry(obl, key);
    if (entry)
        entry->region.Add(point);
    obl->Mutex_Close(SET_TAG_LABEL);
    if (!entry)
        return 0;
    Kelvra_Class *parent = obl->Parent_Get_Pt();
    return parent->Pixel_Set_TAG(parent, key, point, tag);
}

/* World position of a point outside the study's volume: continued from the
 * position of the first source frame's origin along the axes of the
 * caller's frame image. */
static Vect Oblique_Pos_Extrapolate(Kelvra_Oblique *obl, void *key, const Vect &p0)
{
    Kelvra_Class *parent = obl->Parent_Get_Pt();
    const Kelvra_Oblique *org = Oblique_Original(obl);
    if (org->real_files_nb == 0)
        return Vect(0.0f, 0.0f, 0.0f, 0.0f);   // no frame to measure from
    Vect origin = parent->Pixel_Get_Pos(parent, Oblique_Frame_Key(org, 0), Vect(0.0f, 0.0f, 0.0f, 0.0f));
    Vect q(0.0f, 0.0f, 0.0f, 0.0f);
    q *= !obl->matrix;
    Error_Fct(hwnd, 11, "pos before   -> %.2f %.2f %.2f", p0.x, p0.y, p0.z);
    Error_Fct(hwnd, 11, "pos_0 after  -> %.2f %.2f %.2f", q.x, q.y, q.z);
    Vect d = p0 - q;
    const Vexa_Image *header = static_cast<const Vexa_Image *>(key);
    const Vect &size = Oblique_Pixel_Size(header);
    Vect result = origin + (d.x * size.x) * header->axis_row + (d.y * size.y) * header->axis_col +
                  (d.z * size.z) * header->axis_normal;
    Error_Fct(hwnd, 11, CALLBACK_MSG_RESULT, result.x, result.y, result.z);
    return result;
}

Vect Class_Oblique_Pixel_Get_Pos(Kelvra_Class *cls, void *key, Vect point)
{
    Kelvra_Oblique *obl = static_cast<Kelvra_Oblique *>(cls);
    Vect p0 = point;
    void *mapped = key;
    if (Oblique_Map(obl, &mapped, nullptr, &point)) {
        Kelvra_Class *parent = obl->Parent_Get_Pt();
        return parent->Pixel_Get_Pos(parent, mapped, point);
    }
    return Oblique_Pos_Extrapolate(obl, key, p0);
}
