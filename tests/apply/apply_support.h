/* Shared helpers of the frame-creation tests. */
#ifndef APPLY_SUPPORT_H
#define APPLY_SUPPORT_H

#include "host/kelvra_structures.h"

/* The host's group test answers this word (and records its class) until
 * released; then the host decides again. */
void Group_Word_Force(unsigned int word);
void Group_Word_Release();
Kelvra_Class *Group_Word_Class();

#endif
