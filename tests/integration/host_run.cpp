/*
 * The host program's own set-up run inside the test.
 */
#include "host_run.h"

#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

bool Host_Start(AzApp *app, int time_point)
{
    AzApp_Options options;
    options.module_path = AZ_MODULE_PATH;
    options.console_level = 2;
    options.command = "integration";
    options.time_point = time_point;
    return AzApp_Start(app, options) == AZ_EXIT_OK;
}

std::string Host_Session(AzApp *app, const std::string &text, const std::string &name)
{
    std::vector<AzSession_Step> steps;
    std::string error;
    if (!AzSession_Parse(text, name, &steps, &error))
        return error;
    if (AzSession_Run(app, steps, name, &error) != AZ_EXIT_OK)
        return error;
    return "";
}

namespace {

bool Folder_Make(const std::string &path)
{
    return mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
}

/* Removes the files of a folder (not its sub-folders): what an earlier run left. */
void Folder_Empty(const std::string &path)
{
    DIR *dir = opendir(path.c_str());
    if (!dir)
        return;
    while (struct dirent *entry = readdir(dir)) {
        std::string file = path + "/" + entry->d_name;
        struct stat info;
        if (stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode))
            unlink(file.c_str());
    }
    closedir(dir);
}

} // namespace

std::string Output_Folder(const std::string &name)
{
    std::string parent = std::string(AZ_BUILD_DIR) + "/integration";
    std::string folder = parent + "/" + name;
    if (!Folder_Make(parent) || !Folder_Make(folder))
        return "";
    Folder_Empty(folder);
    return folder;
}

bool File_Exists(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}
