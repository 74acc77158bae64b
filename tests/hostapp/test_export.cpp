/*
 * Studies into the database and back out: the frames' pixels and world
 * geometry read through the host's frame calls, written as NIfTI and PNG,
 * and read again.
 */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "hostapp/lib/az_export.h"
#include "hostapp/lib/az_labels.h"
#include "hostapp/lib/az_read.h"
#include "hostapp/lib/az_study.h"
#include "hostlib/structures/az_gl.h"
#include "module/entry.h"
#include "tests/support/host_test.h"
#include "test_files.h"

namespace {

/* RAS affine of the test volume: oblique in-plane, 2 x 1.5 x 3 mm. */
const Affine test_sform = {{{1.2, -1.2, 0, 5}, {1.6, 0.9, 0, -6}, {0, 0, 3, 7}}};

/* 5 x 4 x 3 voxels (at nt time points), grey 1000 t + 100 k + 10 j + i. */
Nifti_Plan Test_Volume(int nt = 1)
{
    Nifti_Plan plan;
    plan.dim = {5, 4, 3, nt};
    plan.sform = test_sform;
    for (int n = 0; n < 60 * nt; n++)
        plan.values.push_back(n / 60 * 1000 + n / 20 % 3 * 100 + n / 5 % 4 * 10 + n % 5);
    return plan;
}

/* Tags 5 x 4 x 3, all 0 but those given as {voxel, tag}. */
AzLabels Tags(std::initializer_list<std::pair<int, int>> set)
{
    AzLabels labels;
    labels.width = 5, labels.height = 4, labels.depth = 3;
    labels.tags.assign(60, 0);
    for (const auto &voxel : set)
        labels.tags[voxel.first] = static_cast<uint8_t>(voxel.second);
    return labels;
}

/* The host without the module, unless a test asks for it. */
class Export : public Host_Test {
  protected:
    Export() { module_level = false; }

    AzSeries Read(const Nifti_Plan &plan, const std::string &name)
    {
        std::string path = folder.File(name);
        EXPECT_TRUE(Nifti_Write(path, plan));
        AzSeries series;
        AzLoad_Report report;
        EXPECT_EQ(1, AzNifti_Read(path, &series, &report));
        return series;
    }

    Kelvra_Class *Insert(const AzSeries &series, const AzLabels *labels)
    {
        AzLoaded_Series loaded;
        std::string error;
        EXPECT_EQ(1, AzSeries_Insert(series, labels, &loaded, &error)) << error;
        Wait();
        EXPECT_EQ(static_cast<int>(series.frames.size()), loaded.inserted_nb);
        return AzLoaded_Series_Class(loaded);
    }

    Temp_Folder folder;
};

/* Voxel (i, j, k) of a volume in LPS world. */
void Expect_Lps_Affine(const double affine[3][4])
{
    for (int c = 0; c < 4; c++) {
        EXPECT_NEAR(-test_sform[0][c], affine[0][c], 1e-5) << c;
        EXPECT_NEAR(-test_sform[1][c], affine[1][c], 1e-5) << c;
        EXPECT_NEAR(test_sform[2][c], affine[2][c], 1e-5) << c;
    }
}

} // namespace

TEST_F(Export, WhatTheFramesShowIsWrittenAndReadBack)
{
    AzSeries series = Read(Test_Volume(), "source.nii");
    AzLabels labels = Tags({});
    for (int i = 0; i < 60; i++)
        labels.tags[i] = static_cast<uint8_t>(i % 7);
    for (int tagged = 0; tagged < 2; tagged++) {
        SetUp();
        Kelvra_Class *study = Insert(series, tagged ? &labels : nullptr);
        ASSERT_NE(nullptr, study);
        EXPECT_STREQ("source", study->Name_Get());
        AzVolume volume;
        std::string error;
        ASSERT_EQ(1, AzVolume_From_Class(study, &volume, &error)) << error;
        EXPECT_EQ((std::vector<int>{5, 4, 3, 1}),
                  (std::vector<int>{volume.width, volume.height, volume.depth, volume.times}));
        Expect_Lps_Affine(volume.affine);
        for (int n = 0; n < 60; n++)
            ASSERT_EQ(n / 20 * 100 + n / 5 % 4 * 10 + n % 5, volume.gli[volume.Index(n % 5, n / 5 % 4, n / 20, 0)]) << n;
        // One frame a block: three blocks on every core, written in order; then the fast path without tags.
        std::vector<std::string> bytes;
        for (int plain = 1; plain >= 0; plain--) {
            AzExport_Request request;
            request.grey_path = folder.File("grey.nii.gz");
            request.tags_path = folder.File("tags.nii");
            request.keep_middle = request.keep_montage = 1;
            request.force_tags = plain;
            request.block_frames = plain ? 1 : 0;
            AzExport_Result result;
            ASSERT_EQ(1, AzExport_Class(study, request, &result, &error)) << error;
            EXPECT_EQ(tagged, result.tagged);
            EXPECT_EQ(3, result.depth);
            Expect_Lps_Affine(result.affine);
            EXPECT_EQ(volume.gli[volume.Index(0, 0, 1, 0)], result.middle.gli[0]);
            EXPECT_EQ(volume.tag, result.montage.tag);
            bytes.push_back(Text_Of(folder.File("grey.nii.gz")) + Text_Of(folder.File("tags.nii")));
            AzSeries back;
            AzLabels tags;
            AzLoad_Report report;
            ASSERT_EQ(1, AzNifti_Read(folder.File("grey.nii.gz"), &back, &report));
            ASSERT_EQ(1, AzNifti_Read_Labels(folder.File("tags.nii"), &tags, &report));
            for (int k = 0; k < 3; k++) {
                EXPECT_NEAR(0.0, AzVec3_Norm(AzVec3_Sub(series.frames[k].position, back.frames[k].position)), 1e-4);
                EXPECT_EQ(series.frames[k].gli, back.frames[k].gli);
            }
            EXPECT_EQ(volume.tag, tags.tags);
        }
        // The blocks are gzip members of their own: the files differ in bytes, not in what they hold.
        EXPECT_NE(bytes[0], bytes[1]);
    }
    // One slice only.
    Kelvra_Class *study = AzDb_Root()->Child_Get_Pt(0);
    AzVolume one;
    std::string error;
    ASSERT_EQ(1, AzVolume_From_Class(study, &one, &error, 2)) << error;
    EXPECT_EQ(1, one.depth);
    EXPECT_EQ(234, one.gli[one.Index(4, 3, 0, 0)]);
    EXPECT_EQ(0, AzVolume_From_Class(study, &one, &error, 3));
    EXPECT_EQ("\"source\" has no frame 3 (it has 3)", error);
    // A file that cannot be created is named.
    AzExport_Request request;
    request.grey_path = folder.File("missing/grey.nii.gz");
    AzExport_Result result;
    EXPECT_EQ(0, AzExport_Class(study, request, &result, &error));
    EXPECT_EQ(0u, error.find(folder.File("missing/grey.nii.gz") + ": cannot create: ")) << error;

    // Real values come back within 1/30000 of their range, through the study's slope and intercept.
    Nifti_Plan real = Test_Volume();
    real.datatype = 16;
    for (size_t i = 0; i < real.values.size(); i++)
        real.values[i] = -1.2 + 3.7 * i / (real.values.size() - 1) + (i % 3) * 1e-5;
    AzSeries fine = Read(real, "real.nii"), fine_back;
    request.grey_path = folder.File("real_copy.nii");
    ASSERT_EQ(1, AzExport_Class(Insert(fine, nullptr), request, &result, &error)) << error;
    AzLoad_Report report;
    ASSERT_EQ(1, AzNifti_Read(folder.File("real_copy.nii"), &fine_back, &report));
    EXPECT_EQ(fine.slope, fine_back.slope);
    EXPECT_EQ(fine.intercept, fine_back.intercept);
    for (size_t i = 0; i < real.values.size(); i++)
        EXPECT_NEAR(real.values[i], AzSeries_Real(fine_back, fine_back.frames[i / 20].gli[i % 20]), 3.7 / 30000) << i;
    // Nothing but the finished files is left in the folder.
    EXPECT_EQ((std::vector<std::string>{"grey.nii.gz", "real.nii", "real_copy.nii", "source.nii", "tags.nii"}),
              Names_In(folder.Path()));
}

TEST_F(Export, LabelValuesUpTo65535MapOntoTagsAndComeBackInEveryFile)
{
    // 200 distinct values from 300 to 65535 on a 20 x 10 x 2 grid, two of them named.
    Nifti_Plan plan;
    plan.dim = {20, 10, 2, 1};
    plan.datatype = 16;
    for (int i = 0; i < 400; i++)
        plan.values.push_back(i % 2 ? 0 : i / 2 == 199 ? 65535 : 300 + 37 * (i / 2));
    ASSERT_TRUE(Nifti_Write(folder.File("many.nii"), plan));
    ASSERT_TRUE(Bytes_Write(folder.File("many.nii.txt"), "300 First\n65535 Last\n70000 Beyond\n"));
    AzLabels labels;
    AzLoad_Report report;
    ASSERT_EQ(1, AzNifti_Read_Labels(folder.File("many.nii"), &labels, &report));
    EXPECT_EQ(200, labels.values_nb);
    EXPECT_EQ(300, labels.value_min);
    EXPECT_EQ(65535, labels.value_max);
    EXPECT_EQ(300, labels.values[1]); // ascending values take tags 1, 2, ...
    EXPECT_EQ(337, labels.values[2]);
    EXPECT_EQ(65535, labels.values[200]);
    EXPECT_EQ("First", labels.names[1]);
    EXPECT_EQ("Last", labels.names[200]);

    plan.datatype = 4;
    AzSeries series = Read(plan, "study.nii");
    AzLoaded_Series loaded;
    std::string error;
    ASSERT_EQ(1, AzSeries_Insert(series, &labels, &loaded, &error)) << error;
    AzTags_Map_Set(labels);
    EXPECT_EQ("tag 200 (label 65535): Last", AzTags_Text(200));
    EXPECT_EQ((std::vector<int>{1}), AzTags_Matches("fir"));
    AzVolume volume;
    ASSERT_EQ(1, AzTags_Study_Volume(loaded, &volume, &error)) << error;
    ASSERT_EQ(1, AzTags_Write(volume, folder.File("saved.nii.gz"), &error)) << error;
    AzLabels back;
    ASSERT_EQ(1, AzNifti_Read_Labels(folder.File("saved.nii.gz"), &back, &report));
    ASSERT_EQ(400u, back.tags.size());
    for (size_t i = 0; i < 400; i++)
        ASSERT_EQ(plan.values[i], back.values[back.tags[i]]) << i;
    EXPECT_EQ("Last", back.names[200]);
    EXPECT_EQ("300 First\n65535 Last\n", Text_Of(folder.File("saved.nii.txt")));
    EXPECT_TRUE(Contains(Text_Of(folder.File("saved.nii.lut")), "\n65535 ")) << Text_Of(folder.File("saved.nii.lut"));
    AzTags_Map_Reset();

    // As many distinct values as tags are taken (more are refused: the command table).
    for (int i = 0; i < 400; i++)
        plan.values[i] = 1000 + i % 255;
    ASSERT_TRUE(Nifti_Write(folder.File("full.nii"), plan));
    EXPECT_EQ(1, AzNifti_Read_Labels(folder.File("full.nii"), &back, &report));
}

namespace {

/* Label file variants of the test volume's grid: how their voxels are
 * stored, and the study voxel (i, j, k) each file voxel (a, b, c) lies on. */
struct Label_Grid {
    const char *name;
    int dim[3];
    int axis[3];          /* file axis a, b, c runs along study axis axis[] ... */
    int flip[3];          /* ... backwards when flip is 1 */
    int shift_i;          /* the whole grid moved this many voxels along i */
    const char *relation; /* what the load says ("" when it says nothing) */
    int dicom;            /* the study as a DICOM series (LPS: the test affine's x and y negated) */
};

void PrintTo(const Label_Grid &grid, std::ostream *os) { *os << grid.name; }

/* The label stored for study voxel (i, j, k): its own number. */
int Label_Of(int i, int j, int k) { return 1 + i + 5 * j + 20 * k; }

Nifti_Plan Label_File(const Label_Grid &grid)
{
    Nifti_Plan plan;
    plan.datatype = 2;
    plan.dim = {grid.dim[0], grid.dim[1], grid.dim[2], 1};
    const int study_dim[3] = {5, 4, 3};
    // Column c of the file's affine: study column axis[c], negated when flipped; the origin moves to the
    // study voxel the file's voxel 0 lies on.
    double origin_voxel[3] = {static_cast<double>(grid.shift_i), 0, 0};
    for (int c = 0; c < 3; c++) {
        int s = grid.axis[c];
        if (grid.flip[c])
            origin_voxel[s] += study_dim[s] - 1;
        for (int r = 0; r < 3; r++)
            plan.sform[r][c] = test_sform[r][s] * (grid.flip[c] ? -1 : 1);
    }
    for (int r = 0; r < 3; r++) {
        plan.sform[r][3] = test_sform[r][3];
        for (int s = 0; s < 3; s++)
            plan.sform[r][3] += test_sform[r][s] * origin_voxel[s];
    }
    for (int n = 0; n < grid.dim[0] * grid.dim[1] * grid.dim[2]; n++) {
        int file[3] = {n % grid.dim[0], n / grid.dim[0] % grid.dim[1], n / (grid.dim[0] * grid.dim[1])};
        int study[3] = {grid.shift_i, 0, 0};
        for (int c = 0; c < 3; c++)
            study[grid.axis[c]] += grid.flip[c] ? grid.dim[c] - 1 - file[c] : file[c];
        plan.values.push_back(Label_Of(study[0], study[1], study[2]));
    }
    return plan;
}

class Placement : public Export, public ::testing::WithParamInterface<Label_Grid> {};

} // namespace

TEST_P(Placement, LabelsLandByWorldPositionWhateverTheirGrid)
{
    const Label_Grid &grid = GetParam();
    AzSeries series = Read(Test_Volume(), "source.nii");
    if (grid.dicom) {
        Inputs_Make("export", folder);  // the test volume as one 3-frame DICOM file
        std::vector<AzSeries> read;
        AzLoad_Report report;
        ASSERT_EQ(1, AzDicom_Read(folder.File("study.dcm"), &read, &report));
        series = read[0];
    }
    std::string path = folder.File(std::string(grid.name) + ".nii");
    ASSERT_TRUE(Nifti_Write(path, Label_File(grid)));
    AzLabels labels;
    AzLoad_Report report;
    ASSERT_EQ(1, AzNifti_Read_Labels(path, &labels, &report));
    console.Clear();
    Kelvra_Class *study = Insert(series, &labels);
    std::string said = std::string(": the label grid differs from the study's (") + grid.relation + ")";
    EXPECT_EQ(grid.relation[0] ? 1u : 0u, console.Count(said)) << Console_Dump(console.Lines());
    AzVolume volume;
    std::string error;
    ASSERT_EQ(1, AzVolume_From_Class(study, &volume, &error)) << error;
    for (int n = 0; n < 60; n++) {
        int i = n % 5, j = n / 5 % 4, k = n / 20;
        ASSERT_EQ(i < grid.shift_i ? 0 : Label_Of(i, j, k), volume.tag[volume.Index(i, j, k, 0)]) << i << j << k;
    }
    // Labels without world geometry must have the study's size.
    labels.has_affine = 0;
    labels.depth = 4;
    AzLoaded_Series loaded;
    EXPECT_EQ(0, AzSeries_Insert(series, &labels, &loaded, &error));
    EXPECT_EQ("label volume " + std::to_string(grid.dim[0]) + "x" + std::to_string(grid.dim[1]) +
                  "x4 does not match the study's grid 5x4x3", error);
}

INSTANTIATE_TEST_SUITE_P(
    Export, Placement,
    ::testing::Values(Label_Grid{"plain", {5, 4, 3}, {0, 1, 2}, {0, 0, 0}, 0, "", 0},
                      Label_Grid{"flipped-x", {5, 4, 3}, {0, 1, 2}, {1, 0, 0}, 0, "storage order flipped along x", 0},
                      Label_Grid{"flipped-z", {5, 4, 3}, {0, 1, 2}, {0, 0, 1}, 0, "storage order flipped along z", 0},
                      Label_Grid{"transposed", {4, 5, 3}, {1, 0, 2}, {0, 0, 0}, 0,
                                 "size 4x5x3 against the study's 5x4x3; axes stored in another order", 0},
                      Label_Grid{"moved", {5, 4, 3}, {0, 1, 2}, {0, 0, 0}, 1, "centres 2.0 mm apart", 0},
                      Label_Grid{"flipped-x-on-dicom", {5, 4, 3}, {0, 1, 2}, {1, 0, 0}, 0,
                                 "storage order flipped along x", 1}));

TEST_F(Export, PicturesFollowTheDisplayWindowAndTagColours)
{
    AzSeries series = Read(Test_Volume(), "source.nii");
    series.display_mode = AZ_DISPLAY_MIN_MAX;
    series.display_low = 0.0f;
    series.display_high = 200.0f;
    AzLabels labels = Tags({{1 * 20 + 2 * 5 + 3, 1}}); // (3, 2) of slice 1
    Kelvra_Class *study = Insert(series, &labels);
    AzGl_Tag_Set(1, 255, 0, 0, 0.25f);
    AzVolume volume;
    std::string error;
    ASSERT_EQ(1, AzVolume_From_Class(study, &volume, &error)) << error;
    // Rows and columns run to the patient's right and front: the picture shows them mirrored both ways.
    // Grey 100 in a window 0..200: half way, 128.  Grey 123 = 156.8 -> 157, a quarter covered by red (alpha
    // byte 63): 157 * 192 / 255 + 255 * 63 / 255 = 181.7 -> 181, 157 * 192 / 255 = 118.2 -> 118.
    const struct {
        int scheme;
        uint32_t untagged, tagged;
    } schemes[] = {
        {0, 0xff000000u, 0xff0000ffu}, // tags alone over black
        {1, 0xff808080u, 0xff0000ffu}, // tags opaque where drawn
        {2, 0xff808080u, 0xff7676b5u}, // tags blended with their alpha
        {3, 0xff808080u, 0xff9d9d9du}, // grey alone
        {4, 0xff000000u, 0xff0000ffu}, // tags opaque, hiding the grey
    };
    for (const auto &row : schemes) {
        SCOPED_TRACE(row.scheme);
        AzVar_Set("$COLOR_SCHEME", row.scheme);
        std::vector<uint32_t> picture = AzVolume_Picture(volume, 1, 0);
        EXPECT_EQ(row.untagged, picture[3 * 5 + 4]);
        EXPECT_EQ(row.tagged, picture[1 * 5 + 1]);
    }
    AzVar_Set("$COLOR_SCHEME", AZ_GL_DEFAULT_SCHEME);

    ASSERT_EQ(1, AzVolume_Write_Png(volume, 1, folder.File("slice.png"), &error)) << error;
    ASSERT_EQ(1, AzVolume_Write_Montage(volume, 2, folder.File("montage.png"), &error)) << error;
    EXPECT_EQ("5x4", Png_Size(folder.File("slice.png")));
    EXPECT_EQ("10x8", Png_Size(folder.File("montage.png"))); // two slices a row
    EXPECT_EQ(0, AzVolume_Write_Png(volume, 3, folder.File("none.png"), &error));
    EXPECT_EQ(folder.File("none.png") + ": no slice 3 (the volume has 3)", error);
    EXPECT_EQ(0, AzVolume_Write_Nifti(volume, folder.File("missing/x.nii"), AZ_EXPORT_GREY, &error));
    EXPECT_EQ(0u, error.find(folder.File("missing/x.nii") + ": cannot create: ")) << error;
}
