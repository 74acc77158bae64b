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

#include "../../host/corvantis_util.h"
#include "../../hostlib/structures/az_db.h"
#include "../../hostlib/structures/az_gl.h"
#include "az_labels.h"
#include "az_error.h"
#include "az_orient.h"
#include "az_path.h"
#include "az_progress_line.h"

AzVolume::AzVolume()
    : width(0), height(0), depth(0), times(0), affine{}, slope(1.0), intercept(0.0), display_mode(0),
      display_low(0.0f), display_high(0.0f)
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

/* A point of the class above a volume's frames, at fractional (x, y) and
 * slice offset z from frame 0: the frames of a re-sliced direction share
 * one image and differ by their slice only. */
struct Probe {
    AzFrame *frame;
    Kelvra_Class *parent;

    Vect Point(AzVec3 v) const
    {
        return Vect(static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(frame->z + v.z),
                    static_cast<float>(frame->t));
    }
    AzVec3 Pos(AzVec3 v) const { return Vec3_Of(parent->Pixel_Get_Pos(parent, frame->key, Point(v))); }
    bool Inside(AzVec3 v) const { return parent->Pixel_Get_GLI(parent, frame->key, Point(v)) != AZ_GLI_INVALID; }
};

/* One pixel of the sampling grid and its world position. */
struct Sample {
    AzVec3 v; /* (x, y, k) */
    AzVec3 world;
    bool inside;
};

std::vector<Sample> Samples_Take(const std::vector<AzFrame *> &frames, const AzVolume &volume)
{
    std::vector<Sample> samples;
    int depth = static_cast<int>(frames.size());
    int k_steps = std::min(depth, fit_samples);
    for (int a = 0; a < k_steps; a++) {
        int k = k_steps > 1 ? a * (depth - 1) / (k_steps - 1) : 0;
        for (int b = 0; b < fit_samples; b++)
            for (int c = 0; c < fit_samples; c++) {
                int x = b * (volume.width - 1) / (fit_samples - 1);
                int y = c * (volume.height - 1) / (fit_samples - 1);
                float fx = static_cast<float>(x), fy = static_cast<float>(y);
                AzVec3 world = Vec3_Of(AzFrame_Get_Pos(frames[k], fx, fy));
                // Read through the frame: a streamed export holds no pixels to look them up in.
                samples.push_back({{double(x), double(y), double(k)}, world,
                                   AzFrame_Get_GLI(frames[k], fx, fy) != AZ_GLI_INVALID});
            }
    }
    return samples;
}

/* Least-squares affine of the samples (inside ones when they fix it);
 * 0 when nothing fixes it. */
int Samples_Fit(const std::vector<Sample> &samples, int n, double solution[4][3])
{
    Affine_Fit fits[2]; // inside only, and every sample
    memset(fits, 0, sizeof(fits));
    for (const Sample &s : samples) {
        Fit_Add(&fits[1], s.v.x, s.v.y, s.v.z, s.world);
        if (s.inside)
            Fit_Add(&fits[0], s.v.x, s.v.y, s.v.z, s.world);
    }
    return Fit_Solve(fits[0], n, solution) || Fit_Solve(fits[1], n, solution);
}

AzVec3 Affine_Apply(const double solution[4][3], AzVec3 v)
{
    const double row[4] = {v.x, v.y, v.z, 1.0};
    double out[3] = {0, 0, 0};
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 3; c++)
            out[c] += row[r] * solution[r][c];
    return {out[0], out[1], out[2]};
}

/* Largest distance from an inside sample to the fitted affine. */
double Fit_Error(const std::vector<Sample> &samples, const double solution[4][3])
{
    double worst = 0.0;
    for (const Sample &s : samples)
        if (s.inside)
            worst = std::max(worst, AzVec3_Norm(AzVec3_Sub(Affine_Apply(solution, s.v), s.world)));
    return worst;
}

/* Positions an affine holds to exactly (float positions of a few hundred mm). */
const double fit_exact_mm = 1e-3;
/* Lines along which the depth of a re-sliced direction is found. */
const size_t lines_max = 48;
/* Bisection steps along a line: far below the float precision of a point. */
const int bisect_steps = 48;

/* Narrows [t_in, t_out] on the line from `from` along d to the point
 * where the line leaves the study (h_same null) or leaves the depth
 * h_same; t_in stays on the near side, t_out on the far one. */
void Bisect(const Probe &probe, AzVec3 from, AzVec3 d, double *t_in, double *t_out, const double *h_same,
            AzVec3 normal)
{
    for (int i = 0; i < bisect_steps; i++) {
        double mid = 0.5 * (*t_in + *t_out);
        AzVec3 v = AzVec3_Add(from, AzVec3_Scale(d, mid));
        bool same = h_same ? fabs(AzVec3_Dot(probe.Pos(v), normal) - *h_same) < fit_exact_mm : probe.Inside(v);
        *(same ? t_in : t_out) = mid;
    }
}

/* The inside end of the line from (inside) point v along +-d: its t. */
int Line_End(const Probe &probe, AzVec3 v, AzVec3 d, double sign, double *t_end)
{
    double t_in = 0.0;
    for (double step = 1.0; step < 1e6; step *= 2.0) {
        if (!probe.Inside(AzVec3_Add(v, AzVec3_Scale(d, sign * step)))) {
            double t_out = sign * step;
            Bisect(probe, v, d, &t_in, &t_out, nullptr, AzVec3{0, 0, 0});
            *t_end = t_in;
            return 1;
        }
        t_in = sign * step;
    }
    return 0;
}

/* Depth (along normal) of the point at t on the line. */
double Depth_At(const Probe &probe, AzVec3 v, AzVec3 d, double t, AzVec3 normal)
{
    return AzVec3_Dot(probe.Pos(AzVec3_Add(v, AzVec3_Scale(d, t))), normal);
}

/* A re-sliced pixel is placed on the source slice it is read from: along
 * the source normal its position is the slice's, not its own.  On the
 * line through v along which only that depth changes, the first source
 * slice is read over two slice widths (from -1 to +1: the slice index is
 * cut toward zero) and every other slice over one, up to one width past
 * the last.  The first step from the long end then gives the true depth
 * at v and its change per unit of t.  The depth given is half a slice
 * less: a pixel reads the slice below it (the index is cut), so its
 * values stand for the point half a slice back, on average, and the slice
 * it reads is the one nearest that point.  1 with them, 0 when the line
 * does not show these steps. */
int Depth_Along(const Probe &probe, AzVec3 v, AzVec3 d, AzVec3 normal, double *depth, double *per_t)
{
    double end[2];
    if (!Line_End(probe, v, d, -1.0, &end[0]) || !Line_End(probe, v, d, 1.0, &end[1]))
        return 0;
    double h_end[2] = {Depth_At(probe, v, d, end[0], normal), Depth_At(probe, v, d, end[1], normal)};
    if (fabs(h_end[0] - h_end[1]) < fit_exact_mm)
        return 0;
    double step_in[2], step_out[2], run[2];
    for (int e = 0; e < 2; e++) {
        step_in[e] = end[e];
        step_out[e] = end[1 - e];
        Bisect(probe, v, d, &step_in[e], &step_out[e], &h_end[e], normal);
        run[e] = fabs(step_in[e] - end[e]);
    }
    int first = run[0] > run[1] ? 0 : 1; // the end where the first slice lies
    double ratio = run[first] / run[1 - first];
    if (!(ratio > 1.9 && ratio < 2.1))
        return 0;
    double slice = Depth_At(probe, v, d, step_out[first], normal) - h_end[first]; // signed
    *per_t = 2.0 * slice / (step_in[first] - end[first]);
    double h_step = h_end[first] + slice;
    // The far end lies one slice past the last slice.
    if (fabs(h_step + (end[1 - first] - step_in[first]) * *per_t - (h_end[1 - first] + slice)) > 0.05 * fabs(slice))
        return 0;
    // The depth written is half a slice back: the slice the pixel reads is then the one nearest to it.
    *depth = h_step - step_in[first] * *per_t - 0.5 * slice;
    return 1;
}

AzVec3 Column(const double solution[4][3], int c) { return {solution[c][0], solution[c][1], solution[c][2]}; }

/* The source slices' normal, as a re-sliced direction's positions show it:
 * a fit through the steps errs along that normal only, so the largest miss
 * shows it; when every position fell on one slice, the fit's two longest
 * axes span that slice.  Zero when neither tells. */
AzVec3 Source_Normal(const std::vector<Sample> &samples, const double fitted[4][3])
{
    AzVec3 normal = {0, 0, 0};
    for (const Sample &s : samples) {
        AzVec3 miss = AzVec3_Sub(s.world, Affine_Apply(fitted, s.v));
        if (s.inside && AzVec3_Norm(miss) > AzVec3_Norm(normal))
            normal = miss;
    }
    if (AzVec3_Norm(normal) > fit_exact_mm)
        return AzVec3_Unit(normal);
    int shortest = 0;
    for (int c = 1; c < 3; c++)
        if (AzVec3_Norm(Column(fitted, c)) < AzVec3_Norm(Column(fitted, shortest)))
            shortest = c;
    AzVec3 across = AzVec3_Cross(Column(fitted, shortest == 0 ? 1 : 0), Column(fitted, shortest == 2 ? 1 : 2));
    return AzVec3_Norm(across) > 1e-9 ? AzVec3_Unit(across) : AzVec3{0, 0, 0};
}

/* Whether a fit's axes span a volume (n = 4) or a plane (n = 3, one frame). */
bool Fit_Spans(const double solution[4][3], int n)
{
    AzVec3 x = Column(solution, 0), y = Column(solution, 1), z = Column(solution, 2);
    double sizes = AzVec3_Norm(x) * AzVec3_Norm(y) * (n == 4 ? AzVec3_Norm(z) : 1.0);
    double spanned = n == 4 ? fabs(AzVec3_Dot(AzVec3_Cross(x, y), z)) : AzVec3_Norm(AzVec3_Cross(x, y));
    return sizes > 0.0 && spanned > 1e-3 * sizes;
}

/* The affine of a re-sliced direction from the steps of its positions:
 * the in-plane part of every position is exact, the depth of chosen
 * points is found along lines (Depth_Along).  0 when the frames are not
 * slices of one image or the positions show no such steps. */
int Stepped_Fit(const std::vector<AzFrame *> &frames, const std::vector<Sample> &samples, int n,
                const double fitted[4][3], double solution[4][3])
{
    for (size_t k = 0; k < frames.size(); k++)
        if (frames[k]->key != frames[0]->key || frames[k]->z != frames[0]->z + static_cast<int>(k))
            return 0;
    Probe probe = {frames[0], frames[0]->Parent_Get_Pt()};
    if (!probe.parent || !probe.parent->Pixel_Get_Pos || !probe.parent->Pixel_Get_GLI)
        return 0;
    AzVec3 normal = Source_Normal(samples, fitted);
    if (AzVec3_Norm(normal) < 0.5)
        return 0;
    // The in-plane part of the positions, fitted: the line along which it stays put is the depth's.
    std::vector<Sample> plane = samples;
    if (n == 3) // one frame: the next slice of its class fixes the slice axis
        for (const Sample &s : samples) {
            AzVec3 v = {s.v.x, s.v.y, 1.0};
            plane.push_back({v, probe.Pos(v), probe.Inside(v)});
        }
    for (Sample &s : plane)
        s.world = AzVec3_Sub(s.world, AzVec3_Scale(normal, AzVec3_Dot(s.world, normal)));
    double in_plane[4][3] = {};
    if (!Samples_Fit(plane, 4, in_plane))
        return 0;
    AzVec3 e1 = AzVec3_Unit(AzVec3_Cross(normal, fabs(normal.x) < 0.9 ? AzVec3{1, 0, 0} : AzVec3{0, 1, 0}));
    AzVec3 e2 = AzVec3_Cross(normal, e1);
    AzVec3 r1 = {0, 0, 0}, r2 = {0, 0, 0};
    const AzVec3 columns[3] = {{in_plane[0][0], in_plane[0][1], in_plane[0][2]},
                               {in_plane[1][0], in_plane[1][1], in_plane[1][2]},
                               {in_plane[2][0], in_plane[2][1], in_plane[2][2]}};
    double *r1_c[3] = {&r1.x, &r1.y, &r1.z}, *r2_c[3] = {&r2.x, &r2.y, &r2.z};
    for (int i = 0; i < 3; i++) {
        *r1_c[i] = AzVec3_Dot(e1, columns[i]);
        *r2_c[i] = AzVec3_Dot(e2, columns[i]);
    }
    AzVec3 d = AzVec3_Cross(r1, r2);
    if (AzVec3_Norm(d) < 1e-9)
        return 0;
    d = AzVec3_Unit(d);
    Affine_Fit fit;
    memset(&fit, 0, sizeof(fit));
    size_t inside_nb = 0;
    for (const Sample &s : plane)
        inside_nb += s.inside;
    // A line costs a few hundred pixel calls: lines_max of them, spread over the grid, fix the depth.
    size_t stride = std::max<size_t>(1, inside_nb / lines_max), seen = 0;
    for (size_t i = 0; i < plane.size(); i++) {
        double depth, per_t;
        if (!plane[i].inside || seen++ % stride != 0 || !Depth_Along(probe, plane[i].v, d, normal, &depth, &per_t))
            continue;
        // The depth is known all along the line: its next point too, so that the fit spans the line's direction.
        for (int t = 0; t < 2; t++) {
            AzVec3 v = AzVec3_Add(plane[i].v, AzVec3_Scale(d, t));
            Fit_Add(&fit, v.x, v.y, v.z, AzVec3_Add(plane[i].world, AzVec3_Scale(normal, depth + t * per_t)));
        }
    }
    return Fit_Solve(fit, 4, solution);
}

/* World geometry from the world positions of the frames' pixels: an
 * affine fitted to a grid of pixels, those inside the study when they are
 * enough.  A re-sliced direction places each pixel on the source slice it
 * is read from, so its positions step between slices; a fit through the
 * steps tilts the axes (by up to 72 degrees for a study of two slices),
 * so such a direction takes its depth from the steps themselves
 * (Stepped_Fit).  Returns how far (mm) the frames' own positions lie off
 * the affine when no affine holds them (unevenly spaced frames), else 0. */
double Affine_Set(const std::vector<AzFrame *> &frames, AzVolume *volume)
{
    int depth = static_cast<int>(frames.size());
    std::vector<Sample> samples = Samples_Take(frames, *volume);
    double solution[4][3] = {};
    int n = depth > 1 ? 4 : 3;
    Samples_Fit(samples, n, solution);
    // Positions off the fit, or an axis lost because every pixel along it fell on one source slice.
    bool stepped = false;
    double miss = Fit_Error(samples, solution);
    if (miss > fit_exact_mm || !Fit_Spans(solution, n)) {
        double exact[4][3] = {};
        stepped = Stepped_Fit(frames, samples, n, solution, exact);
        if (stepped)
            memcpy(solution, exact, sizeof(solution));
    }
    if (n == 3 && !stepped) {
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
    return stepped || miss <= fit_exact_mm ? 0.0 : miss;
}

/* Frames' grey levels and tags (tag null: grey levels only), frame after
 * frame in the buffers, as host views read them.  The export already runs
 * a thread per core: each block of frames on its own thread. */
void Frames_Read(AzFrame *const *frames, int count, int width, int height, int32_t *gli, uint8_t *tag)
{
    AzFrame_Read_Many(frames, count, width, height, gli, tag, 1);
}

void Frame_Read(AzFrame *frame, AzVolume *volume, int k, int t)
{
    size_t first = volume->Index(0, 0, k, t);
    AzFrame_Read(frame, volume->width, volume->height, &volume->gli[first], &volume->tag[first], 0);
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
    volume->slope = header->rescale_slope != 0.0f ? header->rescale_slope : 1.0;
    volume->intercept = header->rescale_slope != 0.0f ? header->rescale_intercept : 0.0;
    volume->display_mode = header->display_mode;
    volume->display_low = header->display_low;
    volume->display_high = header->display_high;
    AzProgressLine progress;
    long total = static_cast<long>(volume->depth) * volume->times;
    AzProgressLine_Start(&progress, std::string("reading ") + cls->Name_Get(), total >= progress_frame_min ? total : 0);
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
            AzProgressLine_Step(&progress, static_cast<long>(t) * volume->depth + k + 1);
        }
    double miss = Affine_Set(first, volume);
    Vect size = AzImage_Pixel_Size(first[0]->key);
    if (miss > 0.1 * std::min(size.x, size.y))
        AzError(AZ_EXIT_INPUT, "\"%s\": its frames do not lie on one grid (up to %.2f mm off): the geometry written is "
                  "their best fit", cls->Name_Get(), miss);
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

/* One fill for every point outside the study, whatever the angle: the
 * level nearest the real value 0. */
int16_t Grey_Outside(const AzVolume &volume)
{
    double level = floor(-volume.intercept / volume.slope + 0.5);
    return static_cast<int16_t>(std::min(32767.0, std::max(-32768.0, level)));
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

/* Whether the qform says what the sform says: at every corner of the
 * volume within a tenth of the smallest voxel side.  Sheared axes have no
 * quaternion; a reader is then better off with the sform alone. */
bool Qform_Agrees(const AzVolume &volume, const nifti_dmat44 &sform, const nifti_dmat44 &qform, double voxel_min)
{
    for (int corner = 0; corner < 8; corner++) {
        double ijk[3] = {corner & 1 ? volume.width - 1.0 : 0.0, corner & 2 ? volume.height - 1.0 : 0.0,
                         corner & 4 ? volume.depth - 1.0 : 0.0};
        double distance2 = 0.0;
        for (int r = 0; r < 3; r++) {
            double a = sform.m[r][3], b = qform.m[r][3];
            for (int c = 0; c < 3; c++) {
                a += sform.m[r][c] * ijk[c];
                b += qform.m[r][c] * ijk[c];
            }
            distance2 += (a - b) * (a - b);
        }
        if (sqrt(distance2) > 0.1 * voxel_min)
            return false;
    }
    return true;
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
    if (what == AZ_EXPORT_GREY) {
        header->scl_slope = static_cast<float>(volume.slope);
        header->scl_inter = static_cast<float>(volume.intercept);
    }
    if (what == AZ_EXPORT_GREY && volume.display_high > volume.display_low) {
        header->cal_min = static_cast<float>(volume.display_low * volume.slope + volume.intercept);
        header->cal_max = static_cast<float>(volume.display_high * volume.slope + volume.intercept);
    }
    nifti_dmat44 qform = nifti_quatern_to_dmat44(qb, qc, qd, qx, qy, qz, dx, dy, dz, qfac);
    bool qform_used = Qform_Agrees(volume, ras, qform, std::min(dx, std::min(dy, dz)));
    header->qform_code = qform_used ? NIFTI_XFORM_SCANNER_ANAT : NIFTI_XFORM_UNKNOWN;
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

int16_t AzVolume_Grey_Outside(const AzVolume &volume) { return Grey_Outside(volume); }

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
    int mirror_x, mirror_y;
    AzOrient_Mirror({volume.affine[0][0], volume.affine[1][0], volume.affine[2][0]},
                    {volume.affine[0][1], volume.affine[1][1], volume.affine[2][1]}, &mirror_x, &mirror_y);
    for (int y = 0; y < volume.height; y++)
        for (int x = 0; x < volume.width; x++) {
            size_t index = volume.Index(x, y, k, t);
            uint32_t grey = layer.scheme == 0 ? 0xff000000u : Fct_GLI_2_Color(static_cast<int>(volume.gli[index]));
            size_t shown = static_cast<size_t>(mirror_y ? volume.height - 1 - y : y) * volume.width +
                           (mirror_x ? volume.width - 1 - x : x);
            rgba[shown] = AzTag_Over(&layer, grey, volume.tag[index]);
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
/* Voxels a block of frames aims at: big enough for compression to pay and
 * for the frames read together to share the study's pixels in cache (a
 * dozen 0.5 mm frames), small enough to keep every core busy to the end. */
const size_t block_voxels = 1u << 21;

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
        const uint8_t *tag = AzImage_TAG_Plane(key, frame->z, frame->t);
        size_t count = static_cast<size_t>(key->pixels_pt->width) * key->pixels_pt->height;
        int tagged = 0;
        for (size_t p = 0; p < count; p++)
            tagged |= tag[p];
        scan->tagged |= tagged != 0;
        if (tagged)
            for (size_t p = 0; p < count; p++)
                scan->present[tag[p]] = 1;
    }
}

/* Whether the study holds any tag, and which. */
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

/* A worker's buffers, kept from block to block: a block's buffers are
 * megabytes, and fresh ones would each be mapped, faulted in and zeroed. */
struct Block_Buffers {
    std::vector<int32_t> gli;
    std::vector<uint8_t> tags;
    std::vector<int16_t> grey;
};

/* Reads and packs block b; 0 with the job's failure set. */
int Block_Make(Export_Job *job, int b, libdeflate_compressor *compressor, Block_Buffers *buffers)
{
    size_t plane = static_cast<size_t>(job->width) * job->height;
    int first = b * job->per_block;
    int count = std::min(job->per_block, static_cast<int>(job->frames.size()) - first);
    for (int i = 0; i < count; i++) {
        int w = 0, h = 0;
        Frame_Size(job->frames[first + i], &w, &h);
        if (w != job->width || h != job->height) {
            std::lock_guard<std::mutex> hold(job->lock);
            job->failure = "frames of different sizes";
            return 0;
        }
    }
    std::vector<int32_t> &gli = buffers->gli;
    std::vector<uint8_t> &tags = buffers->tags;
    std::vector<int16_t> &grey = buffers->grey;
    gli.resize(plane * count);
    grey.resize(plane * count);
    tags.resize(plane * count);
    if (!job->read_tags)
        std::fill(tags.begin(), tags.end(), 0);
    // The block's frames read together: neighbouring frames share most of the study's pixels they read.
    Frames_Read(&job->frames[first], count, job->width, job->height, gli.data(),
                job->read_tags ? tags.data() : nullptr);
    int tagged = 0;
    for (int i = 0; i < count; i++) {
        int f = first + i;
        const int32_t *levels = &gli[plane * i];
        const uint8_t *tag = &tags[plane * i];
        if (job->middle_slot[f] >= 0)
            Picture_Keep(&job->result->middle, job->middle_slot[f], levels, tag);
        if (job->montage_slot[f] >= 0)
            Picture_Keep(&job->result->montage, job->montage_slot[f], levels, tag);
        int16_t *out = &grey[plane * i];
        for (size_t p = 0; p < plane; p++) {
            int32_t value = levels[p];
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
    Block_Buffers buffers;
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
        int made = compressor != nullptr && Block_Make(job, b, compressor, &buffers);
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
    double miss = Affine_Set(by_time[0], shape);
    Vect size = AzImage_Pixel_Size(by_time[0][0]->key);
    if (miss > 0.1 * std::min(size.x, size.y))
        AzError(AZ_EXIT_INPUT, "\"%s\": its frames do not lie on one grid (up to %.2f mm off): the geometry written is "
                  "their best fit", cls->Name_Get(), miss);
    memcpy(result->affine, shape->affine, sizeof(shape->affine));
    const Vexa_Image *header = by_time[0][0]->key;
    shape->slope = header->rescale_slope != 0.0f ? header->rescale_slope : 1.0;
    shape->intercept = header->rescale_slope != 0.0f ? header->rescale_intercept : 0.0;
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
    job->outside = Grey_Outside(*shape);
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
    AzProgressLine progress;
    long frames_nb = static_cast<long>(job->frames.size());
    AzProgressLine_Start(&progress, "writing " + job->request->what, frames_nb >= progress_frame_min ? frames_nb : 0);
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
        AzProgressLine_Step(&progress, std::min<long>(static_cast<long>(job->written) * job->per_block,
                                                  static_cast<long>(job->frames.size())));
    }
    AzProgressLine_End(&progress);
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
