#include "fuzz_input.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <vector>

#include "hostlib/util/az_console.h"

namespace {

std::string folder;
std::vector<std::string> written;

void Drop(void *, HWND, int, const char *) {}

void Clean()
{
    for (const std::string &path : written)
        unlink(path.c_str());
    written.clear();
}

void Folder_Remove()
{
    Clean();
    rmdir(folder.c_str());
}

} // namespace

std::string Fuzz_Input_File(const uint8_t *data, size_t size, const char *name)
{
    char pattern[] = "/tmp/az_fuzz_XXXXXX";
    if (folder.empty() && mkdtemp(pattern)) {
        folder = pattern;
        atexit(Folder_Remove);
        AzConsole_Sink_Set(Drop, nullptr, nullptr);
    }
    Clean();
    std::string path = folder + "/" + name;
    FILE *file = folder.empty() ? nullptr : fopen(path.c_str(), "wb");
    if (!file)
        return std::string();
    written.push_back(path);
    bool whole = (size ? fwrite(data, 1, size, file) : 0) == size;
    return fclose(file) == 0 && whole ? path : std::string();
}
