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

void Folder_Remove()
{
    Fuzz_Input_Clean();
    if (!folder.empty())
        rmdir(folder.c_str());
}

const std::string &Folder()
{
    if (folder.empty()) {
        char pattern[] = "/tmp/az_fuzz_XXXXXX";
        if (mkdtemp(pattern)) {
            folder = pattern;
            atexit(Folder_Remove);
        }
    }
    return folder;
}

}  // namespace

std::string Fuzz_Input_File(const uint8_t *data, size_t size, const char *name)
{
    if (Folder().empty())
        return std::string();
    std::string path = Folder() + "/" + name;
    FILE *file = fopen(path.c_str(), "wb");
    if (!file)
        return std::string();
    size_t done = size ? fwrite(data, 1, size, file) : 0;
    fclose(file);
    written.push_back(path);
    return done == size ? path : std::string();
}

void Fuzz_Input_Clean()
{
    for (const std::string &path : written)
        unlink(path.c_str());
    written.clear();
}

void Fuzz_Console_Quiet()
{
    AzConsole_Sink_Set(Drop, nullptr, nullptr);
}
