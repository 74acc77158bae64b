/*
 * The interactive host: one window with the module's panel at the left,
 * one frame view per direction of the current study (Original, Oblique), a
 * status line and a console pane.
 *
 * The viewer core below knows nothing of the windowing system: it composes
 * the whole screen into one RGBA buffer of its own (red in bits 0-7, row 0
 * at the top) and takes input through plain handler calls in screen pixels
 * (x rightward, y downward from the top-left corner).  The window layer
 * (GLFW for input, X11 for putting the buffer on screen) calls the same
 * handlers from its callbacks, and so do the tests.  Key codes and modifier
 * bits are GLFW's.
 *
 * Everything here runs on the host's interface thread.
 */
#ifndef AZ_VIEWER_H
#define AZ_VIEWER_H

#include <stdint.h>

#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "../../host/corvantis_tools.h"
#include "../../hostlib/util/az_console.h"
#include "../lib/az_app.h"
#include "../lib/az_error.h"

struct AzRect {
    int x, y, w, h;
    int Inside(int px, int py) const { return px >= x && py >= y && px < x + w && py < y + h; }
};

/* One painted voxel of a stroke, with the tag it had before. */
struct AzStroke_Voxel {
    int frame;                 /* index of the frame in its direction class */
    short x, y;
    unsigned char old_tag;
};

/* The voxels one left drag painted, in painting order. */
struct AzStroke {
    Kelvra_Class *direction;   /* the direction class painted in */
    std::vector<AzStroke_Voxel> voxels;
    std::set<int64_t> seen;    /* (frame, x, y) already recorded */
};

/* A frame view: the current frame of one direction class of the current
 * study, with its own frame index, zoom and grey-level window. */
struct AzFrame_View {
    int direction;               /* 0 Original, 1 Oblique */
    Kelvra_Window *host_view;    /* what the host's database knows of this view */
    Kelvra_Class *shown;         /* the direction class shown (null: none) */
    int frame;                   /* index of the frame shown among the class's children */
    int followed;                /* the panel's marked frame last followed, -1 when none */
    int frames_nb;               /* frames of the class when last seen */
    float zoom;                  /* 1: the frame fits the view */
    int pan_x, pan_y;            /* screen pixels the frame is moved by from the centre */
    int window_custom;           /* 1: the window below replaces the header's */
    float window_low, window_high;
    std::vector<uint32_t> image; /* the frame in colour, one pixel per frame pixel */
    int image_w, image_h;
    int mirror_x, mirror_y;      /* the picture shows the frame mirrored (see AzViewer_View_Image) */
    int image_valid;
    AzRect rect;                 /* the whole view, title bar included */
    AzRect picture;              /* where the frame is drawn */
};

struct AzConsole_Entry {
    int level;
    std::string text;            /* one line, control bytes removed */
};

/* Levels the console filter steps through. */
#define AZ_VIEWER_LEVELS_NB 7
extern const int AzViewer_Levels[AZ_VIEWER_LEVELS_NB];
/* Lines the console keeps. */
#define AZ_VIEWER_CONSOLE_MAX 2000

/* Brush diameters in frame pixels. */
#define AZ_VIEWER_BRUSH_MIN 1
#define AZ_VIEWER_BRUSH_MAX 31

struct AzViewer {
    AzApp *app;
    int width, height;            /* the window's size */
    std::vector<uint32_t> screen; /* the composed screen */
    AzRect panel_rect, help_rect, status_rect, console_rect;
    AzFrame_View views[2];
    HWND status_window;           /* pixels of the module's status label */
    Texts status;

    std::mutex console_lock;      /* the module may write from its worker */
    std::vector<AzConsole_Entry> console;
    int console_level;            /* lines at or below it are shown */
    int console_changed;
    AzConsole_Sink previous_sink;
    void *previous_sink_user;

    std::string help_text;        /* the last help the panel asked for */
    int help_shown;
    int shortcuts_shown;

    int pointer_x, pointer_y;     /* screen pixels */
    int pointer_known;
    int buttons;                  /* bit 0 left, bit 1 right */
    int mods;
    int in_panel;                 /* the pointer is over the panel (motion was forwarded) */
    int char_taken;               /* the panel took the key: drop its character */

    int tag_cur;                  /* tag the brush paints (0 erases) */
    int brush;                    /* brush diameter */
    int painting;                 /* view painted in by the left drag, -1 when none */
    int paint_x, paint_y;         /* last painted frame point */
    AzStroke stroke;
    std::vector<AzStroke> undo;
    int level_view;               /* view of a right drag (window/level), -1 when none */
    int level_x, level_y;
    float level_low, level_high;
    int pan_view;                 /* view of a middle drag (moving the frame), -1 when none */
    int pan_from_x, pan_from_y;
    int active_view;              /* keys act on it (Tab or the pointer entering a view picks it) */
    int pointer_view;             /* view under the pointer at its last move, -1 when none */

    int busy;                     /* "$INTERFACE_LOCK_FOCUS" as last seen */
    AzRect progress_rect, cancel_rect;
    int progress_shown;

    int dirty;                    /* the screen must be composed again */
    int quit;

    std::string tags_path;        /* where Ctrl+S writes the study's tags */
    int prompt;                   /* AZ_VIEWER_PROMPT_*: a question waits for its key */
    int picking;                  /* the tag picker is open */
    std::string pick_typed;       /* what was typed into it */
    int pick_index;               /* the match it shows */
    std::string autosave_path;    /* empty: no autosave (a study not read from a file) */
    int autosave_study;           /* the loaded study it keeps */
    long autosave_count;          /* tag changes the last autosave holds */
    long autosave_ms;             /* when it was written */
    std::string dicom_folder;     /* Ctrl+D writes the study's DICOM objects under it (empty: azozude-out) */
};

/* Largest window the viewer takes: an 8K screen. */
#define AZ_VIEWER_WIDTH_MAX 7680
#define AZ_VIEWER_HEIGHT_MAX 4320
/* Smallest window that shows a panel of this size whole, with two views
 * beside it and the status line, console and a few help lines below. */
void AzViewer_Min_Size(int panel_w, int panel_h, int *width, int *height);
/* Questions the viewer may be waiting on. */
#define AZ_VIEWER_PROMPT_NONE 0
#define AZ_VIEWER_PROMPT_QUIT 1     /* unsaved strokes: save, discard or go on */
#define AZ_VIEWER_PROMPT_RESTORE 2  /* an autosave from an earlier run: restore or discard */

/* Sets the viewer up on a started host with its studies loaded: the
 * panel (tool width `panel_width`, 0 keeps the host's), both frame views,
 * the status label, the console sink and the redraw hook.  1 when ready. */
int AzViewer_Init(AzViewer *viewer, AzApp *app, int width, int height, int panel_width);
/* Gives the console and the redraw hook back; the host is left running. */
void AzViewer_Done(AzViewer *viewer);
/* A new window size: the layout follows. */
void AzViewer_Resize(AzViewer *viewer, int width, int height);

/* Carries out posted messages and host updates, follows the panel and the
 * database, and composes the screen when anything changed.  1 when the
 * screen was composed anew. */
int AzViewer_Step(AzViewer *viewer);
/* Composes the screen now. */
void AzViewer_Compose(AzViewer *viewer);

/* Input, in screen pixels.  button: 0 left, 1 right, 2 middle (GLFW's numbers). */
void AzViewer_Pointer_Move(AzViewer *viewer, int x, int y);
void AzViewer_Button(AzViewer *viewer, int button, int press, int mods);
void AzViewer_Wheel(AzViewer *viewer, double turn, int mods);
void AzViewer_Key(AzViewer *viewer, int key, int mods);
void AzViewer_Char(AzViewer *viewer, unsigned int codepoint);
/* The pointer left the window. */
void AzViewer_Leave(AzViewer *viewer);

/* 1 while the worker runs (the interface lock byte is 1). */
int AzViewer_Busy(void);
/* 1 when the wait cursor is to be shown. */
int AzViewer_Wait_Cursor(const AzViewer *viewer);

/* The frame a view shows (null when its class has none) and the frame
 * point under a screen point (0 when the point is off the frame). */
AzFrame *AzViewer_Frame(const AzFrame_View *view);
int AzViewer_Frame_Point(const AzFrame_View *view, int sx, int sy, int *fx, int *fy);
/* The screen point at the centre of a frame pixel (inverse of the above). */
void AzViewer_Screen_Point(const AzFrame_View *view, int fx, int fy, int *sx, int *sy);

/* The console lines shown at the current filter level, oldest first. */
std::vector<AzConsole_Entry> AzViewer_Console_Shown(AzViewer *viewer);

/* Writes the composed screen as a PNG file.  1 when written. */
int AzViewer_Save_PNG(const AzViewer *viewer, const char *path);

/* Ctrl+D: the current study's DICOM objects under dicom_folder/dicom;
 * the outcome goes to the console. */
void AzViewer_Save_Dicom(AzViewer *viewer);

/* The shortcuts, one "KEYS\tWHAT" per line. */
extern const char *const AzViewer_Shortcuts[];

/* The window: opens it over the viewer's screen, runs the loop until the
 * user quits, closes it.  Exit code of the program. */
int AzViewer_Run(AzViewer *viewer);

/* One pass of the window loop for tests: waits for events at most
 * timeout seconds, steps the viewer and puts the screen up.  0 once the
 * window was asked to close. */
struct AzViewer_Window;
AzViewer_Window *AzViewer_Window_Open(AzViewer *viewer, const char *title);
int AzViewer_Window_Pass(AzViewer_Window *window, double timeout);
/* Reads back what the X server shows in the window (RGBA like the screen
 * buffer).  1 when read. */
int AzViewer_Window_Read(AzViewer_Window *window, std::vector<uint32_t> *pixels, int *width, int *height);
/* The cursor shown: 1 the wait cursor, 0 the normal one. */
int AzViewer_Window_Cursor_Wait(const AzViewer_Window *window);
void AzViewer_Window_Close(AzViewer_Window *window);

/* Parts of the core shared between its files. */
void AzViewer_Layout(AzViewer *viewer);
void AzViewer_View_Sync(AzViewer *viewer, AzFrame_View *view);
void AzViewer_View_Image(AzFrame_View *view);
void AzViewer_View_Window(const AzFrame_View *view, const Vexa_Image *header, float *low, float *high);
void AzViewer_View_Blit(AzViewer *viewer, const AzFrame_View *view);
void AzViewer_View_Step(AzViewer *viewer, AzFrame_View *view, int delta);
/* A view's title: direction, frame (from 0, as the panel counts), size, zoom. */
std::string AzViewer_Title_Text(const AzFrame_View *view);
/* What a view without frames tells the user to do. */
std::string AzViewer_Hint_Text(const AzViewer *viewer, const AzFrame_View *view);
/* The panel's angles for the status line, to a hundredth of a degree. */
std::string AzViewer_Angles_Text(const AzViewer *viewer);
/* The direction the panel works on: the one whose button is selected. */
int AzViewer_Panel_Direction(const AzViewer *viewer);
/* Moves the panel's preview to the view's frame when the view shows the
 * direction the panel works on. */
void AzViewer_Panel_Follow(AzViewer *viewer, const AzFrame_View *view);
void AzViewer_View_Zoom(AzViewer *viewer, AzFrame_View *view, float factor);
int AzViewer_Paint_Begin(AzViewer *viewer, int view_index, int sx, int sy);
void AzViewer_Paint_Move(AzViewer *viewer, int sx, int sy);
void AzViewer_Paint_End(AzViewer *viewer);
int AzViewer_Undo(AzViewer *viewer);
void AzViewer_Level_Begin(AzViewer *viewer, int view_index, int sx, int sy);
void AzViewer_Level_Move(AzViewer *viewer, int sx, int sy);
void AzViewer_Console_Step(AzViewer *viewer, int direction);
void AzViewer_Panel_Help(AzViewer *viewer, int key);

/* Keeping tags: the save path (empty: STUDY_tags.nii.gz here) and the
 * autosave's offer; Ctrl+S (with Shift also the Oblique direction's tags,
 * to AzViewer_Oblique_Path); quitting asks while strokes are unsaved. */
void AzViewer_Tags_Init(AzViewer *viewer, const std::string &save_path);
std::string AzViewer_Oblique_Path(const AzViewer *viewer);
int AzViewer_Save(AzViewer *viewer, int with_oblique);
void AzViewer_Quit_Ask(AzViewer *viewer);
/* Writes the autosave when strokes are unsaved and the last one is old enough. */
void AzViewer_Autosave_Step(AzViewer *viewer);
/* A key while a question waits: 1 when it was the question's. */
int AzViewer_Prompt_Key(AzViewer *viewer, int key, int mods);
std::vector<std::string> AzViewer_Prompt_Lines(const AzViewer *viewer);
/* The tag picker: typed number or name, Enter takes the match shown. */
void AzViewer_Picker_Open(AzViewer *viewer);
int AzViewer_Picker_Key(AzViewer *viewer, int key);
int AzViewer_Picker_Char(AzViewer *viewer, unsigned int codepoint);
std::string AzViewer_Picker_Text(const AzViewer *viewer);

/* azozude view [STUDY...] [--labels FILE] [--size WxH] [--panel-width N] */
int Command_View(AzApp_Options *options);

#endif
