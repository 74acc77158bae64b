/*
 * Module loading with the platform's dynamic loader.
 */
#include "az_module.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Entry_Slot {
    const char *name;
    size_t offset;
};

#define AZ_MODULE_SLOT(name) {#name, offsetof(AzModule, name)},
const Entry_Slot entry_slots[] = {AZ_MODULE_ENTRIES(AZ_MODULE_SLOT)};
#undef AZ_MODULE_SLOT

int File_Exists(const char *path)
{
    struct stat info;
    return stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

/* dlerror() is null when a symbol exists with a null value. */
const char *Loader_Reason(void)
{
    const char *reason = dlerror();
    return reason ? reason : "no reason given";
}

} // namespace

int AzModule_Load(AzModule *module, const char *path, char *error, int error_size)
{
    memset(module, 0, sizeof(*module));
    if (error_size > 0)
        error[0] = '\0';
    // Without a slash the loader would search its library path instead of
    // the current folder: "fake.so" must mean the file the user sees.
    char local[PATH_MAX + 2];
    const char *load_path = path;
    if (!strchr(path, '/')) {
        snprintf(local, sizeof(local), "./%s", path);
        load_path = local;
    }
    dlerror();
    void *handle = dlopen(load_path, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        snprintf(error, error_size, "cannot load module %s: %s", path, Loader_Reason());
        return 0;
    }
    for (const Entry_Slot &slot : entry_slots) {
        dlerror();
        void *symbol = dlsym(handle, slot.name);
        if (!symbol) {
            snprintf(error, error_size, "module %s has no entry point %s: %s", path, slot.name, Loader_Reason());
            dlclose(handle);
            memset(module, 0, sizeof(*module));
            return 0;
        }
        // Every slot is a function pointer of the same size as the symbol's address.
        memcpy(reinterpret_cast<char *>(module) + slot.offset, &symbol, sizeof(symbol));
    }
    module->handle = handle;
    snprintf(module->path, sizeof(module->path), "%s", path);
    return 1;
}

void AzModule_Unload(AzModule *module)
{
    if (module->handle)
        dlclose(module->handle);
    memset(module, 0, sizeof(*module));
}

const char *AzModule_Default_Path(char *out, int out_size)
{
#ifdef AZ_MODULE_DEFAULT
    if (File_Exists(AZ_MODULE_DEFAULT)) {
        snprintf(out, out_size, "%s", AZ_MODULE_DEFAULT);
        return out;
    }
#endif
    char program[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", program, sizeof(program) - 1);
    if (length <= 0) {
        snprintf(out, out_size, "class_oblique.so");
        return out;
    }
    program[length] = '\0';
    char *slash = strrchr(program, '/');
    if (slash)
        slash[1] = '\0';
    snprintf(out, out_size, "%sclass_oblique.so", slash ? program : "");
    return out;
}
