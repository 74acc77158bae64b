/*
 * Volumes read through the host's frames, and their files.
 */
#include "az_export.h"

#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include <libdeflate.h>
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
void Affine_Set(const std::vector<AzFrame *> &frames, int width, int height, double affine[3][4])
{
    int depth = static_cast<int>(frames.size());
    int k_steps = std::min(depth, fit_samples);
    Affine_Fit fits[2]; // with grey levels only, and every sample
    memset(fits, 0, sizeof(fits));
    for (int a = 0; a < k_steps; a++) {
        int k = k_steps > 1 ? a * (depth - 1) / (k_steps - 1) : 0;
        for (int b = 0; b < fit_samples; b++)
            for (int c = 0; c < fit_samples; c++) {
                int x = b * (width - 1) / (fit_samples - 1);
                int y = c * (height - 1) / (fit_samples - 1);
                float fx = static_cast<float>(x), fy = static_cast<float>(y);
                AzVec3 position = Vec3_Of(AzFrame_Get_Pos(frames[k], fx, fy));
                Fit_Add(&fits[1], x, y, k, position);
                if (AzFrame_Get_GLI(frames[k], fx, fy) != AZ_GLI_INVALID)
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
            affine[r][c] = solution[c][r];
}

/* One frame's grey levels and tags, row after row, as a host view reads
 * them. */
void Frame_Read_Into(AzFrame *frame, int width, int height, int32_t *gli, uint8_t *tag)
{
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            size_t index = static_cast<size_t>(y) * width + x;
            gli[index] = AzFrame_Get_GLI(frame, static_cast<float>(x), static_cast<float>(y));
            tag[index] = static_cast<uint8_t>(AzFrame_Get_TAG(frame, static_cast<float>(x), static_cast<float>(y)));
        }
}

void Frame_Read_Grey(AzFrame *frame, int width, int height, int32_t *gli)
{
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            gli[static_cast<size_t>(y) * width + x] =
                AzFrame_Get_GLI(frame, static_cast<float>(x), static_cast<float>(y));
}

void Frame_Read(AzFrame *frame, AzVolume *volume, int k, int t)
{
    size_t at = volume->Index(0, 0, k, t);
    Frame_Read_Into(frame, volume->width, volume->height, &volume->gli[at], &volume->tag[at]);
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
    Affine_Set(first, width, height, volume->affine);
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

std::vector<int> AzMontage_Slices(int depth)
{
    std::vector<int> slices;
    int count = std::min(depth, AZ_MONTAGE_FRAMES);
    for (int i = 0; i < count; i++)
        slices.push_back(count > 1 ? static_cast<int>(lround(static_cast<double>(i) * (depth - 1) / (count - 1))) : 0);
    return slices;
}

int AzVolume_Write_Montage(const AzVolume &volume, int columns, const std::string &path, std::string *error)
{
    if (volume.depth < 1) {
        *error = path + ": nothing to write";
        return 0;
    }
    std::vector<int> slices = AzMontage_Slices(volume.depth);
    int count = static_cast<int>(slices.size());
    if (columns <= 0)
        columns = static_cast<int>(ceil(sqrt(static_cast<double>(count))));
    int rows = (count + columns - 1) / columns;
    // Whole pixels of each slice are skipped, never blended: the montage shows the values the frames hold.
    int step = 1;
    while ((columns * volume.width + step - 1) / step > AZ_MONTAGE_SIDE ||
           (rows * volume.height + step - 1) / step > AZ_MONTAGE_SIDE)
        step++;
    int cell_w = (volume.width + step - 1) / step, cell_h = (volume.height + step - 1) / step;
    int width = columns * cell_w, height = rows * cell_h;
    std::vector<uint32_t> sheet(static_cast<size_t>(width) * height, 0xff000000u);
    for (int i = 0; i < count; i++) {
        std::vector<uint32_t> slice = AzVolume_Picture(volume, slices[i], 0);
        int left = (i % columns) * cell_w, top = (i / columns) * cell_h;
        for (int y = 0; y < cell_h; y++)
            for (int x = 0; x < cell_w; x++)
                sheet[static_cast<size_t>(top + y) * width + left + x] =
                    slice[static_cast<size_t>(y * step) * volume.width + x * step];
    }
    if (AzPng_Write(path.c_str(), sheet.data(), width, height))
        return 1;
    *error = path + ": cannot write the picture";
    return 0;
}

AzExport_Result::AzExport_Result() : width(0), height(0), depth(0), times(0), affine{}, tagged(0) {}

int AzExport_Threads(void)
{
    // AZOZUDE_THREADS caps the count, so that a benchmark can set one thread against all cores.
    const char *cap = getenv("AZOZUDE_THREADS");
    unsigned int cores = std::thread::hardware_concurrency();
    if (cap && atoi(cap) > 0)
        cores = static_cast<unsigned int>(atoi(cap));
    return cores > 0 ? static_cast<int>(std::min(cores, 64u)) : 1;
}

namespace {

/* libdeflate's level 1 compresses a brain about as small as zlib's default
 * and many times faster. */
const int export_level = 1;
/* Voxels a block of frames aims at: big enough for compression to pay,
 * small enough to keep every core busy to the end. */
const size_t block_voxels = 1u << 20;

/* The study a class belongs to: itself or its nearest study ancestor. */
Kelvra_Class *Study_Of(Kelvra_Class *cls)
{
    for (Kelvra_Class *c = cls; c; c = c->Parent_Get_Pt())
        if (dynamic_cast<AzStudy_Class *>(c))
            return c;
    return nullptr;
}

/* What the export needs to know of the study's own pixels. */
struct Study_Scan {
    int lowest = 32767 + 1;   /* above every grey level until one is met */
    int tagged = 0;
    int complete = 1;         /* every frame's pixels were seen */
    std::vector<char> present = std::vector<char>(256, 0); /* tags the study holds */
};

void Frames_Scan(Kelvra_Class *cls, int levels, std::set<std::pair<Vexa_Image *, int>> *seen, Study_Scan *scan)
{
    for (int i = 0; i < cls->Child_Get_Nb(); i++) {
        Kelvra_Class *child = cls->Child_Get_Pt(i);
        AzFrame *frame = AzFrame_Cast(child);
        if (!frame) {
            if (levels > 1 && child)
                Frames_Scan(child, levels - 1, seen, scan);
            continue;
        }
        Vexa_Image *key = frame->key;
        if (!key || !key->pixels_pt)
            continue;
        if (!seen->insert({key, frame->t * 65536 + frame->z}).second)
            continue;
        const int16_t *grey = AzImage_GLI_Plane(key, frame->z, frame->t);
        const uint8_t *tag = AzImage_TAG_Plane(key, frame->z, frame->t);
        size_t count = static_cast<size_t>(key->pixels_pt->width) * key->pixels_pt->height;
        int lowest = scan->lowest, tagged = 0;
        for (size_t p = 0; p < count; p++) {
            lowest = std::min<int>(lowest, grey[p]);
            tagged |= tag[p];
        }
        scan->lowest = lowest;
        scan->tagged |= tagged != 0;
        if (tagged)
            for (size_t p = 0; p < count; p++)
                scan->present[tag[p]] = 1;
    }
}

/* The study's lowest grey level (what points outside it show in an
 * exported file, whatever the angle) and whether it holds any tag. */
Study_Scan Study_Scan_Of(Kelvra_Class *cls)
{
    Kelvra_Class *study = Study_Of(cls);
    Study_Scan scan;
    std::set<std::pair<Vexa_Image *, int>> seen;
    if (study)
        Frames_Scan(study, 2, &seen, &scan);
    else
        scan.complete = 0;
    if (seen.empty())
        scan.complete = 0;
    if (scan.lowest > 32767)
        scan.lowest = 0;
    return scan;
}

/* A block of frames as bytes ready for the files. */
struct Export_Block {
    std::vector<uint8_t> grey, tags;
    int tagged = 0;
    int ready = 0;
};

/* The shared state of one export: workers read and compress blocks, the
 * calling thread writes them in order. */
struct Export_Job {
    const AzExport_Request *request;
    AzExport_Result *result;
    std::vector<AzFrame *> frames;      /* time point after time point */
    int width, height, per_block, blocks_nb, window;
    int16_t outside;
    int read_tags;                      /* 0: the study holds no tag, every frame's tags are 0 */
    int wide_tags;                      /* tags are written as 16-bit label values */
    uint16_t tag_values[256];           /* the label value each tag writes */
    int gzip_grey, gzip_tags;
    std::vector<int> middle_slot, montage_slot; /* per frame: slot in the picture volume, or -1 */
    std::vector<Export_Block> blocks;
    std::mutex lock;
    std::condition_variable changed;
    int next, written, failed;
    std::string failure;
};

std::vector<uint8_t> Gzip_Member(libdeflate_compressor *compressor, const void *data, size_t size)
{
    std::vector<uint8_t> out(libdeflate_gzip_compress_bound(compressor, size));
    size_t length = libdeflate_gzip_compress(compressor, data, size, out.data(), out.size());
    out.resize(length);
    return out;
}

void Picture_Keep(AzVolume *volume, int slot, const int32_t *gli, const uint8_t *tag)
{
    size_t plane = static_cast<size_t>(volume->width) * volume->height;
    memcpy(&volume->gli[slot * plane], gli, plane * sizeof(int32_t));
    memcpy(&volume->tag[slot * plane], tag, plane);
}

/* Tags as the label values they stand for, 8 or 16 bits. */
std::vector<uint8_t> Tag_Values(const Export_Job *job, const std::vector<uint8_t> &tags)
{
    if (!job->wide_tags) {
        std::vector<uint8_t> values(tags.size());
        for (size_t i = 0; i < tags.size(); i++)
            values[i] = static_cast<uint8_t>(job->tag_values[tags[i]]);
        return values;
    }
    std::vector<uint8_t> values(tags.size() * sizeof(uint16_t));
    for (size_t i = 0; i < tags.size(); i++)
        memcpy(&values[i * sizeof(uint16_t)], &job->tag_values[tags[i]], sizeof(uint16_t));
    return values;
}

/* Reads and packs block b; 0 with the job's failure set. */
int Block_Make(Export_Job *job, int b, libdeflate_compressor *compressor)
{
    size_t plane = static_cast<size_t>(job->width) * job->height;
    int first = b * job->per_block;
    int count = std::min(job->per_block, static_cast<int>(job->frames.size()) - first);
    std::vector<int32_t> gli(plane);
    std::vector<uint8_t> tags(plane * count);
    std::vector<int16_t> grey(plane * count);
    int tagged = 0;
    for (int i = 0; i < count; i++) {
        int f = first + i;
        AzFrame *frame = job->frames[f];
        int w = 0, h = 0;
        Frame_Size(frame, &w, &h);
        if (w != job->width || h != job->height) {
            std::lock_guard<std::mutex> hold(job->lock);
            job->failure = "frames of different sizes";
            return 0;
        }
        uint8_t *tag = &tags[plane * i];
        if (job->read_tags)
            Frame_Read_Into(frame, job->width, job->height, gli.data(), tag);
        else
            Frame_Read_Grey(frame, job->width, job->height, gli.data());
        if (job->middle_slot[f] >= 0)
            Picture_Keep(&job->result->middle, job->middle_slot[f], gli.data(), tag);
        if (job->montage_slot[f] >= 0)
            Picture_Keep(&job->result->montage, job->montage_slot[f], gli.data(), tag);
        int16_t *out = &grey[plane * i];
        for (size_t p = 0; p < plane; p++) {
            int32_t value = gli[p];
            out[p] = value == AZ_GLI_INVALID ? job->outside
                                             : static_cast<int16_t>(std::min(32767, std::max(-32768, value)));
            tagged |= tag[p];
        }
    }
    Export_Block &block = job->blocks[b];
    if (!job->request->grey_path.empty()) {
        if (job->gzip_grey)
            block.grey = Gzip_Member(compressor, grey.data(), grey.size() * sizeof(int16_t));
        else
            block.grey.assign(reinterpret_cast<uint8_t *>(grey.data()),
                              reinterpret_cast<uint8_t *>(grey.data() + grey.size()));
    }
    if (!job->request->tags_path.empty()) {
        std::vector<uint8_t> values = Tag_Values(job, tags);
        block.tags = job->gzip_tags ? Gzip_Member(compressor, values.data(), values.size()) : std::move(values);
    }
    block.tagged = tagged != 0;
    return 1;
}

void Export_Worker(Export_Job *job)
{
    libdeflate_compressor *compressor = libdeflate_alloc_compressor(export_level);
    for (;;) {
        int b;
        {
            std::unique_lock<std::mutex> hold(job->lock);
            // Blocks wait in memory for the writer: a window bounds how many.
            job->changed.wait(hold, [job] {
                return job->failed || job->next >= job->blocks_nb || job->next < job->written + job->window;
            });
            if (job->failed || job->next >= job->blocks_nb)
                break;
            b = job->next++;
        }
        int made = compressor != nullptr && Block_Make(job, b, compressor);
        std::lock_guard<std::mutex> hold(job->lock);
        if (!made) {
            if (!compressor)
                job->failure = "out of memory";
            job->failed = 1;
        } else {
            job->blocks[b].ready = 1;
        }
        job->changed.notify_all();
    }
    libdeflate_free_compressor(compressor);
}

/* An open output file with its name for messages. */
struct Export_File {
    std::string path;
    FILE *file = nullptr;
};

int File_Put(Export_File *out, const void *data, size_t size, std::string *error)
{
    if (!out->file || size == 0)
        return 1;
    if (fwrite(data, 1, size, out->file) == size)
        return 1;
    *error = out->path + ": cannot write: " + strerror(errno ? errno : EIO);
    return 0;
}

int File_Open(Export_File *out, const std::string &path, std::string *error)
{
    out->path = path;
    if (path.empty())
        return 1;
    out->file = fopen(path.c_str(), "wb");
    if (out->file)
        return 1;
    *error = path + ": cannot create: " + strerror(errno);
    return 0;
}

int File_Close(Export_File *out, std::string *error)
{
    if (!out->file)
        return 1;
    int closed = fclose(out->file) == 0;
    out->file = nullptr;
    if (!closed)
        *error = out->path + ": cannot write: " + strerror(errno ? errno : EIO);
    return closed;
}

/* The header of a file, as the first part of its bytes (a gzip member of
 * its own when the file is compressed). */
int Header_Put(Export_File *out, const AzVolume &shape, int what, int gzip, std::string *error)
{
    if (!out->file)
        return 1;
    std::vector<uint8_t> bytes(sizeof(nifti_1_header) + 4, 0);
    nifti_1_header header;
    Header_Set(shape, what, &header);
    memcpy(bytes.data(), &header, sizeof(header));
    if (!gzip)
        return File_Put(out, bytes.data(), bytes.size(), error);
    libdeflate_compressor *compressor = libdeflate_alloc_compressor(export_level);
    if (!compressor) {
        *error = out->path + ": out of memory";
        return 0;
    }
    std::vector<uint8_t> member = Gzip_Member(compressor, bytes.data(), bytes.size());
    libdeflate_free_compressor(compressor);
    return File_Put(out, member.data(), member.size(), error);
}

void Picture_Volume(const AzVolume &shape, int depth, AzVolume *volume)
{
    *volume = shape;
    volume->depth = depth;
    volume->times = 1;
    size_t count = static_cast<size_t>(shape.width) * shape.height * depth;
    volume->gli.assign(count, AZ_GLI_INVALID);
    volume->tag.assign(count, 0);
}

void Frames_Keep_Pictured(Export_Job *job)
{
    std::vector<AzFrame *> frames;
    std::vector<int> middle, montage;
    for (size_t f = 0; f < job->frames.size(); f++)
        if (job->middle_slot[f] >= 0 || job->montage_slot[f] >= 0) {
            frames.push_back(job->frames[f]);
            middle.push_back(job->middle_slot[f]);
            montage.push_back(job->montage_slot[f]);
        }
    job->frames.swap(frames);
    job->middle_slot.swap(middle);
    job->montage_slot.swap(montage);
}

/* Frames, size, geometry and the picture slots of a job. */
int Job_Prepare(Kelvra_Class *cls, Export_Job *job, AzVolume *shape, std::string *error)
{
    std::vector<std::vector<AzFrame *>> by_time;
    if (!Frames_Collect(cls, &by_time, error))
        return 0;
    Frame_Size(by_time[0][0], &job->width, &job->height);
    if (job->width < 1 || job->height < 1) {
        *error = std::string("\"") + cls->Name_Get() + "\" has frames without pixels";
        return 0;
    }
    int depth = static_cast<int>(by_time[0].size());
    for (const std::vector<AzFrame *> &frames : by_time)
        job->frames.insert(job->frames.end(), frames.begin(), frames.end());
    AzExport_Result *result = job->result;
    result->width = shape->width = job->width;
    result->height = shape->height = job->height;
    result->depth = shape->depth = depth;
    result->times = shape->times = static_cast<int>(by_time.size());
    Affine_Set(by_time[0], job->width, job->height, shape->affine);
    memcpy(result->affine, shape->affine, sizeof(shape->affine));
    const Vexa_Image *header = by_time[0][0]->key;
    shape->display_mode = header->display_mode;
    shape->display_low = header->display_low;
    shape->display_high = header->display_high;
    job->middle_slot.assign(job->frames.size(), -1);
    job->montage_slot.assign(job->frames.size(), -1);
    if (job->request->keep_middle) {
        Picture_Volume(*shape, 1, &result->middle);
        job->middle_slot[depth / 2] = 0;
    }
    if (job->request->keep_montage) {
        std::vector<int> slices = AzMontage_Slices(depth);
        Picture_Volume(*shape, static_cast<int>(slices.size()), &result->montage);
        for (size_t i = 0; i < slices.size(); i++)
            job->montage_slot[slices[i]] = static_cast<int>(i);
    }
    // Pictures alone need only their frames.
    if (job->request->grey_path.empty() && job->request->tags_path.empty())
        Frames_Keep_Pictured(job);
    size_t plane = static_cast<size_t>(job->width) * job->height;
    job->per_block = job->request->block_frames > 0 ? job->request->block_frames
                                                    : static_cast<int>(std::max<size_t>(1, block_voxels / plane));
    job->blocks_nb = static_cast<int>((job->frames.size() + job->per_block - 1) / job->per_block);
    job->blocks.resize(job->blocks_nb);
    Study_Scan scan = Study_Scan_Of(cls);
    job->outside = static_cast<int16_t>(scan.lowest);
    // Frames show only the study's tags: without one, reading them gives zeros (the plain path reads them).
    job->read_tags = scan.tagged || !scan.complete || job->request->force_tags;
    // The file's width follows the label values of the tags the study holds (the frames show no others).
    job->wide_tags = 0;
    shape->tag.clear();
    for (int tag = 0; tag < 256; tag++) {
        job->tag_values[tag] = static_cast<uint16_t>(AzTags_Value(tag));
        if (scan.complete ? scan.present[tag] != 0 : tag > 0) {
            job->wide_tags |= job->tag_values[tag] > 255;
            shape->tag.push_back(static_cast<uint8_t>(tag)); // what the header's width is judged on
        }
    }
    job->gzip_grey = AzPath_Ends_With(job->request->grey_path, ".gz");
    job->gzip_tags = AzPath_Ends_With(job->request->tags_path, ".gz");
    job->next = job->written = job->failed = 0;
    return 1;
}

/* Writes the blocks in order as the workers finish them. */
int Blocks_Write(Export_Job *job, Export_File *grey, Export_File *tags, std::string *error)
{
    AzProgress progress;
    long frames_nb = static_cast<long>(job->frames.size());
    AzProgress_Start(&progress, "writing " + job->request->what, frames_nb >= progress_frame_min ? frames_nb : 0);
    int done = 1;
    for (int b = 0; b < job->blocks_nb && done; b++) {
        Export_Block block;
        {
            std::unique_lock<std::mutex> hold(job->lock);
            job->changed.wait(hold, [job, b] { return job->failed || job->blocks[b].ready; });
            if (job->failed) {
                *error = job->failure;
                done = 0;
                break;
            }
            block = std::move(job->blocks[b]);
            job->blocks[b] = Export_Block();
        }
        done = File_Put(grey, block.grey.data(), block.grey.size(), error) &&
               File_Put(tags, block.tags.data(), block.tags.size(), error);
        job->result->tagged |= block.tagged;
        std::lock_guard<std::mutex> hold(job->lock);
        job->written = b + 1;
        if (!done)
            job->failed = 1;
        job->changed.notify_all();
        AzProgress_Step(&progress, std::min<long>(static_cast<long>(job->written) * job->per_block,
                                                  static_cast<long>(job->frames.size())));
    }
    AzProgress_End(&progress);
    return done;
}

} // namespace

int AzExport_Class(Kelvra_Class *cls, const AzExport_Request &request, AzExport_Result *result, std::string *error)
{
    *result = AzExport_Result();
    Export_Job job;
    job.request = &request;
    job.result = result;
    AzVolume shape;
    if (!Job_Prepare(cls, &job, &shape, error))
        return 0;
    Export_File grey, tags;
    if (!File_Open(&grey, request.grey_path, error) || !File_Open(&tags, request.tags_path, error) ||
        !Header_Put(&grey, shape, AZ_EXPORT_GREY, job.gzip_grey, error) ||
        !Header_Put(&tags, shape, AZ_EXPORT_TAGS, job.gzip_tags, error)) {
        File_Close(&grey, error);
        File_Close(&tags, error);
        return 0;
    }
    int threads = std::min(AzExport_Threads(), job.blocks_nb);
    job.window = 2 * threads;
    std::vector<std::thread> workers;
    for (int i = 0; i < threads; i++)
        workers.emplace_back(Export_Worker, &job);
    std::string failure;
    int done = Blocks_Write(&job, &grey, &tags, &failure);
    for (std::thread &worker : workers)
        worker.join();
    if (!done)
        *error = std::string("\"") + cls->Name_Get() + "\": " + failure;
    std::string close_error;
    int closed = File_Close(&grey, &close_error) & File_Close(&tags, &close_error);
    if (done && !closed) {
        *error = close_error;
        done = 0;
    }
    return done;
}
