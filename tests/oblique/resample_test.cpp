/* A whole study seen through a rotated direction: whole frames against
 * single pixels and against the values of the plain path.  That a rotated
 * direction shows the right grey levels at the right world points is the
 * integration test's (tests/integration/colin_test.cpp); the parts are the
 * mapping's and the host's bilinear read's tables. */
#include "oblique_fixture.h"


namespace {

/* A rotation of angle a about the slice axis, then of b about the row
 * axis, taking the centre cb of one voxel space to the centre co of the
 * other; written out element by element (row-vector convention: p' = p M,
 * translation in row 3). */
Matrix_4x4 Rotation_Matrix(double a, double b, const double cb[3], const double co[3])
{
    double ca = cos(a), sa = sin(a), cbb = cos(b), sb = sin(b);
    double r[3][3] = {{ca, sa * cbb, sa * sb}, {-sa, ca * cbb, ca * sb}, {0.0, -sb, cbb}};   // Rz(a) Rx(b)
    Matrix_4x4 m;
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 3; j++)
            m.m[i][j] = (float)r[i][j];
        m.m[i][3] = 0.0f;
    }
    for (int j = 0; j < 3; j++)
        m.m[3][j] = (float)(co[j] - (cb[0] * r[0][j] + cb[1] * r[1][j] + cb[2] * r[2][j]));
    m.m[3][3] = 1.0f;
    return m;
}

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
        ASSERT_NO_FATAL_FAILURE(Enter(Plan_Of("Rotated", 12, 10, 9), AZ_ORDER_SHUFFLED, 1234u));
        const double centre_here[3] = {(side - 1) / 2.0, (side - 1) / 2.0, (side - 1) / 2.0};
        const double centre_study[3] = {(plan.width - 1) / 2.0, (plan.height - 1) / 2.0, (plan.slices - 1) / 2.0};
        m = Rotation_Matrix(0.4, 0.3, centre_here, centre_study);
        obl->dim = Oblique_Dim{side, side, side};
        Turn(m);
    }
};

/* Whole frames of both directions read by the host's frame reader, on one
 * thread and on several, against the single-pixel reads, and hashed: the
 * hashes were taken from the plain single-pixel path before any speed-up,
 * so a faster path that moves one grey level or one tag fails here. */
TEST_F(ObliqueResampleTest, WholeFramesMatchPixelByPixelOnAnyThreads)
{
    for (int b = 0; b < built->file->images_nb; b++) {
        Vexa_Image *image = built->file->images[b];
        uint8_t *tags = AzImage_TAG_Plane(image, 0, 0);
        for (int n = 0; n < image->width * image->height * image->slices_nb * image->times_nb; n++)
            tags[n] = (uint8_t)(n * 7 + b * 29);
    }
    // Oblique frames large enough for the reader to share them among threads.
    obl->dim = Oblique_Dim{64, 72, side};
    for (int k = 0; k < side; k++)
        obl->Child_Add(new AzFrame(nullptr, k, 0));
    org->Pixel_Get_Dim = obl->Pixel_Get_Dim = Class_Oblique_Pixel_Get_Dim;   // as the direction set-up installs it
    const char *want[2] = {"3aa544f777ef0c4b f0b5b268c0d0d865", "202cc05903f4e111 aafb0ce19812ac96"};
    Kelvra_Oblique *directions[2] = {org, obl};
    for (int d = 0; d < 2; d++) {
        uint64_t hash[2] = {0xcbf29ce484222325ull, 0xcbf29ce484222325ull};   // FNV-1a of grey levels, of tags
        std::vector<AzFrame *> frames;
        std::vector<int32_t> gli_all;
        std::vector<uint8_t> tag_all;
        int w = 0, h = 0;
        for (int c = 0; c < directions[d]->Child_Get_Nb(); c++) {
            AzFrame *frame = AzFrame_Cast(directions[d]->Child_Get_Pt(c));
            ASSERT_TRUE(frame && AzFrame_Get_Dim(frame, &w, &h));
            std::vector<int32_t> gli(w * h), gli_read(w * h, -1);
            std::vector<uint8_t> tag(w * h), tag_read(w * h, 0xee);
            for (int y = 0; y < h; y++)
                for (int x = 0; x < w; x++) {
                    gli[y * w + x] = AzFrame_Get_GLI(frame, (float)x, (float)y);
                    tag[y * w + x] = (uint8_t)AzFrame_Get_TAG(frame, (float)x, (float)y);
                }
            for (int threads : {1, 0, 5}) {
                ASSERT_EQ(AzFrame_Read(frame, w, h, gli_read.data(), tag_read.data(), threads), 1);
                EXPECT_EQ(gli_read, gli) << "direction " << d << " frame " << c << " threads " << threads;
                EXPECT_EQ(tag_read, tag) << "direction " << d << " frame " << c << " threads " << threads;
            }
            for (size_t n = 0; n < gli.size(); n++)
                for (int i = 0; i < 4; i++)
                    hash[0] = (hash[0] ^ ((uint32_t)gli[n] >> (8 * i) & 0xff)) * 0x100000001b3ull;
            for (uint8_t t : tag)
                hash[1] = (hash[1] ^ t) * 0x100000001b3ull;
            frames.push_back(frame);
            gli_all.insert(gli_all.end(), gli.begin(), gli.end());
            tag_all.insert(tag_all.end(), tag.begin(), tag.end());
        }
        // All frames in one read, row by row across them.
        std::vector<int32_t> gli_many(gli_all.size());
        std::vector<uint8_t> tag_many(tag_all.size());
        ASSERT_EQ(AzFrame_Read_Many(frames.data(), (int)frames.size(), w, h, gli_many.data(), tag_many.data(), 0), 1);
        EXPECT_TRUE(gli_many == gli_all && tag_many == tag_all) << "direction " << d;
        char got[40];
        snprintf(got, sizeof got, "%016llx %016llx", (unsigned long long)hash[0], (unsigned long long)hash[1]);
        EXPECT_STREQ(got, want[d]) << "direction " << d;
    }
    // Without a parent or a callback: what the single-pixel reads answer.
    AzFrame orphan(nullptr, 0, 0);
    std::vector<int32_t> gli(64 * 72, 5);
    std::vector<uint8_t> tag(64 * 72, 5);
    EXPECT_EQ(AzFrame_Read(&orphan, 64, 72, gli.data(), tag.data(), 0), 0);
    EXPECT_EQ(gli, std::vector<int32_t>(64 * 72, 2147483646));
    EXPECT_EQ(tag, std::vector<uint8_t>(64 * 72, 0));
    AzFrame *middle = AzFrame_Cast(obl->Child_Get_Pt(side / 2));
    obl->Pixel_Get_GLI = nullptr;
    gli.assign(64 * 72, 5);
    EXPECT_EQ(AzFrame_Read(middle, 64, 72, gli.data(), tag.data(), 0), 1);
    EXPECT_EQ(gli, std::vector<int32_t>(64 * 72, 2147483646));
    EXPECT_NE(tag, std::vector<uint8_t>(64 * 72, 0));
}
