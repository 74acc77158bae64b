/*
 * Volumes read through the host's frames, and their files.
 */
#include "az_export.h"

#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

#include <nifti2_io.h>
#include <zlib.h>

#include "../../hostlib/structures/az_db.h"
#include "../../hostlib/structures/az_gl.h"
#include "az_labels.h"
#include "az_series.h"

AzVolume::AzVolume()
    : width(0), height(0), depth(0), times(0), affine{}, display_mode(0), display_low(0.0f), display_high(0.0f)
{
}

namespace {

/* Frames that are worth a progress line. */
const int progress_frame_min = 64;

/* The frames below cls, by time point, each in child order. */
int Frames_Collect(Kelvra_Class *cls, std::vector<std::vector<AzFrame *>> *by_time, std::string *error)
{
    for (int i = 0; i < cls->Child_Get_Nb(); i++) {
        AzFrame *frame = AzFrame_Cast(cls->Child_Get_Pt(i));
        if (!frame || frame->t < 0)
            continue;
        if (static_cast<size_t>(frame->t) >= by_time->size())
            by_time->resize(frame->t + 1);
        (*by_time)[frame->t].push_back(frame);
    }
    // A 4-D study enters the database with the frames of one time point, not always the first.
    by_time->erase(std::remove_if(by_time->begin(), by_time->end(),
                                  [](const std::vector<AzFrame *> &frames) { return frames.empty(); }),
                   by_time->end());
    if (by_time->empty()) {
        *error = std::string("\"") + cls->Name_Get() + "\" has no frames";
        return 0;
    }
    for (const std::vector<AzFrame *> &frames : *by_time)
        if (frames.size() != (*by_time)[0].size()) {
            *error = std::string("\"") + cls->Name_Get() + "\" has an uneven number of frames per time point";
            return 0;
        }
    return 1;
}

/* Keeps slice only of every time point. */
int Frames_Keep(std::vector<std::vector<AzFrame *>> *by_time, int only, Kelvra_Class *cls, std::string *error)
{
    if (only >= static_cast<int>((*by_time)[0].size())) {
        char text[96];
        snprintf(text, sizeof(text), "\" has no frame %d (it has %d)", only, static_cast<int>((*by_time)[0].size()));
        *error = std::string("\"") + cls->Name_Get() + text;
        return 0;
    }
    for (std::vector<AzFrame *> &frames : *by_time)
        frames = std::vector<AzFrame *>(1, frames[only]);
    return 1;
}

/* A class that answers no size for its frames (a direction not yet set
 * up) shows them at their image's size. */
void Frame_Size(AzFrame *frame, int *width, int *height)
{
    *width = *height = 0;
    AzFrame_Get_Dim(frame, width, height);
    if ((*width < 1 || *height < 1) && frame->key) {
        *width = frame->key->width;
        *height = frame->key->height;
    }
}

AzVec3 Vec3_Of(Vect v) { return {v.x, v.y, v.z}; }

/* Samples per axis of the world-geometry fit. */
const int fit_samples = 8;

/* Normal equations of a least-squares fit of positions to (x, y, k, 1). */
struct Affine_Fit {
    double ata[4][4];
    double atb[4][3];
    int count;
};

void Fit_Add(Affine_Fit *fit, double x, double y, double k, AzVec3 position)
{
    const double row[4] = {x, y, k, 1.0};
    const double value[3] = {position.x, position.y, position.z};
    for (int r = 0; r < 4; r++) {
        for (int c = 0; c < 4; c++)
            fit->ata[r][c] += row[r] * row[c];
        for (int c = 0; c < 3; c++)
            fit->atb[r][c] += row[r] * value[c];
    }
    fit->count++;
}

/* Solves the first n unknowns (n = 3: without k) by elimination with
 * partial pivoting; 0 when the samples do not fix them. */
int Fit_Solve(const Affine_Fit &fit, int n, double solution[4][3])
{
    const int index[4] = {0, 1, n == 4 ? 2 : 3, 3};
    double m[4][7];
    for (int r = 0; r < n; r++) {
        for (int c = 0; c < n; c++)
            m[r][c] = fit.ata[index[r]][index[c]];
        for (int c = 0; c < 3; c++)
            m[r][n + c] = fit.atb[index[r]][c];
    }
    for (int col = 0; col < n; col++) {
        int pivot = col;
        for (int r = col + 1; r < n; r++)
            if (fabs(m[r][col]) > fabs(m[pivot][col]))
                pivot = r;
        if (fabs(m[pivot][col]) < 1e-9 * (fit.count + 1))
            return 0;
        for (int c = 0; c < n + 3; c++)
            std::swap(m[col][c], m[pivot][c]);
        for (int r = 0; r < n; r++) {
            if (r == col)
                continue;
            double factor = m[r][col] / m[col][col];
            for (int c = col; c < n + 3; c++)
                m[r][c] -= factor * m[col][c];
        }
    }
    for (int r = 0; r < n; r++)
        for (int c = 0; c < 3; c++)
            solution[index[r]][c] = m[r][n + c] / m[r][r];
    return 1;
}

/* World geometry from the world positions of the frames' pixels: a
 * least-squares affine over a grid of pixels, those with grey levels when
 * there are enough.  A resampled direction places each pixel on the source
 * slice it was read from, so its positions step between slices; the fit
 * gives the plane through those steps. */
void Affine_Set(const std::vector<AzFrame *> &frames, AzVolume *volume)
{
    int depth = static_cast<int>(frames.size());
    int k_steps = std::min(depth, fit_samples);
    Affine_Fit fits[2]; // with grey levels only, and every sample
    memset(fits, 0, sizeof(fits));
    for (int a = 0; a < k_steps; a++) {
        int k = k_steps > 1 ? a * (depth - 1) / (k_steps - 1) : 0;
        for (int b = 0; b < fit_samples; b++)
            for (int c = 0; c < fit_samples; c++) {
                int x = b * (volume->width - 1) / (fit_samples - 1);
                int y = c * (volume->height - 1) / (fit_samples - 1);
                AzVec3 position = Vec3_Of(AzFrame_Get_Pos(frames[k], static_cast<float>(x), static_cast<float>(y)));
                Fit_Add(&fits[1], x, y, k, position);
                if (volume->gli[volume->Index(x, y, k, 0)] != AZ_GLI_INVALID)
                    Fit_Add(&fits[0], x, y, k, position);
            }
    }
    double solution[4][3] = {};
    int n = depth > 1 ? 4 : 3;
    if (!Fit_Solve(fits[0], n, solution))
        Fit_Solve(fits[1], n, solution);
    if (n == 3) {
        // One frame: a step of its header's slice size along its normal.
        Vect size = AzImage_Pixel_Size(frames[0]->key);
        AzVec3 normal = AzVec3_Unit(AzVec3_Cross({solution[0][0], solution[0][1], solution[0][2]},
                                                 {solution[1][0], solution[1][1], solution[1][2]}));
        normal = AzVec3_Scale(normal, size.z > 0.0f ? size.z : 1.0);
        solution[2][0] = normal.x;
        solution[2][1] = normal.y;
        solution[2][2] = normal.z;
    }
    for (int c = 0; c < 4; c++)
        for (int r = 0; r < 3; r++)
            volume->affine[r][c] = solution[c][r];
}

void Frame_Read(AzFrame *frame, AzVolume *volume, int k, int t)
{
    for (int y = 0; y < volume->height; y++)
        for (int x = 0; x < volume->width; x++) {
            size_t index = volume->Index(x, y, k, t);
            volume->gli[index] = AzFrame_Get_GLI(frame, static_cast<float>(x), static_cast<float>(y));
            volume->tag[index] = static_cast<uint8_t>(AzFrame_Get_TAG(frame, static_cast<float>(x),
                                                                      static_cast<float>(y)));
        }
}

} // namespace

int AzVolume_From_Class(Kelvra_Class *cls, AzVolume *volume, std::string *error, int only)
{
    std::vector<std::vector<AzFrame *>> by_time;
    if (!Frames_Collect(cls, &by_time, error))
        return 0;
    if (only >= 0 && !Frames_Keep(&by_time, only, cls, error))
        return 0;
    const std::vector<AzFrame *> &first = by_time[0];
    int width = 0, height = 0;
    Frame_Size(first[0], &width, &height);
    if (width < 1 || height < 1) {
        *error = std::string("\"") + cls->Name_Get() + "\" has frames without pixels";
        return 0;
    }
    *volume = AzVolume();
    volume->width = width;
    volume->height = height;
    volume->depth = static_cast<int>(first.size());
    volume->times = static_cast<int>(by_time.size());
    size_t count = static_cast<size_t>(width) * height * volume->depth * volume->times;
    volume->gli.assign(count, AZ_GLI_INVALID);
    volume->tag.assign(count, 0);
    const Vexa_Image *header = first[0]->key;
    volume->display_mode = header->display_mode;
    volume->display_low = header->display_low;
    volume->display_high = header->display_high;
    AzProgress progress;
    long total = static_cast<long>(volume->depth) * volume->times;
    AzProgress_Start(&progress, std::string("reading ") + cls->Name_Get(), total >= progress_frame_min ? total : 0);
    for (int t = 0; t < volume->times; t++)
        for (int k = 0; k < volume->depth; k++) {
            AzFrame *frame = by_time[t][k];
            int w = 0, h = 0;
            Frame_Size(frame, &w, &h);
            if (w != width || h != height) {
                *error = std::string("\"") + cls->Name_Get() + "\" has frames of different sizes";
                return 0;
            }
            Frame_Read(frame, volume, k, t);
            AzProgress_Step(&progress, static_cast<long>(t) * volume->depth + k + 1);
        }
    Affine_Set(first, volume);
    return 1;
}

namespace {

/* The file at its final name only once it is complete. */
std::string Temporary_Name(const std::string &path)
{
    size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    char suffix[32];
    snprintf(suffix, sizeof(suffix), ".part%ld", static_cast<long>(getpid()));
    return folder + "." + name + suffix;
}

int16_t Grey_Outside(const AzVolume &volume)
{
    int lowest = 32767;
    int any = 0;
    for (int32_t value : volume.gli)
        if (value != AZ_GLI_INVALID) {
            lowest = std::min<int>(lowest, value);
            any = 1;
        }
    return static_cast<int16_t>(any ? std::max(lowest, -32768) : 0);
}

/* The LPS affine as NIfTI's RAS one. */
nifti_dmat44 Affine_Ras(const AzVolume &volume)
{
    nifti_dmat44 ras;
    memset(&ras, 0, sizeof(ras));
    for (int c = 0; c < 4; c++) {
        ras.m[0][c] = -volume.affine[0][c];
        ras.m[1][c] = -volume.affine[1][c];
        ras.m[2][c] = volume.affine[2][c];
    }
    ras.m[3][3] = 1.0;
    return ras;
}

/* Whether the label values of the volume's tags need 16 bits. */
int Tags_Wide(const AzVolume &volume)
{
    std::vector<char> present(256, 0);
    for (uint8_t tag : volume.tag)
        present[tag] = 1;
    for (int tag = 1; tag < 256; tag++)
        if (present[tag] && AzTags_Value(tag) > 255)
            return 1;
    return 0;
}

/* Tags as the label values they stand for. */
std::vector<char> Tag_Data(const AzVolume &volume)
{
    if (!Tags_Wide(volume)) {
        std::vector<char> data(volume.tag.size());
        for (size_t i = 0; i < volume.tag.size(); i++)
            data[i] = static_cast<char>(AzTags_Value(volume.tag[i]));
        return data;
    }
    uint16_t values[256];
    for (int tag = 0; tag < 256; tag++)
        values[tag] = static_cast<uint16_t>(AzTags_Value(tag));
    std::vector<char> data(volume.tag.size() * sizeof(uint16_t));
    for (size_t i = 0; i < volume.tag.size(); i++)
        memcpy(data.data() + i * sizeof(uint16_t), &values[volume.tag[i]], sizeof(uint16_t));
    return data;
}

void Header_Set(const AzVolume &volume, int what, nifti_1_header *header)
{
    memset(header, 0, sizeof(*header));
    header->sizeof_hdr = sizeof(nifti_1_header);
    header->dim[0] = volume.times > 1 ? 4 : 3;
    header->dim[1] = static_cast<short>(volume.width);
    header->dim[2] = static_cast<short>(volume.height);
    header->dim[3] = static_cast<short>(volume.depth);
    header->dim[4] = static_cast<short>(volume.times);
    for (int i = 5; i < 8; i++)
        header->dim[i] = 1;
    int wide_tags = what == AZ_EXPORT_TAGS && Tags_Wide(volume);
    header->datatype = what == AZ_EXPORT_TAGS ? (wide_tags ? DT_UINT16 : DT_UINT8) : DT_INT16;
    header->bitpix = what == AZ_EXPORT_TAGS && !wide_tags ? 8 : 16;
    nifti_dmat44 ras = Affine_Ras(volume);
    double qb, qc, qd, qx, qy, qz, dx, dy, dz, qfac;
    nifti_dmat44_to_quatern(ras, &qb, &qc, &qd, &qx, &qy, &qz, &dx, &dy, &dz, &qfac);
    header->pixdim[0] = static_cast<float>(qfac);
    header->pixdim[1] = static_cast<float>(dx);
    header->pixdim[2] = static_cast<float>(dy);
    header->pixdim[3] = static_cast<float>(dz);
    header->pixdim[4] = 1.0f;
    header->vox_offset = 352.0f;
    header->scl_slope = 1.0f;
    header->xyzt_units = NIFTI_UNITS_MM;
    if (what == AZ_EXPORT_GREY && volume.display_high > volume.display_low) {
        header->cal_min = volume.display_low;
        header->cal_max = volume.display_high;
    }
    header->qform_code = NIFTI_XFORM_SCANNER_ANAT;
    header->sform_code = NIFTI_XFORM_SCANNER_ANAT;
    header->quatern_b = static_cast<float>(qb);
    header->quatern_c = static_cast<float>(qc);
    header->quatern_d = static_cast<float>(qd);
    header->qoffset_x = static_cast<float>(qx);
    header->qoffset_y = static_cast<float>(qy);
    header->qoffset_z = static_cast<float>(qz);
    for (int c = 0; c < 4; c++) {
        header->srow_x[c] = static_cast<float>(ras.m[0][c]);
        header->srow_y[c] = static_cast<float>(ras.m[1][c]);
        header->srow_z[c] = static_cast<float>(ras.m[2][c]);
    }
    snprintf(header->descrip, sizeof(header->descrip), "%s", what == AZ_EXPORT_TAGS ? "tags" : "grey levels");
    memcpy(header->magic, "n+1", 4);
}

std::vector<char> Data_Of(const AzVolume &volume, int what)
{
    size_t count = volume.gli.size();
    if (what == AZ_EXPORT_TAGS)
        return Tag_Data(volume);
    std::vector<char> data(count * sizeof(int16_t));
    int16_t outside = Grey_Outside(volume);
    for (size_t i = 0; i < count; i++) {
        int32_t value = volume.gli[i];
        int16_t grey = value == AZ_GLI_INVALID ? outside
                                               : static_cast<int16_t>(std::min(32767, std::max(-32768, value)));
        memcpy(data.data() + i * sizeof(int16_t), &grey, sizeof(int16_t));
    }
    return data;
}

int Gz_Write_All(gzFile file, const void *data, size_t size)
{
    const char *bytes = static_cast<const char *>(data);
    while (size > 0) {
        unsigned int part = static_cast<unsigned int>(std::min<size_t>(size, 1u << 30));
        if (gzwrite(file, bytes, part) != static_cast<int>(part))
            return 0;
        bytes += part;
        size -= part;
    }
    return 1;
}

} // namespace

int AzVolume_Write_Nifti(const AzVolume &volume, const std::string &path, int what, std::string *error)
{
    if (what == AZ_EXPORT_TAGS ? volume.tag.empty() : volume.gli.empty()) {
        *error = path + ": nothing to write";
        return 0;
    }
    nifti_1_header header;
    Header_Set(volume, what, &header);
    std::vector<char> data = Data_Of(volume, what);
    std::string temporary = Temporary_Name(path);
    // "wb0" stores without compression: the same writer serves .nii and .nii.gz.
    gzFile file = gzopen(temporary.c_str(), AzPath_Ends_With(path, ".gz") ? "wb6" : "wb0T");
    if (!file) {
        *error = path + ": cannot create: " + strerror(errno);
        return 0;
    }
    const char extension[4] = {0, 0, 0, 0};
    int written = Gz_Write_All(file, &header, sizeof(header)) && Gz_Write_All(file, extension, 4) &&
                  Gz_Write_All(file, data.data(), data.size());
    int closed = gzclose(file) == Z_OK;
    if (!written || !closed || rename(temporary.c_str(), path.c_str()) != 0) {
        *error = path + ": cannot write: " + strerror(errno ? errno : EIO);
        unlink(temporary.c_str());
        return 0;
    }
    return 1;
}

namespace {

} // namespace

std::vector<uint32_t> AzVolume_Picture(const AzVolume &volume, int k, int t)
{
    std::vector<uint32_t> rgba(static_cast<size_t>(volume.width) * volume.height);
    Fct_GLI_2_Color(volume.display_mode, volume.display_high, volume.display_low);
    AzTag_Layer layer = AzTag_Layer_Get();
    for (int y = 0; y < volume.height; y++)
        for (int x = 0; x < volume.width; x++) {
            size_t index = volume.Index(x, y, k, t);
            uint32_t grey = layer.scheme == 0 ? 0xff000000u : Fct_GLI_2_Color(static_cast<int>(volume.gli[index]));
            rgba[static_cast<size_t>(y) * volume.width + x] = AzTag_Over(&layer, grey, volume.tag[index]);
        }
    return rgba;
}

int AzVolume_Write_Png(const AzVolume &volume, int k, const std::string &path, std::string *error)
{
    if (k < 0 || k >= volume.depth) {
        char text[96];
        snprintf(text, sizeof(text), ": no slice %d (the volume has %d)", k, volume.depth);
        *error = path + text;
        return 0;
    }
    std::vector<uint32_t> rgba = AzVolume_Picture(volume, k, 0);
    if (AzPng_Write(path.c_str(), rgba.data(), volume.width, volume.height))
        return 1;
    *error = path + ": cannot write the picture";
    return 0;
}

int AzVolume_Write_Montage(const AzVolume &volume, int columns, const std::string &path, std::string *error)
{
    if (volume.depth < 1) {
        *error = path + ": nothing to write";
        return 0;
    }
    if (columns <= 0)
        columns = static_cast<int>(ceil(sqrt(static_cast<double>(volume.depth))));
    int rows = (volume.depth + columns - 1) / columns;
    int width = columns * volume.width, height = rows * volume.height;
    std::vector<uint32_t> sheet(static_cast<size_t>(width) * height, 0xff000000u);
    for (int k = 0; k < volume.depth; k++) {
        std::vector<uint32_t> slice = AzVolume_Picture(volume, k, 0);
        int left = (k % columns) * volume.width, top = (k / columns) * volume.height;
        for (int y = 0; y < volume.height; y++)
            memcpy(&sheet[static_cast<size_t>(top + y) * width + left], &slice[static_cast<size_t>(y) * volume.width],
                   volume.width * sizeof(uint32_t));
    }
    if (AzPng_Write(path.c_str(), sheet.data(), width, height))
        return 1;
    *error = path + ": cannot write the picture";
    return 0;
}
