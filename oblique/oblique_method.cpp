/*
 * Kelvra_Oblique: construction, copies, destruction, and the bookkeeping
 * that lets copies share their heap storage without freeing it twice
 * (see oblique_internal.h for the rule).
 */
#include <atomic>
#include <mutex>
#include <new>
#include <stdlib.h>
#include <string.h>
#include <unordered_map>
#include <vector>

#include "oblique_internal.h"

/* ---- shared blocks ------------------------------------------------------ */

namespace {

/* Extra holders per shared block (a block absent here has one holder),
 * and the file records classes gave up by assignment. */
struct Share_Registry {
    std::mutex lock;
    std::unordered_map<const void *, unsigned> extra;
    std::unordered_map<const Kelvra_Oblique *, std::vector<Kelvra_File *>> retired;
};

/* Never destroyed: classes may be deleted by the host after the module's
 * static objects are gone. */
Share_Registry &Registry()
{
    static Share_Registry *registry = new Share_Registry;
    return *registry;
}

/* Number of blocks in the registry: lets the usual case (no copies at all)
 * skip the lock. */
std::atomic<unsigned> shared_nb{0};
/* Classes with retired file records: lets destruction skip the lock. */
std::atomic<unsigned> retired_nb{0};

int Block_Shared(const void *block)
{
    if (!block || shared_nb.load(std::memory_order_acquire) == 0)
        return 0;
    Share_Registry &registry = Registry();
    std::lock_guard<std::mutex> hold(registry.lock);
    return registry.extra.count(block) != 0;
}

} // namespace

void Oblique_Block_Hold(const void *block)
{
    if (!block)
        return;
    Share_Registry &registry = Registry();
    std::lock_guard<std::mutex> hold(registry.lock);
    if (registry.extra[block]++ == 0)
        shared_nb.fetch_add(1, std::memory_order_release);
}

int Oblique_Block_Release(const void *block)
{
    if (!block)
        return 0;
    if (shared_nb.load(std::memory_order_acquire) == 0)
        return 1;
    Share_Registry &registry = Registry();
    std::lock_guard<std::mutex> hold(registry.lock);
    auto found = registry.extra.find(block);
    if (found == registry.extra.end())
        return 1;
    if (--found->second == 0) {
        registry.extra.erase(found);
        shared_nb.fetch_sub(1, std::memory_order_release);
    }
    return 0;
}

void Oblique_Block_Free(void *block)
{
    if (Oblique_Block_Release(block))
        free(block);
}

void *Oblique_Block_Grow(void *block, size_t used, size_t size)
{
    if (!block)
        return malloc(size);
    if (!Block_Shared(block))
        return realloc(block, size);
    // Another copy still reads the old block: give the grower its own.
    void *own = malloc(size);
    if (!own)
        return nullptr;
    memcpy(own, block, used < size ? used : size);
    Oblique_Block_Release(block);
    return own;
}

/* ---- validation --------------------------------------------------------- */

int Oblique_Validate(const Kelvra_Oblique *cls, const char *label, const char *source, int line)
{
    // Launders the pointer so that a check made with `this` is kept.
    const volatile Kelvra_Oblique *volatile seen = cls;
    if (!seen) {
        Error_Fct(hwnd, 2, "Invalid study class pointer in %s", label);
        Error_Fct(hwnd, 2, OBLIQUE_MSG_WHERE, source, line);
        return 0;
    }
    if (cls->Class_Magic_Get() != KELVRA_MAGIC) {
        Error_Fct(hwnd, 2, "Invalid study class structure in %s", label);
        Error_Fct(hwnd, 2, OBLIQUE_MSG_WHERE, source, line);
    }
    unsigned short type = cls->Class_A_Get();
    if (type != OBLIQUE_TYPE_ORIGINAL && type != OBLIQUE_TYPE_OBLIQUE) {
        Error_Fct(hwnd, 2, "Invalid Oblique structure in %s", label);
        Error_Fct(hwnd, 2, OBLIQUE_MSG_WHERE, source, line);
    }
    return 1;
}

/* ---- construction ------------------------------------------------------- */

/* Identity and the values both constructors give. */
static void Oblique_Start(Kelvra_Oblique *cls, unsigned short type, unsigned short class_id, Kelvra_Class *parent)
{
    cls->region.Clear();
    cls->region.kind = 0;
    cls->Class_A_Set(type);
    cls->Class_B_Set(class_id);
    cls->Title_Set("Oblique");
    cls->Parent_Set_Pt(parent);

    cls->tree_level = 0;
    cls->group_valid = -1;
    cls->matrix.init();
    cls->update_nb = 0;
    cls->update_pt = nullptr;
    // No image is 0 x 0: a study whose first test failed is tested again.
    cls->ref_dim = Oblique_Dim{0, 0, 0};
    cls->dim = Oblique_Dim{0, 0, 0};
    cls->slice_cur = 0.0f;
    cls->alpha = cls->beta = cls->theta = 0.0f;
    cls->real_files_nb = 0;
    cls->real_files_pt = nullptr;
    cls->real_files_bunch = nullptr;
    cls->real_files_slice = nullptr;
    cls->real_files_z = nullptr;
    cls->real_files_t = nullptr;
    cls->real_files_d = nullptr;
    cls->dir_image = nullptr;
    cls->dir_file = nullptr;
}

static void Oblique_Callbacks_Install(Kelvra_Oblique *cls)
{
    cls->Pixel_Get_Pos = Class_Oblique_Pixel_Get_Pos;
    cls->Pixel_Get_GLI = Class_Oblique_Pixel_Get_GLI;
    cls->Pixel_Get_TAG = Class_Oblique_Pixel_Get_TAG;
    cls->Pixel_Set_TAG = Class_Oblique_Pixel_Set_TAG;
}

Kelvra_Oblique::Kelvra_Oblique(Kelvra_Class *parent, unsigned short class_id, Kelvra_File *file, int bunch, int)
    : Kelvra_Class()
{
    Oblique_Start(this, OBLIQUE_TYPE_ORIGINAL, class_id, parent);
    enabled = 1;
    dir = 0;
    is_original = 1;
    if (file && file->images && bunch >= 0 && bunch < file->images_nb && file->images[bunch]) {
        const Vexa_Image *header = file->images[bunch];
        voxel = Oblique_Pixel_Size(header);
        axis_x = header->axis_row;
        axis_y = header->axis_col;
        axis_z = header->axis_normal;
    }
    Sort_Set("---");
    Flag_Set_On(16, nullptr, 0x1);
    Oblique_Callbacks_Install(this);
}

Kelvra_Oblique::Kelvra_Oblique(Kelvra_Class *parent, unsigned short class_id, signed char direction)
    : Kelvra_Class()
{
    Oblique_Start(this, (unsigned short)(OBLIQUE_TYPE_ORIGINAL + direction), class_id, parent);
    enabled = 0;
    dir = (unsigned char)direction;
    is_original = 0;
    Sort_Set("---");
    Oblique_Callbacks_Install(this);
}

/* ---- copies ------------------------------------------------------------- */

/* Registers cls's blocks as held once more (by a copy about to take them). */
static void Oblique_Hold_All(const Kelvra_Oblique *cls)
{
    Oblique_Block_Hold(cls->dir_file);
    Oblique_Block_Hold(cls->update_pt);
    Oblique_Block_Hold(cls->real_files_pt);
    Oblique_Block_Hold(cls->real_files_bunch);
    Oblique_Block_Hold(cls->real_files_slice);
    Oblique_Block_Hold(cls->real_files_z);
    Oblique_Block_Hold(cls->real_files_t);
    Oblique_Block_Hold(cls->real_files_d);
}

template <typename T> static void Oblique_Array_Release(T *&array)
{
    Oblique_Block_Free(array);
    array = nullptr;
}

/* Lets go of everything cls holds, freeing what no copy holds any more. */
static void Oblique_Release_All(Kelvra_Oblique *cls)
{
    if (cls->dir_file && Oblique_Block_Release(cls->dir_file))
        delete cls->dir_file;   // its image list holds dir_image
    cls->dir_file = nullptr;
    cls->dir_image = nullptr;
    Oblique_Array_Release(cls->real_files_pt);
    Oblique_Array_Release(cls->real_files_bunch);
    Oblique_Array_Release(cls->real_files_slice);
    Oblique_Array_Release(cls->real_files_z);
    Oblique_Array_Release(cls->real_files_t);
    Oblique_Array_Release(cls->real_files_d);
    cls->real_files_nb = 0;
    // A list no update has drained yet dies with its class.
    Oblique_Array_Release(cls->update_pt);
    cls->update_nb = 0;
}

/* An assigned class gives up its file record but keeps it until it dies:
 * its frames still carry the record's header as their key. */
static void Oblique_File_Retire(Kelvra_Oblique *cls)
{
    if (!cls->dir_file)
        return;
    Share_Registry &registry = Registry();
    {
        std::lock_guard<std::mutex> hold(registry.lock);
        std::vector<Kelvra_File *> &files = registry.retired[cls];
        if (files.empty())
            retired_nb.fetch_add(1, std::memory_order_release);
        files.push_back(cls->dir_file);
    }
    cls->dir_file = nullptr;
    cls->dir_image = nullptr;
}

static void Oblique_Retired_Free(const Kelvra_Oblique *cls)
{
    if (retired_nb.load(std::memory_order_acquire) == 0)
        return;
    std::vector<Kelvra_File *> files;
    {
        Share_Registry &registry = Registry();
        std::lock_guard<std::mutex> hold(registry.lock);
        auto found = registry.retired.find(cls);
        if (found == registry.retired.end())
            return;
        files.swap(found->second);
        registry.retired.erase(found);
        retired_nb.fetch_sub(1, std::memory_order_release);
    }
    for (Kelvra_File *file : files)
        if (Oblique_Block_Release(file))
            delete file;
}

Kelvra_Oblique::Kelvra_Oblique(const Kelvra_Oblique &other)
    : Kelvra_Class(other), tree_level(other.tree_level), enabled(other.enabled), dir_file(other.dir_file),
      dir_image(other.dir_image), ref_dim(other.ref_dim), dim(other.dim), slice_cur(other.slice_cur),
      axis_x(other.axis_x), axis_y(other.axis_y), axis_z(other.axis_z), voxel(other.voxel), alpha(other.alpha),
      beta(other.beta), theta(other.theta), update_nb(other.update_nb), update_pt(other.update_pt),
      is_original(other.is_original), matrix(other.matrix), real_files_nb(other.real_files_nb),
      real_files_bunch(other.real_files_bunch), real_files_slice(other.real_files_slice),
      real_files_z(other.real_files_z), real_files_t(other.real_files_t), real_files_d(other.real_files_d),
      real_files_pt(other.real_files_pt), group_valid(other.group_valid), dir(other.dir), region(other.region)
{
    Oblique_Hold_All(this);
}

Kelvra_Oblique &Kelvra_Oblique::operator=(const Kelvra_Oblique &other)
{
    if (this == &other)
        return *this;
    // Hold the incoming blocks before letting go of ours: two copies of one
    // class hold the same blocks.
    Oblique_Hold_All(&other);
    if (dir_file != other.dir_file)
        Oblique_File_Retire(this);
    Oblique_Release_All(this);
    Kelvra_Class::operator=(other);
    tree_level = other.tree_level;
    enabled = other.enabled;
    dir_file = other.dir_file;
    dir_image = other.dir_image;
    ref_dim = other.ref_dim;
    dim = other.dim;
    slice_cur = other.slice_cur;
    axis_x = other.axis_x;
    axis_y = other.axis_y;
    axis_z = other.axis_z;
    voxel = other.voxel;
    alpha = other.alpha;
    beta = other.beta;
    theta = other.theta;
    update_nb = other.update_nb;
    update_pt = other.update_pt;
    is_original = other.is_original;
    matrix = other.matrix;
    real_files_nb = other.real_files_nb;
    real_files_bunch = other.real_files_bunch;
    real_files_slice = other.real_files_slice;
    real_files_z = other.real_files_z;
    real_files_t = other.real_files_t;
    real_files_d = other.real_files_d;
    real_files_pt = other.real_files_pt;
    group_valid = other.group_valid;
    dir = other.dir;
    region = other.region;
    return *this;
}

/* ---- destruction -------------------------------------------------------- */

Kelvra_Oblique::~Kelvra_Oblique()
{
    Oblique_Validate(this, METHOD_LABEL, METHOD_SOURCE, METHOD_LINE);
    Oblique_Release_All(this);
    Oblique_Retired_Free(this);
}
