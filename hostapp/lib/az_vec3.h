/*
 * Points and directions in the patient's world: millimetres along the LPS
 * axes, as every reader and writer of the host program places images.
 */
#ifndef AZ_VEC3_H
#define AZ_VEC3_H

#include <math.h>

struct AzVec3 {
    double x, y, z;
};

inline AzVec3 AzVec3_Add(AzVec3 a, AzVec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline AzVec3 AzVec3_Sub(AzVec3 a, AzVec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline AzVec3 AzVec3_Scale(AzVec3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline double AzVec3_Dot(AzVec3 a, AzVec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline AzVec3 AzVec3_Cross(AzVec3 a, AzVec3 b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double AzVec3_Norm(AzVec3 a) { return sqrt(AzVec3_Dot(a, a)); }
/* a / |a|; a itself when it has no length. */
inline AzVec3 AzVec3_Unit(AzVec3 a)
{
    double norm = AzVec3_Norm(a);
    return norm > 0.0 ? AzVec3_Scale(a, 1.0 / norm) : a;
}

#endif
