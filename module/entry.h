/*
 * The module's exported entry points: the contract between the host and
 * the module.  Every entry point has C linkage and a plain name; texts it
 * returns are static and owned by the module.  Results are 1 for done and
 * 0 for not taken unless stated.
 *
 * Order the host relies on: Version, Register and Class_Register may be
 * called before any class exists; Class_Insert is called through the
 * database's insert chain ("$DB_TREE_PT"); the Ctrl_* entry points and
 * Update_A are called one at a time from the host's interface thread.
 */
#ifndef MODULE_ENTRY_H
#define MODULE_ENTRY_H

#include "../host/corvantis_tools.h"
#include "../host/kelvra_structures.h"

extern "C" {
/* "1.0 rev-a  (Nov 22 2013)". */
AZ_EXPORT const char *Version(void);
/* code 0: the class key "class Oblique". */
AZ_EXPORT const char *Register(unsigned int code);
/* Stores 13 (the first class type) when slot is set; "RUD Azozude". */
AZ_EXPORT const char *Class_Register(unsigned int *slot);
/* Writes "RUD Azozude:" into the status area. */
AZ_EXPORT void Class_Status(Texts *status);

/* Records a frame under its study and forwards it to the next level;
 * the next level's result, 0 when memory fails. */
AZ_EXPORT int Class_Insert(Kelvra_File *file, int bunch, int slice, Kelvra_Class *parent, unsigned short level);

/* Panel lifecycle. */
AZ_EXPORT int Ctrl_Register(void);                           /* panel height */
AZ_EXPORT int Ctrl_Create(HWND window, int width, int height);
AZ_EXPORT int Ctrl_Resize(HWND window, int width, int height);
AZ_EXPORT int Ctrl_Open(unsigned short mode);
AZ_EXPORT void Ctrl_Show(void);
AZ_EXPORT void Ctrl_Hide(void);
AZ_EXPORT int Ctrl_Draw(void);
AZ_EXPORT int Ctrl_Leave(void);
AZ_EXPORT unsigned int Ctrl_Query(void);
AZ_EXPORT int Ctrl_Close(void);

/* Panel input: the first argument is ignored; 1 when the event was taken. */
AZ_EXPORT int Ctrl_Click(void *unused, int state);
AZ_EXPORT int Ctrl_Motion(void *unused, int state, short x, short y);
AZ_EXPORT int Ctrl_Scroll(void *unused, int value);
AZ_EXPORT int Ctrl_Key(void *unused, int key, short x, short y);
AZ_EXPORT int Ctrl_Help(void *unused, int key, short x, short y);

/* Update hook: the host flags wanted (0x7e00000), and their delivery. */
AZ_EXPORT uint64_t Update_Register(void);
AZ_EXPORT int Update_A(uint64_t flags);
}

#endif
