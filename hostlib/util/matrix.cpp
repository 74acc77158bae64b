/*
 * Row-vector geometry: a point p becomes p * M, so "append" means M = M * op
 * and "prepend" means M = op * M.
 */
#include <math.h>
#include <string.h>

#include "../../host/corvantis_util.h"

static Matrix_4x4 Matrix_Product(const Matrix_4x4 &a, const Matrix_4x4 &b)
{
    Matrix_4x4 r;
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++) {
            /* Summed in double so that long chains of appends drift less. */
            double s = 0.0;
            for (int k = 0; k < 4; k++)
                s += (double)a.m[i][k] * (double)b.m[k][j];
            r.m[i][j] = (float)s;
        }
    return r;
}

float Vect::dist(const Vect &b) const
{
    float dx = x - b.x, dy = y - b.y, dz = z - b.z;
    return sqrtf(dx * dx + dy * dy + dz * dz);
}

float Vect::norm() const { return sqrtf(x * x + y * y + z * z); }

Matrix_4x4::Matrix_4x4() { init(); }

Matrix_4x4::Matrix_4x4(float m00, float m01, float m02, float m03, float m10, float m11, float m12, float m13,
                       float m20, float m21, float m22, float m23, float m30, float m31, float m32, float m33)
{
    const float v[16] = {m00, m01, m02, m03, m10, m11, m12, m13, m20, m21, m22, m23, m30, m31, m32, m33};
    memcpy(m, v, sizeof m);
}

void Matrix_4x4::init()
{
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++)
            m[i][j] = i == j ? 1.0f : 0.0f;
}

void Matrix_4x4::apply(const Matrix_4x4 &op, combine how)
{
    switch (how) {
    case replace:
        *this = op;
        break;
    case pre:
        *this = Matrix_Product(op, *this);
        break;
    case post:
    default:
        *this = Matrix_Product(*this, op);
        break;
    }
}

void Matrix_4x4::rot_x(float radians, combine how)
{
    Matrix_4x4 op;
    float c = cosf(radians), s = sinf(radians);
    op.m[1][1] = c;
    op.m[1][2] = s;
    op.m[2][1] = -s;
    op.m[2][2] = c;
    apply(op, how);
}

void Matrix_4x4::rot_y(float radians, combine how)
{
    Matrix_4x4 op;
    float c = cosf(radians), s = sinf(radians);
    op.m[0][0] = c;
    op.m[0][2] = -s;
    op.m[2][0] = s;
    op.m[2][2] = c;
    apply(op, how);
}

void Matrix_4x4::rot_z(float radians, combine how)
{
    Matrix_4x4 op;
    float c = cosf(radians), s = sinf(radians);
    op.m[0][0] = c;
    op.m[0][1] = s;
    op.m[1][0] = -s;
    op.m[1][1] = c;
    apply(op, how);
}

void Matrix_4x4::translate(float tx, float ty, float tz, combine how)
{
    Matrix_4x4 op;
    op.m[3][0] = tx;
    op.m[3][1] = ty;
    op.m[3][2] = tz;
    apply(op, how);
}

void Matrix_4x4::scale(float sx, float sy, float sz, combine how)
{
    Matrix_4x4 op;
    op.m[0][0] = sx;
    op.m[1][1] = sy;
    op.m[2][2] = sz;
    apply(op, how);
}

Matrix_4x4 &Matrix_4x4::operator*=(const Matrix_4x4 &b)
{
    *this = Matrix_Product(*this, b);
    return *this;
}

/* Gauss-Jordan elimination with partial pivoting, in double. */
Matrix_4x4 Matrix_4x4::operator!() const
{
    double a[4][8];
    double largest = 0.0;
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++) {
            a[i][j] = m[i][j];
            a[i][j + 4] = i == j ? 1.0 : 0.0;
            largest = fmax(largest, fabs(a[i][j]));
        }
    /* A pivot this small against the matrix's own scale means rank loss. */
    const double tiny = largest * 1e-12;
    for (int col = 0; col < 4; col++) {
        int best = col;
        for (int r = col + 1; r < 4; r++)
            if (fabs(a[r][col]) > fabs(a[best][col]))
                best = r;
        if (!(fabs(a[best][col]) > tiny))
            return Matrix_4x4();
        if (best != col)
            for (int j = 0; j < 8; j++) {
                double t = a[col][j];
                a[col][j] = a[best][j];
                a[best][j] = t;
            }
        double p = a[col][col];
        for (int j = 0; j < 8; j++)
            a[col][j] /= p;
        for (int r = 0; r < 4; r++) {
            if (r == col || a[r][col] == 0.0)
                continue;
            double f = a[r][col];
            for (int j = 0; j < 8; j++)
                a[r][j] -= f * a[col][j];
        }
    }
    Matrix_4x4 inv;
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++)
            inv.m[i][j] = (float)a[i][j + 4];
    return inv;
}

Matrix_4x4 Matrix_4x4::operator~() const
{
    Matrix_4x4 t;
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++)
            t.m[i][j] = m[j][i];
    return t;
}

int Matrix_4x4::operator==(const Matrix_4x4 &b) const
{
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++)
            if (m[i][j] != b.m[i][j])
                return 0;
    return 1;
}
