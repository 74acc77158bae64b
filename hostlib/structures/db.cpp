/*
 * The database: root, insert chain, study and frame levels, views,
 * iterators, the access lock and the script flag.
 */
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "az_db_private.h"

/* Optional set-up of other parts of this library, run by AzDb_Init when
 * they are linked in (they register variables and window classes). */
extern "C" int AzGl_Init(void) __attribute__((weak));
extern "C" int AzProgress_Register(void) __attribute__((weak));

namespace azdb {

std::recursive_mutex &Mutex()
{
    static std::recursive_mutex *mutex = new std::recursive_mutex;  // outlives every static object
    return *mutex;
}

State &S()
{
    static State *state = new State;
    return *state;
}

bool Class_Alive(const Kelvra_Class *cls) { return cls && S().live.count(cls) != 0; }

void Tree_Collect(Kelvra_Class *cls, std::vector<Kelvra_Class *> &out)
{
    if (!cls)
        return;
    out.push_back(cls);
    int nb = cls->Child_Get_Nb();
    for (int i = 0; i < nb; i++)
        Tree_Collect(cls->Child_Get_Pt(i), out);
}

double Dot(const Vect &a, const Vect &b)
{
    return (double)a.x * b.x + (double)a.y * b.y + (double)a.z * b.z;
}

void Class_Forget(Kelvra_Class *cls)
{
    State &s = S();
    s.live.erase(cls);
    s.recorded.erase(cls);
    if (s.root == cls)
        s.root = nullptr;
    for (auto &entry : s.shown)
        if (entry.second == cls)
            entry.second = nullptr;
    for (Kelvra_Class *&current : s.frame_cur)
        if (current == cls)
            current = nullptr;
    for (Iterator_Slot &slot : s.iterators)
        std::replace(slot.classes.begin(), slot.classes.end(), cls, (Kelvra_Class *)nullptr);
    Queue_Forget(cls);
}

void Window_Forget(Kelvra_Window *window)
{
    std::lock_guard<std::recursive_mutex> hold(Mutex());
    State &s = S();
    s.windows.erase(std::remove(s.windows.begin(), s.windows.end(), window), s.windows.end());
    s.shown.erase(window);
    for (Iterator_Slot &slot : s.iterators)
        std::replace(slot.windows.begin(), slot.windows.end(), window, (Kelvra_Window *)nullptr);
    Trace_Mute mute;
    for (const Kelvra_Class *cls : s.live)
        const_cast<Kelvra_Class *>(cls)->Flag_Set_Off(0x10, window, ~0ULL);
}

}  // namespace azdb

using azdb::Mutex;
using azdb::S;
using azdb::State;

static std::atomic<int> geom_cleanups{0};

/* ------------------------------------------------------------------------
 * Set-up
 * --------------------------------------------------------------------- */

void AzDb_Reset(void)
{
    std::vector<Kelvra_Window *> windows;
    std::vector<Kelvra_File *> files;
    Kelvra_Class *root;
    {
        std::lock_guard<std::recursive_mutex> hold(Mutex());
        State &s = S();
        root = s.root;
        windows = s.windows;
        files.swap(s.files);
        for (azdb::Iterator_Slot &slot : s.iterators)
            slot = azdb::Iterator_Slot();
    }
    azdb::Trace_Mute mute;
    delete root;
    for (Kelvra_Window *window : windows)
        delete window;
    /* File records last: frames keep their image headers as keys. */
    for (Kelvra_File *file : files)
        delete file;
    std::lock_guard<std::recursive_mutex> hold(Mutex());
    State &s = S();
    s.root = nullptr;
    s.windows.clear();
    s.shown.clear();
    s.recorded.clear();
    std::fill(std::begin(s.frame_cur), std::end(s.frame_cur), nullptr);
    s.lock_focus = 0;
    s.tree_pt.clear();
    s.tree_id.clear();
    azdb::Queue_Clear();
    azdb::Hooks_Clear();
    azdb::Variables_Clear();
    azdb::Help_Clear();
    AzHost_Script_Flag_Set(0);
    geom_cleanups = 0;
}

void AzDb_Init(void)
{
    AzDb_Reset();
    {
        std::lock_guard<std::recursive_mutex> hold(Mutex());
        Kelvra_Class *root = new Kelvra_Class;
        root->Class_A_Set(AZ_CLASS_ROOT);
        root->Class_B_Set(0);
        root->Name_Set("Database");
        root->Title_Set("Database");
        S().root = root;
        azdb::Variables_Default();
    }
    AzDb_Tree_Default(nullptr);
    if (AzGl_Init)
        AzGl_Init();
    if (AzProgress_Register)
        AzProgress_Register();
}

Kelvra_Class *AzDb_Root(void)
{
    std::lock_guard<std::recursive_mutex> hold(Mutex());
    return S().root;
}

void AzDb_Tree_Set(int levels, const Kelvra_Insert_Fct *fcts, const unsigned short *ids)
{
    std::lock_guard<std::recursive_mutex> hold(Mutex());
    State &s = S();
    if (levels < 0)
        levels = 0;
    /* One spare null entry: a level past the last finds no function. */
    s.tree_pt.assign(levels + 1, nullptr);
    s.tree_id.assign(levels + 1, 0);
    for (int i = 0; i < levels; i++) {
        s.tree_pt[i] = fcts ? fcts[i] : nullptr;
        s.tree_id[i] = ids ? ids[i] : 0;
    }
    AzVar_Set("$DB_TREE_PT", (intptr_t)s.tree_pt.data());
    AzVar_Set("$DB_TREE_ID", (intptr_t)s.tree_id.data());
}

void AzDb_Tree_Default(Kelvra_Insert_Fct module_insert)
{
    if (!module_insert) {
        const Kelvra_Insert_Fct fcts[3] = {nullptr, AzDb_Study_Insert, AzDb_Frame_Insert};
        const unsigned short ids[3] = {0, 1, 3};
        AzDb_Tree_Set(3, fcts, ids);
        return;
    }
    azdb::Module_Function_Note((const void *)module_insert);
    const Kelvra_Insert_Fct fcts[4] = {nullptr, AzDb_Study_Insert, module_insert, AzDb_Frame_Insert};
    const unsigned short ids[4] = {0, 1, 0, 3};
    AzDb_Tree_Set(4, fcts, ids);
}

int AzDb_Tree_Levels(void)
{
    std::lock_guard<std::recursive_mutex> hold(Mutex());
    return S().tree_pt.empty() ? 0 : (int)S().tree_pt.size() - 1;
}

/* The insert function and class id of a level (null / 0 past the end). */
static Kelvra_Insert_Fct Tree_Fct(int level)
{
    std::lock_guard<std::recursive_mutex> hold(Mutex());
    const State &s = S();
    return level >= 0 && level < (int)s.tree_pt.size() ? s.tree_pt[level] : nullptr;
}

static unsigned short Tree_Id(int level)
{
    std::lock_guard<std::recursive_mutex> hold(Mutex());
    const State &s = S();
    return level >= 0 && level < (int)s.tree_id.size() ? s.tree_id[level] : 0;
}

/* Inside AzDb_Insert on this thread: the frame level records what it files. */
static thread_local int loading = 0;

int AzDb_Insert(Kelvra_File *file, int bunch, int slice)
{
    Kelvra_Insert_Fct first = Tree_Fct(1);
    Kelvra_Class *root = AzDb_Root();
    if (!first || !root)
        return 0;
    loading++;
    int result = first(file, bunch, slice, root, 1);
    loading--;
    return result;
}

void azdb::Class_Frame_Record(const Kelvra_Class *cls, const Recorded_Frame &frame)
{
    std::vector<Recorded_Frame> &recorded = S().recorded[cls];
    auto after = std::upper_bound(recorded.begin(), recorded.end(), frame.location,
                                  [](float location, const Recorded_Frame &f) { return location < f.location; });
    recorded.insert(after, frame);
}

std::vector<azdb::Recorded_Frame> azdb::Class_Frames_Recorded(const Kelvra_Class *cls)
{
    auto found = S().recorded.find(cls);
    return found == S().recorded.end() ? std::vector<Recorded_Frame>() : found->second;
}

void AzDb_File_Add(Kelvra_File *file)
{
    if (!file)
        return;
    std::lock_guard<std::recursive_mutex> hold(Mutex());
    S().files.push_back(file);
}

/* ------------------------------------------------------------------------
 * Study and frame levels
 * --------------------------------------------------------------------- */

AzStudy_Class::AzStudy_Class(const char *key) : series_key(key ? key : "")
{
    Class_A_Set(AZ_CLASS_STUDY);
    Title_Set("Study");
    Pixel_Get_GLI = AzStudy_Pixel_Get_GLI;
    Pixel_Get_TAG = AzStudy_Pixel_Get_TAG;
    Pixel_Set_TAG = AzStudy_Pixel_Set_TAG;
    Pixel_Get_Dim = AzStudy_Pixel_Get_Dim;
    Pixel_Get_Pos = AzStudy_Pixel_Get_Pos;
}

static Vexa_Image *File_Image(Kelvra_File *file, int bunch)
{
    if (!file || !file->images || bunch < 0 || bunch >= file->images_nb)
        return nullptr;
    return file->images[bunch];
}

static AzStudy_Class *Study_Child(Kelvra_Class *parent, const std::string &key)
{
    int nb = parent->Child_Get_Nb();
    for (int i = 0; i < nb; i++) {
        AzStudy_Class *study = dynamic_cast<AzStudy_Class *>(parent->Child_Get_Pt(i));
        if (study && study->series_key == key)
            return study;
    }
    return nullptr;
}

/* A header text field, which may fill its whole array without a NUL. */
static std::string Header_Text(const char *field, size_t size) { return std::string(field, strnlen(field, size)); }

static std::string Study_Name(const Vexa_Image *image, const Kelvra_File *file)
{
    std::string name = Header_Text(image->series_description, sizeof image->series_description);
    if (name.empty())
        name = Header_Text(image->patient_name, sizeof image->patient_name);
    return name.empty() ? std::string(file->name) : name;
}

/* The name unless a study under the parent already bears it, else the
 * name with the first free " (2)", " (3)" ...: the panel's list shows
 * studies by name, and two series of one folder may be named alike. */
static std::string Name_Free(Kelvra_Class *parent, const std::string &name)
{
    std::string tried = name;
    for (int n = 2;; n++) {
        int taken = 0;
        for (int i = 0; i < parent->Child_Get_Nb() && !taken; i++)
            taken = dynamic_cast<AzStudy_Class *>(parent->Child_Get_Pt(i)) && tried == parent->Child_Get_Pt(i)->Name_Get();
        if (!taken)
            return tried;
        tried = name + " (" + std::to_string(n) + ")";
    }
}

int AzDb_Study_Insert(Kelvra_File *file, int bunch, int slice, Kelvra_Class *parent, unsigned short level)
{
    Vexa_Image *image = File_Image(file, bunch);
    if (!image || !parent)
        return 0;
    std::string key = Header_Text(image->series_uid, sizeof image->series_uid);
    if (key.empty())
        key = file->name;
    AzStudy_Class *study;
    {
        std::lock_guard<std::recursive_mutex> hold(Mutex());
        study = Study_Child(parent, key);
        if (!study) {
            study = new AzStudy_Class(key.c_str());
            study->Class_B_Set(Tree_Id(level));
            study->Name_Set("%s", Name_Free(parent, Study_Name(image, file)).c_str());
            azdb::Trace_Mute mute;
            parent->Child_Add(study);
        }
    }
    Kelvra_Insert_Fct next = Tree_Fct(level + 1);
    return next ? next(file, bunch, slice, study, (unsigned short)(level + 1)) : 1;
}

int AzDb_Frame_Insert(Kelvra_File *file, int bunch, int slice, Kelvra_Class *parent, unsigned short level)
{
    Vexa_Image *image = File_Image(file, bunch);
    if (!image || !parent || slice < 0)
        return 0;
    int per_volume = image->slices_nb ? image->slices_nb : 1;
    AzFrame *frame = new AzFrame(image, slice % per_volume, slice / per_volume);
    frame->Class_B_Set(Tree_Id(level));
    frame->Name_Set("%s [%d,%d]", file->name, bunch, slice);
    azdb::Trace_Mute mute;
    std::lock_guard<std::recursive_mutex> hold(Mutex());
    parent->Child_Add(frame);
    /* A module's level between study and frames may take them away and
     * put them back; the host's own study never does, its children are
     * its record. */
    if (loading && !dynamic_cast<AzStudy_Class *>(parent))
        azdb::Class_Frame_Record(parent, {image, frame->z, image->location});
    return 1;
}

AzStudy_Class *AzStudy_Find(const char *series_key)
{
    std::lock_guard<std::recursive_mutex> hold(Mutex());
    Kelvra_Class *root = S().root;
    return root && series_key ? Study_Child(root, series_key) : nullptr;
}

/* ------------------------------------------------------------------------
 * Views
 * --------------------------------------------------------------------- */

Kelvra_Window *AzView_Create(const char *name, unsigned short class_b, unsigned short class_a)
{
    Kelvra_Window *window = new Kelvra_Window;
    window->Name_Set("%s", name ? name : "");
    window->Class_A_Set(class_a);
    window->Class_B_Set(class_b);
    std::lock_guard<std::recursive_mutex> hold(Mutex());
    S().windows.push_back(window);
    return window;
}

void AzView_Destroy(Kelvra_Window *window) { delete window; }

Kelvra_Class *AzView_Current(Kelvra_Window *window)
{
    std::lock_guard<std::recursive_mutex> hold(Mutex());
    auto found = S().shown.find(window);
    return found == S().shown.end() ? nullptr : found->second;
}

/* Whether any view but `except` shows cls (call under the tree lock). */
static bool Shown_Elsewhere(const Kelvra_Class *cls, const Kelvra_Window *except)
{
    for (const auto &entry : S().shown)
        if (entry.first != except && entry.second == cls)
            return true;
    return false;
}

/* Bit of a class's flags meaning "shown in a view": per view, and in its
 * own word while any view shows it. */
#define AZ_FLAG_SHOWN 0x100ULL

void AzView_Show(Kelvra_Window *window, Kelvra_Class *cls)
{
    if (!window)
        return;
    std::lock_guard<std::recursive_mutex> hold(Mutex());
    State &s = S();
    azdb::Trace_Mute mute;
    Kelvra_Class *previous = AzView_Current(window);
    if (previous && previous != cls && azdb::Class_Alive(previous)) {
        previous->Flag_Set_Off(0x10, window, AZ_FLAG_SHOWN);
        if (!Shown_Elsewhere(previous, window))
            previous->Flag_Set_Off(0x10, nullptr, AZ_FLAG_SHOWN);
    }
    bool alive = azdb::Class_Alive(cls);
    s.shown[window] = alive ? cls : nullptr;
    unsigned short b = window->Class_B_Get();
    if (b < AZ_FRAME_CUR_NB)
        s.frame_cur[b] = alive ? cls : nullptr;
    if (alive) {
        cls->Flag_Set_On(0x10, window, AZ_FLAG_SHOWN);
        cls->Flag_Set_On(0x10, nullptr, AZ_FLAG_SHOWN);
    }
}

int Database_Current(Kelvra_Window *window, Kelvra_Class *cls)
{
    if (azdb::Trace_Active())
        azdb::Trace("Database_Current %s %s", window ? window->Name_Get() : "(null)",
                    cls ? cls->Name_Get() : "(null)");
    if (!window)
        return 0;
    AzView_Show(window, cls);
    return 1;
}

void Database_Geom_Cleanup(void)
{
    if (azdb::Trace_Active())
        azdb::Trace("Database_Geom_Cleanup");
    geom_cleanups++;
}

int AzHost_Geom_Cleanup_Count(void) { return geom_cleanups.load(); }

Kelvra_Class **AzDb_Frame_Cur(void) { return S().frame_cur; }
unsigned char *AzDb_Lock_Focus(void) { return &S().lock_focus; }

/* ------------------------------------------------------------------------
 * Iterators
 * --------------------------------------------------------------------- */

static azdb::Iterator_Slot *Slot_Get(int slot)
{
    if (slot < 0 || slot >= AZ_ITERATOR_SLOTS)
        return nullptr;
    return &S().iterators[slot];
}

int Iterator_Init(int slot, const char *tag, Kelvra_Class *cls)
{
    if (azdb::Trace_Active())
        azdb::Trace("Iterator_Init %d %s", slot, tag ? tag : "");
    azdb::Interface_Wait_Workers();
    std::lock_guard<std::recursive_mutex> hold(Mutex());
    azdb::Iterator_Slot *it = Slot_Get(slot);
    Kelvra_Class *start = cls ? cls : S().root;
    if (!it || !azdb::Class_Alive(start))
        return 0;
    *it = azdb::Iterator_Slot();
    it->active = true;
    azdb::Tree_Collect(start, it->classes);
    it->windows = S().windows;
    return 1;
}

Kelvra_Class *Iterator_Class(int slot, unsigned int type_code, void *, int)
{
    /* A walk goes on only after a worker started meanwhile (by the set-up
     * of the class just returned) has ended. */
    azdb::Interface_Wait_Workers();
    std::lock_guard<std::recursive_mutex> hold(Mutex());
    azdb::Iterator_Slot *it = Slot_Get(slot);
    if (!it || !it->active)
        return nullptr;
    while (it->class_pos < it->classes.size()) {
        Kelvra_Class *cls = it->classes[it->class_pos++];
        if (cls && (((unsigned int)cls->Class_A_Get() << 16) | cls->Class_B_Get()) == type_code)
            return cls;
    }
    return nullptr;
}

Kelvra_Window *Iterator_Window(int slot, int)
{
    std::lock_guard<std::recursive_mutex> hold(Mutex());
    azdb::Iterator_Slot *it = Slot_Get(slot);
    if (!it || !it->active)
        return nullptr;
    while (it->window_pos < it->windows.size()) {
        Kelvra_Window *window = it->windows[it->window_pos++];
        if (window)
            return window;
    }
    return nullptr;
}

int Iterator_End(int slot)
{
    if (azdb::Trace_Active())
        azdb::Trace("Iterator_End %d", slot);
    std::lock_guard<std::recursive_mutex> hold(Mutex());
    azdb::Iterator_Slot *it = Slot_Get(slot);
    if (!it)
        return 0;
    *it = azdb::Iterator_Slot();
    return 1;
}

/* ------------------------------------------------------------------------
 * Access lock and script flag
 * --------------------------------------------------------------------- */

static std::recursive_mutex &Access_Mutex()
{
    static std::recursive_mutex *mutex = new std::recursive_mutex;
    return *mutex;
}

void Access_Init(const char *tag)
{
    if (azdb::Trace_Active())
        azdb::Trace("Access_Init %s", tag ? tag : "");
    Access_Mutex().lock();
}

void Access_End(const char *tag)
{
    if (azdb::Trace_Active())
        azdb::Trace("Access_End %s", tag ? tag : "");
    Access_Mutex().unlock();
}

static std::atomic<unsigned int> script_flags{0};

void AzHost_Script_Flag_Set(unsigned int flags) { script_flags = flags; }
unsigned int Script_Flag_Get(void) { return script_flags.load(); }
