/*
 * Points and boxes of the database.
 */
#include "../../host/kelvra_structures.h"

/* Empty box bounds: any added point replaces them. */
static const float EMPTY_MIN = 100000.0f;
static const float EMPTY_MAX = -100000.0f;

Point_3D Point_3D::operator*=(const Matrix_4x4 &m)
{
    Vect v(x, y, z);
    v *= m;
    x = v.x;
    y = v.y;
    z = v.z;
    return *this;
}

static bool Box_Empty(const float *min, const float *max, int axes)
{
    for (int i = 0; i < axes; i++)
        if (min[i] > max[i])
            return true;
    return false;
}

/* Replaces the (x, y, z) part of a box by the bounding box of its eight
 * transformed corners; an empty box stays empty. */
static void Box_Transform(float *min, float *max, const Matrix_4x4 &m)
{
    if (Box_Empty(min, max, 3))
        return;
    float lo[3] = {EMPTY_MIN, EMPTY_MIN, EMPTY_MIN};
    float hi[3] = {EMPTY_MAX, EMPTY_MAX, EMPTY_MAX};
    for (int corner = 0; corner < 8; corner++) {
        Vect v(corner & 1 ? max[0] : min[0], corner & 2 ? max[1] : min[1], corner & 4 ? max[2] : min[2]);
        v *= m;
        const float c[3] = {v.x, v.y, v.z};
        for (int i = 0; i < 3; i++) {
            if (c[i] < lo[i])
                lo[i] = c[i];
            if (c[i] > hi[i])
                hi[i] = c[i];
        }
    }
    for (int i = 0; i < 3; i++) {
        min[i] = lo[i];
        max[i] = hi[i];
    }
}

static void Box_Add(float *min, float *max, const float *p, int axes)
{
    for (int i = 0; i < axes; i++) {
        if (p[i] < min[i])
            min[i] = p[i];
        if (p[i] > max[i])
            max[i] = p[i];
    }
}

void Region_3D::Clear()
{
    for (int i = 0; i < 3; i++) {
        min[i] = EMPTY_MIN;
        max[i] = EMPTY_MAX;
    }
}

void Region_3D::Add(float px, float py, float pz)
{
    const float p[3] = {px, py, pz};
    Box_Add(min, max, p, 3);
}

Region_3D &Region_3D::operator*=(const Matrix_4x4 &m)
{
    Box_Transform(min, max, m);
    return *this;
}

void Region_4D::Clear()
{
    for (int i = 0; i < 4; i++) {
        min[i] = EMPTY_MIN;
        max[i] = EMPTY_MAX;
    }
}

void Region_4D::Add(float px, float py, float pz, float pt)
{
    const float p[4] = {px, py, pz, pt};
    Box_Add(min, max, p, 4);
}

Region_4D &Region_4D::operator*=(const Matrix_4x4 &m)
{
    Box_Transform(min, max, m);
    return *this;
}
