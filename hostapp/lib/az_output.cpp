/*
 * Output files, all or nothing.
 */
#include "az_output.h"

#include <dirent.h>
#include <ftw.h>
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <set>

namespace {

/* Guards the set of live outputs: the signal thread discards them under
 * it, and a commit renames under it, so a signal never meets a half-done
 * commit. */
std::mutex &Registry_Lock()
{
    static std::mutex lock;
    return lock;
}

std::set<AzOutput *> &Registry()
{
    static std::set<AzOutput *> outputs;
    return outputs;
}

void Register(AzOutput *output)
{
    if (output->registered)
        return;
    std::lock_guard<std::mutex> hold(Registry_Lock());
    Registry().insert(output);
    output->registered = 1;
}

void Unregister_Locked(AzOutput *output)
{
    Registry().erase(output);
    output->registered = 0;
}

std::string Folder_Of(const std::string &path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Name_Of(const std::string &path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Stage_Of(const std::string &folder)
{
    return folder + "/.azozude-part." + std::to_string(static_cast<long>(getpid()));
}

/* Everything inside a staging folder, then the folder.  A writer that is
 * still running may add a file between the listing and the removal: the
 * listing is taken again while that happens. */
int Entry_Remove(const char *path, const struct stat *, int, struct FTW *)
{
    remove(path);
    return 0;
}

/* A file, or a folder with everything in it (an output may be a folder: a
 * DICOM series). */
void Tree_Remove(const std::string &path)
{
    nftw(path.c_str(), Entry_Remove, 16, FTW_DEPTH | FTW_PHYS);
}

void Stage_Remove(const std::string &stage)
{
    // A writer thread may still be adding a file while the signal thread clears up.
    for (int attempt = 0; attempt < 8; attempt++) {
        Tree_Remove(stage);
        if (rmdir(stage.c_str()) == 0 || errno == ENOENT)
            return;
    }
}

/* Renames a staged output to its final name.  An earlier folder of that
 * name, or anything where a folder goes, is first moved into the staging
 * folder (rename replaces neither), and comes back if the rename fails. */
int Final_Rename(const std::string &staged, const std::string &final_path)
{
    struct stat info, staged_info;
    std::string aside;
    int staged_folder = stat(staged.c_str(), &staged_info) == 0 && S_ISDIR(staged_info.st_mode);
    if (lstat(final_path.c_str(), &info) == 0 && (S_ISDIR(info.st_mode) || staged_folder)) {
        aside = Folder_Of(staged) + "/.earlier." + Name_Of(final_path);
        if (rename(final_path.c_str(), aside.c_str()) != 0)
            return 0;
    }
    if (rename(staged.c_str(), final_path.c_str()) == 0)
        return 1;
    int saved = errno;
    if (!aside.empty())
        rename(aside.c_str(), final_path.c_str());
    errno = saved;
    return 0;
}

void Discard_Locked(AzOutput *output)
{
    for (const std::string &stage : output->stages)
        Stage_Remove(stage);
    // Deepest first: a folder made inside another made one.
    for (auto folder = output->folders_made.rbegin(); folder != output->folders_made.rend(); ++folder)
        rmdir(folder->c_str());
    output->finals.clear();
    output->staged.clear();
    output->stages.clear();
    output->folders_made.clear();
    output->replaced.clear();
}

void *Signal_Thread(void *arg)
{
    sigset_t *set = static_cast<sigset_t *>(arg);
    int sig = 0;
    if (sigwait(set, &sig) != 0)
        return nullptr;
    {
        std::lock_guard<std::mutex> hold(Registry_Lock());
        for (AzOutput *output : Registry())
            Discard_Locked(output);
        Registry().clear();
    }
    // A progress line on the terminal goes with the run.
    if (isatty(STDERR_FILENO) && write(STDERR_FILENO, "\r\033[K", 4) < 0) {
    }
    // End as the signal would have ended the program, so that callers see it.
    signal(sig, SIG_DFL);
    pthread_sigmask(SIG_UNBLOCK, set, nullptr);
    raise(sig);
    _exit(128 + sig);
}

} // namespace

AzOutput::AzOutput() : registered(0) {}

AzOutput::~AzOutput() { AzOutput_Discard(this); }

int AzOutput_Folder(AzOutput *output, const std::string &folder, std::string *error)
{
    Register(output);
    std::string path;
    size_t at = 0;
    while (at != std::string::npos) {
        at = folder.find('/', at + 1);
        path = folder.substr(0, at);
        if (path.empty())
            continue;
        struct stat info;
        if (stat(path.c_str(), &info) == 0) {
            if (!S_ISDIR(info.st_mode)) {
                *error = path + ": cannot create the folder: a file of that name exists";
                return 0;
            }
            continue;
        }
        {
            std::lock_guard<std::mutex> hold(Registry_Lock());
            if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
                *error = folder + ": cannot create the folder: " + strerror(errno);
                return 0;
            }
            output->folders_made.push_back(path);
        }
    }
    return 1;
}

std::string AzOutput_File(AzOutput *output, const std::string &final_path, std::string *error)
{
    Register(output);
    std::string stage = Stage_Of(Folder_Of(final_path));
    std::lock_guard<std::mutex> hold(Registry_Lock());
    if (std::find(output->stages.begin(), output->stages.end(), stage) == output->stages.end()) {
        if (mkdir(stage.c_str(), 0700) != 0 && errno != EEXIST) {
            *error = final_path + ": cannot create: " + strerror(errno);
            return std::string();
        }
        output->stages.push_back(stage);
    }
    std::string staged = stage + "/" + Name_Of(final_path);
    auto found = std::find(output->finals.begin(), output->finals.end(), final_path);
    if (found == output->finals.end()) {
        output->finals.push_back(final_path);
        output->staged.push_back(staged);
    }
    return staged;
}

void AzOutput_Drop(AzOutput *output, const std::string &final_path)
{
    std::lock_guard<std::mutex> hold(Registry_Lock());
    auto found = std::find(output->finals.begin(), output->finals.end(), final_path);
    if (found == output->finals.end())
        return;
    size_t i = static_cast<size_t>(found - output->finals.begin());
    Tree_Remove(output->staged[i]);
    output->finals.erase(found);
    output->staged.erase(output->staged.begin() + static_cast<long>(i));
}

std::string AzOutput_Message(const AzOutput *output, const std::string &message)
{
    std::string text = message;
    for (size_t i = 0; i < output->staged.size(); i++)
        for (size_t at = text.find(output->staged[i]); at != std::string::npos;
             at = text.find(output->staged[i], at + output->finals[i].size()))
            text.replace(at, output->staged[i].size(), output->finals[i]);
    return text;
}

void AzOutput_Replace(AzOutput *output, const std::string &path)
{
    Register(output);
    std::lock_guard<std::mutex> hold(Registry_Lock());
    output->replaced.push_back(path);
}

int AzOutput_Commit(AzOutput *output, std::string *error)
{
    std::lock_guard<std::mutex> hold(Registry_Lock());
    int done = 1;
    for (size_t i = 0; i < output->finals.size() && done; i++)
        if (!Final_Rename(output->staged[i], output->finals[i])) {
            *error = output->finals[i] + ": cannot write: " + strerror(errno);
            done = 0;
        }
    if (done) {
        for (const std::string &old : output->replaced)
            if (std::find(output->finals.begin(), output->finals.end(), old) == output->finals.end())
                Tree_Remove(old);
        output->finals.clear();
        output->staged.clear();
        output->folders_made.clear();
    }
    Discard_Locked(output);
    Unregister_Locked(output);
    return done;
}

void AzOutput_Discard(AzOutput *output)
{
    std::lock_guard<std::mutex> hold(Registry_Lock());
    Discard_Locked(output);
    Unregister_Locked(output);
}

void AzOutput_Signals_Install(void)
{
    static sigset_t set;
    static int installed = 0;
    if (installed)
        return;
    installed = 1;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    pthread_t thread;
    if (pthread_create(&thread, nullptr, Signal_Thread, &set) == 0)
        pthread_detach(thread);
    else
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

int AzOutput_Leftover(const std::string &folder, const std::string &name)
{
    static const std::string prefix = ".azozude-part.";
    if (name.compare(0, prefix.size(), prefix) != 0)
        return 0;
    long pid = atol(name.c_str() + prefix.size());
    if (pid == static_cast<long>(getpid()))
        return 1; // this run's own
    // A run that still lives is writing there; one that was killed outright left its staging behind.
    if (pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM))
        return -1;
    Stage_Remove(folder + "/" + name);
    return 1;
}

const std::vector<std::string> &AzOutput_Known_Names(void)
{
    static const std::vector<std::string> names = {
        "summary.txt",         "panel.png",           "original.nii.gz",      "original_tags.nii.gz",
        "original_middle.png", "original_montage.png", "oblique.nii.gz",      "oblique_tags.nii.gz",
        "oblique_middle.png",  "oblique_montage.png", "dicom"};
    return names;
}
