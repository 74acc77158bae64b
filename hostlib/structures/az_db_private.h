/*
 * Shared state of the database's own source files (not for other parts).
 */
#ifndef AZ_DB_PRIVATE_H
#define AZ_DB_PRIVATE_H

#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "az_db.h"

namespace azdb {

#define AZ_ITERATOR_SLOTS 8

struct Iterator_Slot {
    bool active = false;
    std::vector<Kelvra_Class *> classes;   /* deleted classes become null */
    size_t class_pos = 0;
    std::vector<Kelvra_Window *> windows;  /* deleted windows become null */
    size_t window_pos = 0;
};

/* A frame that loading (AzDb_Insert) filed below a class.  What a worker
 * inserts again is no load and is not recorded; deleting a frame does not
 * take it off the record.  A class's record is in ascending location,
 * equal locations in arrival order: the order in which the module's
 * Original direction records its source frames. */
struct Recorded_Frame {
    const Vexa_Image *image;
    int z;
    float location;
};

struct State {
    Kelvra_Class *root = nullptr;
    std::unordered_set<const Kelvra_Class *> live;
    std::vector<Kelvra_Window *> windows;
    std::unordered_map<const Kelvra_Window *, Kelvra_Class *> shown;
    std::vector<Kelvra_File *> files;
    Kelvra_Class *frame_cur[AZ_FRAME_CUR_NB] = {};
    unsigned char lock_focus = 0;
    std::vector<Kelvra_Insert_Fct> tree_pt;
    std::vector<unsigned short> tree_id;
    Iterator_Slot iterators[AZ_ITERATOR_SLOTS];
    std::unordered_map<const Kelvra_Class *, std::vector<Recorded_Frame>> recorded;
};

/* The tree lock: guards State and every class's links and flags.  Never
 * taken on the pixel path. */
std::recursive_mutex &Mutex();
State &S();

/* Host code calls the public class operations with recording muted, so
 * that the recorder holds only what the module asked for. */
bool Trace_Active();
void Trace(const char *format, ...) AZ_PRINTF(1, 2);
struct Trace_Mute {
    Trace_Mute();
    ~Trace_Mute();
};

/* The interface thread walks the database (iterators) only while no
 * worker runs: called there, waits for the workers to end, dispatching
 * the progress windows' messages meanwhile.  Returns at once on any other
 * thread or when no worker runs. */
void Interface_Wait_Workers();

/* Call under Mutex(). */
void Class_Frame_Record(const Kelvra_Class *cls, const Recorded_Frame &frame);
std::vector<Recorded_Frame> Class_Frames_Recorded(const Kelvra_Class *cls);

/* Forgetting an object that dies: every reference the host keeps to it. */
void Class_Forget(Kelvra_Class *cls);
void Window_Forget(Kelvra_Window *window);
void Queue_Forget(Kelvra_Class *cls);
void Queue_Clear();
void Hooks_Clear();
void Variables_Clear();
void Variables_Default();
void Help_Clear();
/* Alive: constructed and not yet destroyed (call under Mutex()). */
bool Class_Alive(const Kelvra_Class *cls);
/* Pre-order list of cls and its descendants (call under Mutex()). */
void Tree_Collect(Kelvra_Class *cls, std::vector<Kelvra_Class *> &out);
/* The module's folder (for help), from a function of it; "" when unknown. */
void Module_Function_Note(const void *function);
std::string Module_Dir();
/* Component of the vector, and dot product of the (x, y, z) parts. */
double Dot(const Vect &a, const Vect &b);

}  // namespace azdb

#endif
