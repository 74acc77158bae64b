/*
 * NIfTI-1 and NIfTI-2 studies: one frame per slice k of the volume, its
 * time points (4th dimension) in the frame's planes.  The voxel-to-world
 * affine is the sform when there is one, else the qform (which the reader
 * derives from the voxel sizes when the file has none); NIfTI's RAS world
 * becomes the host's LPS by negating x and y.
 */
#include <stdint.h>
#include <string.h>

#include <nifti2_io.h>

#include "az_series.h"
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

/* Header, size checks and data: 0 with the reason reported. */
int Volume_Open(const std::string &path, Nifti_Handle *handle, AzLoad_Report *report)
{
    nifti_set_debug_level(0);
    report->files_seen++;
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
    else if (nifti_image_load(image) < 0 || !image->data)
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

void Pixels_Set(const nifti_image *image, const std::string &path, AzSeries *series)
{
    double slope = image->scl_slope != 0.0 ? image->scl_slope : 1.0;
    double intercept = image->scl_slope != 0.0 ? image->scl_inter : 0.0;
    int64_t plane = image->nx * image->ny;
    int64_t depth = static_cast<int64_t>(series->frames.size());
    AzProgress progress;
    AzProgress_Start(&progress, "reading " + path, image->nvox >= progress_voxel_min ? static_cast<long>(depth) : 0);
    for (int64_t k = 0; k < depth; k++) {
        AzSeries_Frame &frame = series->frames[k];
        frame.file_name = path;
        frame.source_index = static_cast<int>(k);
        frame.gli.resize(plane * series->times_nb);
        for (int64_t t = 0; t < series->times_nb; t++) {
            int64_t source = (t * depth + k) * plane;
            int16_t *target = frame.gli.data() + t * plane;
            for (int64_t i = 0; i < plane; i++)
                target[i] = AzGrey_From(Voxel_Value(image, source + i) * slope + intercept, &series->clamped_nb);
        }
        AzProgress_Step(&progress, static_cast<long>(k + 1));
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
    if (series->clamped_nb > 0)
        Error_Fct(hwnd, 2, "%s: %d grey levels did not fit in 16 bits and were clamped", path.c_str(),
                  series->clamped_nb);
    AzSeries_Sort(series);
    if (image->cal_max > image->cal_min) {
        series->display_mode = AZ_DISPLAY_MIN_MAX;
        series->display_low = static_cast<float>(image->cal_min);
        series->display_high = static_cast<float>(image->cal_max);
    } else {
        AzSeries_Display_From_Range(series);
    }
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
    int64_t count = static_cast<int64_t>(labels->width) * labels->height * labels->depth;
    labels->tags.resize(count);
    int64_t out_of_range = 0;
    for (int64_t i = 0; i < count; i++) {
        double value = Voxel_Value(image, i);
        if (!(value >= 0.0 && value <= 255.0)) {
            out_of_range++;
            value = value > 255.0 ? 255.0 : 0.0;
        }
        labels->tags[i] = static_cast<uint8_t>(value + 0.5);
    }
    if (out_of_range > 0)
        Error_Fct(hwnd, 2, "%s: %lld labels outside 0..255 were clamped", path.c_str(),
                  static_cast<long long>(out_of_range));
    for (const std::string &name : Beside(path, ".lut"))
        if (AzLabels_Read_Colours(name, labels))
            break;
    for (const std::string &name : Beside(path, ".txt"))
        if (AzLabels_Read_Names(name, labels))
            break;
    return 1;
}
