/*
 * Whether the frames below a class form one regular 3D volume.
 */
#include <math.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "../../host/corvantis_util.h"
#include "az_db_private.h"

namespace {

const unsigned int GROUP_UNUSABLE = 0x80000000u;
const unsigned int GROUP_SINGLE = 0x40000000u;
const unsigned int GROUP_RESOLUTION = 0x01000000u;
const unsigned int GROUP_PIXEL_SIZE = 0x02000000u;
const unsigned int GROUP_NOT_PARALLEL = 0x20000000u;
const unsigned int GROUP_NOT_ALIGNED = 0x10000000u;
const unsigned int GROUP_SAME_POSITION = 0x00020000u;
const unsigned int GROUP_NOT_SORTED = 0x00010000u;

/* How far a gap between neighbouring frames may stray from the usual gap,
 * as a fraction of it: far above the rounding of positions written as
 * decimal text, far below a missing or a doubled slice. */
const double spacing_tolerance = 0.01;

/* One frame as the test sees it. */
struct Frame_Geometry {
    const Vexa_Image *image;
    Vect position;  /* world position of its pixel (0, 0) */
};

bool Size_Differs(float a, float b) { return fabs((double)a - b) > 1e-3 * fmax(fabs((double)a), fabs((double)b)); }

double Length(const Vect &v) { return sqrt(azdb::Dot(v, v)); }

/* The frames loading filed below cls, in location order: what the class
 * recorded, whatever sits below it now (a direction switched off has no
 * frames, yet its study is still the same volume).  A class that loading
 * never reached (built by hand) is judged by its frames in child order.
 * False when one is not a usable frame. */
bool Frames_Collect(Kelvra_Class *cls, std::vector<Frame_Geometry> &out)
{
    std::lock_guard<std::recursive_mutex> hold(azdb::Mutex());
    for (const azdb::Recorded_Frame &frame : azdb::Class_Frames_Recorded(cls))
        out.push_back({frame.image, AzImage_Pos(frame.image, 0.0f, 0.0f, (float)frame.z)});
    if (!out.empty())
        return true;
    int nb = cls->Child_Get_Nb();
    for (int i = 0; i < nb; i++) {
        AzFrame *frame = AzFrame_Cast(cls->Child_Get_Pt(i));
        if (!frame || !frame->key)
            return false;
        out.push_back({frame->key, AzImage_Pos(frame->key, 0.0f, 0.0f, (float)frame->z)});
    }
    return !out.empty();
}

/* Whether sorted frames follow each other at one step along the normal: a
 * re-slice places every frame at index * step, so a missing slice or a
 * change of spacing would put voxels where they were not measured.  When
 * not, says which series, where and by how much. */
bool Spacing_Even(const std::vector<Frame_Geometry> &frames, const std::vector<double> &depth)
{
    size_t n = depth.size();
    if (n < 3)
        return true;
    std::vector<double> gaps;
    for (size_t i = 1; i < n; i++)
        gaps.push_back(fabs(depth[i] - depth[i - 1]));
    std::vector<double> sorted = gaps;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    double usual = sorted[sorted.size() / 2];
    size_t first = gaps.size(), uneven = 0;
    for (size_t i = 0; i < gaps.size(); i++)
        if (fabs(gaps[i] - usual) > spacing_tolerance * usual) {
            first = std::min(first, i);
            uneven++;
        }
    if (!uneven)
        return true;
    const Vexa_Image *image = frames[first].image;
    Error_Fct(hwnd, 2,
              "%s: uneven slice spacing: %.4g mm between frames %d and %d (%.2f and %.2f mm from the first frame) "
              "where the usual step is %.4g mm; %d of %d steps differ by more than %g%%: not a 3D group",
              image->series_description, gaps[first], (int)first, (int)first + 1, depth[first], depth[first + 1],
              usual, (int)uneven, (int)gaps.size(), spacing_tolerance * 100.0);
    return false;
}

unsigned int Frames_Test(const std::vector<Frame_Geometry> &frames)
{
    unsigned int bits = 0;
    const Vexa_Image *first = frames[0].image;
    Vect first_size = AzImage_Pixel_Size(first);
    Vect normal = first->axis_normal;
    double normal_length = Length(normal);
    if (normal_length <= 0.0)
        return GROUP_UNUSABLE;
    normal = (float)(1.0 / normal_length) * normal;
    std::vector<double> depth;
    double off_axis = 0.0;
    for (const Frame_Geometry &f : frames) {
        if (f.image->width != first->width || f.image->height != first->height)
            bits |= GROUP_RESOLUTION;
        Vect size = AzImage_Pixel_Size(f.image);
        if (Size_Differs(size.x, first_size.x) || Size_Differs(size.y, first_size.y))
            bits |= GROUP_PIXEL_SIZE;
        double own = Length(f.image->axis_normal);
        if (own <= 0.0 || fabs(azdb::Dot(f.image->axis_normal, normal)) / own < 0.9999)
            bits |= GROUP_NOT_PARALLEL;
        Vect step = f.position - frames[0].position;
        double along = azdb::Dot(step, normal);
        double rest = azdb::Dot(step, step) - along * along;
        off_axis = fmax(off_axis, sqrt(fmax(rest, 0.0)));
        depth.push_back(along);
    }
    size_t n = depth.size();
    double lowest = depth[0], highest = depth[0];
    for (double d : depth) {
        lowest = fmin(lowest, d);
        highest = fmax(highest, d);
    }
    /* Mean slice spacing; a stack at one place falls back to the pixel size. */
    double spacing = (highest - lowest) / (double)(n - 1);
    if (spacing <= 0.0)
        spacing = first_size.x > 0.0f ? first_size.x : 1.0;
    if (off_axis > 1e-3 * spacing)
        bits |= GROUP_NOT_ALIGNED;
    for (size_t i = 0; i < n && !(bits & GROUP_SAME_POSITION); i++)
        for (size_t j = i + 1; j < n; j++)
            if (frames[i].position.dist(frames[j].position) < 1e-4f) {
                bits |= GROUP_SAME_POSITION;
                break;
            }
    bool rising = true, falling = true;
    for (size_t i = 1; i < n; i++) {
        if (depth[i] < depth[i - 1])
            rising = false;
        if (depth[i] > depth[i - 1])
            falling = false;
    }
    if (!rising && !falling)
        bits |= GROUP_NOT_SORTED;
    if (!(bits & (GROUP_NOT_SORTED | GROUP_SAME_POSITION)) && !Spacing_Even(frames, depth))
        bits |= GROUP_UNUSABLE | AZ_GROUP_UNEVEN;
    return bits;
}

}  // namespace

unsigned int Fct_Group_Test(Kelvra_Class *cls)
{
    if (azdb::Trace_Active())
        azdb::Trace("Fct_Group_Test %s", cls ? cls->Name_Get() : "(null)");
    std::vector<Frame_Geometry> frames;
    if (!cls || !Frames_Collect(cls, frames))
        return GROUP_UNUSABLE;
    if (frames.size() == 1)
        return GROUP_SINGLE;
    return Frames_Test(frames);
}
