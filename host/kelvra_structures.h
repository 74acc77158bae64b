/*
 * kelvra_Structures: the host's class database as the module sees it.
 *
 * The database is a tree of classes.  A frame enters it by passing down a
 * chain of insert functions, one per tree level ("$DB_TREE_PT"); every
 * level files it under a class of its own and hands it to the next level
 * with that class as parent.  A class answers the pixels of the frames
 * directly below it through five callbacks; a frame is named by its key,
 * the image header (Vexa_Image*) of its image.
 *
 * Threads: the tree, flags, variables, iterators and regions are used from
 * the interface thread and the module's worker; Fct_Update and Fct_Redraw
 * may be called from any thread and are carried out on the interface
 * thread.  Pixel callbacks may be called from any thread.
 */
#ifndef KELVRA_STRUCTURES_H
#define KELVRA_STRUCTURES_H

#include <stddef.h>
#include <stdint.h>

#include "corvantis_util.h"

class Kelvra_Class;
class Kelvra_Window;

/* ------------------------------------------------------------------------
 * Points and boxes
 * --------------------------------------------------------------------- */

/* A point with a leading kind byte (1 for a plain point). */
class AZ_EXPORT Point_3D {
  public:
    unsigned char kind;
    float x, y, z;

    Point_3D() : kind(1), x(0.0f), y(0.0f), z(0.0f) {}
    Point_3D(float px, float py, float pz) : kind(1), x(px), y(py), z(pz) {}
    /* Transforms the point as Vect::operator*= does. */
    Point_3D operator*=(const Matrix_4x4 &m);
};

/* A box of points: kind, then the minimum and maximum corner.  Empty when
 * the minimum lies above the maximum (Clear sets +-100000). */
class AZ_EXPORT Region_3D {
  public:
    unsigned char kind;
    float min[3];
    float max[3];

    Region_3D() { Clear(); }
    void Clear();
    void Add(float px, float py, float pz);
    /* Replaces the box by the bounding box of its eight transformed corners. */
    Region_3D &operator*=(const Matrix_4x4 &m);
};

/* The same with a fourth axis t (time point), which transforms leave alone. */
class AZ_EXPORT Region_4D {
  public:
    unsigned char kind;
    float min[4];
    float max[4];

    Region_4D() { Clear(); }
    void Clear();
    void Add(float px, float py, float pz, float pt);
    void Add(const Vect &p) { Add(p.x, p.y, p.z, p.w); }
    Region_4D &operator*=(const Matrix_4x4 &m);
};

/* ------------------------------------------------------------------------
 * Image header
 * --------------------------------------------------------------------- */

/* The host's image header, 2960 bytes shared byte for byte with the host
 * libraries.  Fields marked "host" are this host's own bytes. */
struct Vexa_Image {
    unsigned char res_0[8];
    uint32_t flags;                 /* 8: bit 0x20000000: a resampled direction's header */
    unsigned char res_12[92];
    uint16_t width;                 /* 104 */
    uint16_t height;                /* 106 */
    uint16_t slices_nb;             /* 108: slices per volume */
    uint16_t times_nb;              /* 110 host: time points (>= 1) */
    int16_t pixel_type;             /* 112 host: storage of the pixels, see Vexa_Pixels */
    unsigned char res_114[142];
    Vect pixel_size;                /* 256: x, y, z in mm (z: slice step within the image) */
    Vect pixel_size_2;              /* 272: kept equal to pixel_size */
    unsigned char res_288[8];
    Vect *pixel_size_pt;            /* 296: when set, the pixel size to use */
    unsigned char res_304[12];
    Vect axis_row;                  /* 316: direction of increasing column */
    Vect axis_col;                  /* 332: direction of increasing row */
    Vect axis_normal;               /* 348: slice normal */
    float location;                 /* 364: slice location in mm along the normal */
    Vect position;                  /* 368 host: world position (mm, LPS) of pixel (0, 0) of slice 0 */
    struct Vexa_Pixels *pixels_pt;  /* 384 host: the pixels, null for a header without pixels */
    float rescale_slope;            /* 392 host: grey level * slope + intercept = real value */
    float rescale_intercept;        /* 396 host */
    char patient_name[64];          /* 400 host */
    char series_uid[68];            /* 464 host */
    char series_description[64];    /* 532 host */
    char modality[8];               /* 596 host */
    char file_name[212];            /* 604 host: where the image came from */
    unsigned char display_mode;     /* 816: display byte for the grey-level colour set-up */
    unsigned char res_817[39];
    float display_low;              /* 856: window minimum (or centre), passed second */
    float display_high;             /* 860: window maximum (or width), passed first */
    unsigned char res_864[2096];
};

/* Pixels of one image: slices_nb * times_nb planes of width * height grey
 * levels and as many tags.  Plane p = t * slices_nb + z.  Grey levels are
 * stored as signed 16 bits (already rescaled when they fit). */
struct Vexa_Pixels {
    int16_t *gli;        /* grey levels, plane after plane, row after row */
    uint8_t *tag;        /* one tag per pixel, same layout */
    int32_t width;
    int32_t height;
    int32_t planes_nb;   /* slices_nb * times_nb */
    int32_t row_stride;  /* = width */
    int64_t plane_stride;/* = width * height */
    /* Kept for the pixel reads, set with the store: the size limits as
     * floats and the slices per time point. */
    float width_f, height_f, slices_f;
    int32_t slices_nb;
};

/* ------------------------------------------------------------------------
 * Classes
 * --------------------------------------------------------------------- */

typedef int (*Pixel_Get_GLI_Fct)(Kelvra_Class *cls, void *key, Vect point);
typedef int (*Pixel_Get_TAG_Fct)(Kelvra_Class *cls, void *key, Vect point);
typedef int (*Pixel_Set_TAG_Fct)(Kelvra_Class *cls, void *key, Vect point, unsigned char tag);
typedef int (*Pixel_Get_Dim_Fct)(Kelvra_Class *cls, void *key, int *width, int *height);
typedef Vect (*Pixel_Get_Pos_Fct)(Kelvra_Class *cls, void *key, Vect point);

class Kelvra_File;

/* An insert function of one tree level ("$DB_TREE_PT" entry). */
typedef int (*Kelvra_Insert_Fct)(Kelvra_File *file, int bunch, int slice, Kelvra_Class *parent,
                                 unsigned short level);

#define KELVRA_MAGIC 43706

/* Identity shared by classes and windows: magic, class types A and B, name. */
class AZ_EXPORT Kelvra {
  public:
    Kelvra();
    Kelvra(const Kelvra &other);
    Kelvra &operator=(const Kelvra &other);
    ~Kelvra();

    void Class_A_Set(unsigned short a) { class_a = a; }
    unsigned short Class_A_Get() const { return class_a; }
    void Class_B_Set(unsigned short b) { class_b = b; }
    unsigned short Class_B_Get() const { return class_b; }
    unsigned short Class_Magic_Get() const { return magic; }
    /* For the host's own checks and tests: a stale or foreign object. */
    void Class_Magic_Set(unsigned short m) { magic = m; }

    char *Name_Get() { return name; }
    void Name_Set(const char *format, ...) AZ_PRINTF(2, 3);

  private:
    unsigned short magic;
    unsigned short class_a;
    unsigned short class_b;
    char name[256];
};

struct Kelvra_Class_Private;

/* A class's children as readers see them, published whole so that reading
 * a child takes no lock.  The host appends by writing the slot and then
 * storing nb (release); any other change publishes a new view.  Old views
 * live as long as the class, since a reader on another thread may still
 * hold one.  Only the host writes it. */
struct Kelvra_Child_View {
    int nb;
    int capacity;
    Kelvra_Class *items[1];
};

/* A class of the database tree.  Virtual operations in slot order:
 * destructor, Update_A, Update_B, Update_Child_A, Stool, Resize, Sort,
 * Compare, Icon_Name, Interface_Click, Interface_Motion, Interface_Scroll,
 * Interface_Key, Interface_Select. */
class AZ_EXPORT Kelvra_Class : public Kelvra {
  public:
    /* Frame-to-parent transform of this class's frames, or null. */
    Matrix_4x4 *matrix_pt;
    Matrix_4x4 *matrix_inv_pt;

    /* Pixel callbacks: the host calls them with this class, the frame's key
     * and the pixel's point (x column, y row, z slice, w time point). */
    Pixel_Get_GLI_Fct Pixel_Get_GLI;
    Pixel_Get_TAG_Fct Pixel_Get_TAG;
    Pixel_Set_TAG_Fct Pixel_Set_TAG;
    Pixel_Get_Dim_Fct Pixel_Get_Dim;
    Pixel_Get_Pos_Fct Pixel_Get_Pos;

    Kelvra_Class();
    /* A copy takes identity, title, sort key, parent, flags and callbacks,
     * and its own copies of the two matrices; never children, lock count or
     * mutexes. */
    Kelvra_Class(const Kelvra_Class &other);
    Kelvra_Class &operator=(const Kelvra_Class &other);
    /* Deletes the children and the matrices. */
    virtual ~Kelvra_Class();

    virtual int Update_A(uint64_t flags);
    virtual int Update_B(uint64_t flags);
    virtual void Update_Child_A(uint64_t flags, void *context, void *key, Region_4D *box);
    virtual int Stool(void *context);
    virtual int Resize(int width, int height);
    virtual int Sort(int mode);                 /* orders the children with Compare */
    virtual int Compare(Kelvra_Class *other);   /* <0, 0, >0 by sort key, then location */
    virtual const char *Icon_Name();
    virtual int Interface_Click(Kelvra_Window *window, int state, int x, int y);
    virtual int Interface_Motion(Kelvra_Window *window, int state, int x, int y);
    virtual int Interface_Scroll(Kelvra_Window *window, int value);
    virtual int Interface_Key(Kelvra_Window *window, int key);
    virtual int Interface_Select(Kelvra_Window *window, int state);

    void Title_Set(const char *title);
    const char *Title_Get() const;
    void Sort_Set(const char *key);
    const char *Sort_Get() const;

    void Parent_Set_Pt(Kelvra_Class *parent);
    /* Inline: the pixel path asks for the parent for every pixel. */
    Kelvra_Class *Parent_Get_Pt() const { return parent_pt; }
    /* Children keep insertion order; Child_Add also sets the child's parent. */
    void Child_Add(Kelvra_Class *child);
    /* Inline, as Parent_Get_Pt: the pixel path asks for the study's first
     * child for every pixel, and a call would make each callback save and
     * restore registers around it. */
    int Child_Get_Nb() const
    {
        const Kelvra_Child_View *view = __atomic_load_n(&child_view, __ATOMIC_ACQUIRE);
        return view ? __atomic_load_n(&view->nb, __ATOMIC_ACQUIRE) : 0;
    }
    /* Null out of range. */
    Kelvra_Class *Child_Get_Pt(int index) const
    {
        const Kelvra_Child_View *view = __atomic_load_n(&child_view, __ATOMIC_ACQUIRE);
        if (!view || index < 0 || index >= __atomic_load_n(&view->nb, __ATOMIC_ACQUIRE))
            return nullptr;
        return view->items[index];
    }
    /* Deletes every child (and so their subtrees). */
    void Child_Delete();

    /* Flags.  The group byte says where the change goes: 0x10 this class,
     * 0x20 its descendants, 0x40 its ancestors (bits may be combined).  A
     * null window changes the class's own word, a window the word the class
     * keeps for that window.  Flag_Get_Bit reads this class's word. */
    void Flag_Set_On(unsigned char group, Kelvra_Window *window, uint64_t mask);
    void Flag_Set_Off(unsigned char group, Kelvra_Window *window, uint64_t mask);
    int Flag_Get_Bit(unsigned char group, Kelvra_Window *window, uint64_t mask) const;

    /* Lock count: read and changed under Access_Init/Access_End. */
    int Lock_Get() const;
    void Lock_Set(int delta);

    /* The class's mutex, held from Open to Close by the calling thread. */
    void Mutex_Open(const char *label);
    void Mutex_Close(const char *label);

  private:
    void Flag_Set(unsigned char group, Kelvra_Window *window, uint64_t mask, bool on);
    Kelvra_Class *parent_pt;
    Kelvra_Child_View *child_view;   /* null until the first child */
    Kelvra_Class_Private *priv;
};

/* A file record: a name and a null-terminated list of image headers indexed
 * by bunch.  The record takes the list (a malloc'd block) and the headers
 * (malloc'd or calloc'd, with their pixels) and frees them all. */
class AZ_EXPORT Kelvra_File {
  public:
    char name[256];
    Vexa_Image **images;
    int images_nb;

    Kelvra_File(const char *file_name, Vexa_Image **image_list);
    ~Kelvra_File();

  private:
    Kelvra_File(const Kelvra_File &);
    Kelvra_File &operator=(const Kelvra_File &);
};

struct Kelvra_Window_Private;

/* A host view: shows the current frame of one class id (class B). */
class AZ_EXPORT Kelvra_Window : public Kelvra {
  public:
    Kelvra_Window();
    ~Kelvra_Window();
    /* The module number the host keeps for this window (0: none). */
    unsigned int Module_Get() const;
    void Module_Set(unsigned int module);
    HWND Window_Get() const;
    void Window_Set(HWND window);

  private:
    Kelvra_Window(const Kelvra_Window &);
    Kelvra_Window &operator=(const Kelvra_Window &);
    Kelvra_Window_Private *priv;
};

/* ------------------------------------------------------------------------
 * Host functions
 * --------------------------------------------------------------------- */

extern "C" {

/* Host variables by name.  Value: numbers as they are, tables and texts as
 * their address.  Get: the address of the variable's storage (null when the
 * variable does not exist). */
AZ_EXPORT intptr_t Fct_Variable_Value(const char *name, void *a, void *b, void *c);
AZ_EXPORT void *Fct_Variable_Get(const char *name, void *a, void *b, void *c, int flags);

/* Updates and redraws: recorded, then carried out on the interface thread. */
AZ_EXPORT int Fct_Update(uint64_t flags, void *pointer, Kelvra_Class *cls, Region_4D *region);
AZ_EXPORT int Fct_Redraw(uint64_t flags, void *a, void *b, void *c);

/* Iterators, one per slot (0..7).  Init snapshots the database (or the
 * subtree of cls when given); Class yields the classes whose
 * (class A << 16) | class B equals type_code, then null; Window yields the
 * host windows, then null. */
AZ_EXPORT int Iterator_Init(int slot, const char *tag, Kelvra_Class *cls);
AZ_EXPORT Kelvra_Class *Iterator_Class(int slot, unsigned int type_code, void *reserved, int flags);
AZ_EXPORT Kelvra_Window *Iterator_Window(int slot, int flags);
AZ_EXPORT int Iterator_End(int slot);

/* The database access lock (recursive). */
AZ_EXPORT void Access_Init(const char *tag);
AZ_EXPORT void Access_End(const char *tag);

/* Makes cls the object shown in window; Geom_Cleanup drops cached view
 * geometry before frames change. */
AZ_EXPORT int Database_Current(Kelvra_Window *window, Kelvra_Class *cls);
AZ_EXPORT void Database_Geom_Cleanup(void);

/* Bit 0x20: the host runs a script (no dialogs). */
AZ_EXPORT unsigned int Script_Flag_Get(void);

/* Condition bits of a direction's recorded frames as a 3D group:
 * 0x80000000 no frames or unusable headers, 0x40000000 one frame only,
 * 0x01000000 resolutions differ, 0x02000000 pixel sizes differ,
 * 0x20000000 not parallel, 0x10000000 positions not along the normal,
 * 0x00020000 two frames at one position, 0x00010000 host order does not
 * follow location. */
AZ_EXPORT unsigned int Fct_Group_Test(Kelvra_Class *cls);

/* Grey level between two frames at a point (x, y fractional within the
 * first frame's image, z and w its slice and time point): bilinear in-plane
 * within the first frame; 2147483646 outside the image. */
AZ_EXPORT int Fct_GLI_Interpolate(Kelvra_Class *parent, void *key, void *key_next, Vect point);

/* Shows the help of a topic, at a keyword (null: the topic's start). */
AZ_EXPORT int Fct_Help(const char *topic, const char *keyword);

/* OpenGL context over a window's own pixel buffer (kind 4: RGBA). */
AZ_EXPORT int OpenGL_Context_On(HWND window, int kind);
AZ_EXPORT int OpenGL_Context_Off(HWND window, int kind);

/* Draws text at a raster position with the current projection, lower left
 * corner of the text at (x, y); the same font engine as the toolkit's
 * measuring. */
AZ_EXPORT int OpenGL_Text_DrawRasterFont(const char *text, int size, int red, int green, int blue, float x, float y,
                                         float z);

/* Segment a-b against the plane normal.p + *d = 0: result > -549755813888
 * with the meeting point in out, or -549755813888 when they do not meet. */
AZ_EXPORT float GEMS_3D_Intersect_Segment_Plane(Point_3D *a, Point_3D *b, Point_3D *normal, float *d,
                                                Point_3D *out);
}

/* Grey-level colours: set up a window from the header's display values
 * (display byte, then the window maximum and minimum), non-zero when ready;
 * then the RGBA colour (red in bits 0-7) of a grey level. */
AZ_EXPORT int Fct_GLI_2_Color(unsigned char display_mode, float high, float low);
AZ_EXPORT unsigned int Fct_GLI_2_Color(int gli);

/* ------------------------------------------------------------------------
 * Layouts shared with the host, pinned.
 * --------------------------------------------------------------------- */
static_assert(sizeof(Vect) == 16, "Vect is four floats");
static_assert(sizeof(Matrix_4x4) == 64, "Matrix_4x4 is 16 floats");
static_assert(sizeof(Point_3D) == 16 && offsetof(Point_3D, x) == 4, "Point_3D: kind, x, y, z");
static_assert(sizeof(Region_3D) == 28 && offsetof(Region_3D, min) == 4 && offsetof(Region_3D, max) == 16,
              "Region_3D: kind, min, max");
static_assert(sizeof(Region_4D) == 36 && offsetof(Region_4D, min) == 4 && offsetof(Region_4D, max) == 20,
              "Region_4D: kind, min, max");
static_assert(sizeof(Vexa_Image) == 2960, "Vexa_Image is 2960 bytes");
static_assert(offsetof(Vexa_Image, flags) == 8, "flags word");
static_assert(offsetof(Vexa_Image, width) == 104 && offsetof(Vexa_Image, height) == 106 &&
                  offsetof(Vexa_Image, slices_nb) == 108,
              "sizes");
static_assert(offsetof(Vexa_Image, times_nb) == 110 && offsetof(Vexa_Image, pixel_type) == 112, "host sizes");
static_assert(offsetof(Vexa_Image, pixel_size) == 256 && offsetof(Vexa_Image, pixel_size_2) == 272 &&
                  offsetof(Vexa_Image, pixel_size_pt) == 296,
              "pixel size");
static_assert(offsetof(Vexa_Image, axis_row) == 316 && offsetof(Vexa_Image, axis_col) == 332 &&
                  offsetof(Vexa_Image, axis_normal) == 348 && offsetof(Vexa_Image, location) == 364,
              "orientation and location");
static_assert(offsetof(Vexa_Image, position) == 368 && offsetof(Vexa_Image, pixels_pt) == 384 &&
                  offsetof(Vexa_Image, rescale_slope) == 392 && offsetof(Vexa_Image, patient_name) == 400 &&
                  offsetof(Vexa_Image, series_uid) == 464 && offsetof(Vexa_Image, series_description) == 532 &&
                  offsetof(Vexa_Image, modality) == 596 && offsetof(Vexa_Image, file_name) == 604,
              "host fields");
static_assert(offsetof(Vexa_Image, display_mode) == 816 && offsetof(Vexa_Image, display_low) == 856 &&
                  offsetof(Vexa_Image, display_high) == 860,
              "display values");

#endif
