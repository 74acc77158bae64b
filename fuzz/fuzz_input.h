/* Shared by the fuzz targets: the readers take paths, so each input is
 * written to a file of a private folder first (removed with the process);
 * the console is dropped so that reported problems do not slow the run. */
#ifndef FUZZ_INPUT_H
#define FUZZ_INPUT_H

#include <stddef.h>
#include <stdint.h>

#include <string>

/* Drops console lines (once), removes the files written for the last
 * input, writes the bytes under that name (readers pick their format by
 * extension).  Empty on failure. */
std::string Fuzz_Input_File(const uint8_t *data, size_t size, const char *name);

#endif
