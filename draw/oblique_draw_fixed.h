/*
 * Fixed texts of the preview: the places the preview reports its OpenGL
 * errors from.
 *
 * The host's console and its users know each place of the module by its
 * source label and line number, and read every message byte for byte:
 * none may change, not even to correct it (see oblique/oblique_fixed.h).
 * The line numbers below match no line of this tree; the context error
 * names a call this module does not make.  The other messages stay beside
 * their code and are just as fixed.
 */
#ifndef OBLIQUE_DRAW_FIXED_H
#define OBLIQUE_DRAW_FIXED_H

#include "../oblique/oblique_fixed.h"

/* ---- orientation view (oblique_ctrl_draw) -------------------------------- */

#define DRAW_SOURCE ".\\oblique_ctrl_draw"
#define DRAW_LINE_CONTEXT 54
#define DRAW_LINE_VIEWPORT 60
#define DRAW_LINE_PROJECTION 71
#define DRAW_LINE_MODELVIEW 77
#define DRAW_LINE_CLEAR 88
#define DRAW_LINE_BEHIND 144
#define DRAW_LINE_IN_FRONT 183
#define DRAW_LINE_RESTORE 201
#define DRAW_LINE_PLANE_BEGIN 360
#define DRAW_LINE_PLANE_END 371
#define DRAW_MSG_CONTEXT "Error: in YGL_CONTEXT_RGB( box_image )"

/* ---- slice images (oblique_ctrl_ima) ------------------------------------- */

#define IMA_SOURCE ".\\oblique_ctrl_ima"
#define IMA_LINE_GLI 50
#define IMA_LINE_TAG 94
#define IMA_LINE_ZOOM 141
#define IMA_LINE_STORE 147
#define IMA_LINE_GLI_STORE 161
#define IMA_LINE_GLI_DRAW 164
#define IMA_LINE_TAG_STORE 186
#define IMA_LINE_TAG_DRAW 189
#define IMA_LINE_UNZOOM 199

#endif
