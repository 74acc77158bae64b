/*
 * Any study by its content: a NIfTI file (through gzip too) or DICOM, a
 * folder of either; and the record of what a load met.
 */
#include "az_read.h"

#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>

#include "../../host/corvantis_util.h"
#include "az_error.h"
#include "az_path.h"

void AzLoad_Problem(AzLoad_Report *report, const std::string &file, const char *format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    std::string line = file + ": " + text;
    report->problems.push_back(line);
    AzError(AZ_EXIT_INPUT, "%s", line.c_str());
}

namespace {

/* What a file holds, by its first bytes (gzip undone). */
enum File_Kind { KIND_OTHER, KIND_NIFTI, KIND_NIFTI_GZ, KIND_DICOM };

int32_t Int32_At(const unsigned char *bytes)
{
    int32_t value;
    memcpy(&value, bytes, sizeof(value));
    return value;
}

int32_t Int32_Swapped(int32_t value)
{
    uint32_t u = static_cast<uint32_t>(value);
    return static_cast<int32_t>((u >> 24) | ((u >> 8) & 0xff00u) | ((u << 8) & 0xff0000u) | (u << 24));
}

File_Kind File_Kind_Of(const std::string &path)
{
    unsigned char head[2] = {0, 0};
    unsigned char bytes[352];
    memset(bytes, 0, sizeof(bytes));
    FILE *raw = fopen(path.c_str(), "rb");
    if (!raw)
        return KIND_OTHER;
    size_t got_raw = fread(head, 1, 2, raw);
    fclose(raw);
    int gzip = got_raw == 2 && head[0] == 0x1f && head[1] == 0x8b;
    gzFile file = gzopen(path.c_str(), "rb");
    if (!file)
        return KIND_OTHER;
    int got = gzread(file, bytes, sizeof(bytes));
    gzclose(file);
    if (got >= 348) {
        int32_t size = Int32_At(bytes);
        int nifti1 = (size == 348 || Int32_Swapped(size) == 348) &&
                     (memcmp(bytes + 344, "n+1", 4) == 0 || memcmp(bytes + 344, "ni1", 4) == 0);
        int nifti2 = (size == 540 || Int32_Swapped(size) == 540) && memcmp(bytes + 4, "n+2", 4) == 0;
        if (nifti1 || nifti2)
            return gzip ? KIND_NIFTI_GZ : KIND_NIFTI;
    }
    if (!gzip && got >= 132 && memcmp(bytes + 128, "DICM", 4) == 0)
        return KIND_DICOM;
    return KIND_OTHER;
}

/* A NIfTI file known by its content.  The NIfTI library finds files by
 * their extension, so a file without one is read through a link that has
 * it; the series keeps the user's name. */
int Nifti_By_Content(const std::string &path, File_Kind kind, std::vector<AzSeries> *series, AzLoad_Report *report)
{
    AzSeries one;
    std::string extension = kind == KIND_NIFTI_GZ ? ".nii.gz" : ".nii";
    if (AzPath_Ends_With(path, extension.c_str())) {
        if (!AzNifti_Read(path, &one, report))
            return 0;
        series->push_back(std::move(one));
        return 1;
    }
    char folder[] = "/tmp/azozude-link.XXXXXX";
    if (!mkdtemp(folder)) {
        AzLoad_Problem(report, path, "cannot read: %s", strerror(errno));
        return 0;
    }
    std::string name = AzPath_Base_Name(path, nullptr);
    std::string link = std::string(folder) + "/" + name + extension;
    char absolute[PATH_MAX];
    int read = 0;
    if (realpath(path.c_str(), absolute) && symlink(absolute, link.c_str()) == 0) {
        read = AzNifti_Read(link, &one, report);
        unlink(link.c_str());
    }
    rmdir(folder);
    if (!read)
        return 0;
    one.source = one.uid = path;
    one.name = name;
    series->push_back(std::move(one));
    return 1;
}

/* The files of a folder and its subfolders, in name order (hidden ones left out). */
void Files_Walk(const std::string &folder, std::vector<std::string> *files)
{
    DIR *dir = opendir(folder.c_str());
    if (!dir)
        return;
    std::vector<std::string> names;
    while (struct dirent *entry = readdir(dir))
        if (entry->d_name[0] != '.')
            names.push_back(entry->d_name);
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        std::string path = folder + "/" + name;
        struct stat info;
        if (stat(path.c_str(), &info) != 0)
            continue;
        if (S_ISDIR(info.st_mode))
            Files_Walk(path, files);
        else if (S_ISREG(info.st_mode))
            files->push_back(path);
    }
}

/* A folder: its NIfTI files each a study; DICOM files as the DICOM reader
 * finds them.  A folder without NIfTI files is the DICOM reader's alone. */
int Folder_Read(const std::string &path, std::vector<AzSeries> *series, AzLoad_Report *report)
{
    std::vector<std::string> files;
    Files_Walk(path, &files);
    std::vector<std::pair<std::string, File_Kind>> nifti;
    int dicom = 0, other = 0;
    for (const std::string &file : files) {
        File_Kind kind = File_Kind_Of(file);
        if (kind == KIND_NIFTI || kind == KIND_NIFTI_GZ)
            nifti.push_back({file, kind});
        else if (kind == KIND_DICOM)
            dicom++;
        else
            other++;
    }
    if (nifti.empty())
        return AzDicom_Read(path, series, report);
    int read_nb = 0;
    for (const auto &entry : nifti)
        read_nb += Nifti_By_Content(entry.first, entry.second, series, report);
    if (dicom > 0)
        read_nb += AzDicom_Read(path, series, report);
    else if (other > 0) {
        report->files_seen += other;
        report->files_bad += other;
        AzLoad_Problem(report, path, "%d files are neither NIfTI nor DICOM", other);
    }
    return read_nb;
}

} // namespace

int AzSeries_Read(const std::string &path, std::vector<AzSeries> *series, AzLoad_Report *report)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        report->files_seen++;
        report->files_bad++;
        AzLoad_Problem(report, path, "no such file or folder");
        return 0;
    }
    if (S_ISDIR(info.st_mode))
        return Folder_Read(path, series, report);
    File_Kind kind = File_Kind_Of(path);
    if (kind == KIND_NIFTI || kind == KIND_NIFTI_GZ)
        return Nifti_By_Content(path, kind, series, report);
    // A file named as NIfTI that is none: the NIfTI reader says what is wrong with it.
    if (kind != KIND_DICOM && (AzPath_Ends_With(path, ".nii") || AzPath_Ends_With(path, ".nii.gz"))) {
        AzSeries one;
        if (!AzNifti_Read(path, &one, report))
            return 0;
        series->push_back(std::move(one));
        return 1;
    }
    return AzDicom_Read(path, series, report);
}
