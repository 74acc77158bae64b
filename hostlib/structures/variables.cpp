/*
 * Host variables by name.  Readers share a lock and find a name without
 * building a string; writers are rare.  The preview reads
 * "$COLORMAP_GLI_INVALID" for every pixel outside the volume, so each
 * thread also remembers its last answer: a copy of the variable taken under
 * the lock, good until any variable is written (a generation count).
 */
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string.h>
#include <atomic>

#include "az_db_private.h"

namespace {

enum Var_Kind { VAR_OWN, VAR_BOUND, VAR_BYTE };

struct Var {
    Var_Kind kind = VAR_OWN;
    intptr_t value = 0;
    void *address = nullptr;
};

std::shared_mutex &Var_Mutex()
{
    static std::shared_mutex *mutex = new std::shared_mutex;
    return *mutex;
}

/* Each variable lives in its own block, so that the address Get gives
 * stays valid while other variables come and go. */
/* Ordered with a transparent comparison: a lookup by const char * makes no copy. */
typedef std::map<std::string, std::unique_ptr<Var>, std::less<>> Var_Table;

Var_Table &Vars()
{
    static Var_Table *vars = new Var_Table;
    return *vars;
}

Var &Var_Slot(const char *name)
{
    std::unique_ptr<Var> &slot = Vars()[name];
    if (!slot)
        slot.reset(new Var);
    return *slot;
}

const char font_name[] = "arial";

/* Bumped under the writers' lock after every change of the table. */
std::atomic<uint64_t> var_generation{1};

/* Where a found variable's value is read: its own storage or the bound
 * address (null: not found, or bound to nothing). */
struct Var_Where {
    Var_Kind kind = VAR_OWN;
    const void *storage = nullptr;
};

Var_Where Var_Where_Of(Var *var)
{
    Var_Where where;
    if (var) {
        where.kind = var->kind;
        where.storage = var->kind == VAR_OWN ? (const void *)&var->value : var->address;
    }
    return where;
}

/* The value there.  Own storage may be written through the address Get
 * gives as well as by AzVar_Set: read it atomically. */
intptr_t Var_Read(const Var_Where &where)
{
    if (!where.storage)
        return 0;
    switch (where.kind) {
    case VAR_OWN:
        return __atomic_load_n((const intptr_t *)where.storage, __ATOMIC_RELAXED);
    case VAR_BOUND:
        return *(const intptr_t *)where.storage;
    case VAR_BYTE:
        return *(const unsigned char *)where.storage;
    }
    return 0;
}

/* A thread's last lookup: the name (pointer and text, since a caller may
 * reuse a buffer for another name) and where its value is read.  Valid
 * while the generation holds: a variable's block lives until it is
 * removed, which changes the generation. */
struct Var_Memo {
    uint64_t generation = 0;   /* 0: empty */
    const char *name = nullptr;
    char text[48];
    Var_Where where;
};
// Initial-exec: the library is loaded with the program, and a lookup per pixel
// cannot afford a call to find the thread's copy.
__attribute__((tls_model("initial-exec"))) thread_local Var_Memo var_memo;

}  // namespace

void AzVar_Set(const char *name, intptr_t value)
{
    if (!name)
        return;
    std::unique_lock<std::shared_mutex> hold(Var_Mutex());
    Var &var = Var_Slot(name);
    var.kind = VAR_OWN;
    __atomic_store_n(&var.value, value, __ATOMIC_RELAXED);
    var.address = nullptr;
    var_generation.fetch_add(1, std::memory_order_release);
}

static void Var_Bind(const char *name, void *address, Var_Kind kind)
{
    if (!name)
        return;
    std::unique_lock<std::shared_mutex> hold(Var_Mutex());
    Var &var = Var_Slot(name);
    var.kind = kind;
    __atomic_store_n(&var.value, 0, __ATOMIC_RELAXED);
    var.address = address;
    var_generation.fetch_add(1, std::memory_order_release);
}

void AzVar_Bind(const char *name, void *address) { Var_Bind(name, address, VAR_BOUND); }
void AzVar_Bind_Byte(const char *name, unsigned char *address) { Var_Bind(name, address, VAR_BYTE); }

void AzVar_Remove(const char *name)
{
    if (!name)
        return;
    std::unique_lock<std::shared_mutex> hold(Var_Mutex());
    Vars().erase(name);
    var_generation.fetch_add(1, std::memory_order_release);
}

intptr_t Fct_Variable_Value(const char *name, void *, void *, void *)
{
    if (!name)
        return 0;
    Var_Memo &memo = var_memo;
    // A write after this load makes the answer one from just before the write.
    uint64_t generation = var_generation.load(std::memory_order_acquire);
    if (memo.generation == generation && memo.name == name && strcmp(memo.text, name) == 0)
        return Var_Read(memo.where);
    std::shared_lock<std::shared_mutex> hold(Var_Mutex());
    auto found = Vars().find(name);
    Var_Where where = Var_Where_Of(found == Vars().end() ? nullptr : found->second.get());
    size_t length = strlen(name);
    if (length < sizeof(memo.text)) {
        // Under the lock no write can happen: the generation read now is the table's.
        memo.generation = var_generation.load(std::memory_order_relaxed);
        memo.name = name;
        memcpy(memo.text, name, length + 1);
        memo.where = where;
    }
    return Var_Read(where);
}

void *Fct_Variable_Get(const char *name, void *, void *, void *, int)
{
    if (!name)
        return nullptr;
    std::shared_lock<std::shared_mutex> hold(Var_Mutex());
    auto found = Vars().find(name);
    if (found == Vars().end())
        return nullptr;
    Var &var = *found->second;
    return var.kind == VAR_OWN ? (void *)&var.value : var.address;
}

namespace azdb {

void Variables_Clear()
{
    std::unique_lock<std::shared_mutex> hold(Var_Mutex());
    Vars().clear();
    var_generation.fetch_add(1, std::memory_order_release);
}

/* The settings every host starts with: interface sizes and fonts, the
 * database root and the tables the database keeps. */
void Variables_Default()
{
    State &s = S();
    AzVar_Set("$DB_ROOT_PT", (intptr_t)s.root);
    AzVar_Set("$WINDOW_CUR", 0);
    AzVar_Set("$FRAME_CUR", (intptr_t)s.frame_cur);
    AzVar_Bind_Byte("$INTERFACE_LOCK_FOCUS", &s.lock_focus);
    static const struct {
        const char *name;
        intptr_t value;
    } numbers[] = {
        {"$INTERFACE_TOOL_WIDTH", 200},      {"$INTERFACE_SPACE_DIM", 4},
        {"$INTERFACE_BUTTON_DIM_BIG", 20},   {"$INTERFACE_TITLE_DIM_BIG", 20},
        {"$INTERFACE_VAL_DIM_MID", 16},      {"$INTERFACE_VAL_DIM_SML", 12},
        {"$INTERFACE_LIST_DIM_SML", 20},     {"$INTERFACE_LIST_DIM_ARROW", 12},
        {"$INTERFACE_BORDER_DIM", 1},        {"$INTERFACE_TITLE_FONT_WEIGHT", 700},
        {"$INTERFACE_TOOL_FONT_WEIGHT", 400}, {"$INTERFACE_TITLE_FONT_SCALE", 10},
        {"$INTERFACE_TOOL_FONT_SCALE", 9},
    };
    for (const auto &number : numbers)
        AzVar_Set(number.name, number.value);
    AzVar_Set("$INTERFACE_TITLE_FONT_NAME", (intptr_t)font_name);
    AzVar_Set("$INTERFACE_TOOL_FONT_NAME", (intptr_t)font_name);
}

}  // namespace azdb
