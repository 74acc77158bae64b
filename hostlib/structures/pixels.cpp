/*
 * The pixel store and the study's pixel callbacks, and the host frames that
 * read their pixels through their parent.
 *
 * The callbacks are the product's hot loop: from the key (the image header)
 * to the pixel in constant time, with no lock, allocation or search.
 */
#include <stdlib.h>
#include <string.h>

#include "az_db_private.h"

/* ------------------------------------------------------------------------
 * Pixel store
 * --------------------------------------------------------------------- */

Vexa_Image *AzImage_Create(int width, int height, int slices, int times)
{
    if (width < 1 || height < 1 || slices < 1 || times < 1 || width > 65535 || height > 65535 || slices > 65535 ||
        times > 65535)
        return nullptr;
    int64_t plane = (int64_t)width * height;
    int64_t count = plane * slices * times;
    /* Grey levels, then tags, right after the pixel record: one block. */
    size_t bytes = sizeof(Vexa_Pixels) + (size_t)count * (sizeof(int16_t) + sizeof(uint8_t));
    Vexa_Pixels *pixels = (Vexa_Pixels *)calloc(1, bytes);
    Vexa_Image *image = (Vexa_Image *)calloc(1, sizeof(Vexa_Image));
    if (!pixels || !image) {
        free(pixels);
        free(image);
        return nullptr;
    }
    pixels->gli = (int16_t *)(pixels + 1);
    pixels->tag = (uint8_t *)(pixels->gli + count);
    pixels->width = width;
    pixels->height = height;
    pixels->planes_nb = slices * times;
    pixels->row_stride = width;
    pixels->plane_stride = plane;
    pixels->width_f = (float)width;
    pixels->height_f = (float)height;
    pixels->slices_f = (float)slices;
    pixels->slices_nb = slices;

    image->width = (uint16_t)width;
    image->height = (uint16_t)height;
    image->slices_nb = (uint16_t)slices;
    image->times_nb = (uint16_t)times;
    image->pixel_type = AZ_PIXEL_INT16_TAG8;
    image->pixel_size = Vect(1, 1, 1);
    image->pixel_size_2 = image->pixel_size;
    image->axis_row = Vect(1, 0, 0);
    image->axis_col = Vect(0, 1, 0);
    image->axis_normal = Vect(0, 0, 1);
    image->rescale_slope = 1.0f;
    image->pixels_pt = pixels;
    return image;
}

void AzImage_Free(Vexa_Image *image)
{
    if (!image)
        return;
    free(image->pixels_pt);
    free(image);
}

Vect AzImage_Pixel_Size(const Vexa_Image *image)
{
    return image->pixel_size_pt ? *image->pixel_size_pt : image->pixel_size;
}

Vect AzImage_Pos(const Vexa_Image *image, float x, float y, float z)
{
    if (!image)
        return Vect();
    Vect size = AzImage_Pixel_Size(image);
    Vect p = image->position + (x * size.x) * image->axis_row + (y * size.y) * image->axis_col +
             (z * size.z) * image->axis_normal;
    p.w = 0.0f;
    return p;
}

int16_t *AzImage_GLI_Plane(Vexa_Image *image, int z, int t)
{
    Vexa_Pixels *px = image->pixels_pt;
    return px->gli + (int64_t)(t * image->slices_nb + z) * px->plane_stride;
}

uint8_t *AzImage_TAG_Plane(Vexa_Image *image, int z, int t)
{
    Vexa_Pixels *px = image->pixels_pt;
    return px->tag + (int64_t)(t * image->slices_nb + z) * px->plane_stride;
}

/* ------------------------------------------------------------------------
 * Study callbacks
 * --------------------------------------------------------------------- */

/* Offset of the point's plane, or -1 outside: x in [0, width], y in [0,
 * height] (the far edge is inside), z and t truncated toward zero to a
 * plane of the image.  Written so that NaN is outside; the float limits on
 * z and t keep their conversions defined. */
static inline __attribute__((always_inline)) int64_t Point_Plane(const Vexa_Pixels *px, const Vect &p)
{
    if (!(p.x >= 0.0f && p.x <= px->width_f && p.y >= 0.0f && p.y <= px->height_f && p.z > -1.0f &&
          p.z < px->slices_f && p.w > -1.0f && p.w < 65536.0f))
        return -1;
    // t past the last time point gives a plane past the last one.
    int plane = (int)p.w * px->slices_nb + (int)p.z;
    return plane < px->planes_nb ? (int64_t)plane * px->plane_stride : -1;
}

/* floor(v) for v well inside the int range, without a library call. */
static inline int Floor_Int(double v)
{
    int i = (int)v;
    return i - ((double)i > v);
}

/* Bilinear grey level of (x, y) in plane (z, t) of the key's image.  The
 * far edge (x == width or y == height) reads the last column or row with
 * weight 1: the neighbour step is then 0 rather than a test per read. */
static inline __attribute__((always_inline)) int Image_GLI(const Vexa_Image *image, const Vect &p)
{
    const Vexa_Pixels *px = image ? image->pixels_pt : nullptr;
    if (!px)
        return AZ_GLI_INVALID;
    int64_t plane = Point_Plane(px, p);
    if (plane < 0)
        return AZ_GLI_INVALID;
    int x0 = (int)p.x, y0 = (int)p.y;
    x0 -= x0 == px->width;
    y0 -= y0 == px->height;
    int64_t step_x = x0 + 1 < px->width ? 1 : 0;
    int64_t step_y = y0 + 1 < px->height ? px->row_stride : 0;
    const int16_t *g = px->gli + plane + (int64_t)y0 * px->row_stride + x0;
    /* Weights and sums in double, in this order: a level on a rounding
     * edge then rounds the same way wherever the host computes it. */
    double fx = (double)p.x - x0, fy = (double)p.y - y0;
    double top = g[0] * (1.0 - fx) + g[step_x] * fx;
    double bottom = g[step_y] * (1.0 - fx) + g[step_y + step_x] * fx;
    return Floor_Int(top * (1.0 - fy) + bottom * fy + 0.5);
}

/* Nearest pixel index of an inside coordinate (c >= 0, so truncation is
 * the floor), the far edge giving the last pixel. */
static inline int Nearest(float c, int size)
{
    int i = (int)(c + 0.5f);
    return i > size - 1 ? size - 1 : i;
}

/* Offset of the pixel nearest to p, or -1 outside. */
static inline __attribute__((always_inline)) int64_t Tag_Offset(const Vexa_Image *image, const Vect &p)
{
    const Vexa_Pixels *px = image ? image->pixels_pt : nullptr;
    if (!px)
        return -1;
    int64_t plane = Point_Plane(px, p);
    if (plane < 0)
        return -1;
    return plane + (int64_t)Nearest(p.y, px->height) * px->row_stride + Nearest(p.x, px->width);
}

int AzStudy_Pixel_Get_GLI(Kelvra_Class *, void *key, Vect point) { return Image_GLI((Vexa_Image *)key, point); }

int Fct_GLI_Interpolate(Kelvra_Class *, void *key, void *, Vect point)
{
    return Image_GLI((Vexa_Image *)key, point);
}

int AzStudy_Pixel_Get_TAG(Kelvra_Class *, void *key, Vect point)
{
    const Vexa_Image *image = (const Vexa_Image *)key;
    int64_t at = Tag_Offset(image, point);
    return at < 0 ? 0 : image->pixels_pt->tag[at];
}

int AzStudy_Pixel_Set_TAG(Kelvra_Class *, void *key, Vect point, unsigned char tag)
{
    Vexa_Image *image = (Vexa_Image *)key;
    int64_t at = Tag_Offset(image, point);
    if (at < 0)
        return 0;
    image->pixels_pt->tag[at] = tag;
    return 1;
}

int AzStudy_Pixel_Get_Dim(Kelvra_Class *, void *key, int *width, int *height)
{
    const Vexa_Image *image = (const Vexa_Image *)key;
    if (!image)
        return 0;
    if (width)
        *width = image->width;
    if (height)
        *height = image->height;
    return 1;
}

Vect AzStudy_Pixel_Get_Pos(Kelvra_Class *, void *key, Vect point)
{
    return AzImage_Pos((const Vexa_Image *)key, point.x, point.y, point.z);
}

/* ------------------------------------------------------------------------
 * Host frames
 * --------------------------------------------------------------------- */

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
