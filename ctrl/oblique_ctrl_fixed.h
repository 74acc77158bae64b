/*
 * Fixed texts of the panel.
 *
 * The host's console and its users read them byte for byte and know each
 * place of the module by its source label and line number: none may
 * change, not even to correct it (see oblique/oblique_fixed.h).  The line
 * number matches no line of this tree, and the iterator's tag names the
 * class "Class Oblique" where the trace lines say "Class Kelvra_Oblique".
 * The trace lines, labels and notices stay beside their code and are just
 * as fixed.
 */
#ifndef OBLIQUE_CTRL_FIXED_H
#define OBLIQUE_CTRL_FIXED_H

#include "../oblique/oblique_fixed.h"

#define CTRL_SOURCE ".\\oblique_ctrl"
#define CTRL_LINE_INSTANCE_PT 780

/* Tag of the host's class iterator, slot 2. */
#define CTRL_ITERATOR_TAG "Class Oblique: Ctrl_Update"

#endif
