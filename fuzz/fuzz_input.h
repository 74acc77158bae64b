/* Shared by the fuzz targets: the readers take paths, so each input is
 * written to a file of a private folder first (removed with the process);
 * the console is dropped so that reported problems do not slow the run. */
#ifndef FUZZ_INPUT_H
#define FUZZ_INPUT_H

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "hostapp/lib/az_read.h"
#include "hostlib/util/az_console.h"

/* Drops console lines (once). */
inline void Fuzz_Quiet()
{
    static AzConsole_Sink previous = AzConsole_Sink_Set([](void *, HWND, int, const char *) {}, nullptr, nullptr);
    (void)previous;
}

/* Removes the file written for the last input, writes the bytes under
 * that name (readers pick their format by extension).  Empty on failure. */
inline std::string Fuzz_Input_File(const uint8_t *data, size_t size, const char *name)
{
    static std::string folder, written;
    char pattern[] = "/tmp/az_fuzz_XXXXXX";
    if (folder.empty() && mkdtemp(pattern)) {
        folder = pattern;
        atexit([] {
            unlink(written.c_str());
            rmdir(folder.c_str());
        });
        Fuzz_Quiet();
    }
    unlink(written.c_str());
    written = folder + "/" + name;
    FILE *file = folder.empty() ? nullptr : fopen(written.c_str(), "wb");
    if (!file)
        return std::string();
    bool whole = (size ? fwrite(data, 1, size, file) : 0) == size;
    return fclose(file) == 0 && whole ? written : std::string();
}

/* What a read series promises its users: every frame holds a whole plane
 * per time point. */
inline void Fuzz_Planes_Whole(const AzSeries &series)
{
    for (const AzSeries_Frame &frame : series.frames)
        if (frame.gli.size() != (size_t)series.width * series.height * series.times_nb)
            __builtin_trap();
}

#endif
