/*
 * Sessions: the panel events a user would make, as text, one per line.
 * Words are separated by blanks; "double quotes" keep blanks in a word;
 * '#' starts a comment.  Positions are panel pixels, x rightward from the
 * panel's left edge and y upward from its bottom edge.  A place is either
 * "X Y" or a widget NAME (its label, or one of rot-x-left, rot-x-right,
 * rot-y-bottom, rot-y-top, preview), optionally followed by fractions
 * "FX FY" of its width and height (default 0.5 0.5).
 *
 *   open [MODE [WIDTH]]      creates the panel (once; WIDTH pixels wide, default the host's
 *                            tool width) and opens it for a mode (default 0)
 *   resize [WIDTH]           lays the panel out for another width (default the host's tool width)
 *   close                    closes the panel
 *   click PLACE              a left click
 *   drag PLACE PLACE [STEPS] press, motion in steps (default 8), release
 *   move PLACE               pointer motion without a button
 *   wheel N [PLACE]          wheel turn by N
 *   key CODE [PLACE]         a key (decimal or 0x hexadecimal)
 *   help [PLACE]             help request (the host's help shows on the console)
 *   leave                    the pointer leaves the panel
 *   direction DIR [on|off]   clicks "Dir. Original" or "Dir. Oblique", then "On/Off" when
 *                            the direction's lamp is not as asked
 *   rotate ALPHA BETA        drives the valuators to these angles (degrees)
 *   slice N|middle           drives "Demo Frame" to slice N, or to the middle slice
 *   wait [SECONDS]           pumps until no apply runs and the queues are empty (default 600)
 *   save-panel FILE.png      a picture of the panel
 *   save-frame DIR N FILE.png  frame N of a direction (original|oblique) of the current study
 *   dump FOLDER [PART...]    the current study's Oblique direction as NIfTI (grey, and tags
 *                            when any is set), and the parts named: original (the Original
 *                            direction as NIfTI), pictures (middle slices, panel), montage,
 *                            summary (summary.txt: geometry and frames of both directions,
 *                            times of the load, the last apply and the export), all (the
 *                            default).  An earlier dump's files in FOLDER are replaced.
 *   paint DIR N X Y R TAG    paints a disc of radius R (frame pixels) centred on (X, Y) of
 *                            frame N of a direction with TAG (a number 0..255 or a region
 *                            name), as a brush stroke would; the other direction follows
 *   save-tags FILE [OBLIQUE] the current study's tags on its grid as a NIfTI label volume of
 *                            the original values, with FILE's .lut and .txt beside it; the
 *                            Oblique direction's tags on its grid too when OBLIQUE is given
 *   dicom FOLDER             the current study as DICOM: FOLDER/dicom/oblique/ (the Oblique
 *                            direction as a derived series) and FOLDER/dicom/tags_seg.dcm (the
 *                            tags as a segmentation, when any is painted)
 *   echo TEXT...             prints the text
 *
 * The files of save-panel, save-frame and dump appear only when every step
 * succeeded.
 */
#ifndef AZ_SESSION_H
#define AZ_SESSION_H

#include <string>
#include <vector>

#include "../../host/corvantis_tools.h"
#include "az_app.h"

struct AzSession_Step {
    int line;
    std::vector<std::string> words;
};

/* Splits a session's text into steps; every verb and its word count are
 * checked before anything runs.  1, or 0 with "NAME:LINE: reason". */
AZ_EXPORT int AzSession_Parse(const std::string &text, const std::string &name, std::vector<AzSession_Step> *steps,
                              std::string *error);

/* Reads and parses a session file. */
AZ_EXPORT int AzSession_Load(const std::string &path, std::vector<AzSession_Step> *steps, std::string *error);

/* Runs the steps in order; stops at the first that cannot be carried out.
 * AZ_EXIT_OK, or AZ_EXIT_INPUT with "NAME:LINE: reason" in error (the
 * reason alone when name is empty: a script of the program's own). */
AZ_EXPORT int AzSession_Run(AzApp *app, const std::vector<AzSession_Step> &steps, const std::string &name,
                            std::string *error);

/* The steps of a re-slice: the panel opened wide enough for the valuators
 * to meet angles in tenths of a degree, the Oblique direction switched on
 * at the angles, frames created; for a panel picture, the panel brought
 * back to the host's tool width at the middle slice. */
AZ_EXPORT std::string AzSession_Reslice(double alpha, double beta, int panel_picture);

/* A widget of the open panel by session name (see above), or null. */
AZ_EXPORT Tools *AzSession_Widget(HWND panel, const std::string &name);

/* The current study's DICOM objects under folder/dicom (the Oblique
 * direction described with the panel's angles, the tags), as the step
 * "dicom" and the viewer's key write them.  1, or 0 with the reason. */
AZ_EXPORT int AzSession_Dicom_Write(AzApp *app, const std::string &folder, std::string *error);

/* Seconds a wait step allows by default. */
#define AZ_SESSION_WAIT_S 600

#endif
