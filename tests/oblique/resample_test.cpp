/* A whole study seen through a rotated direction: every pixel of a slice
 * against an independent computation, and a painted tag found again in the
 * study's own frames. */
#include "oblique_fixture.h"

#include <string.h>

namespace {

/* The study's grey level at a fractional point of frame f, computed from
 * the phantom: bilinear between the four pixels around (x, y), the far
 * edge (x = width, y = height) reading the last column and row. */
double Phantom_Bilinear(const AzStudy_Plan &plan, int f, double x, double y)
{
    int x0 = (int)x < plan.width - 1 ? (int)x : plan.width - 1;
    int y0 = (int)y < plan.height - 1 ? (int)y : plan.height - 1;
    int x1 = x0 + 1 < plan.width ? x0 + 1 : x0;
    int y1 = y0 + 1 < plan.height ? y0 + 1 : y0;
    double fx = x - x0 < 1.0 ? x - x0 : 1.0;
    double fy = y - y0 < 1.0 ? y - y0 : 1.0;
    double top = AzPhantom_GLI(plan, x0, y0, f, 0) * (1 - fx) + AzPhantom_GLI(plan, x1, y0, f, 0) * fx;
    double bottom = AzPhantom_GLI(plan, x0, y1, f, 0) * (1 - fx) + AzPhantom_GLI(plan, x1, y1, f, 0) * fx;
    return top * (1 - fy) + bottom * fy;
}

/* Distance of v from the nearest of the limits: points closer than float
 * precision to the volume's edge are not judged. */
bool Near(double v, double limit) { return fabs(v - limit) < 1e-3; }

} // namespace

class ObliqueResampleTest : public ObliqueStudyTest {
  protected:
    Matrix_4x4 m;
    const int side = 15;   // this direction's frames: 15 x 15, 15 slices

    void SetUp() override
    {
        ObliqueTest::SetUp();
        // Frames arrive in shuffled order: the insert level puts them back in
        // location order.
        ASSERT_NO_FATAL_FAILURE(Load(Plan_Of("Rotated", 12, 10, 9), AZ_ORDER_SHUFFLED, 1234u));
        const double centre_here[3] = {(side - 1) / 2.0, (side - 1) / 2.0, (side - 1) / 2.0};
        const double centre_study[3] = {(plan.width - 1) / 2.0, (plan.height - 1) / 2.0, (plan.slices - 1) / 2.0};
        m = Rotation_Matrix(0.4, 0.3, centre_here, centre_study);
        obl->dim = Oblique_Dim{side, side, side};
        Turn(m);
    }
};

TEST_F(ObliqueResampleTest, FramesInLocationOrder)
{
    for (int f = 0; f < 9; f++) {
        EXPECT_EQ(org->real_files_pt[f], built->file) << f;
        EXPECT_EQ(org->real_files_bunch[f], built->frame_bunch[f]) << f;
        EXPECT_EQ(org->real_files_slice[f], built->frame_slice[f]) << f;
        if (f > 0) {
            EXPECT_LT(org->real_files_d[f - 1], org->real_files_d[f]);
        }
    }
    EXPECT_EQ(org->Child_Get_Nb(), 9);
}

TEST_F(ObliqueResampleTest, SliceAnswersThePhantom)
{
    int inside = 0, outside = 0, skipped = 0;
    for (int k : {3, 7, 11}) {
        for (int j = 0; j < side; j++) {
            for (int i = 0; i < side; i++) {
                const double p[3] = {(double)i, (double)j, (double)k};
                double q[3];
                Transform(m, p, q);
                if (Near(q[0], 0) || Near(q[0], plan.width) || Near(q[1], 0) || Near(q[1], plan.height) ||
                    Near(q[2], -1) || Near(q[2], plan.slices)) {
                    skipped++;
                    continue;
                }
                int got = obl->Pixel_Get_GLI(obl, nullptr, Vect((float)i, (float)j, (float)k, 0.0f));
                bool in = q[0] >= 0 && q[0] <= plan.width && q[1] >= 0 && q[1] <= plan.height && q[2] > -1 &&
                          q[2] < plan.slices;
                if (!in) {
                    outside++;
                    EXPECT_EQ(got, 2147483646) << i << "," << j << "," << k;
                    continue;
                }
                inside++;
                double want = Phantom_Bilinear(plan, (int)q[2], q[0], q[1]);
                // The host rounds to the nearest level: within half a level
                // (and float precision) of the exact value.
                EXPECT_LE(fabs(got - want), 0.5 + 1e-3)
                    << "pixel " << i << "," << j << "," << k << " -> " << q[0] << "," << q[1] << "," << q[2];
            }
        }
    }
    EXPECT_GT(inside, 200);
    EXPECT_GT(outside, 50);
    EXPECT_LT(skipped, 5);
}

TEST_F(ObliqueResampleTest, PaintedTagReadBackThroughOriginal)
{
    // Snapshot of every tag of the study.
    std::vector<std::vector<uint8_t>> before;
    for (int b = 0; b < built->file->images_nb; b++) {
        Vexa_Image *image = built->file->images[b];
        uint8_t *tags = AzImage_TAG_Plane(image, 0, 0);
        before.emplace_back(tags, tags + image->width * image->height * image->slices_nb * image->times_nb);
    }
    const int i = 5, j = 9, k = 6;
    const double p[3] = {i, j, k};
    double q[3];
    Transform(m, p, q);
    ASSERT_TRUE(q[0] > 0.7 && q[0] < plan.width - 1 && q[1] > 0.7 && q[1] < plan.height - 1 && q[2] > 0.2 &&
                q[2] < plan.slices - 1)
        << "a point well inside: " << q[0] << "," << q[1] << "," << q[2];
    int f = (int)q[2];
    int x = (int)floor(q[0] + 0.5), y = (int)floor(q[1] + 0.5);
    ASSERT_FALSE(Near(q[0] - floor(q[0]), 0.5) || Near(q[1] - floor(q[1]), 0.5)) << "not halfway between pixels";

    EXPECT_EQ(obl->Pixel_Set_TAG(obl, nullptr, Vect(i, j, k, 0.0f), 9), 1);
    EXPECT_EQ(obl->Pixel_Get_TAG(obl, nullptr, Vect(i, j, k, 0.0f)), 9);

    // Exactly one voxel of the study changed: (x, y) of frame f.
    Vexa_Image *source = built->file->images[built->frame_bunch[f]];
    int changed = 0;
    for (int b = 0; b < built->file->images_nb; b++) {
        Vexa_Image *image = built->file->images[b];
        uint8_t *tags = AzImage_TAG_Plane(image, 0, 0);
        for (size_t n = 0; n < before[b].size(); n++) {
            if (tags[n] == before[b][n])
                continue;
            changed++;
            EXPECT_EQ(image, source);
            EXPECT_EQ((int)n, y * plan.width + x) << "pixel (" << x << "," << y << ")";
            EXPECT_EQ(tags[n], 9);
        }
    }
    EXPECT_EQ(changed, 1);

    // Read back through the Original direction: its frame f (the study's
    // own frames are its children, in location order after a sort).
    AzFrame *frame = nullptr;
    for (int c = 0; c < org->Child_Get_Nb(); c++) {
        AzFrame *candidate = AzFrame_Cast(org->Child_Get_Pt(c));
        if (candidate && candidate->key == source && candidate->z == org->real_files_z[f])
            frame = candidate;
    }
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(AzFrame_Get_TAG(frame, (float)x, (float)y), 9);
    EXPECT_EQ(org->Pixel_Get_TAG(org, source, Vect((float)x, (float)y, 0.0f, 0.0f)), 9);

    // The change waits in the list under the source image's key.
    ASSERT_EQ(obl->update_nb, 1);
    EXPECT_EQ(obl->update_pt[0].key, (void *)source);
}
