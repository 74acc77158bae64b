/*
 * Helpers shared by the class's own sources (oblique_*.cpp) and their unit
 * tests; not part of the contract with the rest of the module.
 *
 * Ownership of heap storage between copies of a class.  Copies share the
 * pointers of the original (file record, update list, the six frame
 * arrays).  Every such block has one holder by default; each copy that
 * takes a pointer registers one more holder here.  Releasing a block drops
 * one holder and tells the caller to free it only when no other holder is
 * left, so no block is freed twice and none is lost.  Growing a shared
 * block gives the grower a private enlarged copy (the other holders keep
 * the old one), so a realloc never pulls storage from under another copy.
 * Only shared blocks are recorded: while no copy exists the registry is
 * empty and every call is a plain heap call.
 */
#ifndef OBLIQUE_INTERNAL_H
#define OBLIQUE_INTERNAL_H

#include <stddef.h>

#include "oblique.h"
#include "oblique_fixed.h"
#include "oblique_geometry.h"

/* One more holder of block (null: nothing). */
void Oblique_Block_Hold(const void *block);
/* Drops one holder; 1 when the caller was the last and must free it. */
int Oblique_Block_Release(const void *block);
/* Frees block with free() when the caller is its last holder. */
void Oblique_Block_Free(void *block);
/* Enlarges block (null: a new one) to size bytes keeping the first used
 * bytes: realloc, malloc when null, a private copy when shared.  Null on
 * failure, the block then unchanged and still held. */
void *Oblique_Block_Grow(void *block, size_t used, size_t size);

/* Checks a class object before an operation works on it: reports a null
 * object, a foreign magic and a type other than 13 or 14 at level 2, each
 * followed by the location line of source and line.  0 only for a null
 * object; the other checks never stop the caller. */
int Oblique_Validate(const Kelvra_Oblique *cls, const char *label, const char *source, int line);

#endif
