#include <gtest/gtest.h>
#include <math.h>

#include "host/corvantis_util.h"

namespace {

const float pi = 3.14159265358979f;

Vect Moved(Vect p, const Matrix_4x4 &m) { return p *= m; }

void Expect_Point(const Vect &p, float x, float y, float z, float tol = 1e-6f)
{
    EXPECT_NEAR(p.x, x, tol);
    EXPECT_NEAR(p.y, y, tol);
    EXPECT_NEAR(p.z, z, tol);
}

void Expect_Identity(Matrix_4x4 m, const Matrix_4x4 &times, float tolerance)
{
    m *= times;
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++)
            EXPECT_NEAR(m[i][j], i == j ? 1.0f : 0.0f, tolerance) << "element " << i << "," << j;
}

} // namespace

TEST(Vect, ComponentwiseOperatorsDistanceAndNorm)
{
    Vect a(1, 2, 3, 4), b(4, 6, 3, 100);
    Vect s = a + b, d = b - a, k = 2.0f * a, k2 = a * 0.5f;
    EXPECT_TRUE(s.x == 5 && s.w == 104 && d.y == 4 && d.z == 0 && k.z == 6 && k2.w == 2);
    a += b;
    EXPECT_TRUE(a.x == 5 && a.w == 104);
    EXPECT_FLOAT_EQ(Vect(1, 2, 3, 4).dist(b), 5.0f);  // w differs by 96 and does not count
    EXPECT_FLOAT_EQ(Vect(3, 4, 12, 9).norm(), 13.0f);
    Vect z;
    EXPECT_TRUE(z.x == 0 && z.w == 0);
}

TEST(Matrix, RotationsAndAppendOrderMoveKnownPoints)
{
    Matrix_4x4 identity, m(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
    EXPECT_TRUE(m[0][1] == 2 && m[1][0] == 5 && m[3][2] == 15);
    m.init();
    EXPECT_TRUE(m == identity);

    /* Right-handed quarter turns; a point keeps its w.  Then translate and
     * rotate in both orders, prepended, and a replacing scale. */
    Matrix_4x4 x, y, z, tr, rt, pre, rep;
    x.rot_x(pi / 2, Matrix_4x4::post);
    y.rot_y(pi / 2, Matrix_4x4::post);
    z.rot_z(pi / 2, Matrix_4x4::post);
    tr.translate(1, 0, 0, Matrix_4x4::post);
    tr.rot_z(pi / 2, Matrix_4x4::post);
    rt.rot_z(pi / 2, Matrix_4x4::post);
    rt.translate(1, 0, 0, Matrix_4x4::post);
    pre.rot_z(pi / 2, Matrix_4x4::post);
    pre.translate(1, 0, 0, Matrix_4x4::pre);
    rep.rot_z(pi / 2, Matrix_4x4::post);
    rep.scale(2, 3, 4, Matrix_4x4::replace);
    const struct {
        const Matrix_4x4 *m;
        Vect from, to;
    } rows[] = {
        {&x, Vect(0, 1, 0, 7.5f), Vect(0, 0, 1, 7.5f)}, {&x, Vect(0, 0, 1), Vect(0, -1, 0)},
        {&y, Vect(0, 0, 1), Vect(1, 0, 0)},             {&y, Vect(1, 0, 0), Vect(0, 0, -1)},
        {&z, Vect(1, 0, 0), Vect(0, 1, 0)},             {&z, Vect(0, 1, 0), Vect(-1, 0, 0)},
        {&tr, Vect(0, 0, 0), Vect(0, 1, 0)},            {&tr, Vect(1, 0, 0), Vect(0, 2, 0)},
        {&rt, Vect(0, 0, 0), Vect(1, 0, 0)},            {&rt, Vect(1, 0, 0), Vect(1, 1, 0)},
        {&pre, Vect(0, 0, 0), Vect(0, 1, 0)},           {&rep, Vect(1, 1, 1), Vect(2, 3, 4)},
    };
    for (const auto &row : rows) {
        Vect got = Moved(row.from, *row.m);
        Expect_Point(got, row.to.x, row.to.y, row.to.z);
        EXPECT_EQ(got.w, row.to.w);
    }
    /* The row-vector layout of rot_x. */
    Matrix_4x4 r;
    r.rot_x(0.5f, Matrix_4x4::post);
    EXPECT_FLOAT_EQ(r[1][2], sinf(0.5f));
    EXPECT_FLOAT_EQ(r[2][1], -sinf(0.5f));

    /* *= and apply(post) append the same way. */
    Matrix_4x4 a, b;
    a.translate(1, 2, 3, Matrix_4x4::post);
    b.rot_x(0.3f, Matrix_4x4::post);
    b.scale(2, 2, 2, Matrix_4x4::post);
    Matrix_4x4 applied = a, times = a;
    applied.apply(b, Matrix_4x4::post);
    times *= b;
    EXPECT_TRUE(applied == times);
    Vect p = Moved(Moved(Vect(0.5f, -1, 2), a), b);
    Expect_Point(Moved(Vect(0.5f, -1, 2), times), p.x, p.y, p.z, 1e-5f);
}

TEST(Matrix, InverseRoundTripAndSingular)
{
    unsigned seed = 12345;
    Matrix_4x4 m;
    m.rot_x(0.7f, Matrix_4x4::post);
    m.rot_y(-1.1f, Matrix_4x4::post);
    m.rot_z(2.3f, Matrix_4x4::post);
    m.scale(1.5f, 0.8f, 2.2f, Matrix_4x4::post);
    m.translate(12.0f, -7.5f, 30.0f, Matrix_4x4::post);
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 3; j++) {
            seed = seed * 1103515245u + 12345u;
            m[i][j] += 0.2f * (((seed >> 8) & 0xFFFF) / 65535.0f - 0.5f);
        }
    Matrix_4x4 inv = !m;
    Expect_Identity(m, inv, 1e-5f);
    Expect_Identity(inv, m, 1e-5f);
    Expect_Point(Moved(Moved(Vect(3, -4, 5), m), inv), 3, -4, 5, 1e-4f);

    /* A zero on the diagonal needs a row exchange; singular gives the identity. */
    Matrix_4x4 swap(0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1), identity;
    EXPECT_TRUE((!swap) == swap);
    Matrix_4x4 flat, dependent(1, 2, 3, 0, 2, 4, 6, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    flat.scale(1, 0, 1, Matrix_4x4::post);
    flat.translate(5, 5, 5, Matrix_4x4::post);
    EXPECT_TRUE((!flat) == identity);
    EXPECT_TRUE((!dependent) == identity);
}

TEST(Matrix, TransposeAndEquality)
{
    Matrix_4x4 m(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
    Matrix_4x4 t = ~m;
    EXPECT_TRUE(t[0][1] == 5 && t[1][0] == 2 && t[3][0] == 4 && t[2][3] == 15);
    EXPECT_EQ(m[0][1], 2) << "transpose is by value";
    EXPECT_TRUE(~t == m);
    Matrix_4x4 b = m;
    EXPECT_NE(b == m, 0);
    b[2][3] = nextafterf(b[2][3], 100.0f);
    EXPECT_EQ(b == m, 0) << "one ulp apart is not equal";
    b = m;
    b[3][3] = 16.0001f;
    EXPECT_EQ(b == m, 0);
    /* A rotation inverted is its transpose. */
    Matrix_4x4 r;
    r.rot_y(0.4f, Matrix_4x4::post);
    Expect_Identity(r, ~r, 1e-6f);
}
