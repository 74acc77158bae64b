/*
 * The host program's set-up, shared by every command: the command line's
 * global options, the console, the module and its hooks, the database with
 * the module's level in its insert chain, the loaded studies and the
 * module's panel window.  One AzApp per process: the host libraries keep
 * their state in globals.
 */
#ifndef AZ_APP_H
#define AZ_APP_H

#include <string>
#include <vector>

#include "az_error.h"
#include "az_module.h"
#include "az_study.h"

struct AzApp_Options {
    std::string module_path;          /* --module PATH, else the default module */
    int console_level;                /* -q 2, default 4, -v 11, -vv 15 */
    std::string command;
    std::vector<std::string> words;   /* the command's own words */
    int time_point = 0;               /* --time T: the time point of a 4-D study that becomes database frames */
    std::string series;               /* a series to load alone: its number in its source (from 1) or its UID */
};

/* Splits the command line into global options, command and words.  1 when
 * usable; 0 with the reason in error (an option without its value, a time
 * point that is no whole number from 0). */
AZ_EXPORT int AzApp_Options_Parse(int argc, char **argv, AzApp_Options *options, std::string *error);

/* Width of the panel window when the host's tool width is not set. */
#define AZ_APP_PANEL_WIDTH 200

struct AzApp {
    AzApp_Options options;
    AzModule module;
    HWND main_window;
    HWND panel_window;
    int panel_width, panel_height;
    int tool_width_default;           /* the host's tool width before a panel of another width */
    int panel_open;                   /* Ctrl_Open done, Ctrl_Close not yet */
    std::vector<AzLoaded_Series> studies;
    double load_s;                    /* time taken by the loads so far (seconds) */
    long apply_start_ms;              /* AzApp_Clock_Ms of the "Update DB" click of the apply under way, else 0 */
    double apply_s;                   /* the last apply, "Update DB" to its last frame (seconds); < 0: none yet */
    int study_current;                /* the study the panel marked last (AzApp_Study_Current) */

    AzApp();
};

/* Console, main window, module (exit code 3 when it cannot be loaded, with
 * the reason on standard error), database and hooks.  AZ_EXIT_OK when the
 * host is ready. */
AZ_EXPORT int AzApp_Start(AzApp *app, const AzApp_Options &options);

/* Reads each study and enters its series into the database; labels_path
 * (may be empty) is a label volume for the first study.  A 4-D study enters
 * with the frames of the time point options.time_point (its images keep
 * every time point).  Files that cannot be read are reported and skipped;
 * AZ_EXIT_INPUT when a study yields nothing usable or has no such time
 * point. */
AZ_EXPORT int AzApp_Load(AzApp *app, const std::vector<std::string> &paths, const std::string &labels_path);
/* Enters a study of the host's study builder (a phantom) into the
 * database under the name plan.name, with the frames of the time point
 * options.time_point; source says where it came from.  AZ_EXIT_OK, or
 * AZ_EXIT_INPUT (reported) when it has no such time point, cannot be built
 * or the database did not take every frame. */
AZ_EXPORT int AzApp_Load_Built(AzApp *app, const AzPhantom_Plan &plan, const std::string &source);
/* The built-in phantom (96 x 96 x 48, 2 mm slices, spheres tagged over a
 * gradient) that the demo and the viewer fall back on. */
AZ_EXPORT int AzApp_Load_Phantom(AzApp *app);

/* The panel: window of the given width (0: the host's tool width, which a
 * width given replaces, since the panel lays itself out for it) and the
 * module's height, Ctrl_Create, Ctrl_Resize, Ctrl_Open(mode), Ctrl_Show,
 * Ctrl_Draw.  1 when open. */
AZ_EXPORT int AzApp_Panel_Open(AzApp *app, unsigned short mode, int width);
/* Lays the panel out again for another width (0: the host's own tool
 * width): window size, Ctrl_Resize, Ctrl_Draw.  1 when done. */
AZ_EXPORT int AzApp_Panel_Resize(AzApp *app, int width);
/* Ctrl_Close when open. */
AZ_EXPORT void AzApp_Panel_Close(AzApp *app);

/* ------------------------------------------------------------------------
 * Running the host: the one way the program, the tests and the benchmarks
 * reset, load, wait and find a study's directions.  Every call here is made
 * on the interface thread (the thread AzApp_Reset ran on).
 * --------------------------------------------------------------------- */

/* Puts every piece of host state back as a fresh process has it, at once:
 * the database (classes, views, file records, variables, queued updates,
 * hooks, help folder, script flag) with its root and an insert chain of
 * study, module_insert (when not null) and frame; the calling thread as the
 * interface thread; no call recording; the toolkit's and the progress
 * window's classes registered, no progress window remembered, the wait
 * cursor off; the tag table and its colours as a fresh process has them;
 * every failure switch and delay point of the host libraries off.
 * Precondition: no worker thread alive (its classes would be freed under
 * it).  Windows are left alone: whoever made one destroys it.
 * Result: 1; 0 (nothing changed) when a worker thread is alive. */
AZ_EXPORT int AzApp_Reset(Kelvra_Insert_Fct module_insert);

/* Carries out posted window messages and queued host updates until none
 * is left.  Number carried out.  app may be null. */
AZ_EXPORT int AzApp_Pump(AzApp *app);
/* Whether the module has locked the interface ("$INTERFACE_LOCK_FOCUS"
 * is 1 while an apply runs) or its worker thread has not ended yet: panel
 * input waits until both are over.  The worker clears the byte from its
 * own thread, so it is read atomically. */
AZ_EXPORT int AzApp_Interface_Locked(void);
/* Whether the host is idle, the one definition every waiter uses: no
 * worker thread alive, the interface lock byte 0, the wait cursor back, no
 * queued host update and no posted window message pending.  Carries out
 * what is pending (AzApp_Pump) to find out: idle means a pass carried out
 * nothing after the worker had gone. */
AZ_EXPORT int AzApp_Idle(AzApp *app);
/* Pumps until the interface is unlocked, or until timeout_ms passed; 1
 * when unlocked.  Panel events are delivered only after this, as a host
 * that refuses input behind its wait cursor would. */
AZ_EXPORT int AzApp_Input_Wait(AzApp *app, int timeout_ms);
/* Pumps until AzApp_Idle, or until timeout_ms passed, looking again every
 * few milliseconds (never spinning).  app may be null.
 * Result: 1 when idle; then an apply whose start was noted (apply_start_ms)
 * has its time in apply_s.  0 when the time ran out: a hung worker fails
 * its caller instead of stalling it. */
AZ_EXPORT int AzApp_Wait(AzApp *app, int timeout_ms);
/* What tests and benchmarks wait at most for a worker to end. */
#define AZ_APP_WAIT_MS 60000

/* The one loader of built studies (phantoms), which AzApp_Load_Built and
 * the tests share: AzPhantom_Build(plan), then its frames fed into the
 * database's insert chain in `order` (AZ_ORDER_*, seed for the shuffle),
 * only those of time point time_point (every frame when time_point < 0),
 * then AzApp_Pump.
 * Preconditions: AzApp_Reset (or AzApp_Start) ran; time_point < plan.times.
 * Result: the study record, which the caller frees with AzPhantom_Free (its
 * file record belongs to the database), with *loaded (may be null) filled:
 * name, source, series key, file, frames fed and frames taken; null when
 * the plan cannot be built. */
AZ_EXPORT AzPhantom *AzApp_Study_Enter(const AzPhantom_Plan &plan, const std::string &source, int order,
                                     unsigned int seed, int time_point, AzLoaded_Series *loaded);

/* The one way to a study's two direction classes: direction 0 Original,
 * 1 Oblique (children 0 and 1 of the study class); null when study is null
 * or has no such child. */
AZ_EXPORT Kelvra_Class *AzApp_Study_Direction(Kelvra_Class *study, int direction);
/* The study class a built study's frames were filed under (by its series
 * key), or null. */
AZ_EXPORT Kelvra_Class *AzApp_Study_Class(const AzPhantom *study);

/* The one session wrapper: parses a session's text (AzSession_Parse) and
 * runs it (AzSession_Run).  AZ_EXIT_OK; else AZ_EXIT_INPUT with
 * "NAME:LINE: reason" in error (the reason alone when name is empty). */
AZ_EXPORT int AzApp_Session(AzApp *app, const std::string &text, const std::string &name, std::string *error);

/* Closes the panel, waits for the host to be idle, empties the database,
 * unloads the module and destroys the windows.  When a worker has not
 * ended within a minute, the database and the module stay (reported): no
 * thread may be left in the module's code when it is unmapped. */
AZ_EXPORT void AzApp_Stop(AzApp *app);

/* The study class of a loaded study (index in load order), or null. */
AZ_EXPORT Kelvra_Class *AzApp_Study(AzApp *app, int index);
/* Index of the study whose direction the panel marks as its current
 * class (0x4000 in the class's own flag word); when none is marked (the
 * panel closed), the one found last; 0 before any. */
AZ_EXPORT int AzApp_Study_Current(AzApp *app);
/* A study's direction class: 0 Original, 1 Oblique (children 0 and 1 of
 * the study), or null. */
AZ_EXPORT Kelvra_Class *AzApp_Direction(AzApp *app, int study, int direction);

/* The program's console on standard error: level-filtered, a run of
 * identical lines shown once with "(the line above N more times)". */
AZ_EXPORT void AzApp_Console_Install(void);
/* Prints the count of a pending run of repeats. */
AZ_EXPORT void AzApp_Console_Flush(void);

/* A monotonic clock in milliseconds, for the times the host reports. */
AZ_EXPORT long AzApp_Clock_Ms(void);

/* The group-test verdict of a condition word, in words ("valid 3D group"
 * when no bit is set). */
AZ_EXPORT std::string AzApp_Group_Text(unsigned int bits);

#endif
