/*
 * Updates and redraws: queued from any thread, carried out by the pump on
 * the interface thread.
 */
#include <stdio.h>

#include <deque>
#include <mutex>
#include <thread>

#include "../../host/corvantis_util.h"
#include "../win32/az_win.h"
#include "az_db_private.h"

/* ------------------------------------------------------------------------
 * Queue
 * --------------------------------------------------------------------- */

namespace {

struct Queue_Entry {
    bool redraw;
    uint64_t flags;
    void *pointer;
    Kelvra_Class *cls;
    bool has_region;
    Region_4D region;
};

/* Lock order: the tree lock may be held when this one is taken, never the
 * other way round. */
std::mutex &Queue_Mutex()
{
    static std::mutex *mutex = new std::mutex;
    return *mutex;
}

std::deque<Queue_Entry> &Queue()
{
    static std::deque<Queue_Entry> *queue = new std::deque<Queue_Entry>;
    return *queue;
}

struct Hooks {
    int (*update_a)(uint64_t) = nullptr;
    uint64_t mask = 0;
    void (*redraw)(uint64_t, void *) = nullptr;
    void *redraw_user = nullptr;
    bool interface_set = false;
    std::thread::id interface_thread;
};

std::mutex &Hooks_Mutex()
{
    static std::mutex *mutex = new std::mutex;
    return *mutex;
}

Hooks &The_Hooks()
{
    static Hooks *hooks = new Hooks;
    return *hooks;
}

void Queue_Push(const Queue_Entry &entry)
{
    AzWin_Delay(AZ_DELAY_POST);
    std::lock_guard<std::mutex> hold(Queue_Mutex());
    Queue().push_back(entry);
}

Queue_Entry Entry_Make(bool redraw, uint64_t flags, void *pointer, Kelvra_Class *cls, const Region_4D *region)
{
    Queue_Entry entry;
    entry.redraw = redraw;
    entry.flags = flags;
    entry.pointer = pointer;
    entry.cls = cls;
    entry.has_region = region != nullptr;
    if (region)
        entry.region = *region;  // the caller's box may be gone by the time the pump runs
    return entry;
}

}  // namespace

namespace azdb {

void Queue_Forget(Kelvra_Class *cls)
{
    std::lock_guard<std::mutex> hold(Queue_Mutex());
    for (Queue_Entry &entry : Queue())
        if (entry.cls == cls)
            entry.cls = nullptr;
}

void Queue_Clear()
{
    std::lock_guard<std::mutex> hold(Queue_Mutex());
    Queue().clear();
}

void Hooks_Clear()
{
    std::lock_guard<std::mutex> hold(Hooks_Mutex());
    The_Hooks() = Hooks();
}

}  // namespace azdb

int Fct_Update(uint64_t flags, void *pointer, Kelvra_Class *cls, Region_4D *region)
{
    if (azdb::Trace_Active()) {
        char where[300] = "";
        if (cls)
            snprintf(where, sizeof where, " cls=%s", cls->Name_Get());
        char box[200] = "";
        if (region)
            snprintf(box, sizeof box, " region=%g,%g,%g,%g:%g,%g,%g,%g", region->min[0], region->min[1],
                     region->min[2], region->min[3], region->max[0], region->max[1], region->max[2],
                     region->max[3]);
        azdb::Trace("Fct_Update 0x%llx%s%s", (unsigned long long)flags, where, box);
    }
    Queue_Push(Entry_Make(false, flags, pointer, cls, region));
    return 1;
}

int Fct_Redraw(uint64_t flags, void *, void *, void *)
{
    if (azdb::Trace_Active())
        azdb::Trace("Fct_Redraw 0x%llx", (unsigned long long)flags);
    Queue_Push(Entry_Make(true, flags, nullptr, nullptr, nullptr));
    return 1;
}

void AzHost_Post_Update(uint64_t flags, void *pointer, Kelvra_Class *cls, const Region_4D *region)
{
    Queue_Push(Entry_Make(false, flags, pointer, cls, region));
}

void AzHost_Post_Redraw(uint64_t flags) { Queue_Push(Entry_Make(true, flags, nullptr, nullptr, nullptr)); }

int AzHost_Pending(void)
{
    std::lock_guard<std::mutex> hold(Queue_Mutex());
    return (int)Queue().size();
}

void AzHost_Module_Set(int (*update_a)(uint64_t), uint64_t mask)
{
    if (update_a)
        azdb::Module_Function_Note((const void *)update_a);
    std::lock_guard<std::mutex> hold(Hooks_Mutex());
    The_Hooks().update_a = update_a;
    The_Hooks().mask = mask;
}

void AzHost_Redraw_Hook_Set(void (*hook)(uint64_t, void *), void *user)
{
    std::lock_guard<std::mutex> hold(Hooks_Mutex());
    The_Hooks().redraw = hook;
    The_Hooks().redraw_user = user;
}

void AzHost_Interface_Thread_Set(void)
{
    std::lock_guard<std::mutex> hold(Hooks_Mutex());
    The_Hooks().interface_set = true;
    The_Hooks().interface_thread = std::this_thread::get_id();
}

int AzHost_Is_Interface_Thread(void)
{
    std::lock_guard<std::mutex> hold(Hooks_Mutex());
    return The_Hooks().interface_set && The_Hooks().interface_thread == std::this_thread::get_id();
}

static Hooks Hooks_Copy()
{
    std::lock_guard<std::mutex> hold(Hooks_Mutex());
    return The_Hooks();
}

/* Update_B of every class but frames (theirs does nothing), in tree order.
 * Each call runs under the tree lock so that the class cannot die under it. */
static void Broadcast_Update_B(uint64_t flags)
{
    std::vector<Kelvra_Class *> order;
    {
        std::lock_guard<std::recursive_mutex> hold(azdb::Mutex());
        std::vector<Kelvra_Class *> all;
        azdb::Tree_Collect(azdb::S().root, all);
        for (Kelvra_Class *cls : all)
            if (!AzFrame_Cast(cls))
                order.push_back(cls);
    }
    for (Kelvra_Class *cls : order) {
        std::lock_guard<std::recursive_mutex> hold(azdb::Mutex());
        if (azdb::Class_Alive(cls))
            cls->Update_B(flags);
    }
}

static void Carry_Out(Queue_Entry &entry, const Hooks &hooks)
{
    if (entry.redraw) {
        if (hooks.redraw)
            hooks.redraw(entry.flags, hooks.redraw_user);
        return;
    }
    uint64_t wanted = entry.flags & hooks.mask;
    if (hooks.update_a && wanted)
        hooks.update_a(wanted);
    if (entry.flags & AZ_UPDATE_B_FLAG)
        Broadcast_Update_B(entry.flags);
    if (entry.cls && entry.has_region) {
        std::lock_guard<std::recursive_mutex> hold(azdb::Mutex());
        if (azdb::Class_Alive(entry.cls))
            entry.cls->Update_Child_A(entry.flags, entry.pointer, nullptr, &entry.region);
    }
}

int AzHost_Pump(void)
{
    Hooks hooks = Hooks_Copy();
    if (hooks.interface_set && hooks.interface_thread != std::this_thread::get_id())
        return 0;
    int done = 0;
    for (;;) {
        /* While a worker runs, nothing is carried out: the module's hook
         * must not run beside it, and the classes it rebuilds (their
         * frames deleted and inserted again) are not to be read.  The
         * entries wait, in order, for its end; a worker started by an
         * entry holds back the ones after it. */
        if (AzWin_Threads_Alive())
            break;
        Queue_Entry entry;
        {
            std::lock_guard<std::mutex> hold(Queue_Mutex());
            if (Queue().empty())
                break;
            entry = Queue().front();
            Queue().pop_front();
        }
        AzWin_Delay(AZ_DELAY_DELIVERY);
        Carry_Out(entry, hooks);
        hooks = Hooks_Copy();  // a hook may have been changed by what just ran
        done++;
    }
    return done;
}

/* ------------------------------------------------------------------------
 * The interface thread and a running worker
 * --------------------------------------------------------------------- */

namespace {

/* The progress windows' own messages: the only windows whose procedures
 * may run while the interface thread waits for a worker (they are the
 * host's, and they carry the user's cancel). */
void Progress_Messages_Dispatch()
{
    std::vector<HWND> windows;
    for (HWND window = AzWin_Find("Progress", nullptr); window; window = AzWin_Find("Progress", window))
        windows.push_back(window);
    MSG msg;
    for (HWND window : windows)
        while (PeekMessageA(&msg, window, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
}

}  // namespace

namespace azdb {

void Interface_Wait_Workers()
{
    if (!AzWin_Threads_Alive() || AzWin_Thread_Is_Started() || !AzHost_Is_Interface_Thread())
        return;
    while (!AzWin_Threads_Wait(20))
        Progress_Messages_Dispatch();
    Progress_Messages_Dispatch();
}

}  // namespace azdb
