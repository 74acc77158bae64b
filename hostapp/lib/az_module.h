/*
 * The host's module loader: opens a module library and finds each of its
 * entry points by exported name.  A module that lacks one entry point is
 * refused whole, so the rest of the host can call every pointer without
 * checking it.
 */
#ifndef AZ_MODULE_H
#define AZ_MODULE_H

#include "../../module/entry.h"

/* Every entry point, in the order they are looked up. */
#define AZ_MODULE_ENTRIES(X)                                                                                         \
    X(Version)                                                                                                       \
    X(Register)                                                                                                      \
    X(Class_Register)                                                                                                \
    X(Class_Status)                                                                                                  \
    X(Class_Insert)                                                                                                  \
    X(Ctrl_Register)                                                                                                 \
    X(Ctrl_Create)                                                                                                   \
    X(Ctrl_Resize)                                                                                                   \
    X(Ctrl_Open)                                                                                                     \
    X(Ctrl_Show)                                                                                                     \
    X(Ctrl_Hide)                                                                                                     \
    X(Ctrl_Draw)                                                                                                     \
    X(Ctrl_Leave)                                                                                                    \
    X(Ctrl_Query)                                                                                                    \
    X(Ctrl_Close)                                                                                                    \
    X(Ctrl_Click)                                                                                                    \
    X(Ctrl_Motion)                                                                                                   \
    X(Ctrl_Scroll)                                                                                                   \
    X(Ctrl_Key)                                                                                                      \
    X(Ctrl_Help)                                                                                                     \
    X(Update_Register)                                                                                               \
    X(Update_A)

/* Pointer types named after the entry points (AzEntry_Version, ...). */
#define AZ_MODULE_TYPE(name) typedef decltype(&::name) AzEntry_##name;
AZ_MODULE_ENTRIES(AZ_MODULE_TYPE)
#undef AZ_MODULE_TYPE

struct AzModule {
    void *handle;
    char path[1024];
#define AZ_MODULE_FIELD(name) AzEntry_##name name;
    AZ_MODULE_ENTRIES(AZ_MODULE_FIELD)
#undef AZ_MODULE_FIELD
};

/* Opens the library at path (RTLD_NOW | RTLD_LOCAL) and resolves every
 * entry point.  1 when all are there; 0 with the module left zeroed and a
 * message naming the file or symbol and the loader's reason in error. */
AZ_EXPORT int AzModule_Load(AzModule *module, const char *path, char *error, int error_size);

/* Closes the library and zeroes the record; nothing when not loaded. */
AZ_EXPORT void AzModule_Unload(AzModule *module);

/* The module to load when none is named: the build's own module when it
 * exists, else class_oblique.so next to the running program. */
AZ_EXPORT const char *AzModule_Default_Path(char *out, int out_size);

#endif
