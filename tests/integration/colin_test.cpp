/*
 * The sample brain re-sliced by the host program's own path (host set-up,
 * study and atlas loaded, the re-slice session, the export), and both
 * exported volumes read back with the host's NIfTI reader: at sampled
 * world points inside the brain the oblique volume shows the grey level of
 * the brain there, and its tags are the atlas's labels.
 */
#include <math.h>
#include <stdint.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "hostapp/lib/az_read.h"
#include "host_run.h"

namespace {

const char brain_path[] = "/usr/share/mricron/templates/ch2.nii.gz";
const char atlas_path[] = "/usr/share/mricron/templates/aal.nii.gz";
const double alpha_degrees = 20.0, beta_degrees = -15.0;
const int samples_wanted = 400;

/* A volume read back: frames in location order with their world geometry. */
struct Grid {
    AzSeries series;

    int Width() const { return series.width; }
    int Height() const { return series.height; }
    int Depth() const { return static_cast<int>(series.frames.size()); }
    /* World point -> continuous voxel (column, row, frame in location order). */
    void Voxel_Of(AzVec3 world, double voxel[3]) const
    {
        AzVec3 d = AzVec3_Sub(world, series.frames[0].position);
        voxel[0] = AzVec3_Dot(d, series.axis_row) / series.spacing[0];
        voxel[1] = AzVec3_Dot(d, series.axis_col) / series.spacing[1];
        voxel[2] = AzVec3_Dot(d, series.axis_normal) / series.spacing[2];
    }
    AzVec3 World_Of(int x, int y, int k) const
    {
        const AzSeries_Frame &frame = series.frames[k];
        return AzVec3_Add(frame.position, AzVec3_Add(AzVec3_Scale(series.axis_row, x * series.spacing[0]),
                                                     AzVec3_Scale(series.axis_col, y * series.spacing[1])));
    }
    int Grey(int x, int y, int k) const { return series.frames[k].gli[static_cast<size_t>(y) * Width() + x]; }
    /* Bilinear in frame k's plane. */
    double Grey_At(double x, double y, int k) const
    {
        int x0 = std::min(static_cast<int>(x), Width() - 2), y0 = std::min(static_cast<int>(y), Height() - 2);
        double fx = x - x0, fy = y - y0;
        double top = Grey(x0, y0, k) * (1 - fx) + Grey(x0 + 1, y0, k) * fx;
        double bottom = Grey(x0, y0 + 1, k) * (1 - fx) + Grey(x0 + 1, y0 + 1, k) * fx;
        return top * (1 - fy) + bottom * fy;
    }
};

/* Labels on a grid, indexed like its frames. */
int Label(const AzLabels &labels, const Grid &grid, int x, int y, int k)
{
    int plane = grid.series.frames[k].source_index;
    return labels.tags[(static_cast<size_t>(plane) * labels.height + y) * labels.width + x];
}

/* Whether every label within one voxel of (x, y, k) is the same. */
bool Label_Uniform(const AzLabels &labels, const Grid &grid, int x, int y, int k)
{
    int label = Label(labels, grid, x, y, k);
    for (int c = -1; c <= 1; c++)
        for (int b = -1; b <= 1; b++)
            for (int a = -1; a <= 1; a++)
                if (Label(labels, grid, x + a, y + b, k + c) != label)
                    return false;
    return true;
}

/* A small fixed-sequence generator: the same samples on every run. */
struct Sequence {
    uint64_t state = 0x2545f4914f6cdd1dULL;
    int Next(int bound)
    {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<int>((state >> 33) % static_cast<uint64_t>(bound));
    }
};

} // namespace

TEST(ColinBrain, ObliqueVolumeShowsTheBrainAndItsAtlasAtTheSameWorldPoints)
{
    if (!File_Exists(brain_path) || !File_Exists(atlas_path))
        GTEST_SKIP() << brain_path << " or " << atlas_path << " is absent (package mricron-data): nothing to test";
    std::string folder = Output_Folder("colin");
    ASSERT_FALSE(folder.empty());
    {
        AzApp app;
        ASSERT_TRUE(Host_Start(&app));
        ASSERT_EQ(AZ_EXIT_OK, AzApp_Load(&app, std::vector<std::string>(1, brain_path), atlas_path));
        std::string script = AzSession_Reslice(alpha_degrees, beta_degrees, 0) + "dump \"" + folder + "\" original\n";
        std::string error = Host_Session(&app, script, "reslice");
        AzApp_Stop(&app);
        ASSERT_EQ("", error);
    }

    Grid source, original, oblique;
    AzLabels atlas, oblique_tags;
    AzLoad_Report report;
    ASSERT_EQ(1, AzNifti_Read(brain_path, &source.series, &report));
    ASSERT_EQ(1, AzNifti_Read_Labels(atlas_path, &atlas, &report));
    ASSERT_EQ(1, AzNifti_Read(folder + "/original.nii.gz", &original.series, &report));
    ASSERT_EQ(1, AzNifti_Read(folder + "/oblique.nii.gz", &oblique.series, &report));
    ASSERT_EQ(1, AzNifti_Read_Labels(folder + "/oblique_tags.nii.gz", &oblique_tags, &report));
    ASSERT_TRUE(report.problems.empty()) << report.problems[0];

    // The exported Original direction is the brain as it was read: same grid, same geometry.
    ASSERT_EQ(source.Width(), original.Width());
    ASSERT_EQ(source.Height(), original.Height());
    ASSERT_EQ(source.Depth(), original.Depth());
    for (int k : {0, source.Depth() / 2, source.Depth() - 1}) {
        AzVec3 a = source.World_Of(7, 11, k), b = original.World_Of(7, 11, k);
        EXPECT_NEAR(0.0, AzVec3_Norm(AzVec3_Sub(a, b)), 1e-3) << k;
    }
    // The cut leans away from the brain's slices.
    EXPECT_LT(fabs(AzVec3_Dot(oblique.series.axis_normal, original.series.axis_normal)), 0.99);

    Sequence sequence;
    int sampled = 0, tries = 0, labels_equal = 0, labels_inner = 0;
    while (sampled < samples_wanted && tries < 200 * samples_wanted) {
        tries++;
        int x = sequence.Next(oblique.Width()), y = sequence.Next(oblique.Height());
        int n = sequence.Next(oblique.Depth());
        AzVec3 world = oblique.World_Of(x, y, n);
        double voxel[3];
        original.Voxel_Of(world, voxel);
        int i = static_cast<int>(floor(voxel[0] + 0.5)), j = static_cast<int>(floor(voxel[1] + 0.5));
        int k = static_cast<int>(floor(voxel[2] + 0.5));
        if (i < 2 || j < 2 || k < 2 || i > original.Width() - 3 || j > original.Height() - 3 ||
            k > original.Depth() - 3)
            continue;
        int label = Label(atlas, original, i, j, k);
        if (label == 0)
            continue; // outside the brain
        sampled++;
        // The original keeps the brain's grey levels.
        ASSERT_EQ(source.Grey(i, j, k), original.Grey(i, j, k)) << i << " " << j << " " << k;
        // The oblique voxel takes its grey level in-plane from one slice of the original; where that
        // slice lies is known to one slice only (the exported geometry is a plane through the stepping of
        // the source slices along the cut).  So: between the lowest and highest in-plane grey level of the
        // slices within one of the point, widened by one for the rounding of the interpolation.
        double low = 1e9, high = -1e9;
        int k_below = static_cast<int>(floor(voxel[2]));
        for (int kk = std::max(0, k_below - 1); kk <= std::min(original.Depth() - 1, k_below + 2); kk++) {
            double grey = original.Grey_At(voxel[0], voxel[1], kk);
            low = std::min(low, grey);
            high = std::max(high, grey);
        }
        int grey = oblique.Grey(x, y, n);
        ASSERT_GE(grey, floor(low) - 1) << "oblique " << x << " " << y << " " << n << " at original " << voxel[0]
                                         << " " << voxel[1] << " " << voxel[2];
        ASSERT_LE(grey, ceil(high) + 1) << "oblique " << x << " " << y << " " << n << " at original " << voxel[0]
                                         << " " << voxel[1] << " " << voxel[2];
        int tag = Label(oblique_tags, oblique, x, y, n);
        labels_equal += tag == label;
        if (Label_Uniform(atlas, original, i, j, k)) {
            labels_inner++;
            ASSERT_EQ(label, tag) << "oblique " << x << " " << y << " " << n << " inside one atlas region";
        }
    }
    ASSERT_EQ(samples_wanted, sampled);
    EXPECT_GE(labels_equal * 100, sampled * 95) << labels_equal << " of " << sampled << " labels agree";
    EXPECT_GT(labels_inner * 2, sampled) << "most samples lie inside a region: " << labels_inner;
}
