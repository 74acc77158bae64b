#include <gtest/gtest.h>
#include <math.h>

#include "host/corvantis_util.h"

namespace {

const float pi = 3.14159265358979f;

void Expect_Identity(Matrix_4x4 m, const Matrix_4x4 &times, float tolerance)
{
    m *= times;
    for (int i = 0; i < 16; i++)
        EXPECT_NEAR(m[i / 4][i % 4], i % 5 == 0 ? 1.0f : 0.0f, tolerance) << "element " << i;
}

} // namespace

TEST(Matrix, RotationsAndAppendOrderMoveKnownPoints)
{
    /* Right-handed quarter turns, row vectors (p * m), appended in call order or prepended. */
    Matrix_4x4 x, y, z, tr, pre, rep;
    x.rot_x(pi / 2, Matrix_4x4::post);
    y.rot_y(pi / 2, Matrix_4x4::post);
    z.rot_z(pi / 2, Matrix_4x4::post);
    tr.translate(1, 0, 0, Matrix_4x4::post);
    tr.rot_z(pi / 2, Matrix_4x4::post);
    pre.rot_z(pi / 2, Matrix_4x4::post);
    pre.translate(1, 0, 0, Matrix_4x4::pre);
    rep.rot_z(pi / 2, Matrix_4x4::post);
    rep.scale(2, 3, 4, Matrix_4x4::replace);
    const struct {
        const Matrix_4x4 *m;
        Vect from, to;
    } rows[] = {
        {&x, Vect(0, 1, 0, 7.5f), Vect(0, 0, 1, 7.5f)}, {&y, Vect(0, 0, 1), Vect(1, 0, 0)},
        {&z, Vect(1, 0, 0), Vect(0, 1, 0)},             {&tr, Vect(1, 0, 0), Vect(0, 2, 0)},
        {&pre, Vect(0, 0, 0), Vect(0, 1, 0)},           {&rep, Vect(1, 1, 1), Vect(2, 3, 4)},
    };
    for (const auto &row : rows) {
        Vect got = row.from;
        got *= *row.m;
        EXPECT_TRUE(fabsf(got.x - row.to.x) < 1e-6f && fabsf(got.y - row.to.y) < 1e-6f &&
                    fabsf(got.z - row.to.z) < 1e-6f && got.w == row.to.w)
            << got.x << " " << got.y << " " << got.z << " " << got.w;
    }
    EXPECT_FLOAT_EQ(Vect(1, 2, 3, 4).dist(Vect(4, 6, 3, 100)), 5.0f) << "w does not count";
}

TEST(Matrix, InverseTransposeAndExactEquality)
{
    Matrix_4x4 m;
    m.rot_x(0.7f, Matrix_4x4::post);
    m.rot_y(-1.1f, Matrix_4x4::post);
    m.scale(1.5f, 0.8f, 2.2f, Matrix_4x4::post);
    m.translate(12.0f, -7.5f, 30.0f, Matrix_4x4::post);
    m[0][1] += 0.05f;
    Expect_Identity(m, !m, 1e-5f);
    Expect_Identity(!m, m, 1e-5f);
    /* A zero on the diagonal needs a row exchange; singular gives the identity. */
    Matrix_4x4 swap(0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1), identity, flat;
    EXPECT_TRUE((!swap) == swap);
    flat.scale(1, 0, 1, Matrix_4x4::post);
    EXPECT_TRUE((!flat) == identity);
    Matrix_4x4 a(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16), t = ~a;
    EXPECT_TRUE(t[0][1] == 5 && t[3][2] == 12 && a[0][1] == 2 && ~t == a);
    t = a;
    t[2][3] = nextafterf(t[2][3], 100.0f);
    EXPECT_EQ(t == a, 0) << "one ulp apart is not equal";
}
