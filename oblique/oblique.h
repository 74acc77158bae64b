/*
 * The module's data class and the routines the module's parts call in one
 * another.  Everything here is hidden from the host except the class, its
 * operations and the entry points marked AZ_EXPORT.
 */
#ifndef OBLIQUE_H
#define OBLIQUE_H

#include <emmintrin.h>
#include <stdint.h>

#include "../host/corvantis_convert.h"
#include "../host/corvantis_tools.h"
#include "../host/kelvra_structures.h"

#define OBLIQUE_TYPE_ORIGINAL 13
#define OBLIQUE_TYPE_OBLIQUE 14
#define OBLIQUE_GLI_INVALID 2147483646

/* Three signed 32-bit sizes. */
struct Oblique_Dim {
    int32_t x, y, z;
};

/* A painted frame image and the box of the points painted in it. */
struct Oblique_Update {
    void *key;
    Region_4D region;
};
static_assert(sizeof(Oblique_Update) == 48, "update entry: key and Region_4D");

/* One direction of a study: child 0 (Original, type 13) or child 1
 * (Oblique, type 14) of the study class. */
class AZ_EXPORT Kelvra_Oblique : public Kelvra_Class {
  public:
    unsigned short tree_level;
    unsigned char enabled;
    Kelvra_File *dir_file;
    Vexa_Image *dir_image;
    Oblique_Dim ref_dim;
    Oblique_Dim dim;
    float slice_cur;
    Vect axis_x, axis_y, axis_z;
    Vect voxel;
    float alpha, beta, theta;
    unsigned short update_nb;
    Oblique_Update *update_pt;
    unsigned char is_original;
    Matrix_4x4 matrix;
    unsigned short real_files_nb;
    int32_t *real_files_bunch;
    int32_t *real_files_slice;
    int32_t *real_files_z;
    int32_t *real_files_t;
    float *real_files_d;
    Kelvra_File **real_files_pt;
    signed char group_valid;
    unsigned char dir;
    Region_3D region;

    /* Original-direction class from a study's first frame (slice ignored). */
    Kelvra_Oblique(Kelvra_Class *parent, unsigned short class_id, Kelvra_File *file, int bunch, int slice);
    /* Direction class without frame data. */
    Kelvra_Oblique(Kelvra_Class *parent, unsigned short class_id, signed char direction);
    Kelvra_Oblique(const Kelvra_Oblique &other);
    Kelvra_Oblique &operator=(const Kelvra_Oblique &other);
    virtual ~Kelvra_Oblique();

    virtual int Update_B(uint64_t flags);
    virtual void Update_Child_A(uint64_t flags, void *context, void *key, Region_4D *box);
};

/* Frame key of source frame i of an Original-direction class. */
inline void *Oblique_Frame_Key(const Kelvra_Oblique *org, int i)
{
    return org->real_files_pt[i]->images[org->real_files_bunch[i]];
}

/* The Original-direction class of cls's study (child 0 of its parent). */
inline Kelvra_Oblique *Oblique_Original(const Kelvra_Class *cls)
{
    return static_cast<Kelvra_Oblique *>(cls->Parent_Get_Pt()->Child_Get_Pt(0));
}

/* Picks the source frame of a point already in Original-direction voxel
 * space (org is the Original-direction class): z becomes the slice and w
 * the time point within the frame's image.  Inlined into every callback:
 * it runs once per pixel. */
static inline __attribute__((always_inline)) int Oblique_Locate(const Kelvra_Oblique *org, void **key,
                                                                void **key_next, Vect *point)
{
    int nb = org->real_files_nb;
    // x in [0, dim.x], y in [0, dim.y], z in (-1, nb), so that z truncated
    // toward zero is a source frame, 0 <= f < nb.  One packed compare, one
    // branch: where rows enter and leave the volume the outcome of each
    // test changes, and six branches would each be mispredicted.  The open
    // ends are the next float inward (-1 up: a constant; nb down: its bits
    // less one, and nb = 0 gives a NaN that nothing passes), and NaN fails
    // every comparison.
    __m128 p = _mm_setr_ps(point->x, point->y, point->z, point->z);
    __m128 low = _mm_setr_ps(0.0f, 0.0f, -0x1.fffffep-1f, -0x1.fffffep-1f);
    __m128i ends = _mm_castps_si128(_mm_cvtepi32_ps(_mm_setr_epi32(org->dim.x, org->dim.y, nb, nb)));
    __m128 high = _mm_castsi128_ps(_mm_sub_epi32(ends, _mm_setr_epi32(0, 0, 1, 1)));
    if (_mm_movemask_ps(_mm_and_ps(_mm_cmpge_ps(p, low), _mm_cmple_ps(p, high))) != 0xF)
        return 0;
    int f = (int)point->z;
    point->z = (float)org->real_files_z[f];
    point->w = (float)org->real_files_t[f];
    *key = Oblique_Frame_Key(org, f);
    if (key_next)
        *key_next = Oblique_Frame_Key(org, f + 1 < nb ? f + 1 : nb - 1);
    return 1;
}

/* Mapping (oblique_callback).  Oblique_Map_Direct is inline: the preview
 * maps every pixel of its images with it. */
int Oblique_Map(Kelvra_Oblique *cls, void **key, void **key_next, Vect *point);
inline int Oblique_Map_Direct(Kelvra_Oblique *cls, void **key, Vect *point)
{
    const Kelvra_Oblique *org = Oblique_Original(cls);
    *point *= cls->matrix;
    return Oblique_Locate(org, key, nullptr, point);
}
int Class_Oblique_Pixel_Get_GLI(Kelvra_Class *cls, void *key, Vect point);
int Class_Oblique_Pixel_Get_TAG(Kelvra_Class *cls, void *key, Vect point);
int Class_Oblique_Pixel_Set_TAG(Kelvra_Class *cls, void *key, Vect point, unsigned char tag);
int Class_Oblique_Pixel_Get_Dim(Kelvra_Class *cls, void *key, int *width, int *height);
Vect Class_Oblique_Pixel_Get_Pos(Kelvra_Class *cls, void *key, Vect point);

/* Frame creation (apply). */
int Oblique_Group_Test(Kelvra_Oblique *cls);
int Oblique_Setup(Kelvra_Oblique *org, Kelvra_Oblique *obl);
int Ctrl_Apply(int on_0, Kelvra_Oblique *cls_0, int on_1, Kelvra_Oblique *cls_1);
unsigned __stdcall Oblique_Thread(void *job);

/* Progress window client (w_progress). */
struct Progress_Record;
Progress_Record *Progress_Create(HWND parent, const char *title, const char *subtitle);
void Progress_Write(Progress_Record *record, const char *format, ...) AZ_PRINTF(2, 3);
void Progress_Step(Progress_Record *record, int delta);
void Progress_Set_Max(Progress_Record *record, int maximum);
int Progress_Cancelled(Progress_Record *record);
void Progress_Close(Progress_Record *record);

/* Panel state update (ctrl). */
int Ctrl_Update(uint64_t flags);

/* Preview (draw). */
int Oblique_GLI_Build(Kelvra_Oblique *cls, Vexa_Image *header, int width, int height, int k);
int Oblique_TAG_Build(Kelvra_Oblique *cls, Vexa_Image *header, int width, int height, int k);
int Oblique_Pixels_Draw(float zoom_x, float zoom_y, short width, short height);
void Oblique_Image(HWND image_window, Boxs *box_image, Kelvra_Oblique *cls);
void Oblique_Buffers_Release(void);
void Oblique_Draw_Box(Matrix_4x4 m, float hx, float hy, float hz);
void Oblique_Draw_Plane(Matrix_4x4 m, float hx, float hy, float hz, float d);
int Oblique_Draw_Info(Boxs *box_image, Kelvra_Oblique *cls);
void Oblique_Text_Begin(HWND window);
int Oblique_Text_Height(HFONT font);
int Oblique_Text_Width(HFONT font, const char *text);
/* Reports every pending OpenGL error of a checkpoint at level 11. */
void Oblique_GL_Check(const char *source, int line, const char *label);

#endif
