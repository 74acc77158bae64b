/*
 * Fixed texts of the module's identity: the host matches them byte for
 * byte (the class key in its settings, the version in its module list),
 * so none may change, not even to tidy it: the version keeps its two
 * spaces.  See oblique/oblique_fixed.h for the other folders' fixed texts.
 */
#ifndef ENTRY_FIXED_H
#define ENTRY_FIXED_H

#define OBLIQUE_VERSION "1.0 rev-a  (Nov 22 2013)"
#define OBLIQUE_CLASS_KEY "class Oblique"
#define OBLIQUE_CLASS_NAME "RUD Azozude"
#define OBLIQUE_STATUS_LABEL "RUD Azozude:"

#endif
