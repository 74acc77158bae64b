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

/* RAS affine of the test volume (tests/data/inputs/export/source.nii): oblique in-plane, 2 x 1.5 x 3 mm.  Its
 * 5 x 4 x 3 voxels hold grey 100 k + 10 j + i. */
const double test_sform[3][4] = {{1.2, -1.2, 0, 5}, {1.6, 0.9, 0, -6}, {0, 0, 3, 7}};

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

    /* A study of tests/data/inputs/export. */
    AzSeries Read(const std::string &name)
    {
        AzSeries series;
        AzLoad_Report report;
        EXPECT_EQ(1, AzNifti_Read(Input("export/" + name), &series, &report));
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
    AzSeries series = Read("source.nii");
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

    // Real values (float -1.2 .. 2.5 in even steps, plus 1e-5 (n % 3)) come back within 1/30000 of their range,
    // through the study's slope and intercept.
    AzSeries fine = Read("real.nii"), fine_back;
    request.grey_path = folder.File("real_copy.nii");
    ASSERT_EQ(1, AzExport_Class(Insert(fine, nullptr), request, &result, &error)) << error;
    AzLoad_Report report;
    ASSERT_EQ(1, AzNifti_Read(folder.File("real_copy.nii"), &fine_back, &report));
    EXPECT_EQ(fine.slope, fine_back.slope);
    EXPECT_EQ(fine.intercept, fine_back.intercept);
    for (int i = 0; i < 60; i++)
        EXPECT_NEAR(-1.2 + 3.7 * i / 59 + (i % 3) * 1e-5, AzSeries_Real(fine_back, fine_back.frames[i / 20].gli[i % 20]),
                    3.7 / 30000) << i;
    // Nothing but the finished files is left in the folder.
    EXPECT_EQ((std::vector<std::string>{"grey.nii.gz", "real_copy.nii", "tags.nii"}),
              Names_In(folder.Path()));
}

TEST_F(Export, LabelValuesUpTo65535MapOntoTagsAndComeBackInEveryFile)
{
    // 200 distinct values on a 20 x 10 x 2 grid, float: voxel i holds 0 when odd, else 300 + 37 (i / 2), the
    // last 65535; two of them named (many.nii.txt: 300 First, 65535 Last, 70000 Beyond).
    AzLabels labels;
    AzLoad_Report report;
    ASSERT_EQ(1, AzNifti_Read_Labels(Input("export/many.nii"), &labels, &report));
    EXPECT_EQ(200, labels.values_nb);
    EXPECT_EQ(300, labels.value_min);
    EXPECT_EQ(65535, labels.value_max);
    EXPECT_EQ(300, labels.values[1]); // ascending values take tags 1, 2, ...
    EXPECT_EQ(337, labels.values[2]);
    EXPECT_EQ(65535, labels.values[200]);
    EXPECT_EQ("First", labels.names[1]);
    EXPECT_EQ("Last", labels.names[200]);

    AzSeries series = Read("many_grey.nii"); // the same grid as a study
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
        ASSERT_EQ(i % 2 ? 0 : i == 398 ? 65535 : 300 + 37 * (i / 2), back.values[back.tags[i]]) << i;
    EXPECT_EQ("Last", back.names[200]);
    EXPECT_EQ("300 First\n65535 Last\n", Text_Of(folder.File("saved.nii.txt")));
    EXPECT_TRUE(Contains(Text_Of(folder.File("saved.nii.lut")), "\n65535 ")) << Text_Of(folder.File("saved.nii.lut"));
    AzTags_Map_Reset();

    // As many distinct values as tags (full.nii: 1000 + i % 255) are taken (more are refused: the command table).
    EXPECT_EQ(1, AzNifti_Read_Labels(Input("export/full.nii"), &back, &report));
}

namespace {

/* Label files on the test volume's grid (tests/data/inputs/export/NAME.nii), each voxel holding the number
 * 1 + i + 5 j + 20 k of the study voxel (i, j, k) it lies on, stored in another order or moved. */
struct Label_Grid {
    const char *name;
    const char *size;     /* its first two sizes */
    int shift_i;          /* the whole grid moved this many voxels along i */
    const char *relation; /* what the load says ("" when it says nothing) */
    int dicom;            /* the study as a DICOM series (LPS: the test affine's x and y negated) */
};

void PrintTo(const Label_Grid &grid, std::ostream *os) { *os << grid.name; }

class Placement : public Export, public ::testing::WithParamInterface<Label_Grid> {};

} // namespace

TEST_P(Placement, LabelsLandByWorldPositionWhateverTheirGrid)
{
    const Label_Grid &grid = GetParam();
    AzSeries series = Read("source.nii");
    std::vector<AzSeries> read;
    AzLoad_Report report;
    // The test volume as one 3-frame DICOM file.
    ASSERT_TRUE(!grid.dicom || AzDicom_Read(Input("export/study.dcm"), &read, &report) == 1);
    if (grid.dicom)
        series = read[0];
    AzLabels labels;
    ASSERT_EQ(1, AzNifti_Read_Labels(Input("export/" + std::string(grid.name) + ".nii"), &labels, &report));
    console.Clear();
    Kelvra_Class *study = Insert(series, &labels);
    std::string said = std::string(": the label grid differs from the study's (") + grid.relation + ")";
    EXPECT_EQ(grid.relation[0] ? 1u : 0u, console.Count(said)) << Console_Dump(console.Lines());
    AzVolume volume;
    std::string error;
    ASSERT_EQ(1, AzVolume_From_Class(study, &volume, &error)) << error;
    for (int n = 0; n < 60; n++) {
        int i = n % 5, j = n / 5 % 4, k = n / 20;
        ASSERT_EQ(i < grid.shift_i ? 0 : 1 + i + 5 * j + 20 * k, volume.tag[volume.Index(i, j, k, 0)]) << i << j << k;
    }
    // Labels without world geometry must have the study's size.
    labels.has_affine = 0;
    labels.depth = 4;
    AzLoaded_Series loaded;
    EXPECT_EQ(0, AzSeries_Insert(series, &labels, &loaded, &error));
    EXPECT_EQ("label volume " + std::string(grid.size) + "x4 does not match the study's grid 5x4x3", error);
}

INSTANTIATE_TEST_SUITE_P(
    Export, Placement,
    ::testing::Values(Label_Grid{"plain", "5x4", 0, "", 0},
                      Label_Grid{"flipped-x", "5x4", 0, "storage order flipped along x", 0},
                      Label_Grid{"flipped-z", "5x4", 0, "storage order flipped along z", 0},
                      Label_Grid{"transposed", "4x5", 0,
                                 "size 4x5x3 against the study's 5x4x3; axes stored in another order", 0},
                      Label_Grid{"moved", "5x4", 1, "centres 2.0 mm apart", 0},
                      Label_Grid{"flipped-x", "5x4", 0, "storage order flipped along x", 1}));

TEST_F(Export, PicturesFollowTheDisplayWindowAndTagColours)
{
    AzSeries series = Read("source.nii");
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
