/* Shared by the fuzz targets: the readers take paths, so each input is
 * written to a private temporary file first; the console is silenced so
 * that reported problems do not slow the run down. */
#ifndef FUZZ_INPUT_H
#define FUZZ_INPUT_H

#include <stddef.h>
#include <stdint.h>

#include <string>

/* Writes the bytes to a file in a private folder, with the given name
 * (the readers pick their format by extension).  Empty path on failure. */
std::string Fuzz_Input_File(const uint8_t *data, size_t size, const char *name);
/* Removes every file the target wrote. */
void Fuzz_Input_Clean();
/* Drops console lines. */
void Fuzz_Console_Quiet();

#endif
