/*
 * Segment against plane, for the views that draw where a plane cuts a box.
 */
#include "az_gl.h"

#define SEGMENT_MISSES (-549755813888.0f)

static float Plane_Side(const Point_3D *p, const Point_3D *normal, float d)
{
    return normal->x * p->x + normal->y * p->y + normal->z * p->z + d;
}

/* The result is the meeting point's place along a-b (0 at a, 1 at b). */
float GEMS_3D_Intersect_Segment_Plane(Point_3D *a, Point_3D *b, Point_3D *normal, float *d, Point_3D *out)
{
    float side_a = Plane_Side(a, normal, *d);
    float side_b = Plane_Side(b, normal, *d);
    if ((side_a > 0.0f && side_b > 0.0f) || (side_a < 0.0f && side_b < 0.0f))
        return SEGMENT_MISSES;
    /* A segment lying in the plane has no single meeting point. */
    if (side_a == side_b)
        return SEGMENT_MISSES;
    float t = side_a / (side_a - side_b);
    out->kind = 1;
    out->x = a->x + t * (b->x - a->x);
    out->y = a->y + t * (b->y - a->y);
    out->z = a->z + t * (b->z - a->z);
    return t;
}
