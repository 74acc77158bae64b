/*
 * DICOM studies through GDCM: every file of a folder (recursively) is read
 * on its own, its frames are grouped by Series Instance UID, and a series
 * becomes one study with its frames in location order.
 */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>

#include <gdcmDirectory.h>
#include <gdcmImageReader.h>
#include <gdcmReader.h>
#include <gdcmTrace.h>

#include "az_dicom_items.h"
#include "az_error.h"
#include "az_path.h"
#include "az_progress_line.h"
#include "az_read.h"
#include "../../host/corvantis_util.h"

namespace {

/* Files that are worth a progress line. */
const int progress_file_min = 100;

/* Compressed pixel data of a blank image packs very tightly, but no real
 * file expands further than this. */
const double compression_ratio_max = 10000.0;

// DICOM pads texts with blanks or a zero byte to an even length: AzDcm_Text trims both.
std::string Tag_Text(const gdcm::DataSet &data, uint16_t group, uint16_t element)
{
    return AzDcm_Text(data, (uint32_t)group << 16 | element);
}

/* First value of a multi-valued decimal text ("40\400"); 0 when absent. */
int Tag_Number(const gdcm::DataSet &data, uint16_t group, uint16_t element, double *value)
{
    std::string text = Tag_Text(data, group, element);
    if (text.empty())
        return 0;
    char *end = nullptr;
    *value = strtod(text.c_str(), &end);
    return end != text.c_str();
}

/* A stored sample as the signed or unsigned number it holds, with only its
 * stored bits (the others may carry overlays). */
double Sample_Value(const char *buffer, size_t index, const gdcm::PixelFormat &format)
{
    unsigned int bits_allocated = format.GetBitsAllocated();
    unsigned int bits_stored = format.GetBitsStored();
    int is_signed = format.GetPixelRepresentation() == 1;
    if (format.GetScalarType() == gdcm::PixelFormat::FLOAT32) {
        float value;
        memcpy(&value, buffer + index * 4, 4);
        return value;
    }
    if (format.GetScalarType() == gdcm::PixelFormat::FLOAT64) {
        double value;
        memcpy(&value, buffer + index * 8, 8);
        return value;
    }
    uint64_t raw = 0;
    if (bits_allocated == 8)
        raw = static_cast<uint8_t>(buffer[index]);
    else if (bits_allocated == 16) {
        uint16_t word;
        memcpy(&word, buffer + index * 2, 2);
        raw = word;
    } else {
        uint32_t word;
        memcpy(&word, buffer + index * 4, 4);
        raw = word;
    }
    if (bits_stored > 0 && bits_stored < 64)
        raw &= (uint64_t(1) << bits_stored) - 1;
    if (is_signed && bits_stored > 0 && (raw >> (bits_stored - 1)) & 1)
        return static_cast<double>(static_cast<int64_t>(raw) - (int64_t(1) << bits_stored));
    return static_cast<double>(raw);
}

int Format_Usable(const gdcm::PixelFormat &format)
{
    unsigned int bits = format.GetBitsAllocated();
    gdcm::PixelFormat::ScalarType type = format.GetScalarType();
    if (type == gdcm::PixelFormat::FLOAT32 || type == gdcm::PixelFormat::FLOAT64)
        return 1;
    return bits == 8 || bits == 16 || bits == 32;
}

/* One file's image, ready to be split into frames. */
struct Dicom_Image {
    std::string file;
    std::string uid, description, patient_name, modality, number;
    int width, height, frames_nb;
    AzVec3 origin, axis_row, axis_col;
    double spacing[3];
    int has_window;
    double window_center, window_width;
};

int Image_Describe(const std::string &file, const gdcm::Image &image, const gdcm::DataSet &data,
                   Dicom_Image *out, AzLoad_Report *report)
{
    if (image.GetPixelFormat().GetSamplesPerPixel() != 1) {
        AzLoad_Problem(report, file, "colour images are not supported (%u samples per pixel)",
                       image.GetPixelFormat().GetSamplesPerPixel());
        return 0;
    }
    if (!Format_Usable(image.GetPixelFormat())) {
        AzLoad_Problem(report, file, "unsupported pixel format (%u bits allocated)",
                       image.GetPixelFormat().GetBitsAllocated());
        return 0;
    }
    out->file = file;
    out->width = static_cast<int>(image.GetDimension(0));
    out->height = static_cast<int>(image.GetDimension(1));
    out->frames_nb = image.GetNumberOfDimensions() > 2 ? static_cast<int>(image.GetDimension(2)) : 1;
    if (out->width <= 0 || out->height <= 0 || out->width > 65535 || out->height > 65535 || out->frames_nb <= 0) {
        AzLoad_Problem(report, file, "unusable image size %dx%d", out->width, out->height);
        return 0;
    }
    const double *origin = image.GetOrigin();
    const double *cosines = image.GetDirectionCosines();
    out->origin = {origin[0], origin[1], origin[2]};
    out->axis_row = AzVec3_Unit({cosines[0], cosines[1], cosines[2]});
    out->axis_col = AzVec3_Unit({cosines[3], cosines[4], cosines[5]});
    for (int i = 0; i < 3; i++)
        out->spacing[i] = image.GetSpacing(i) > 0.0 ? image.GetSpacing(i) : 1.0;
    out->uid = Tag_Text(data, 0x0020, 0x000e);
    out->description = Tag_Text(data, 0x0008, 0x103e);
    out->patient_name = Tag_Text(data, 0x0010, 0x0010);
    out->modality = Tag_Text(data, 0x0008, 0x0060);
    out->number = Tag_Text(data, 0x0020, 0x0011);
    out->has_window = Tag_Number(data, 0x0028, 0x1050, &out->window_center) &&
                      Tag_Number(data, 0x0028, 0x1051, &out->window_width) && out->window_width > 0.0;
    return 1;
}

/* The series met so far, by Series Instance UID. */
struct Dicom_Load {
    std::map<std::string, AzSeries> by_uid;
    std::map<std::string, std::string> first_file;
    std::set<std::string> mixed_sizes;
};

/* Whether the pixel buffer the header asks for can come from the file:
 * stored as is it is no larger than the file, compressed (encapsulated or
 * deflated) no larger than the ratio allows.  Checked before the buffer is
 * allocated, since a few header bytes can ask for gigabytes. */
int Buffer_Fits(const gdcm::ImageReader &reader, const std::string &file, double *wanted, double *file_size)
{
    struct stat info;
    *file_size = stat(file.c_str(), &info) == 0 ? static_cast<double>(info.st_size) : 0.0;
    *wanted = static_cast<double>(reader.GetImage().GetBufferLength());
    const gdcm::TransferSyntax &syntax = reader.GetFile().GetHeader().GetDataSetTransferSyntax();
    int packed = syntax.IsEncapsulated() || syntax == gdcm::TransferSyntax::DeflatedExplicitVRLittleEndian;
    return *wanted <= *file_size * (packed ? compression_ratio_max : 1.0);
}

/* The DICOM library ends the process (a failed assertion) on some
 * malformed files.  A child process reads the file first; a file that
 * ends it is refused, and the rest of the study still loads. */
int Library_Survives(const std::string &file)
{
    return AzDcm_Child_Survives([&file]() {
        gdcm::ImageReader reader;
        reader.SetFileName(file.c_str());
        double wanted, file_size;
        if (reader.Read() && Buffer_Fits(reader, file, &wanted, &file_size)) {
            std::vector<char> buffer(reader.GetImage().GetBufferLength());
            reader.GetImage().GetBuffer(buffer.data());
        }
    });
}

/* Reads one file into its series; 0 when the file was reported. */
int File_Read(const std::string &file, Dicom_Load *load, AzLoad_Report *report)
{
    if (!Library_Survives(file)) {
        AzLoad_Problem(report, file, "the DICOM reader fails on this file (malformed)");
        return 0;
    }
    gdcm::ImageReader reader;
    reader.SetFileName(file.c_str());
    if (!reader.Read()) {
        gdcm::Reader plain;
        plain.SetFileName(file.c_str());
        if (plain.Read())
            AzLoad_Problem(report, file, "DICOM file without an image");
        else
            AzLoad_Problem(report, file, "not a DICOM file, or unreadable");
        return 0;
    }
    const gdcm::Image &image = reader.GetImage();
    Dicom_Image described;
    if (!Image_Describe(file, image, reader.GetFile().GetDataSet(), &described, report))
        return 0;
    double wanted, file_size;
    if (!Buffer_Fits(reader, file, &wanted, &file_size)) {
        AzLoad_Problem(report, file,
                       "pixel data of %dx%dx%d samples (%.0f bytes) cannot come from a file of %.0f bytes",
                       described.width, described.height, described.frames_nb, wanted, file_size);
        return 0;
    }
    std::vector<char> buffer(image.GetBufferLength());
    if (buffer.empty() || !image.GetBuffer(buffer.data())) {
        AzLoad_Problem(report, file, "pixel data missing or cannot be decoded");
        return 0;
    }
    size_t plane = static_cast<size_t>(described.width) * described.height;
    size_t sample_size = image.GetPixelFormat().GetPixelSize();
    if (buffer.size() < plane * described.frames_nb * sample_size) {
        AzLoad_Problem(report, file, "pixel data shorter than %dx%dx%d samples", described.width,
                       described.height, described.frames_nb);
        return 0;
    }
    AzSeries &series = load->by_uid[described.uid];
    if (series.frames.empty()) {
        series.uid = described.uid;
        series.description = described.description;
        series.patient_name = described.patient_name;
        series.modality = described.modality;
        series.number = described.number;
        series.width = described.width;
        series.height = described.height;
        series.axis_row = described.axis_row;
        series.axis_col = described.axis_col;
        series.axis_normal = AzVec3_Unit(AzVec3_Cross(described.axis_row, described.axis_col));
        series.spacing[0] = described.spacing[0];
        series.spacing[1] = described.spacing[1];
        series.spacing[2] = described.spacing[2];
        if (described.has_window) {
            series.display_mode = AZ_DISPLAY_MIN_MAX;
            series.display_low = static_cast<float>(described.window_center - described.window_width / 2.0);
            series.display_high = static_cast<float>(described.window_center + described.window_width / 2.0);
        }
        load->first_file[described.uid] = file;
    } else if (series.width != described.width || series.height != described.height) {
        // Marked here, refused whole once every file has been seen.
        AzLoad_Problem(report, file, "image size %dx%d differs from %dx%d of %s in the same series",
                       described.width, described.height, series.width, series.height,
                       load->first_file[described.uid].c_str());
        load->mixed_sizes.insert(described.uid);
        return 0;
    }
    double slope = image.GetSlope() != 0.0 ? image.GetSlope() : 1.0;
    double intercept = image.GetIntercept();
    // The series keeps the files' own scale when they all share one: their levels are then exact.
    if (series.frames.empty()) {
        series.source_slope = slope;
        series.source_intercept = intercept;
    } else if (series.source_slope != slope || series.source_intercept != intercept) {
        series.source_slope = 0.0;
    }
    // Frames of a multi-frame file follow each other along the normal.
    AzVec3 step = AzVec3_Scale(series.axis_normal, described.spacing[2]);
    std::vector<double> values(plane);
    for (int f = 0; f < described.frames_nb; f++) {
        AzSeries_Frame frame;
        frame.position = AzVec3_Add(described.origin, AzVec3_Scale(step, f));
        frame.file_name = file;
        frame.source_index = f;
        for (size_t i = 0; i < plane; i++)
            values[i] = Sample_Value(buffer.data(), f * plane + i, image.GetPixelFormat()) * slope + intercept;
        AzFrame_Values_Add(&frame, values.data(), plane);
        series.frames.push_back(std::move(frame));
    }
    return 1;
}

int Is_Folder(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::vector<std::string> Files_Of(const std::string &path)
{
    if (Is_Folder(path)) {
        gdcm::Directory directory;
        directory.Load(path, true);
        std::vector<std::string> files = directory.GetFilenames();
        std::sort(files.begin(), files.end());
        return files;
    }
    return std::vector<std::string>(1, path);
}

void Series_Finish(AzSeries *series, const std::string &path, const std::string &first_file, int series_nb)
{
    series->source = path;
    if (!series->description.empty())
        series->name = series->description;
    else
        series->name = AzPath_Base_Name(path, nullptr);
    // Series of one folder are told apart by the number the scanner gave them: their long UIDs share a
    // prefix and would show alike.
    if (series_nb > 1 && series->description.empty())
        series->name += " (" + (series->number.empty() ? series->uid : "series " + series->number) + ")";
    AzSeries_Sort(series);
    AzSeries_Levels_Set(series);
    if (series->clamped_nb > 0)
        AzError(AZ_EXIT_INPUT, "%s: %d values are not finite numbers and were clamped to the 16-bit levels",
                  first_file.c_str(), series->clamped_nb);
    // A label volume for a DICOM study is stored in location order.
    for (size_t i = 0; i < series->frames.size(); i++)
        series->frames[i].source_index = static_cast<int>(i);
    if (series->display_mode == AZ_DISPLAY_UNSET)
        AzSeries_Display_From_Range(series);
}

} // namespace

int AzDicom_Read(const std::string &path, std::vector<AzSeries> *series, AzLoad_Report *report)
{
    gdcm::Trace::SetWarning(false);
    gdcm::Trace::SetError(false);
    gdcm::Trace::SetDebug(false);
    std::vector<std::string> files = Files_Of(path);
    if (files.empty()) {
        AzLoad_Problem(report, path, "folder holds no files");
        return 0;
    }
    Dicom_Load load;
    AzProgressLine progress;
    AzProgressLine_Start(&progress, "reading " + path, files.size() >= progress_file_min ? files.size() : 0);
    for (size_t i = 0; i < files.size(); i++) {
        report->files_seen++;
        if (!File_Read(files[i], &load, report))
            report->files_bad++;
        AzProgressLine_Step(&progress, static_cast<long>(i + 1));
    }
    int read_nb = 0;
    for (auto &entry : load.by_uid) {
        AzSeries &one = entry.second;
        const std::string &first = load.first_file[entry.first];
        if (load.mixed_sizes.count(entry.first)) {
            AzLoad_Problem(report, first, "series %s refused: its images differ in size", entry.first.c_str());
            continue;
        }
        Series_Finish(&one, path, first, static_cast<int>(load.by_uid.size()));
        series->push_back(std::move(one));
        read_nb++;
    }
    if (read_nb == 0 && Is_Folder(path))
        AzLoad_Problem(report, path, "no usable DICOM image among %d files", static_cast<int>(files.size()));
    return read_nb;
}
