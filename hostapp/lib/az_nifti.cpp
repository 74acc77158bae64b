/*
 * NIfTI-1 and NIfTI-2 studies: one frame per slice k of the volume, its
 * time points (4th dimension) in the frame's planes.  The voxel-to-world
 * affine is the sform when there is one, else the qform (which the reader
 * derives from the voxel sizes when the file has none); NIfTI's RAS world
 * becomes the host's LPS by negating x and y.
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <vector>

#include <libdeflate.h>
#include <nifti2_io.h>
#include <zlib.h>

#include "az_labels.h"
#include "az_error.h"
#include "az_path.h"
#include "az_progress_line.h"
#include "az_read.h"
#include "../../host/corvantis_util.h"

namespace {

/* Voxels that are worth a progress line. */
const int64_t progress_voxel_min = 32 * 1024 * 1024;

struct Nifti_Handle {
    nifti_image *image;

    Nifti_Handle() : image(nullptr) {}
    ~Nifti_Handle()
    {
        if (image)
            nifti_image_free(image);
    }
};

int Datatype_Usable(int datatype)
{
    switch (datatype) {
    case DT_UINT8:
    case DT_INT8:
    case DT_INT16:
    case DT_UINT16:
    case DT_INT32:
    case DT_UINT32:
    case DT_INT64:
    case DT_UINT64:
    case DT_FLOAT32:
    case DT_FLOAT64:
        return 1;
    default:
        return 0;
    }
}

double Voxel_Value(const nifti_image *image, int64_t index)
{
    const char *data = static_cast<const char *>(image->data);
    switch (image->datatype) {
    case DT_UINT8:
        return reinterpret_cast<const uint8_t *>(data)[index];
    case DT_INT8:
        return reinterpret_cast<const int8_t *>(data)[index];
    case DT_INT16:
        return reinterpret_cast<const int16_t *>(data)[index];
    case DT_UINT16:
        return reinterpret_cast<const uint16_t *>(data)[index];
    case DT_INT32:
        return reinterpret_cast<const int32_t *>(data)[index];
    case DT_UINT32:
        return reinterpret_cast<const uint32_t *>(data)[index];
    case DT_INT64:
        return static_cast<double>(reinterpret_cast<const int64_t *>(data)[index]);
    case DT_UINT64:
        return static_cast<double>(reinterpret_cast<const uint64_t *>(data)[index]);
    case DT_FLOAT32:
        return reinterpret_cast<const float *>(data)[index];
    default:
        return reinterpret_cast<const double *>(data)[index];
    }
}

/* The header fields the library trusts before it checks them. */
struct Raw_Header {
    int64_t header_size;
    int64_t dim[8];
    int64_t datatype;
    int64_t bitpix;
};

/* Deflate cannot shrink data more than about 1032 to 1: a compressed file
 * cannot hold more voxel bytes than this many times its own size. */
const double deflate_ratio_max = 1032.0;

/* The first bytes of the file, through the decompressor when it is gzip'd
 * (zlib reads plain files as they are).  Bytes read, -1 when unreadable;
 * *plain tells whether the file was stored without compression. */
int Bytes_Read(const std::string &path, unsigned char *buffer, int size, int *plain)
{
    gzFile file = gzopen(path.c_str(), "rb");
    if (!file)
        return -1;
    int read = gzread(file, buffer, size);
    *plain = gzdirect(file);
    gzclose(file);
    return read;
}

/* An unsigned field of 1 to 8 bytes, little-endian unless swapped. */
uint64_t Field(const unsigned char *bytes, int offset, int size, int swap)
{
    uint64_t value = 0;
    for (int i = 0; i < size; i++)
        value = value << 8 | bytes[offset + (swap ? i : size - 1 - i)];
    return value;
}

/* A signed field of 2, 4 or 8 bytes. */
int64_t Field_Signed(const unsigned char *bytes, int offset, int size, int swap)
{
    uint64_t value = Field(bytes, offset, size, swap);
    int shift = 64 - 8 * size;
    return static_cast<int64_t>(value << shift) >> shift;
}

/* Decodes the sizes of a NIfTI-1 (348-byte) or NIfTI-2 (540-byte) header
 * in either byte order.  0 when the first field is neither size or the
 * file is shorter than its header. */
int Raw_Header_Decode(const unsigned char *bytes, int length, Raw_Header *header)
{
    const int64_t size_1 = 348, size_2 = 540;
    for (int swap = 0; swap < 2; swap++) {
        int64_t size = Field_Signed(bytes, 0, 4, swap);
        int wide = size == size_2;
        if ((size != size_1 && !wide) || length < size)
            continue;
        header->header_size = size;
        // NIfTI-2: datatype at 12, bitpix at 14, 8-byte dims at 16; NIfTI-1: 2-byte dims at 40, datatype at
        // 70, bitpix at 72.
        for (int i = 0; i < 8; i++)
            header->dim[i] = wide ? Field_Signed(bytes, 16 + 8 * i, 8, swap) : Field_Signed(bytes, 40 + 2 * i, 2, swap);
        header->datatype = Field_Signed(bytes, wide ? 12 : 70, 2, swap);
        header->bitpix = Field_Signed(bytes, wide ? 14 : 72, 2, swap);
        return 1;
    }
    return 0;
}

/* Voxel bytes the library will allocate, as a floating number (the
 * product of hostile sizes overflows any integer); dims below 1 count as
 * 1.  The voxel size comes from the datatype as the library takes it,
 * from bitpix when the datatype is unknown. */
double Data_Bytes(const Raw_Header &header)
{
    int voxel_bytes = 0, swap_size = 0;
    nifti_datatype_sizes(static_cast<int>(header.datatype), &voxel_bytes, &swap_size);
    double bytes = voxel_bytes > 0 ? voxel_bytes : header.bitpix > 0 ? header.bitpix / 8.0 : 1.0;
    for (int i = 1; i <= header.dim[0]; i++)
        bytes *= header.dim[i] > 1 ? static_cast<double>(header.dim[i]) : 1.0;
    return bytes;
}

/* The most voxel bytes the file can hold: what follows the header, or
 * for a compressed file what deflate can pack into its size. */
double Data_Bytes_Max(const std::string &path, int plain, int64_t header_size)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return 0.0;
    if (!plain)
        return static_cast<double>(info.st_size) * deflate_ratio_max;
    return static_cast<double>(info.st_size) - static_cast<double>(header_size);
}

/* Size along axis i (1..3) as the library will see it: 1 beyond the dimension count. */
long long Dim_Shown(const Raw_Header &header, int i)
{
    return i <= header.dim[0] ? static_cast<long long>(header.dim[i]) : 1;
}

/* What the library trusts before it checks anything: the dimension count
 * (outside 1..7 it overruns its own arrays converting the header), and the
 * voxel bytes it will allocate, which must fit in the file.  1 when the
 * file can be handed to the library, else 0 with the reason reported. */
int Header_Checked(const std::string &path, AzLoad_Report *report)
{
    unsigned char bytes[540];
    memset(bytes, 0, sizeof(bytes));
    int plain = 1;
    int length = Bytes_Read(path, bytes, sizeof(bytes), &plain);
    Raw_Header header;
    if (length < 4 || !Raw_Header_Decode(bytes, length, &header) || header.dim[0] < 1 || header.dim[0] > 7) {
        AzLoad_Problem(report, path, "not a NIfTI file, or its header is malformed");
        return 0;
    }
    double wanted = Data_Bytes(header), room = Data_Bytes_Max(path, plain, header.header_size);
    if (wanted > room) {
        AzLoad_Problem(report, path, "image data truncated or unreadable (%lldx%lldx%lld): %.0f bytes of voxels "
                       "asked, the file can hold %.0f", Dim_Shown(header, 1), Dim_Shown(header, 2),
                       Dim_Shown(header, 3), wanted, room > 0.0 ? room : 0.0);
        return 0;
    }
    return 1;
}

/* The whole file's bytes; false when it cannot be read. */
bool File_Bytes(const std::string &path, std::vector<uint8_t> *bytes)
{
    FILE *file = fopen(path.c_str(), "rb");
    if (!file)
        return false;
    bool read = fseek(file, 0, SEEK_END) == 0;
    long size = read ? ftell(file) : -1;
    read = size > 0 && fseek(file, 0, SEEK_SET) == 0;
    if (read) {
        bytes->resize(static_cast<size_t>(size));
        read = fread(bytes->data(), 1, bytes->size(), file) == bytes->size();
    }
    fclose(file);
    return read;
}

/* The voxels of a gzip'd data file decompressed by libdeflate (several times
 * faster than zlib's stream), in the library's own buffer and byte order,
 * as nifti_image_load leaves them.  False when the file is not one or more
 * gzip members holding at least the header and the voxels: the library
 * then reads it its own way. */
bool Voxels_Inflate(nifti_image *image)
{
    std::vector<uint8_t> packed;
    size_t voxels = nifti_get_volsize(image);
    size_t offset = static_cast<size_t>(image->iname_offset);
    size_t wanted = offset + voxels;
    if (!image->iname || image->iname_offset < 0 || voxels == 0 || !File_Bytes(image->iname, &packed) ||
        packed.size() < 18 || packed[0] != 0x1f || packed[1] != 0x8b)
        return false;
    libdeflate_decompressor *inflater = libdeflate_alloc_decompressor();
    uint8_t *plain = static_cast<uint8_t *>(malloc(wanted));
    size_t in = 0, out = 0;
    bool whole = inflater && plain;
    // Member after member until the voxels are in (a file may be several gzip members).
    while (whole && out < wanted && in < packed.size()) {
        size_t in_used = 0, out_made = 0;
        whole = libdeflate_gzip_decompress_ex(inflater, &packed[in], packed.size() - in, plain + out, wanted - out,
                                              &in_used, &out_made) == LIBDEFLATE_SUCCESS;
        in += in_used;
        out += out_made;
    }
    if (inflater)
        libdeflate_free_decompressor(inflater);
    if (!whole || out < wanted) {
        free(plain);
        return false;
    }
    // The voxels to the front of the block, which then gives back the header's room.
    memmove(plain, plain + offset, voxels);
    void *data = realloc(plain, voxels);
    data = data ? data : plain;
    if (image->swapsize > 1 && image->byteorder != nifti_short_order())
        nifti_swap_Nbytes(voxels / image->swapsize, image->swapsize, data);
    image->data = data;
    return true;
}

/* Header, size checks and data: 0 with the reason reported. */
int Volume_Open(const std::string &path, Nifti_Handle *handle, AzLoad_Report *report)
{
    nifti_set_debug_level(0);
    report->files_seen++;
    if (!Header_Checked(path, report)) {
        report->files_bad++;
        return 0;
    }
    handle->image = nifti_image_read(path.c_str(), 0);
    nifti_image *image = handle->image;
    const char *problem = nullptr;
    if (!image)
        problem = "not a NIfTI file, or its header is malformed";
    else if (image->nx < 1 || image->ny < 1 || image->nx > 65535 || image->ny > 65535 || image->nz > 65535)
        problem = "unusable image size";
    else if (!Datatype_Usable(image->datatype))
        problem = "unsupported voxel type (complex or colour)";
    else if (image->dim[0] > 4 && image->nu * image->nv * image->nw > 1)
        problem = "more than 4 dimensions are not supported";
    else if (!Voxels_Inflate(image) && (nifti_image_load(image) < 0 || !image->data))
        problem = "image data truncated or unreadable";
    if (!problem)
        return 1;
    if (image)
        AzLoad_Problem(report, path, "%s (%lldx%lldx%lld)", problem, static_cast<long long>(image->nx),
                       static_cast<long long>(image->ny), static_cast<long long>(image->nz));
    else
        AzLoad_Problem(report, path, "%s", problem);
    report->files_bad++;
    return 0;
}

/* Voxel (i, j, k) -> world LPS, as columns of the affine. */
struct Lps_Affine {
    AzVec3 column[3];
    AzVec3 origin;
};

Lps_Affine Affine_Of(const nifti_image *image)
{
    const nifti_dmat44 &ras = image->sform_code > 0 ? image->sto_xyz : image->qto_xyz;
    Lps_Affine lps;
    for (int c = 0; c < 3; c++)
        lps.column[c] = {-ras.m[0][c], -ras.m[1][c], ras.m[2][c]};
    lps.origin = {-ras.m[0][3], -ras.m[1][3], ras.m[2][3]};
    return lps;
}

void Geometry_Set(const nifti_image *image, AzSeries *series)
{
    Lps_Affine lps = Affine_Of(image);
    series->width = static_cast<int>(image->nx);
    series->height = static_cast<int>(image->ny);
    series->times_nb = image->nt > 1 && image->dim[0] >= 4 ? static_cast<int>(image->nt) : 1;
    series->axis_row = AzVec3_Unit(lps.column[0]);
    series->axis_col = AzVec3_Unit(lps.column[1]);
    series->axis_normal = AzVec3_Unit(AzVec3_Cross(series->axis_row, series->axis_col));
    for (int c = 0; c < 3; c++)
        series->spacing[c] = AzVec3_Norm(lps.column[c]);
    int depth = static_cast<int>(image->nz > 0 ? image->nz : 1);
    series->frames.resize(depth);
    for (int k = 0; k < depth; k++)
        series->frames[k].position = AzVec3_Add(lps.origin, AzVec3_Scale(lps.column[2], k));
}

/* count voxels from index source, rescaled: value * slope + intercept. */
template <typename T>
void Values_Of(const void *data, int64_t source, int64_t count, double slope, double intercept, double *values)
{
    const T *voxels = static_cast<const T *>(data) + source;
    for (int64_t i = 0; i < count; i++)
        values[i] = static_cast<double>(voxels[i]) * slope + intercept;
}

/* The voxel type picked once per plane, not per voxel. */
void Plane_Values(const nifti_image *image, int64_t source, int64_t count, double slope, double intercept,
                  double *values)
{
    const void *data = image->data;
    switch (image->datatype) {
    case DT_UINT8:
        return Values_Of<uint8_t>(data, source, count, slope, intercept, values);
    case DT_INT8:
        return Values_Of<int8_t>(data, source, count, slope, intercept, values);
    case DT_INT16:
        return Values_Of<int16_t>(data, source, count, slope, intercept, values);
    case DT_UINT16:
        return Values_Of<uint16_t>(data, source, count, slope, intercept, values);
    case DT_INT32:
        return Values_Of<int32_t>(data, source, count, slope, intercept, values);
    case DT_UINT32:
        return Values_Of<uint32_t>(data, source, count, slope, intercept, values);
    case DT_INT64:
        return Values_Of<int64_t>(data, source, count, slope, intercept, values);
    case DT_UINT64:
        return Values_Of<uint64_t>(data, source, count, slope, intercept, values);
    case DT_FLOAT32:
        return Values_Of<float>(data, source, count, slope, intercept, values);
    default:
        return Values_Of<double>(data, source, count, slope, intercept, values);
    }
}

void Pixels_Set(const nifti_image *image, const std::string &path, AzSeries *series)
{
    // A slope of 0 means "no scaling".
    bool scaled = image->scl_slope != 0.0;
    double slope = scaled ? image->scl_slope : 1.0;
    double intercept = scaled ? image->scl_inter : 0.0;
    series->source_slope = slope;
    series->source_intercept = intercept;
    int64_t plane = image->nx * image->ny;
    int64_t depth = static_cast<int64_t>(series->frames.size());
    std::vector<double> values(plane);
    AzProgressLine progress;
    AzProgressLine_Start(&progress, "reading " + path, image->nvox >= progress_voxel_min ? static_cast<long>(depth) : 0);
    for (int64_t k = 0; k < depth; k++) {
        AzSeries_Frame &frame = series->frames[k];
        frame.file_name = path;
        frame.source_index = static_cast<int>(k);
        for (int64_t t = 0; t < series->times_nb; t++) {
            int64_t source = (t * depth + k) * plane;
            Plane_Values(image, source, plane, slope, intercept, values.data());
            AzFrame_Values_Add(&frame, values.data(), plane);
        }
        AzProgressLine_Step(&progress, static_cast<long>(k + 1));
    }
}

} // namespace

int AzNifti_Read(const std::string &path, AzSeries *series, AzLoad_Report *report)
{
    Nifti_Handle handle;
    if (!Volume_Open(path, &handle, report))
        return 0;
    const nifti_image *image = handle.image;
    *series = AzSeries();
    series->source = path;
    static const char *const extensions[] = {".nii.gz", ".nii", nullptr};
    series->name = AzPath_Base_Name(path, extensions);
    series->description = image->descrip;
    series->uid = path;
    series->modality = "MR";
    Geometry_Set(image, series);
    Pixels_Set(image, path, series);
    AzSeries_Sort(series);
    if (image->cal_max > image->cal_min) {
        series->display_mode = AZ_DISPLAY_MIN_MAX;
        series->display_low = static_cast<float>(image->cal_min);
        series->display_high = static_cast<float>(image->cal_max);
    }
    AzSeries_Levels_Set(series);
    if (series->clamped_nb > 0)
        AzError(AZ_EXIT_INPUT, "%s: %d values are not finite numbers and were clamped to the 16-bit levels", path.c_str(),
                  series->clamped_nb);
    if (series->display_mode == AZ_DISPLAY_UNSET)
        AzSeries_Display_From_Range(series);
    return 1;
}

namespace {

/* The files beside a label volume: aal.nii.gz -> aal.nii.lut, then aal.lut. */
std::vector<std::string> Beside(const std::string &path, const char *extension)
{
    std::string stem = path;
    if (AzPath_Ends_With(stem, ".gz"))
        stem.resize(stem.size() - 3);
    std::vector<std::string> names(1, stem + extension);
    if (AzPath_Ends_With(stem, ".nii"))
        names.push_back(stem.substr(0, stem.size() - 4) + extension);
    return names;
}

} // namespace

int AzNifti_Read_Labels(const std::string &path, AzLabels *labels, AzLoad_Report *report)
{
    Nifti_Handle handle;
    if (!Volume_Open(path, &handle, report))
        return 0;
    const nifti_image *image = handle.image;
    *labels = AzLabels();
    labels->source = path;
    labels->width = static_cast<int>(image->nx);
    labels->height = static_cast<int>(image->ny);
    labels->depth = static_cast<int>(image->nz > 0 ? image->nz : 1);
    Lps_Affine lps = Affine_Of(image);
    labels->has_affine = 1;
    for (int c = 0; c < 4; c++) {
        AzVec3 column = c < 3 ? lps.column[c] : lps.origin;
        labels->affine[0][c] = column.x;
        labels->affine[1][c] = column.y;
        labels->affine[2][c] = column.z;
    }
    // The tables come first: named values may join the mapping of values onto tags.
    for (const std::string &name : Beside(path, ".lut"))
        if (AzLabels_Read_Colours(name, labels))
            break;
    for (const std::string &name : Beside(path, ".txt"))
        if (AzLabels_Read_Names(name, labels))
            break;
    int64_t count = static_cast<int64_t>(labels->width) * labels->height * labels->depth;
    std::vector<double> stored(count);
    for (int64_t i = 0; i < count; i++)
        stored[i] = Voxel_Value(image, i);
    std::string error;
    if (!AzLabels_Values_Set(stored, labels, &error)) {
        AzLoad_Problem(report, path, "%s", error.c_str());
        report->files_bad++;
        *labels = AzLabels();   // a refused volume leaves no half-filled record behind
        return 0;
    }
    AzLabels_Tables_Set(labels);
    return 1;
}
