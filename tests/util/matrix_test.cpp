#include <gtest/gtest.h>
#include <math.h>

#include "host/corvantis_util.h"

namespace {

const float pi = 3.14159265358979f;

Vect Moved(Vect p, const Matrix_4x4 &m)
{
    p *= m;
    return p;
}

void Expect_Point(const Vect &p, float x, float y, float z)
{
    EXPECT_NEAR(p.x, x, 1e-6f);
    EXPECT_NEAR(p.y, y, 1e-6f);
    EXPECT_NEAR(p.z, z, 1e-6f);
}

void Expect_Identity(const Matrix_4x4 &m, float tolerance)
{
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++)
            EXPECT_NEAR(m[i][j], i == j ? 1.0f : 0.0f, tolerance) << "element " << i << "," << j;
}

Matrix_4x4 Product(const Matrix_4x4 &a, const Matrix_4x4 &b)
{
    Matrix_4x4 r = a;
    r *= b;
    return r;
}

} // namespace

TEST(Vect, ComponentwiseOperatorsDistanceAndNorm)
{
    Vect a(1, 2, 3, 4), b(4, 6, 3, 100);
    Vect s = a + b, d = b - a, k = 2.0f * a, k2 = a * 0.5f;
    EXPECT_EQ(s.x, 5);
    EXPECT_EQ(s.w, 104);
    EXPECT_EQ(d.y, 4);
    EXPECT_EQ(d.z, 0);
    EXPECT_EQ(k.z, 6);
    EXPECT_EQ(k2.w, 2);
    a += b;
    EXPECT_EQ(a.x, 5);
    EXPECT_EQ(a.w, 104);
    /* Only x, y, z count: w differs by 96 here. */
    EXPECT_FLOAT_EQ(Vect(1, 2, 3, 4).dist(b), 5.0f);
    EXPECT_FLOAT_EQ(Vect(3, 4, 12, 9).norm(), 13.0f);
    Vect z;
    EXPECT_EQ(z.x, 0);
    EXPECT_EQ(z.w, 0);
    EXPECT_EQ(sizeof(Vect), 16u);
}

TEST(Matrix, IdentityAndElementOrder)
{
    Matrix_4x4 i;
    Expect_Identity(i, 0.0f);
    Matrix_4x4 m(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
    EXPECT_EQ(m[0][1], 2);
    EXPECT_EQ(m[1][0], 5);
    EXPECT_EQ(m[3][2], 15);
    m.init();
    EXPECT_TRUE(m == i);
    EXPECT_EQ(sizeof(Matrix_4x4), 64u);
}

TEST(Matrix, ElementaryRotationsMoveKnownPoints)
{
    Matrix_4x4 x, y, z;
    x.rot_x(pi / 2, Matrix_4x4::post);
    y.rot_y(pi / 2, Matrix_4x4::post);
    z.rot_z(pi / 2, Matrix_4x4::post);
    /* Right-handed quarter turns: y -> z about x, z -> x about y, x -> y about z. */
    Expect_Point(Moved(Vect(0, 1, 0), x), 0, 0, 1);
    Expect_Point(Moved(Vect(0, 0, 1), x), 0, -1, 0);
    Expect_Point(Moved(Vect(0, 0, 1), y), 1, 0, 0);
    Expect_Point(Moved(Vect(1, 0, 0), y), 0, 0, -1);
    Expect_Point(Moved(Vect(1, 0, 0), z), 0, 1, 0);
    Expect_Point(Moved(Vect(0, 1, 0), z), -1, 0, 0);
    /* The row-vector layout of rot_x. */
    Matrix_4x4 r;
    r.rot_x(0.5f, Matrix_4x4::post);
    EXPECT_FLOAT_EQ(r[1][1], cosf(0.5f));
    EXPECT_FLOAT_EQ(r[1][2], sinf(0.5f));
    EXPECT_FLOAT_EQ(r[2][1], -sinf(0.5f));
    EXPECT_FLOAT_EQ(r[2][2], cosf(0.5f));
    /* A point keeps its w. */
    Vect p(0, 1, 0, 7.5f);
    Vect copy = (p *= x);
    EXPECT_EQ(p.w, 7.5f);
    EXPECT_EQ(copy.z, p.z);
}

TEST(Matrix, AppendOrderMatters)
{
    /* Translate then rotate: (0,0,0) -> (1,0,0) -> (0,1,0). */
    Matrix_4x4 tr;
    tr.translate(1, 0, 0, Matrix_4x4::post);
    tr.rot_z(pi / 2, Matrix_4x4::post);
    Expect_Point(Moved(Vect(0, 0, 0), tr), 0, 1, 0);
    Expect_Point(Moved(Vect(1, 0, 0), tr), 0, 2, 0);
    EXPECT_NEAR(tr[3][0], 0, 1e-6f);
    EXPECT_NEAR(tr[3][1], 1, 1e-6f);

    /* Rotate then translate: (0,0,0) -> (0,0,0) -> (1,0,0). */
    Matrix_4x4 rt;
    rt.rot_z(pi / 2, Matrix_4x4::post);
    rt.translate(1, 0, 0, Matrix_4x4::post);
    Expect_Point(Moved(Vect(0, 0, 0), rt), 1, 0, 0);
    Expect_Point(Moved(Vect(1, 0, 0), rt), 1, 1, 0);

    /* Prepending is the reverse order; replacing forgets the old matrix. */
    Matrix_4x4 pre;
    pre.rot_z(pi / 2, Matrix_4x4::post);
    pre.translate(1, 0, 0, Matrix_4x4::pre);
    Expect_Point(Moved(Vect(0, 0, 0), pre), 0, 1, 0);
    Matrix_4x4 rep;
    rep.rot_z(pi / 2, Matrix_4x4::post);
    rep.scale(2, 3, 4, Matrix_4x4::replace);
    Expect_Point(Moved(Vect(1, 1, 1), rep), 2, 3, 4);

    /* *= and apply(post) append the same way. */
    Matrix_4x4 a, b, applied;
    a.translate(1, 2, 3, Matrix_4x4::post);
    b.rot_x(0.3f, Matrix_4x4::post);
    b.scale(2, 2, 2, Matrix_4x4::post);
    applied = a;
    applied.apply(b, Matrix_4x4::post);
    Matrix_4x4 times = a;
    times *= b;
    EXPECT_TRUE(applied == times);
    Vect p = Moved(Moved(Vect(0.5f, -1, 2), a), b);
    Vect q = Moved(Vect(0.5f, -1, 2), times);
    EXPECT_NEAR(p.x, q.x, 1e-5f);
    EXPECT_NEAR(p.y, q.y, 1e-5f);
    EXPECT_NEAR(p.z, q.z, 1e-5f);
}

TEST(Matrix, InverseRoundTripAndSingular)
{
    /* A fixed pseudo-random, well-conditioned matrix. */
    unsigned seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return ((seed >> 8) & 0xFFFF) / 65535.0f - 0.5f;
    };
    Matrix_4x4 m;
    m.rot_x(0.7f, Matrix_4x4::post);
    m.rot_y(-1.1f, Matrix_4x4::post);
    m.rot_z(2.3f, Matrix_4x4::post);
    m.scale(1.5f, 0.8f, 2.2f, Matrix_4x4::post);
    m.translate(12.0f, -7.5f, 30.0f, Matrix_4x4::post);
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 3; j++)
            m[i][j] += 0.2f * next();
    Matrix_4x4 inv = !m;
    Expect_Identity(Product(m, inv), 1e-5f);
    Expect_Identity(Product(inv, m), 1e-5f);
    Vect p(3, -4, 5);
    Vect back = Moved(Moved(p, m), inv);
    EXPECT_NEAR(back.x, 3, 1e-4f);
    EXPECT_NEAR(back.y, -4, 1e-4f);
    EXPECT_NEAR(back.z, 5, 1e-4f);

    /* A zero on the diagonal needs a row exchange. */
    Matrix_4x4 swap(0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    EXPECT_TRUE((!swap) == swap);

    /* Singular: a flattened axis gives the identity. */
    Matrix_4x4 flat;
    flat.scale(1, 0, 1, Matrix_4x4::post);
    flat.translate(5, 5, 5, Matrix_4x4::post);
    Expect_Identity(!flat, 0.0f);
    Matrix_4x4 dependent(1, 2, 3, 0, 2, 4, 6, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    Expect_Identity(!dependent, 0.0f);
}

TEST(Matrix, TransposeAndEquality)
{
    Matrix_4x4 m(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
    Matrix_4x4 t = ~m;
    EXPECT_EQ(t[0][1], 5);
    EXPECT_EQ(t[1][0], 2);
    EXPECT_EQ(t[3][0], 4);
    EXPECT_EQ(t[2][3], 15);
    EXPECT_EQ(m[0][1], 2) << "transpose is by value";
    EXPECT_TRUE(~t == m);

    Matrix_4x4 a = m, b = m;
    EXPECT_NE(a == b, 0);
    b[2][3] = nextafterf(b[2][3], 100.0f);
    EXPECT_EQ(a == b, 0) << "one ulp apart is not equal";
    EXPECT_FALSE(!(a == m));
    b = m;
    b[3][3] = 16.0001f;
    EXPECT_EQ(a == b, 0);
    /* A rotation inverted is its transpose (upper 3x3). */
    Matrix_4x4 r;
    r.rot_y(0.4f, Matrix_4x4::post);
    Matrix_4x4 ri = !r, rt = ~r;
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            EXPECT_NEAR(ri[i][j], rt[i][j], 1e-6f);
}
