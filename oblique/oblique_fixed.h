/*
 * Fixed texts of the class's sources, and the messages every part of the
 * module shares.
 *
 * The host's console and its users read every text the module writes byte
 * for byte: they search the console for these lines, and they know each
 * place of the module by its source label and line number.  None of them
 * may change, not even to correct it.  Gathered here are the ones that
 * look like slips: source labels written with a backslash and line
 * numbers that match no line of this tree, a misspelt message, labels
 * spelt differently from their neighbours, and the label the host's class
 * mutex is known by.  Every other message stays beside the code that
 * writes it and is just as fixed.
 */
#ifndef OBLIQUE_FIXED_H
#define OBLIQUE_FIXED_H

/* ---- every part ---------------------------------------------------------- */

/* Allocation failures: line, source label, variable, count, size.  The
 * space before the line break is part of the text. */
#define OBLIQUE_MSG_REALLOC "line %-4d of %s \nmemory error in realloc (var=%s, dim=%dx%d)"
#define OBLIQUE_MSG_CALLOC "line %-4d of %s \nmemory error in calloc (var=%s, dim=%dx%d)"
#define OBLIQUE_MSG_NEW "line %-4d of %s \nmemory error in new (var=%s, dim=%dx%d)"
/* The place of an error: source label, line. */
#define OBLIQUE_MSG_WHERE "file:%s line:%d"

/* ---- insertion (oblique_class) ------------------------------------------- */

#define CLASS_SOURCE ".\\oblique_class"
#define CLASS_LINE_GROW 100     /* real_files_pt; the five other arrays follow, one line each */
#define CLASS_LINE_STUDY 150    /* the two direction classes */
#define CLASS_LINE_CREATE 156   /* real_files_pt at creation; the five others follow */

/* ---- callbacks (oblique_callback) ---------------------------------------- */

#define CALLBACK_SOURCE ".\\oblique_callback"
#define CALLBACK_LINE_UPDATE_PT 216
#define CALLBACK_MSG_RESULT "reult   -> %.2f %.2f %.2f"

/* The class mutex guarding a class's update list: the tag callback holds
 * it while it records, the update hands the list on under it. */
#define SET_TAG_LABEL "Class_Oblique_Pixel_Set_TAG"

/* ---- update propagation (oblique_class_update) --------------------------- */

#define UPDATE_SOURCE ".\\oblique_class_update"
#define UPDATE_B_LABEL "Kelvra_Oblique::Update_B"
#define UPDATE_B_LINE 42
#define UPDATE_CHILD_LABEL "Kelvra_Oblique::Update_Child_A"
#define UPDATE_CHILD_LINE 100

/* ---- the class object (oblique_method) ----------------------------------- */

#define METHOD_SOURCE ".\\oblique_method"
#define METHOD_LINE 177
#define METHOD_LABEL "Class Kelvra_Oblique::~Kelvra_Oblique"

#endif
