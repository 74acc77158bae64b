/*
 * Whether the frames below a class form one regular 3D volume.
 */
#include <math.h>

#include <mutex>
#include <vector>

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
