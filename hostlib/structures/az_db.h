/*
 * The host's class database from the inside: set-up of the tree and its
 * insert chain, the study and frame levels, the pixel store, the study
 * builder for tests and demos, host variables, views, the update queue and
 * the call recorder.  For the host program and tests only; the module sees
 * the database through host/kelvra_structures.h.
 *
 * Class types (class A) of the host's own classes: 1 the database root,
 * 2 a study, 3 a frame.  Default class ids (class B) by tree level:
 * {0, 1, 3} without the module, {0, 1, 0, 3} with it.
 *
 * Threads: everything here may be called from any thread unless stated;
 * AzHost_Pump runs queued updates on the interface thread.
 */
#ifndef AZ_DB_H
#define AZ_DB_H

#include <stdint.h>

#include <string>
#include <vector>

#include "../../host/kelvra_structures.h"

/* ------------------------------------------------------------------------
 * Database set-up
 * --------------------------------------------------------------------- */

#define AZ_CLASS_ROOT 1
#define AZ_CLASS_STUDY 2
#define AZ_CLASS_FRAME 3

/* Host's own condition bit of Fct_Group_Test, set with 0x80000000: the
 * frames are not evenly spaced along the normal (missing slices or a
 * change of spacing); the test reports where on the console. */
#define AZ_GROUP_UNEVEN 0x00000100u

/* Class flag (own flag word) of the panel's current class and frame; the
 * host keeps it on one class per tree depth. */
#define AZ_FLAG_PANEL_CURRENT 0x4000ULL

/* Grey level of a point outside an image. */
#define AZ_GLI_INVALID 2147483646

/* Creates the root class ("$DB_ROOT_PT"), the default variables and the
 * default insert chain without a module; resets first when already set up.
 * Also runs the optional init hooks of other parts of this library
 * (AzGl_Init, AzProgress_Register) when they are linked in. */
AZ_EXPORT void AzDb_Init(void);
/* Deletes every class, window, file record, variable, queued update and
 * trace line, and forgets the hooks. */
AZ_EXPORT void AzDb_Reset(void);
/* The root class (null before AzDb_Init). */
AZ_EXPORT Kelvra_Class *AzDb_Root(void);
/* Sets "$DB_TREE_PT" / "$DB_TREE_ID": levels entries, indexed by tree level
 * (entry 0 is the root level, its insert function unused); copied. */
AZ_EXPORT void AzDb_Tree_Set(int levels, const Kelvra_Insert_Fct *fcts, const unsigned short *ids);
/* Default chain: module_insert null -> {-, study, frame}, ids {0, 1, 3};
 * else {-, study, module_insert, frame}, ids {0, 1, 0, 3}. */
AZ_EXPORT void AzDb_Tree_Default(Kelvra_Insert_Fct module_insert);
/* Number of levels of the current chain. */
AZ_EXPORT int AzDb_Tree_Levels(void);
/* Feeds one frame into the chain: "$DB_TREE_PT"[1](file, bunch, slice,
 * root, 1); its result (0 without a chain). */
AZ_EXPORT int AzDb_Insert(Kelvra_File *file, int bunch, int slice);
/* The database takes a file record (deleted by AzDb_Reset, after the tree). */
AZ_EXPORT void AzDb_File_Add(Kelvra_File *file);

/* Study level insert: finds or creates the study of the frame's series
 * under the parent (key: header series_uid, else the file record's name),
 * then passes the frame to the next level with the study as parent. */
AZ_EXPORT int AzDb_Study_Insert(Kelvra_File *file, int bunch, int slice, Kelvra_Class *parent,
                                unsigned short level);
/* Frame level insert: a new host frame (AzFrame) as the parent's last
 * child; 1, or 0 for a bad bunch or header. */
AZ_EXPORT int AzDb_Frame_Insert(Kelvra_File *file, int bunch, int slice, Kelvra_Class *parent,
                                unsigned short level);

/* ------------------------------------------------------------------------
 * Studies and frames
 * --------------------------------------------------------------------- */

/* A study class (class A 2): answers its frames' pixels from the pixel
 * store through the study callbacks below. */
class AZ_EXPORT AzStudy_Class : public Kelvra_Class {
  public:
    explicit AzStudy_Class(const char *series_key);
    std::string series_key;
};

/* A host frame (class A 3): one plane (z, t) of the image its key names.
 * It answers its pixels through its parent's callbacks. */
class AZ_EXPORT AzFrame : public Kelvra_Class {
  public:
    AzFrame(Vexa_Image *key, int z, int t);

    /* Records the region when the key matches (or is null) and the frame's
     * z lies in the box's z range (or the box is null), then asks for a
     * redraw (AZ_REDRAW_FRAME). */
    void Update_Child_A(uint64_t flags, void *context, void *key, Region_4D *box) override;
    /* Frames: by position along the normal, then z, then t. */
    int Compare(Kelvra_Class *other) override;

    Vexa_Image *key;
    int z, t;
    int dirty_nb;           /* regions recorded */
    Region_4D dirty_last;   /* the last one (null box: min 0, max = image size) */
    int update_nb;          /* Update_Child_A calls received, recorded or not */
};

/* Redraw word a frame posts when a region of it changed. */
#define AZ_REDRAW_FRAME 0x1ULL

/* The frame, or null when cls is not a host frame. */
AZ_EXPORT AzFrame *AzFrame_Cast(Kelvra_Class *cls);
/* Pixels of a frame through its parent: (x, y) in the frame, the frame's
 * own z and t. */
AZ_EXPORT int AzFrame_Get_GLI(AzFrame *frame, float x, float y);
AZ_EXPORT int AzFrame_Get_TAG(AzFrame *frame, float x, float y);
AZ_EXPORT int AzFrame_Set_TAG(AzFrame *frame, float x, float y, unsigned char tag);
AZ_EXPORT int AzFrame_Get_Dim(AzFrame *frame, int *width, int *height);
AZ_EXPORT Vect AzFrame_Get_Pos(AzFrame *frame, float x, float y);
/* A whole frame: columns 0..width-1 of rows 0..height-1, row-major, grey
 * levels into gli and tags into tag (either may be null), each pixel the
 * value AzFrame_Get_GLI / AzFrame_Get_TAG gives.  Bands of rows are shared
 * among threads: threads 0 uses every core, 1 the calling thread only.
 * Safe to call from several threads at once.  1, or 0 when the frame has
 * no parent (then, as for a missing callback, the single-pixel answers:
 * AZ_GLI_INVALID and tag 0). */
AZ_EXPORT int AzFrame_Read(AzFrame *frame, int width, int height, int32_t *gli, uint8_t *tag, int threads);
/* count frames of one size read as AzFrame_Read reads each, frame i into
 * gli + i * width * height and tag + i * width * height, row y of every
 * frame before row y + 1 (neighbouring frames of a direction read nearly
 * the same pixels of the study for the same row).  1, or 0 when a frame
 * has no parent. */
AZ_EXPORT int AzFrame_Read_Many(AzFrame *const *frames, int count, int width, int height, int32_t *gli,
                                uint8_t *tag, int threads);

/* ------------------------------------------------------------------------
 * Pixel store
 * --------------------------------------------------------------------- */

/* Pixel storage kind written into Vexa_Image::pixel_type. */
#define AZ_PIXEL_INT16_TAG8 1

/* A calloc'd header with zeroed pixels (int16 grey and uint8 tag planes in
 * one block): sizes as given, pixel size (1, 1, 1), identity axes, position
 * 0, slope 1.  Null when a size is < 1 or memory fails. */
AZ_EXPORT Vexa_Image *AzImage_Create(int width, int height, int slices, int times);
/* count such headers whose pixels lie in one mapping, asked for 2 MB pages
 * when the series is large enough for them: the pixel path visits a
 * series' planes out of order.  1 with images[0..count) filled, 0 with
 * nothing made (sizes as for AzImage_Create, count >= 1).  Each image is
 * still freed on its own with AzImage_Free; the mapping goes with the last. */
AZ_EXPORT int AzImage_Create_Series(int count, int width, int height, int slices, int times, Vexa_Image **images);
/* Frees the pixels and the header (null is fine). */
AZ_EXPORT void AzImage_Free(Vexa_Image *image);
/* Pixel size in use: *pixel_size_pt when set, else pixel_size. */
AZ_EXPORT Vect AzImage_Pixel_Size(const Vexa_Image *image);
/* World position of (x, y, z): position + x*row*ps.x + y*col*ps.y +
 * z*normal*ps.z. */
AZ_EXPORT Vect AzImage_Pos(const Vexa_Image *image, float x, float y, float z);
/* Direct access for loaders and tests (no range check). */
AZ_EXPORT int16_t *AzImage_GLI_Plane(Vexa_Image *image, int z, int t);
AZ_EXPORT uint8_t *AzImage_TAG_Plane(Vexa_Image *image, int z, int t);

/* The study callbacks (also installed in every AzStudy_Class).  The key is
 * the image header.  GLI: bilinear at (x, y) in plane (z, t) (z, t
 * truncated); x in [0, width] and y in [0, height] are inside, the far edge
 * reading the last column/row; else AZ_GLI_INVALID.  TAG: nearest pixel
 * (floor(x + 0.5)), same range, 0 outside; Set returns 1 when written. */
AZ_EXPORT int AzStudy_Pixel_Get_GLI(Kelvra_Class *cls, void *key, Vect point);
AZ_EXPORT int AzStudy_Pixel_Get_TAG(Kelvra_Class *cls, void *key, Vect point);
AZ_EXPORT int AzStudy_Pixel_Set_TAG(Kelvra_Class *cls, void *key, Vect point, unsigned char tag);
AZ_EXPORT int AzStudy_Pixel_Get_Dim(Kelvra_Class *cls, void *key, int *width, int *height);
AZ_EXPORT Vect AzStudy_Pixel_Get_Pos(Kelvra_Class *cls, void *key, Vect point);

/* ------------------------------------------------------------------------
 * Phantom builder: synthetic studies for tests and demos
 * --------------------------------------------------------------------- */

/* Phantom contents (bits of AzPhantom_Plan::phantom). */
#define AZ_PHANTOM_GRADIENT 0x1  /* x + 2y + 3z + 5t (voxel indices) */
#define AZ_PHANTOM_SPHERES 0x2   /* +1000 inside sphere 1 (tag 1), +2000 inside sphere 2 (tag 2) */
#define AZ_PHANTOM_PLANES 0x4    /* +300 on the column x = width/4 and the row y = height/4 */

/* Frame feeding order of AzPhantom_Insert. */
#define AZ_ORDER_ASCENDING 0
#define AZ_ORDER_DESCENDING 1
#define AZ_ORDER_SHUFFLED 2

struct AzPhantom_Plan {
    int width = 16, height = 16;
    int slices = 8;                /* slices of the volume along the normal */
    int times = 1;                 /* time points */
    int slices_per_image = 1;      /* 1: one image per slice; N: images of N slices (slices % N == 0); 0: one image for all */
    float spacing[3] = {1.0f, 1.0f, 1.0f};   /* pixel x, y, slice step (mm) */
    Vect row = Vect(1, 0, 0);      /* direction of increasing column */
    Vect col = Vect(0, 1, 0);      /* direction of increasing row */
    Vect origin = Vect(0, 0, 0);   /* world position of pixel (0, 0) of slice 0 */
    int phantom = AZ_PHANTOM_GRADIENT | AZ_PHANTOM_SPHERES | AZ_PHANTOM_PLANES;
    int tags = 1;                  /* write the sphere labels as tags */
    const char *name = "Phantom";  /* series description and file name */
    const char *series_uid = nullptr;   /* null: derived from the name */
    const char *patient_name = "Azozude^Phantom";
};

/* A built study: its file record (owned by the database) and its frames as
 * (bunch, slice) pairs in ascending location. */
struct AzPhantom {
    AzPhantom_Plan plan;
    Kelvra_File *file;
    std::vector<int> frame_bunch;
    std::vector<int> frame_slice;
};

/* Builds the images (headers with geometry, phantom pixels) and the file
 * record; nothing enters the database yet.  Null when memory fails. */
AZ_EXPORT AzPhantom *AzPhantom_Build(const AzPhantom_Plan &plan);
/* Feeds every frame of the study into the insert chain in the given order
 * (AZ_ORDER_*; seed for the shuffle); number of inserts that returned
 * non-zero. */
AZ_EXPORT int AzPhantom_Insert(AzPhantom *study, int order, unsigned int seed);
/* Frees the study record (not the file record, which the database owns). */
AZ_EXPORT void AzPhantom_Free(AzPhantom *study);
/* The phantom's exact grey level and tag at a voxel (x column, y row,
 * slice along the normal, time point t). */
AZ_EXPORT int AzPhantom_GLI(const AzPhantom_Plan &plan, int x, int y, int slice, int t);
AZ_EXPORT int AzPhantom_TAG(const AzPhantom_Plan &plan, int x, int y, int slice, int t);
/* The study class of a series (by series key), or null. */
AZ_EXPORT AzStudy_Class *AzStudy_Find(const char *series_key);

/* ------------------------------------------------------------------------
 * Host variables
 * --------------------------------------------------------------------- */

/* A variable with its own storage: Value gives value, Get its address. */
AZ_EXPORT void AzVar_Set(const char *name, intptr_t value);
/* A variable living at address: Value reads an intptr_t there, Get gives
 * address.  _Byte: Value reads one byte there. */
AZ_EXPORT void AzVar_Bind(const char *name, void *address);
AZ_EXPORT void AzVar_Bind_Byte(const char *name, unsigned char *address);
/* Removes a variable (no-op when unknown). */
AZ_EXPORT void AzVar_Remove(const char *name);
/* The "$FRAME_CUR" table: 64 entries indexed by a window's class B. */
#define AZ_FRAME_CUR_NB 64
AZ_EXPORT Kelvra_Class **AzDb_Frame_Cur(void);
/* The "$INTERFACE_LOCK_FOCUS" byte. */
AZ_EXPORT unsigned char *AzDb_Lock_Focus(void);

/* ------------------------------------------------------------------------
 * Views
 * --------------------------------------------------------------------- */

/* A host view (Kelvra_Window) registered for Iterator_Window, named, with
 * class B class_b and class A class_a (0: a view showing no frames). */
AZ_EXPORT Kelvra_Window *AzView_Create(const char *name, unsigned short class_b, unsigned short class_a = 1);
AZ_EXPORT void AzView_Destroy(Kelvra_Window *window);
/* The class a view shows (Database_Current), or null. */
AZ_EXPORT Kelvra_Class *AzView_Current(Kelvra_Window *window);
/* Makes a view show a class without recording a module call. */
AZ_EXPORT void AzView_Show(Kelvra_Window *window, Kelvra_Class *cls);

/* ------------------------------------------------------------------------
 * Update queue, hooks and interface thread
 * --------------------------------------------------------------------- */

/* Update bit that makes the pump call every class's Update_B. */
#define AZ_UPDATE_B_FLAG 0x800000ULL

/* The module's update hook and the flags it wants. */
AZ_EXPORT void AzHost_Module_Set(int (*update_a)(uint64_t flags), uint64_t mask);
/* Called with every redraw word the pump carries out. */
AZ_EXPORT void AzHost_Redraw_Hook_Set(void (*hook)(uint64_t flags, void *user), void *user);
/* Marks the calling thread as the interface thread. */
AZ_EXPORT void AzHost_Interface_Thread_Set(void);
AZ_EXPORT int AzHost_Is_Interface_Thread(void);
/* Queues an update / redraw on the host's own behalf (not recorded). */
AZ_EXPORT void AzHost_Post_Update(uint64_t flags, void *pointer, Kelvra_Class *cls, const Region_4D *region);
AZ_EXPORT void AzHost_Post_Redraw(uint64_t flags);
/* Carries out queued updates and redraws in order until the queue is
 * empty: flags & mask -> module hook (when non-zero); AZ_UPDATE_B_FLAG ->
 * Update_B(flags) of every class but frames, in tree order; a class with a
 * region -> its Update_Child_A(flags, pointer, null, region); redraw words
 * -> redraw hook.  Number of queue entries carried out; 0 (and nothing
 * done) when called off the interface thread once one is set. */
AZ_EXPORT int AzHost_Pump(void);
/* Queue entries waiting. */
AZ_EXPORT int AzHost_Pending(void);
/* Database_Geom_Cleanup calls so far. */
AZ_EXPORT int AzHost_Geom_Cleanup_Count(void);
/* Script flag word for Script_Flag_Get (0x20: a script runs). */
AZ_EXPORT void AzHost_Script_Flag_Set(unsigned int flags);

/* ------------------------------------------------------------------------
 * Call recorder: one line per host call the module makes, in call order
 * across threads.  Lines:
 *   "Fct_Update 0x<flags>[ cls=<name>][ region]"   (region: "region=x0,y0,z0,t0:x1,y1,z1,t1", %g)
 *   "Fct_Redraw 0x<flags>"
 *   "Flag_Set_On <class> 0x<group> 0x<mask>[ win=<window>]", "Flag_Set_Off ..."
 *   "Lock_Set <class> <delta>", "Mutex_Open <class> <label>", "Mutex_Close <class> <label>"
 *   "Child_Add <parent> <child>", "Child_Delete <class>", "Sort <class> <mode>"
 *   "Database_Current <window> <class or (null)>", "Database_Geom_Cleanup"
 *   "Iterator_Init <slot> <tag>", "Iterator_End <slot>"
 *   "Access_Init <tag>", "Access_End <tag>"
 *   "Fct_Group_Test <class>", "Fct_Help <topic> <keyword or (null)>"
 * Flags print in lower-case hex without leading zeros.
 * --------------------------------------------------------------------- */
AZ_EXPORT void AzHost_Trace_Start(void);
AZ_EXPORT void AzHost_Trace_Stop(void);
/* The lines so far (the recorder is emptied, keeps running). */
AZ_EXPORT std::vector<std::string> AzHost_Trace_Take(void);

/* ------------------------------------------------------------------------
 * Help
 * --------------------------------------------------------------------- */

/* Folder holding "help/<topic>.txt" (default: the folder of the loaded
 * module, found from the module insert or hook; else ".").  AzDb_Reset
 * forgets it. */
AZ_EXPORT void AzHost_Help_Dir_Set(const char *dir);
/* The text Fct_Help showed last ("" before). */
AZ_EXPORT std::string AzHost_Help_Last(void);

#endif
