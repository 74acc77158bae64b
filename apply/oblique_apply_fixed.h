/*
 * Fixed texts and values of frame creation: the group test, the
 * direction set-up, the apply with its worker, and the progress client.
 *
 * The host's console, its progress window and its users read these byte
 * for byte, and they know each place of the module by its source label
 * and line number: none may change, not even to correct it.  Gathered
 * here are the ones that look like slips (see oblique/oblique_fixed.h):
 * the set-up and the worker report under the panel's source label, with
 * line numbers of that source; two messages are misspelt; the console and
 * the progress window word the locked-class warning with different
 * control bytes.  The other messages stay beside their code and are just
 * as fixed.
 */
#ifndef OBLIQUE_APPLY_FIXED_H
#define OBLIQUE_APPLY_FIXED_H

#include "../oblique/oblique_fixed.h"

/* ---- group test (oblique_group) ------------------------------------------ */

#define GROUP_MSG_PIXEL_SIZE "\xF1\t All images must have the same pixel dimentions"

/* ---- direction set-up (oblique_setup) ------------------------------------ */

#define SETUP_SOURCE ".\\oblique_ctrl"
#define SETUP_LINE_HEADER 1120
#define SETUP_LINE_LIST 1123
#define SETUP_LINE_FILE 1126

/* ---- apply and worker (oblique_apply) ------------------------------------ */

#define THREAD_SOURCE ".\\oblique_ctrl"
#define THREAD_LINE_MATRIX 1290
#define THREAD_LINE_MATRIX_INV 1294

/* Tags of the host's iterators and database lock. */
#define APPLY_TAG "Class Oblique: Ctrl_Apply"
#define THREAD_TAG "Class Oblique: Oblique_Thread"

#define APPLY_PROGRESS_TITLE "VOV Ozadoreviz Progress"
#define APPLY_PROGRESS_SUBTITLE "Creating new frames"

/* A class another task holds: two console lines, two progress lines. */
#define THREAD_MSG_LOCKED "\xF1\x05WARNING:\x02 class locked!"
#define THREAD_MSG_SKIPPING "\xF1\t skipping: \x01%s"
#define THREAD_PROGRESS_LOCKED "\xF1\x05WARNING:\xF0\x02 class locked!"
#define THREAD_PROGRESS_SKIPPING "\x02   skipping: \x01%s"

/* The progress label of the Original direction's frames. */
#define THREAD_LABEL_ORIGINAL "dir: X-Y"

/* Milliseconds the worker waits after locking a class, before it touches
 * the class's frames. */
#define THREAD_PAUSE_MS 50

/* ---- progress client (w_progress) ---------------------------------------- */

#define PROGRESS_SOURCE ".\\w_progress"
#define PROGRESS_LINE_CREATE 370
#define PROGRESS_LINE_RECORD 377
#define PROGRESS_MSG_FULL "in Progress_Write: To many lines"

#endif
