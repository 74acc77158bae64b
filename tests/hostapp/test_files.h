/*
 * Small study files written by the tests themselves, byte by byte, so that
 * the host's readers are checked against writers that share no code with
 * them: DICOM (explicit VR little endian) and NIfTI-1 / NIfTI-2; and the
 * host program run as a user runs it.
 */
#ifndef TEST_FILES_H
#define TEST_FILES_H

#include <stdint.h>
#include <string.h>

#include <array>
#include <string>
#include <vector>

#include "hostapp/lib/az_read.h"

/* A scratch folder, removed with everything in it when the object goes. */
class Temp_Folder {
  public:
    Temp_Folder();
    ~Temp_Folder();
    const std::string &Path() const { return path; }
    std::string File(const std::string &name) const { return path + "/" + name; }

  private:
    std::string path;
};

struct Dicom_Plan {
    int width = 6, height = 5, frames = 1;      /* frames > 1: one multi-frame file */
    std::array<double, 3> row = {1, 0, 0}, col = {0, 1, 0};
    std::array<double, 3> position = {0, 0, 0}; /* pixel (0, 0) of frame 0 */
    double row_spacing = 1.0, col_spacing = 1.0; /* between rows (y), between columns (x) */
    double frame_step = 1.0;                     /* multi-frame: spacing between slices */
    int bits_stored = 16;
    int is_signed = 1;
    double slope = 1.0, intercept = 0.0;
    int has_window = 1;
    double window_center = 40.0, window_width = 400.0;
    std::string series_uid = "1.2.826.0.1.3680043.2.1125.1";
    std::string description = "Test series";
    std::string series_number;                   /* written when not empty */
    std::string sop_instance = "1.2.826.0.1.3680043.2.1125.1.1";
    int instance_number = 1;
    int with_pixels = 1;                         /* 0: a DICOM file without an image */
    std::string modality = "MR";                 /* MR, CT or PT, with that image storage class */
    std::vector<uint16_t> stored;                /* width*height*frames stored values */
};

/* Writes the DICOM file; true when written. */
bool Dicom_Write(const std::string &path, const Dicom_Plan &plan);

/* Voxel (i, j, k) -> world (mm): column 3 is the origin. */
typedef std::array<std::array<double, 4>, 3> Affine;

struct Nifti_Plan {
    int version = 1;                 /* 1 or 2 */
    std::array<int, 4> dim = {4, 3, 2, 1}; /* nx, ny, nz, nt */
    Affine sform = {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}}}; /* RAS */
    int sform_code = 1;
    double slope = 0.0, intercept = 0.0;
    int datatype = 4;                /* DT_INT16; 2 uint8, 16 float32 */
    std::vector<double> values;      /* nx*ny*nz*nt values in file order; missing ones are 0 */
    long truncate_to = -1;           /* >= 0: keep only this many bytes */
};

/* Writes an uncompressed .nii; true when written. */
bool Nifti_Write(const std::string &path, const Nifti_Plan &plan);

/* Writes bytes as they are. */
bool Bytes_Write(const std::string &path, const std::string &bytes);

/* Whether text holds part. */
bool Contains(const std::string &text, const std::string &part);

/* Whether text holds the pattern's parts, split at '*', in this order; a
 * leading '^' ties the first part to the start of the text, a closing '$'
 * the last to its end. */
bool Matches(const std::string &text, std::string pattern);

/* A file's bytes ("" when it cannot be read). */
std::string Text_Of(const std::string &path);

/* The names in a folder, hidden ones too, sorted; empty when it does not exist. */
std::vector<std::string> Names_In(const std::string &folder);

/* A shell line's status (0 when it succeeded); its standard output and error together. */
int Shell(const std::string &line);
std::string Shell_Output(const std::string &line);

/* The first series the host's reader finds at path (a test failure when none). */
AzSeries Series_Read(const std::string &path);

/* "WIDTHxHEIGHT" from a PNG file's header; "" when it is no PNG. */
std::string Png_Size(const std::string &path);

/* The value of type T stored at offset of bytes. */
template <class T> T Field(const std::string &bytes, size_t offset)
{
    T value{};
    if (offset + sizeof(T) <= bytes.size())
        memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

/* Inputs of a test, put into folder: names of folders of tests/data/inputs (copied in), empty folders as
 * name/, module-copy (the module as mine.so), and files as name=bytes; split by '|'. */
void Inputs_Make(const std::string &make, const Temp_Folder &folder);

/* The host program's exit code, standard output and standard error. */
struct Outcome {
    int code;
    std::string out, err;
};

/* Runs the host program with arguments (a shell line), in folder cwd when given. */
Outcome Program(const std::string &arguments, const std::string &cwd = "");

#endif
