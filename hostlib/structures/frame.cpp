/*
 * Host frames: the leaves of the class tree.  A frame holds no pixels; it
 * reads and paints them through its parent's callbacks with its key, z and
 * t, and redraws when an update touches its plane.
 */
#include "az_db_private.h"

AzFrame::AzFrame(Vexa_Image *frame_key, int frame_z, int frame_t)
    : key(frame_key), z(frame_z), t(frame_t), dirty_nb(0), update_nb(0)
{
    Class_A_Set(AZ_CLASS_FRAME);
    Title_Set("Frame");
    dirty_last.kind = 6;
    dirty_last.Clear();
}

void AzFrame::Update_Child_A(uint64_t, void *, void *changed_key, Region_4D *box)
{
    update_nb++;
    if (changed_key && changed_key != (void *)key)
        return;
    if (box && !(box->min[2] <= (float)z && (float)z <= box->max[2]))
        return;
    if (box) {
        dirty_last = *box;
    } else {
        dirty_last.Clear();
        dirty_last.Add(0, 0, (float)z, (float)t);
        dirty_last.Add(key ? key->width : 0, key ? key->height : 0, (float)z, (float)t);
    }
    dirty_nb++;
    AzHost_Post_Redraw(AZ_REDRAW_FRAME);
}

/* Position of the frame's first pixel along its image's normal. */
static double Frame_Depth(AzFrame *frame)
{
    Vect p = AzFrame_Get_Pos(frame, 0.0f, 0.0f);
    return frame->key ? azdb::Dot(p, frame->key->axis_normal) : 0.0;
}

int AzFrame::Compare(Kelvra_Class *other)
{
    AzFrame *that = AzFrame_Cast(other);
    if (!that)
        return Kelvra_Class::Compare(other);
    double a = Frame_Depth(this), b = Frame_Depth(that);
    /* Positions closer than this are the same place. */
    const double same = 1e-4;
    if (a < b - same)
        return -1;
    if (a > b + same)
        return 1;
    if (z != that->z)
        return z < that->z ? -1 : 1;
    if (t != that->t)
        return t < that->t ? -1 : 1;
    return 0;
}

AzFrame *AzFrame_Cast(Kelvra_Class *cls) { return dynamic_cast<AzFrame *>(cls); }

int AzFrame_Get_GLI(AzFrame *frame, float x, float y)
{
    Kelvra_Class *parent = frame->Parent_Get_Pt();
    if (!parent || !parent->Pixel_Get_GLI)
        return AZ_GLI_INVALID;
    return parent->Pixel_Get_GLI(parent, frame->key, Vect(x, y, (float)frame->z, (float)frame->t));
}

int AzFrame_Get_TAG(AzFrame *frame, float x, float y)
{
    Kelvra_Class *parent = frame->Parent_Get_Pt();
    if (!parent || !parent->Pixel_Get_TAG)
        return 0;
    return parent->Pixel_Get_TAG(parent, frame->key, Vect(x, y, (float)frame->z, (float)frame->t));
}

int AzFrame_Set_TAG(AzFrame *frame, float x, float y, unsigned char tag)
{
    Kelvra_Class *parent = frame->Parent_Get_Pt();
    if (!parent || !parent->Pixel_Set_TAG)
        return 0;
    return parent->Pixel_Set_TAG(parent, frame->key, Vect(x, y, (float)frame->z, (float)frame->t), tag);
}

int AzFrame_Get_Dim(AzFrame *frame, int *width, int *height)
{
    Kelvra_Class *parent = frame->Parent_Get_Pt();
    if (!parent || !parent->Pixel_Get_Dim)
        return 0;
    return parent->Pixel_Get_Dim(parent, frame->key, width, height);
}

Vect AzFrame_Get_Pos(AzFrame *frame, float x, float y)
{
    Kelvra_Class *parent = frame->Parent_Get_Pt();
    if (!parent || !parent->Pixel_Get_Pos)
        return Vect();
    return parent->Pixel_Get_Pos(parent, frame->key, Vect(x, y, (float)frame->z, (float)frame->t));
}
