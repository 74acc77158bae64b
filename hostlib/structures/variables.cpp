/*
 * Host variables by name.  Readers share a lock and find a name without
 * building a string (the preview reads "$COLORMAP_GLI_INVALID" for every
 * pixel outside the volume); writers are rare.
 */
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

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

}  // namespace

void AzVar_Set(const char *name, intptr_t value)
{
    if (!name)
        return;
    std::unique_lock<std::shared_mutex> hold(Var_Mutex());
    Var &var = Var_Slot(name);
    var.kind = VAR_OWN;
    var.value = value;
    var.address = nullptr;
}

static void Var_Bind(const char *name, void *address, Var_Kind kind)
{
    if (!name)
        return;
    std::unique_lock<std::shared_mutex> hold(Var_Mutex());
    Var &var = Var_Slot(name);
    var.kind = kind;
    var.value = 0;
    var.address = address;
}

void AzVar_Bind(const char *name, void *address) { Var_Bind(name, address, VAR_BOUND); }
void AzVar_Bind_Byte(const char *name, unsigned char *address) { Var_Bind(name, address, VAR_BYTE); }

void AzVar_Remove(const char *name)
{
    if (!name)
        return;
    std::unique_lock<std::shared_mutex> hold(Var_Mutex());
    Vars().erase(name);
}

intptr_t Fct_Variable_Value(const char *name, void *, void *, void *)
{
    if (!name)
        return 0;
    std::shared_lock<std::shared_mutex> hold(Var_Mutex());
    auto found = Vars().find(name);
    if (found == Vars().end())
        return 0;
    const Var &var = *found->second;
    switch (var.kind) {
    case VAR_OWN:
        return var.value;
    case VAR_BOUND:
        return var.address ? *(const intptr_t *)var.address : 0;
    case VAR_BYTE:
        return var.address ? *(const unsigned char *)var.address : 0;
    }
    return 0;
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
