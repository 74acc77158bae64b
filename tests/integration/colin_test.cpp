/*
 * The sample brain re-sliced by the host program's own path (host set-up,
 * study and atlas loaded, the re-slice session, the export), both exported
 * volumes read back with the host's NIfTI reader: at sampled world points
 * inside the brain the oblique volume shows the brain's grey level there,
 * and its tags are the atlas's labels.
 */
#include <math.h>

#include <algorithm>
#include <random>
#include <tuple>

#include "app_test.h"
#include "hostapp/lib/az_read.h"

namespace {

const char brain_path[] = "/usr/share/mricron/templates/ch2.nii.gz";
const char atlas_path[] = "/usr/share/mricron/templates/aal.nii.gz";
const int samples_wanted = 400;

/* A volume read back: frames in location order with their world geometry. */
struct Grid {
    AzSeries s;
    int W() const { return s.width; }
    int H() const { return s.height; }
    int D() const { return static_cast<int>(s.frames.size()); }
    /* World point -> continuous voxel (column, row, frame in location order). */
    void Voxel_Of(AzVec3 world, double v[3]) const
    {
        AzVec3 d = AzVec3_Sub(world, s.frames[0].position), axis[3] = {s.axis_row, s.axis_col, s.axis_normal};
        for (int i = 0; i < 3; i++)
            v[i] = AzVec3_Dot(d, axis[i]) / s.spacing[i];
    }
    AzVec3 World_Of(int x, int y, int k) const
    {
        return AzVec3_Add(s.frames[k].position, AzVec3_Add(AzVec3_Scale(s.axis_row, x * s.spacing[0]),
                                                           AzVec3_Scale(s.axis_col, y * s.spacing[1])));
    }
    int Grey(int x, int y, int k) const { return s.frames[k].gli[static_cast<size_t>(y) * W() + x]; }
    double Grey_At(double x, double y, int k) const // bilinear in frame k's plane
    {
        int x0 = std::min(static_cast<int>(x), W() - 2), y0 = std::min(static_cast<int>(y), H() - 2);
        double fx = x - x0, fy = y - y0;
        return (Grey(x0, y0, k) * (1 - fx) + Grey(x0 + 1, y0, k) * fx) * (1 - fy) +
               (Grey(x0, y0 + 1, k) * (1 - fx) + Grey(x0 + 1, y0 + 1, k) * fx) * fy;
    }
    /* The label at (x, y, k); -1 when the labels within one voxel of it differ and `uniform` is asked. */
    int Label(const AzLabels &labels, int x, int y, int k, bool uniform = false) const
    {
        auto at = [&](int i, int j, int n) {
            return labels.tags[(static_cast<size_t>(s.frames[n].source_index) * labels.height + j) * labels.width + i];
        };
        for (int n = 0; uniform && n < 27; n++)
            if (at(x + n % 3 - 1, y + n / 3 % 3 - 1, k + n / 9 - 1) != at(x, y, k))
                return -1;
        return at(x, y, k);
    }
};

} // namespace

TEST_F(App_Test, ColinObliqueVolumeShowsTheBrainAndItsAtlasAtTheSameWorldPoints)
{
    if (!File_Exists(brain_path) || !File_Exists(atlas_path))
        GTEST_SKIP() << brain_path << " or " << atlas_path << " is absent (package mricron-data): nothing to test";
    std::string folder = Output_Folder("colin");
    ASSERT_FALSE(folder.empty());
    ASSERT_TRUE(Start());
    ASSERT_EQ(AZ_EXIT_OK, AzApp_Load(&app, std::vector<std::string>(1, brain_path), atlas_path));
    ASSERT_EQ("", Session(AzSession_Reslice(20.0, -15.0, 0) + "dump \"" + folder + "\" original\n", "reslice"));
    AzApp_Stop(&app);

    Grid source, original, oblique;
    AzLabels atlas, oblique_tags;
    AzLoad_Report report;
    ASSERT_EQ(1, AzNifti_Read(brain_path, &source.s, &report));
    ASSERT_EQ(1, AzNifti_Read_Labels(atlas_path, &atlas, &report));
    ASSERT_EQ(1, AzNifti_Read(folder + "/original.nii.gz", &original.s, &report));
    ASSERT_EQ(1, AzNifti_Read(folder + "/oblique.nii.gz", &oblique.s, &report));
    ASSERT_EQ(1, AzNifti_Read_Labels(folder + "/oblique_tags.nii.gz", &oblique_tags, &report));
    ASSERT_TRUE(report.problems.empty()) << report.problems[0];
    // The exported Original direction is the brain as it was read: same grid, same geometry.
    ASSERT_EQ(std::make_tuple(source.W(), source.H(), source.D()),
              std::make_tuple(original.W(), original.H(), original.D()));
    for (int k : {0, source.D() / 2, source.D() - 1})
        EXPECT_NEAR(0.0, AzVec3_Norm(AzVec3_Sub(source.World_Of(7, 11, k), original.World_Of(7, 11, k))), 1e-3);
    // The cut leans away from the brain's slices.
    EXPECT_LT(fabs(AzVec3_Dot(oblique.s.axis_normal, original.s.axis_normal)), 0.99);

    std::mt19937 random(2545); // a fixed sequence: the same samples on every run
    auto next = [&random](int bound) { return static_cast<int>(random() % static_cast<unsigned>(bound)); };
    int sampled = 0, tries = 0, labels_equal = 0, labels_inner = 0;
    while (sampled < samples_wanted && tries++ < 200 * samples_wanted) {
        int x = next(oblique.W()), y = next(oblique.H()), n = next(oblique.D());
        double v[3];
        original.Voxel_Of(oblique.World_Of(x, y, n), v);
        int i = static_cast<int>(floor(v[0] + 0.5)), j = static_cast<int>(floor(v[1] + 0.5));
        int k = static_cast<int>(floor(v[2] + 0.5));
        if (i < 2 || j < 2 || k < 2 || i > original.W() - 3 || j > original.H() - 3 || k > original.D() - 3)
            continue;
        int label = original.Label(atlas, i, j, k);
        if (label == 0)
            continue; // outside the brain
        sampled++;
        ASSERT_EQ(source.Grey(i, j, k), original.Grey(i, j, k)) << i << " " << j << " " << k;
        // The oblique voxel takes its grey level in-plane from one slice of the original, known to one
        // slice only (the exported plane runs through the stepping of the source slices along the cut):
        // between the lowest and highest in-plane level of the slices near the point, widened by one for
        // the rounding of the interpolation.
        double low = 1e9, high = -1e9;
        int below = static_cast<int>(floor(v[2]));
        for (int kk = std::max(0, below - 1); kk <= std::min(original.D() - 1, below + 2); kk++) {
            low = std::min(low, original.Grey_At(v[0], v[1], kk));
            high = std::max(high, original.Grey_At(v[0], v[1], kk));
        }
        int grey = oblique.Grey(x, y, n);
        ASSERT_TRUE(grey >= floor(low) - 1 && grey <= ceil(high) + 1)
            << "oblique " << x << " " << y << " " << n << ": " << grey << " at original " << v[0] << " " << v[1]
            << " " << v[2] << " between " << low << " and " << high;
        int tag = oblique.Label(oblique_tags, x, y, n);
        labels_equal += tag == label;
        if (original.Label(atlas, i, j, k, true) >= 0) {
            labels_inner++;
            ASSERT_EQ(label, tag) << "oblique " << x << " " << y << " " << n << " inside one atlas region";
        }
    }
    ASSERT_EQ(samples_wanted, sampled);
    EXPECT_GE(labels_equal * 100, sampled * 95) << labels_equal << " of " << sampled << " labels agree";
    EXPECT_GT(labels_inner * 2, sampled) << "most samples lie inside a region: " << labels_inner;
}
