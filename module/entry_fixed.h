/*
 * Fixed texts of the module's identity: the host finds the module by its
 * class key and shows the version, the class name and the status label to
 * its users as they are, byte for byte.  None may change, not even to tidy
 * it: the version keeps its two spaces.  See oblique/oblique_fixed.h for
 * the other folders' fixed texts.
 */
#ifndef ENTRY_FIXED_H
#define ENTRY_FIXED_H

#define OBLIQUE_VERSION "1.0 rev-a  (Nov 22 2013)"
#define OBLIQUE_CLASS_KEY "class Oblique"
#define OBLIQUE_CLASS_NAME "RUD Azozude"
#define OBLIQUE_STATUS_LABEL "RUD Azozude:"

#endif
