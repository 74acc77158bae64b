/*
 * Corvantis_Util: the host's vector and matrix types, its message console
 * and its main window handle.
 *
 * Geometry convention: points are row vectors.  Transforming a point p by
 * a matrix m gives, for j = 0..2,
 *     p'[j] = p.x*m[0][j] + p.y*m[1][j] + p.z*m[2][j] + m[3][j]
 * so translations live in row 3.  Every elementary operation with combine
 * mode `post` (2) appends: afterwards a point goes through the old matrix
 * first, then through the new operation (m = m * op).
 */
#ifndef CORVANTIS_UTIL_H
#define CORVANTIS_UTIL_H

#include <emmintrin.h>
#include <string.h>

#include "az_win32.h"

class Matrix_4x4;

/* Four floats, copied by value.  16 bytes, no padding. */
class AZ_EXPORT Vect {
  public:
    float x, y, z, w;

    Vect() : x(0.0f), y(0.0f), z(0.0f), w(0.0f) {}
    Vect(float vx, float vy, float vz, float vw = 0.0f) : x(vx), y(vy), z(vz), w(vw) {}

    void set(float vx, float vy, float vz, float vw = 0.0f)
    {
        x = vx;
        y = vy;
        z = vz;
        w = vw;
    }

    /* Transforms this point in place (row vector, see above); w is kept. */
    Vect operator*=(const Matrix_4x4 &m);
    Vect &operator+=(const Vect &b)
    {
        x += b.x;
        y += b.y;
        z += b.z;
        w += b.w;
        return *this;
    }
    /* Euclidean distance of the (x, y, z) parts. */
    float dist(const Vect &b) const;
    float norm() const;
};

inline Vect operator+(const Vect &a, const Vect &b) { return Vect(a.x + b.x, a.y + b.y, a.z + b.z, a.w + b.w); }
inline Vect operator-(const Vect &a, const Vect &b) { return Vect(a.x - b.x, a.y - b.y, a.z - b.z, a.w - b.w); }
inline Vect operator*(float s, const Vect &a) { return Vect(s * a.x, s * a.y, s * a.z, s * a.w); }
inline Vect operator*(const Vect &a, float s) { return Vect(s * a.x, s * a.y, s * a.z, s * a.w); }

/* 4x4 floats, 64 bytes; element (i, j) is m[i][j], row i, column j. */
class AZ_EXPORT Matrix_4x4 {
  public:
    /* How an elementary operation meets the matrix already held:
     * replace it, prepend (op first, then old) or post (old first, then op). */
    enum combine { replace = 0, pre = 1, post = 2 };

    float m[4][4];

    Matrix_4x4();               /* identity */
    Matrix_4x4(float m00, float m01, float m02, float m03, float m10, float m11, float m12, float m13, float m20,
               float m21, float m22, float m23, float m30, float m31, float m32, float m33);

    float *operator[](int i) { return m[i]; }
    const float *operator[](int i) const { return m[i]; }

    void init();                                     /* identity */
    void rot_x(float radians, combine how);
    void rot_y(float radians, combine how);
    void rot_z(float radians, combine how);
    void translate(float tx, float ty, float tz, combine how);
    void scale(float sx, float sy, float sz, combine how);
    void apply(const Matrix_4x4 &op, combine how);

    Matrix_4x4 &operator*=(const Matrix_4x4 &b);  /* append b: this = this * b */
    Matrix_4x4 operator!() const;                 /* inverse; identity when singular */
    Matrix_4x4 operator~() const;                 /* transpose */
    int operator==(const Matrix_4x4 &b) const;    /* non-zero when every element is equal */
};

/* Inline: every re-sliced pixel goes through one such transform.  The
 * three results are the lanes of one packed sum, each lane summed in the
 * order written above (x term, y term, z term, row 3): the same roundings
 * as three scalar sums, in about half the instructions. */
inline Vect Vect::operator*=(const Matrix_4x4 &mat)
{
    const float(*m)[4] = mat.m;
    // The point by halves (x y, z w), as a point passed by value arrives, in
    // two registers: taken so, it stays in them.  (A point just written a
    // float at a time is read back from memory a little later.)
    double low, high;
    memcpy(&low, &x, sizeof(low));
    memcpy(&high, &z, sizeof(high));
    __m128 xy = _mm_castpd_ps(_mm_set_sd(low)), zw = _mm_castpd_ps(_mm_set_sd(high));
    __m128 sum = _mm_mul_ps(_mm_shuffle_ps(xy, xy, 0x00), _mm_loadu_ps(m[0]));
    sum = _mm_add_ps(sum, _mm_mul_ps(_mm_shuffle_ps(xy, xy, 0x55), _mm_loadu_ps(m[1])));
    sum = _mm_add_ps(sum, _mm_mul_ps(_mm_shuffle_ps(zw, zw, 0x00), _mm_loadu_ps(m[2])));
    sum = _mm_add_ps(sum, _mm_loadu_ps(m[3]));
    x = _mm_cvtss_f32(sum);
    y = _mm_cvtss_f32(_mm_shuffle_ps(sum, sum, 1));
    z = _mm_cvtss_f32(_mm_movehl_ps(sum, sum));
    return *this;
}

/* The host's main window: first argument of every console line. */
extern "C" AZ_EXPORT HWND hwnd;

/* One line on the host's message console, at a level (1 allocation
 * failures, 2 errors and warnings, 4 user notices, 6 frame creation,
 * 11 details, 13 worker start, 15 entry-point traces).  Result unused. */
extern "C" AZ_EXPORT int Error_Fct(HWND window, int level, const char *format, ...) AZ_PRINTF(3, 4);

/* Text of an OpenGL error code, for a line of its own. */
extern "C" AZ_EXPORT const char *Error_OpenGL(int code);

/* Text of the calling thread's last Windows error (code 0: the last one). */
extern "C" AZ_EXPORT const char *Error_Windows(int code);

#endif
