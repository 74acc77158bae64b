/*
 * A run's output files, all or nothing.  Each file is written into a hidden
 * staging folder beside its final place (".azozude-part.PID" in the same
 * folder, so that the final step is a rename on one file system); the whole
 * set takes its final names only when the run commits.  A run that fails,
 * or that SIGINT or SIGTERM stops, leaves no file behind, and no folder that
 * it created.  Outputs of an earlier run that the new run replaces are
 * removed at the commit, so that the two never mix.
 */
#ifndef AZ_OUTPUT_H
#define AZ_OUTPUT_H

#include <string>
#include <vector>

#include "../../host/az_win32.h"

struct AzOutput {
    std::vector<std::string> finals;       /* final names, in the order asked */
    std::vector<std::string> staged;       /* where each is written meanwhile */
    std::vector<std::string> stages;       /* staging folders made */
    std::vector<std::string> folders_made; /* final folders this run created */
    std::vector<std::string> replaced;     /* earlier outputs to remove at the commit */
    int registered;                        /* known to the signal cleanup */

    AzOutput();
    ~AzOutput();   /* discards what was not committed */
};

/* Makes the folder (and its parents) when missing; 1, or 0 with
 * "FOLDER: cannot create the folder: reason". */
AZ_EXPORT int AzOutput_Folder(AzOutput *output, const std::string &folder, std::string *error);

/* Where to write the file that will be final_path: a name in the staging
 * folder of final_path's folder (made when needed; the final folder must
 * exist).  Empty with the reason in error when it cannot be made. */
AZ_EXPORT std::string AzOutput_File(AzOutput *output, const std::string &final_path, std::string *error);

/* Drops a file asked for (nothing was written under its staged name, or
 * what was is removed): it will not appear. */
AZ_EXPORT void AzOutput_Drop(AzOutput *output, const std::string &final_path);

/* A message about a staged file, about its final name instead: the
 * user never sees the staging folder. */
AZ_EXPORT std::string AzOutput_Message(const AzOutput *output, const std::string &message);

/* An earlier output at path that this run's commit removes, unless the run
 * writes a file of that name. */
AZ_EXPORT void AzOutput_Replace(AzOutput *output, const std::string &path);

/* Renames every staged file to its final name (signals held off
 * meanwhile), removes the replaced ones and the staging folders.  1, or 0
 * with the reason (nothing is left half-renamed: files already renamed are
 * the new run's whole files). */
AZ_EXPORT int AzOutput_Commit(AzOutput *output, std::string *error);

/* Removes every staged file, the staging folders and the folders this run
 * created (when empty). */
AZ_EXPORT void AzOutput_Discard(AzOutput *output);

/* From now on SIGINT and SIGTERM discard every uncommitted output and end
 * the program with that signal.  Call before any other thread starts: the
 * signals are then held off in every thread and taken by one thread of
 * their own. */
AZ_EXPORT void AzOutput_Signals_Install(void);

/* A staging folder of another run in folder (name ".azozude-part.PID"):
 * 1 when it is this run's own, or a dead run's (then removed); -1 when
 * that run still lives; 0 when name is no staging folder. */
AZ_EXPORT int AzOutput_Leftover(const std::string &folder, const std::string &name);

/* The names of the files azozude writes into an output folder (summary,
 * pictures, volumes): an earlier run's outputs are these. */
AZ_EXPORT const std::vector<std::string> &AzOutput_Known_Names(void);

#endif
