/*
 * The database's objects: identity, classes with their tree links, flags,
 * lock count and mutex, file records and windows.
 */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "../win32/az_win.h"
#include "az_db_private.h"

using azdb::Mutex;
using azdb::S;

/* ------------------------------------------------------------------------
 * Kelvra
 * --------------------------------------------------------------------- */

Kelvra::Kelvra() : magic(KELVRA_MAGIC), class_a(0), class_b(0) { name[0] = 0; }

Kelvra::Kelvra(const Kelvra &other) : magic(other.magic), class_a(other.class_a), class_b(other.class_b)
{
    memcpy(name, other.name, sizeof name);
}

Kelvra &Kelvra::operator=(const Kelvra &other)
{
    magic = other.magic;
    class_a = other.class_a;
    class_b = other.class_b;
    memmove(name, other.name, sizeof name);
    return *this;
}

/* A dead object must not pass for a live one through a stale pointer. */
Kelvra::~Kelvra() { magic = 0; }

void Kelvra::Name_Set(const char *format, ...)
{
    char buffer[sizeof name];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    memcpy(name, buffer, sizeof name);
}

/* ------------------------------------------------------------------------
 * Kelvra_Class
 * --------------------------------------------------------------------- */

/* A view of the children with room for capacity of them (capacities
 * double, so the retired views add up to a few times the largest list). */
static Kelvra_Child_View *Child_View_Make(const std::vector<Kelvra_Class *> &children, int capacity)
{
    Kelvra_Child_View *view =
        (Kelvra_Child_View *)malloc(sizeof(Kelvra_Child_View) + sizeof(Kelvra_Class *) * (size_t)capacity);
    if (!view)
        abort();  // the host cannot go on without its tree
    view->capacity = capacity;
    for (size_t i = 0; i < children.size(); i++)
        view->items[i] = children[i];
    view->nb = (int)children.size();
    return view;
}

struct Kelvra_Class_Private {
    std::vector<Kelvra_Class *> children;   /* the writers' copy, under the tree lock */
    std::vector<Kelvra_Child_View *> retired;

    /* Publishes the children into *slot (the class's view) after a change
     * other than an append. */
    void Publish(Kelvra_Child_View **slot)
    {
        int capacity = 4;
        while (capacity < (int)children.size())
            capacity *= 2;
        Kelvra_Child_View *old = *slot;
        __atomic_store_n(slot, Child_View_Make(children, capacity), __ATOMIC_RELEASE);
        if (old)
            retired.push_back(old);
    }
    /* Publishes one appended child: the slot first, then the count. */
    void Publish_Append(Kelvra_Child_View **slot)
    {
        Kelvra_Child_View *current = *slot;
        int nb = (int)children.size();
        if (!current || nb > current->capacity) {
            Publish(slot);
            return;
        }
        current->items[nb - 1] = children[nb - 1];
        __atomic_store_n(&current->nb, nb, __ATOMIC_RELEASE);
    }
    ~Kelvra_Class_Private()
    {
        for (Kelvra_Child_View *old : retired)
            free(old);
    }
    std::string title;
    std::string sort;
    uint64_t flags = 0;
    std::map<const Kelvra_Window *, uint64_t> window_flags;
    std::atomic<int> lock{0};
    std::mutex mutex;
};

static const char *Window_Name(Kelvra_Window *window) { return window ? window->Name_Get() : ""; }

static void Class_Register(Kelvra_Class *cls)
{
    std::lock_guard<std::recursive_mutex> hold(Mutex());
    S().live.insert(cls);
}

Kelvra_Class::Kelvra_Class()
    : matrix_pt(nullptr), matrix_inv_pt(nullptr), Pixel_Get_GLI(nullptr), Pixel_Get_TAG(nullptr),
      Pixel_Set_TAG(nullptr), Pixel_Get_Dim(nullptr), Pixel_Get_Pos(nullptr), parent_pt(nullptr), child_view(nullptr),
      priv(new Kelvra_Class_Private)
{
    Class_Register(this);
}

/* What a copy of a class takes from its source besides the public fields:
 * title, sort key and flags; never children, lock count or mutex.  Under
 * the tree lock. */
static void Private_Copy(Kelvra_Class_Private *to, const Kelvra_Class_Private *from)
{
    to->title = from->title;
    to->sort = from->sort;
    to->flags = from->flags;
    to->window_flags = from->window_flags;
}

Kelvra_Class::Kelvra_Class(const Kelvra_Class &other)
    : Kelvra(other), matrix_pt(other.matrix_pt ? new Matrix_4x4(*other.matrix_pt) : nullptr),
      matrix_inv_pt(other.matrix_inv_pt ? new Matrix_4x4(*other.matrix_inv_pt) : nullptr),
      Pixel_Get_GLI(other.Pixel_Get_GLI), Pixel_Get_TAG(other.Pixel_Get_TAG), Pixel_Set_TAG(other.Pixel_Set_TAG),
      Pixel_Get_Dim(other.Pixel_Get_Dim), Pixel_Get_Pos(other.Pixel_Get_Pos), parent_pt(nullptr), child_view(nullptr),
      priv(new Kelvra_Class_Private)
{
    std::lock_guard<std::recursive_mutex> hold(Mutex());
    parent_pt = other.parent_pt;
    Private_Copy(priv, other.priv);
    S().live.insert(this);
}

/* Replaces *slot by a copy of source (or nothing), keeping its own storage. */
static void Matrix_Assign(Matrix_4x4 *&slot, const Matrix_4x4 *source)
{
    if (!source) {
        delete slot;
        slot = nullptr;
    } else if (slot) {
        *slot = *source;
    } else {
        slot = new Matrix_4x4(*source);
    }
}

Kelvra_Class &Kelvra_Class::operator=(const Kelvra_Class &other)
{
    if (this == &other)
        return *this;
    Kelvra::operator=(other);
    Matrix_Assign(matrix_pt, other.matrix_pt);
    Matrix_Assign(matrix_inv_pt, other.matrix_inv_pt);
    Pixel_Get_GLI = other.Pixel_Get_GLI;
    Pixel_Get_TAG = other.Pixel_Get_TAG;
    Pixel_Set_TAG = other.Pixel_Set_TAG;
    Pixel_Get_Dim = other.Pixel_Get_Dim;
    Pixel_Get_Pos = other.Pixel_Get_Pos;
    std::lock_guard<std::recursive_mutex> hold(Mutex());
    parent_pt = other.parent_pt;
    Private_Copy(priv, other.priv);
    return *this;
}

Kelvra_Class::~Kelvra_Class()
{
    {
        azdb::Trace_Mute mute;
        Child_Delete();
    }
    delete matrix_pt;
    delete matrix_inv_pt;
    matrix_pt = nullptr;
    matrix_inv_pt = nullptr;
    {
        std::lock_guard<std::recursive_mutex> hold(Mutex());
        Kelvra_Class *parent = parent_pt;
        if (parent && azdb::Class_Alive(parent)) {
            std::vector<Kelvra_Class *> &siblings = parent->priv->children;
            siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
            parent->priv->Publish(&parent->child_view);
        }
        azdb::Class_Forget(this);
    }
    free(child_view);
    child_view = nullptr;
    delete priv;
    priv = nullptr;
}

int Kelvra_Class::Update_A(uint64_t) { return 1; }
int Kelvra_Class::Update_B(uint64_t) { return 1; }
void Kelvra_Class::Update_Child_A(uint64_t, void *, void *, Region_4D *) {}
int Kelvra_Class::Stool(void *) { return 0; }
int Kelvra_Class::Resize(int, int) { return 0; }

int Kelvra_Class::Sort(int mode)
{
    if (azdb::Trace_Active())
        azdb::Trace("Sort %s %d", Name_Get(), mode);
    std::vector<Kelvra_Class *> order;
    {
        std::lock_guard<std::recursive_mutex> hold(Mutex());
        order = priv->children;
    }
    /* Compare may call pixel callbacks: sort outside the tree lock. */
    std::stable_sort(order.begin(), order.end(),
                     [](Kelvra_Class *a, Kelvra_Class *b) { return a->Compare(b) < 0; });
    std::lock_guard<std::recursive_mutex> hold(Mutex());
    std::vector<Kelvra_Class *> now = priv->children;
    std::vector<Kelvra_Class *> sorted_set = order;
    std::sort(now.begin(), now.end());
    std::sort(sorted_set.begin(), sorted_set.end());
    if (now != sorted_set)
        return 0;  // the children changed meanwhile: leave them alone
    priv->children = order;
    priv->Publish(&child_view);
    return 1;
}

int Kelvra_Class::Compare(Kelvra_Class *other)
{
    if (!other)
        return -1;
    int c = strcmp(Sort_Get(), other->Sort_Get());
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

const char *Kelvra_Class::Icon_Name() { return ""; }
int Kelvra_Class::Interface_Click(Kelvra_Window *, int, int, int) { return 0; }
int Kelvra_Class::Interface_Motion(Kelvra_Window *, int, int, int) { return 0; }
int Kelvra_Class::Interface_Scroll(Kelvra_Window *, int) { return 0; }
int Kelvra_Class::Interface_Key(Kelvra_Window *, int) { return 0; }
int Kelvra_Class::Interface_Select(Kelvra_Window *, int) { return 0; }

void Kelvra_Class::Title_Set(const char *title)
{
    std::lock_guard<std::recursive_mutex> hold(Mutex());
    priv->title = title ? title : "";
}

const char *Kelvra_Class::Title_Get() const { return priv->title.c_str(); }

void Kelvra_Class::Sort_Set(const char *key)
{
    std::lock_guard<std::recursive_mutex> hold(Mutex());
    priv->sort = key ? key : "";
}

const char *Kelvra_Class::Sort_Get() const { return priv->sort.c_str(); }

void Kelvra_Class::Parent_Set_Pt(Kelvra_Class *parent)
{
    std::lock_guard<std::recursive_mutex> hold(Mutex());
    parent_pt = parent;
}


void Kelvra_Class::Child_Add(Kelvra_Class *child)
{
    if (!child || child == this)
        return;
    if (azdb::Trace_Active())
        azdb::Trace("Child_Add %s %s", Name_Get(), child->Name_Get());
    std::lock_guard<std::recursive_mutex> hold(Mutex());
    child->parent_pt = this;
    priv->children.push_back(child);
    priv->Publish_Append(&child_view);
}

void Kelvra_Class::Child_Delete()
{
    if (azdb::Trace_Active())
        azdb::Trace("Child_Delete %s", Name_Get());
    /* Only where there is something to delete: every frame's destructor passes here too. */
    if (__atomic_load_n(&AzWin_Delay_Armed, __ATOMIC_RELAXED) && Child_Get_Nb() > 0)
        AzWin_Delay_Pause(AZ_DELAY_CHILD_DELETE);
    std::vector<Kelvra_Class *> doomed;
    {
        std::lock_guard<std::recursive_mutex> hold(Mutex());
        doomed.swap(priv->children);
        priv->Publish(&child_view);
    }
    /* Destructors run outside the tree lock: they may be the module's. */
    azdb::Trace_Mute mute;
    for (Kelvra_Class *child : doomed)
        delete child;
}

/* Every class a flag call reaches: by group 0x10 self, 0x20 descendants,
 * 0x40 ancestors (call under the tree lock). */
static void Flag_Targets(Kelvra_Class *cls, unsigned char group, std::vector<Kelvra_Class *> &out)
{
    if (group & 0x10)
        out.push_back(cls);
    if (group & 0x20) {
        std::vector<Kelvra_Class *> below;
        azdb::Tree_Collect(cls, below);
        out.insert(out.end(), below.begin() + 1, below.end());
    }
    if (group & 0x40)
        for (Kelvra_Class *up = cls->Parent_Get_Pt(); up; up = up->Parent_Get_Pt())
            out.push_back(up);
}

/* The panel has one current class and one current frame: marking a class
 * unmarks every other class at its depth, which the panel itself leaves
 * marked when it turns from one direction or study to another.  The
 * classes to unmark (under the tree lock). */
static std::vector<Kelvra_Class *> Panel_Mark_Others(Kelvra_Class *cls, const std::vector<Kelvra_Class *> &targets)
{
    int depth = 0;
    Kelvra_Class *root = cls;
    for (; root->Parent_Get_Pt(); root = root->Parent_Get_Pt())
        depth++;
    std::vector<Kelvra_Class *> level(1, root);
    for (int d = 0; d < depth; d++) {
        std::vector<Kelvra_Class *> below;
        for (Kelvra_Class *up : level)
            for (int i = 0; i < up->Child_Get_Nb(); i++)
                below.push_back(up->Child_Get_Pt(i));
        level.swap(below);
    }
    std::vector<Kelvra_Class *> others;
    for (Kelvra_Class *other : level)
        if (std::find(targets.begin(), targets.end(), other) == targets.end())
            others.push_back(other);
    return others;
}

/* Sets (on) or clears the mask in the flag words of the given classes: their
 * own word, or the word each keeps for the window.  Under the tree lock. */
static void Flag_Change(const std::vector<Kelvra_Class_Private *> &targets, Kelvra_Window *window, uint64_t mask,
                        bool on)
{
    for (Kelvra_Class_Private *p : targets) {
        if (!window) {
            p->flags = on ? p->flags | mask : p->flags & ~mask;
            continue;
        }
        if (on) {
            p->window_flags[window] |= mask;
            continue;
        }
        auto found = p->window_flags.find(window);
        if (found == p->window_flags.end())
            continue;
        found->second &= ~mask;
        if (!found->second)
            p->window_flags.erase(found);  // keeps a dead window's address from lingering
    }
}

void Kelvra_Class::Flag_Set_On(unsigned char group, Kelvra_Window *window, uint64_t mask)
{
    Flag_Set(group, window, mask, true);
}

void Kelvra_Class::Flag_Set_Off(unsigned char group, Kelvra_Window *window, uint64_t mask)
{
    Flag_Set(group, window, mask, false);
}

void Kelvra_Class::Flag_Set(unsigned char group, Kelvra_Window *window, uint64_t mask, bool on)
{
    if (azdb::Trace_Active())
        azdb::Trace("%s %s 0x%x 0x%llx%s%s", on ? "Flag_Set_On" : "Flag_Set_Off", Name_Get(), group,
                    (unsigned long long)mask, window ? " win=" : "", Window_Name(window));
    std::lock_guard<std::recursive_mutex> hold(Mutex());
    std::vector<Kelvra_Class *> targets;
    Flag_Targets(this, group, targets);
    if (on && !window && (mask & AZ_FLAG_PANEL_CURRENT) && (group & 0x10)) {
        std::vector<Kelvra_Class_Private *> others;
        for (Kelvra_Class *other : Panel_Mark_Others(this, targets))
            others.push_back(other->priv);
        Flag_Change(others, nullptr, AZ_FLAG_PANEL_CURRENT, false);
    }
    std::vector<Kelvra_Class_Private *> privs;
    for (Kelvra_Class *cls : targets)
        privs.push_back(cls->priv);
    Flag_Change(privs, window, mask, on);
}

int Kelvra_Class::Flag_Get_Bit(unsigned char, Kelvra_Window *window, uint64_t mask) const
{
    std::lock_guard<std::recursive_mutex> hold(Mutex());
    if (!window)
        return (priv->flags & mask) != 0;
    auto found = priv->window_flags.find(window);
    return found != priv->window_flags.end() && (found->second & mask) != 0;
}

int Kelvra_Class::Lock_Get() const { return priv->lock.load(); }

void Kelvra_Class::Lock_Set(int delta)
{
    if (azdb::Trace_Active())
        azdb::Trace("Lock_Set %s %d", Name_Get(), delta);
    priv->lock += delta;
}

void Kelvra_Class::Mutex_Open(const char *label)
{
    if (azdb::Trace_Active())
        azdb::Trace("Mutex_Open %s %s", Name_Get(), label ? label : "");
    priv->mutex.lock();
}

void Kelvra_Class::Mutex_Close(const char *label)
{
    if (azdb::Trace_Active())
        azdb::Trace("Mutex_Close %s %s", Name_Get(), label ? label : "");
    priv->mutex.unlock();
}

/* ------------------------------------------------------------------------
 * Kelvra_File
 * --------------------------------------------------------------------- */

Kelvra_File::Kelvra_File(const char *file_name, Vexa_Image **image_list) : images(image_list), images_nb(0)
{
    snprintf(name, sizeof name, "%s", file_name ? file_name : "");
    while (images && images[images_nb])
        images_nb++;
}

Kelvra_File::~Kelvra_File()
{
    for (int i = 0; i < images_nb; i++)
        AzImage_Free(images[i]);
    free(images);
    images = nullptr;
    images_nb = 0;
}

/* ------------------------------------------------------------------------
 * Kelvra_Window
 * --------------------------------------------------------------------- */

struct Kelvra_Window_Private {
    unsigned int module = 0;
    HWND window = nullptr;
};

Kelvra_Window::Kelvra_Window() : priv(new Kelvra_Window_Private) {}

Kelvra_Window::~Kelvra_Window()
{
    azdb::Window_Forget(this);
    delete priv;
    priv = nullptr;
}

unsigned int Kelvra_Window::Module_Get() const { return priv->module; }
void Kelvra_Window::Module_Set(unsigned int module) { priv->module = module; }
HWND Kelvra_Window::Window_Get() const { return priv->window; }
void Kelvra_Window::Window_Set(HWND window) { priv->window = window; }
