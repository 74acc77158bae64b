/*
 * DICOM segmentations read back as label volumes on a study's grid.
 */
#include <math.h>
#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <set>

#include <gdcmReader.h>
#include <gdcmTrace.h>

#include "az_dicom_items.h"
#include "az_dicom_write.h"
#include "az_labels.h"

int AzDicom_Is_Segmentation(const std::string &path)
{
    gdcm::DataSet header;
    return AzDcm_Read_Survives(path) && AzDcm_Header_Read(path, &header) &&
           AzDcm_Text(header, 0x00080016) == AZ_DCM_SOP_SEGMENTATION;
}

namespace {

/* A functional group of a frame: its own item, else the shared one. */
const gdcm::DataSet *Group_Of(const gdcm::DataSet &data, size_t frame, uint32_t code)
{
    const gdcm::DataSet *own = AzDcm_Item_Of(data, 0x52009230, frame);
    if (own && AzDcm_Item_Of(*own, code, 0))
        return AzDcm_Item_Of(*own, code, 0);
    const gdcm::DataSet *shared = AzDcm_Item_Of(data, 0x52009229, 0);
    return shared ? AzDcm_Item_Of(*shared, code, 0) : nullptr;
}

struct Seg_Read {
    std::string path;
    int width, height, frames_nb, bits;
    int fraction_max;               /* fractional: the value that means wholly inside */
    std::map<int, int> value_of;    /* segment number -> label value */
    const char *pixels;
    size_t pixels_size;
};

int Reason(AzLoad_Report *report, const std::string &path, const std::string &reason)
{
    AzLoad_Problem(report, path, "%s", reason.c_str());
    return 0;
}

/* Segments: the label value kept in the description ("label N"), else
 * the segment number; names and recommended colours per value. */
int Segments_Read(const gdcm::DataSet &data, Seg_Read *seg, AzLabels *labels, AzLoad_Report *report)
{
    size_t count = AzDcm_Items_Count(data, 0x00620002);
    if (count == 0)
        return Reason(report, seg->path, "segmentation without segments");
    for (size_t i = 0; i < count; i++) {
        const gdcm::DataSet &item = *AzDcm_Item_Of(data, 0x00620002, i);
        int number = 0, value = 0;
        if (!AzDcm_Unsigned_16(item, 0x00620004, &number))
            return Reason(report, seg->path, "segment " + std::to_string(i + 1) + " has no number");
        std::string description = AzDcm_Text(item, 0x00620006);
        if (sscanf(description.c_str(), "label %d", &value) != 1)
            value = number;
        if (value < 1 || value > AZ_LABELS_VALUE_MAX)
            return Reason(report, seg->path,
                          "segment " + std::to_string(number) + " has no label value from 1 to " +
                              std::to_string(AZ_LABELS_VALUE_MAX) + " (" + std::to_string(value) + ")");
        seg->value_of[number] = value;
        std::string name = AzDcm_Text(item, 0x00620005);
        if (name != "label " + std::to_string(value))
            labels->value_names[value] = name;
        double lab[3];
        if (AzDcm_Unsigned_16_List(item, 0x0062000d, lab, 3)) {
            unsigned char rgb[3];
            AzDcm_Rgb_From_Lab(lab, rgb);
            labels->value_colours[value] = {rgb[0], rgb[1], rgb[2]};
            labels->has_colours = 1;
        }
    }
    return 1;
}

/* Whether the file holds all the pixel data its header declares: the
 * library keeps a value cut short by the end of the file at its declared
 * length. */
int Pixels_Complete(const std::string &path, size_t length)
{
    gdcm::Reader reader;
    reader.SetFileName(path.c_str());
    // Skipped, the pixel data leaves the reader where its value starts.
    std::set<gdcm::Tag> skip;
    skip.insert(gdcm::Tag(0x7fe0, 0x0010));
    struct stat info;
    return reader.ReadUpToTag(gdcm::Tag(0x7fe0, 0x0010), skip) && stat(path.c_str(), &info) == 0 &&
           static_cast<size_t>(info.st_size) >= reader.GetStreamCurrentPosition() + length;
}

int Pixels_Describe(const gdcm::File &file, Seg_Read *seg, AzLoad_Report *report)
{
    const gdcm::DataSet &data = file.GetDataSet();
    double frames = 0.0;
    int rows = 0, columns = 0, bits = 0;
    if (!AzDcm_Unsigned_16(data, 0x00280010, &rows) || !AzDcm_Unsigned_16(data, 0x00280011, &columns) ||
        !AzDcm_Unsigned_16(data, 0x00280100, &bits) || AzDcm_Numbers(data, 0x00280008, &frames, 1) != 1 || frames < 1)
        return Reason(report, seg->path, "segmentation without rows, columns, bits or frames");
    std::string type = AzDcm_Text(data, 0x00620001);
    if (!((type == "BINARY" && bits == 1) || (type == "FRACTIONAL" && bits == 8)))
        return Reason(report, seg->path, "segmentation type " + type + " with " + std::to_string(bits) +
                                             " bits is not supported (BINARY 1 bit, FRACTIONAL 8 bits)");
    if (file.GetHeader().GetDataSetTransferSyntax().IsEncapsulated())
        return Reason(report, seg->path, "compressed segmentations are not supported");
    seg->width = columns;
    seg->height = rows;
    seg->frames_nb = static_cast<int>(frames);
    seg->bits = bits;
    double fraction_max = 255.0;
    AzDcm_Numbers(data, 0x00620010, &fraction_max, 1);
    seg->fraction_max = static_cast<int>(fraction_max);
    const gdcm::ByteValue *bytes =
        data.FindDataElement(gdcm::Tag(0x7fe0, 0x0010)) ? data.GetDataElement(gdcm::Tag(0x7fe0, 0x0010)).GetByteValue()
                                                         : nullptr;
    size_t needed = (static_cast<size_t>(rows) * columns * seg->frames_nb * bits + 7) / 8;
    if (!bytes || bytes->GetLength() < needed || !Pixels_Complete(seg->path, needed))
        return Reason(report, seg->path, "pixel data shorter than " + std::to_string(seg->frames_nb) + " frames");
    seg->pixels = bytes->GetPointer();
    seg->pixels_size = bytes->GetLength();
    return 1;
}

int Pixel_Set(const Seg_Read &seg, size_t index)
{
    if (seg.bits == 1)
        return (seg.pixels[index / 8] >> (index % 8)) & 1;
    return static_cast<uint8_t>(seg.pixels[index]) * 2 >= seg.fraction_max && seg.pixels[index] != 0;
}

/* The series frame a segmentation frame lies on, or -1. */
int Frame_Match(const gdcm::DataSet &data, size_t f, const AzSeries &series)
{
    const gdcm::DataSet *position = Group_Of(data, f, 0x00209113);
    const gdcm::DataSet *orientation = Group_Of(data, f, 0x00209116);
    const gdcm::DataSet *measures = Group_Of(data, f, 0x00289110);
    double ipp[3], iop[6], spacing[2];
    if (!position || !orientation || !measures || AzDcm_Numbers(*position, 0x00200032, ipp, 3) != 3 ||
        AzDcm_Numbers(*orientation, 0x00200037, iop, 6) != 6 || AzDcm_Numbers(*measures, 0x00280030, spacing, 2) != 2)
        return -1;
    AzVec3 row = AzVec3_Unit({iop[0], iop[1], iop[2]}), col = AzVec3_Unit({iop[3], iop[4], iop[5]});
    const double cosine_min = 0.9999;
    if (AzVec3_Dot(row, series.axis_row) < cosine_min || AzVec3_Dot(col, series.axis_col) < cosine_min ||
        fabs(spacing[1] - series.spacing[0]) > 1e-3 * series.spacing[0] ||
        fabs(spacing[0] - series.spacing[1]) > 1e-3 * series.spacing[1])
        return -1;
    AzVec3 at = {ipp[0], ipp[1], ipp[2]};
    double tolerance = 0.05 * std::min(series.spacing[0], std::min(series.spacing[1], series.spacing[2]));
    for (size_t i = 0; i < series.frames.size(); i++)
        if (AzVec3_Norm(AzVec3_Sub(at, series.frames[i].position)) <= tolerance)
            return static_cast<int>(i);
    return -1;
}

/* The label value of every study voxel, slices in source order (later
 * segments over earlier ones). */
int Frames_Read(const gdcm::DataSet &data, const Seg_Read &seg, const AzSeries &series, std::vector<double> *values,
                AzLoad_Report *report)
{
    size_t plane = static_cast<size_t>(seg.width) * seg.height;
    for (int f = 0; f < seg.frames_nb; f++) {
        const gdcm::DataSet *identification = Group_Of(data, f, 0x0062000a);
        int number = 0;
        if (!identification || !AzDcm_Unsigned_16(*identification, 0x0062000b, &number) || !seg.value_of.count(number))
            return Reason(report, seg.path, "frame " + std::to_string(f + 1) + " names no known segment");
        int i = Frame_Match(data, f, series);
        if (i < 0)
            return Reason(report, seg.path, "frame " + std::to_string(f + 1) + " does not lie on the study's grid");
        double value = seg.value_of.at(number);
        double *slice = values->data() + static_cast<size_t>(series.frames[i].source_index) * plane;
        for (size_t p = 0; p < plane; p++)
            if (Pixel_Set(seg, f * plane + p))
                slice[p] = value;
    }
    return 1;
}

} // namespace

int AzDicom_Read_Segmentation(const std::string &path, const AzSeries &series, AzLabels *labels,
                              AzLoad_Report *report)
{
    gdcm::Trace::SetWarning(false);
    gdcm::Trace::SetError(false);
    if (!AzDcm_Read_Survives(path))
        return Reason(report, path, "the DICOM reader fails on this file (malformed)");
    gdcm::Reader reader;
    reader.SetFileName(path.c_str());
    if (!reader.Read())
        return Reason(report, path, "not a DICOM file, or unreadable");
    const gdcm::DataSet &data = reader.GetFile().GetDataSet();
    if (AzDcm_Text(data, 0x00080016) != AZ_DCM_SOP_SEGMENTATION)
        return Reason(report, path, "not a DICOM segmentation");
    *labels = AzLabels();
    labels->source = path;
    Seg_Read seg;
    seg.path = path;
    if (!Pixels_Describe(reader.GetFile(), &seg, report))
        return 0;
    if (seg.width != series.width || seg.height != series.height)
        return Reason(report, path,
                      "frames of " + std::to_string(seg.width) + "x" + std::to_string(seg.height) +
                          " do not match the study's " + std::to_string(series.width) + "x" +
                          std::to_string(series.height));
    labels->width = seg.width;
    labels->height = seg.height;
    labels->depth = static_cast<int>(series.frames.size());
    std::vector<double> values(static_cast<size_t>(labels->width) * labels->height * labels->depth, 0.0);
    if (!Segments_Read(data, &seg, labels, report) || !Frames_Read(data, seg, series, &values, report))
        return 0;
    // Values onto tags by the rule every label volume follows.
    std::string error;
    if (!AzLabels_Values_Set(values, labels, &error))
        return Reason(report, path, error);
    AzLabels_Tables_Set(labels);
    return 1;
}
