/*
 * Studies into the database and back out: the frames' pixels and world
 * geometry read through the host's frame calls, written as NIfTI and PNG,
 * and read again.
 */
#include <dirent.h>
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
#include "tests/support/console_capture.h"
#include "test_files.h"

namespace {

/* RAS affine of the test volume: oblique in-plane, 2 x 1.5 x 3 mm. */
const double test_sform[3][4] = {{1.2, -1.2, 0, 5}, {1.6, 0.9, 0, -6}, {0, 0, 3, 7}};

Nifti_Plan Test_Volume()
{
    Nifti_Plan plan;
    plan.dim[0] = 5;
    plan.dim[1] = 4;
    plan.dim[2] = 3;
    memcpy(plan.sform, test_sform, sizeof(test_sform));
    for (int k = 0; k < 3; k++)
        for (int j = 0; j < 4; j++)
            for (int i = 0; i < 5; i++)
                plan.values.push_back(k * 100 + j * 10 + i);
    return plan;
}

class Export : public ::testing::Test {
  protected:
    void SetUp() override
    {
        AzDb_Init();
        AzDb_Tree_Default(nullptr);
    }
    void TearDown() override { AzDb_Reset(); }

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
        AzLoaded_Study loaded;
        std::string error;
        EXPECT_EQ(1, AzSeries_Insert(series, labels, &loaded, &error)) << error;
        AzHost_Pump();
        EXPECT_EQ(static_cast<int>(series.frames.size()), loaded.inserted_nb);
        return AzLoaded_Study_Class(loaded);
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

std::vector<std::string> Files_In(const std::string &path)
{
    std::vector<std::string> names;
    DIR *dir = opendir(path.c_str());
    while (dirent *entry = dir ? readdir(dir) : nullptr)
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            names.push_back(entry->d_name);
    if (dir)
        closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST_F(Export, StudyFramesReadBackWithTheirGeometryAndPixels)
{
    AzSeries series = Read(Test_Volume(), "source.nii");
    Kelvra_Class *study = Insert(series, nullptr);
    ASSERT_NE(nullptr, study);
    EXPECT_STREQ("source", study->Name_Get());
    AzVolume volume;
    std::string error;
    ASSERT_EQ(1, AzVolume_From_Class(study, &volume, &error)) << error;
    EXPECT_EQ(5, volume.width);
    EXPECT_EQ(4, volume.height);
    EXPECT_EQ(3, volume.depth);
    EXPECT_EQ(1, volume.times);
    Expect_Lps_Affine(volume.affine);
    for (int k = 0; k < 3; k++)
        for (int j = 0; j < 4; j++)
            for (int i = 0; i < 5; i++)
                ASSERT_EQ(k * 100 + j * 10 + i, volume.gli[volume.Index(i, j, k, 0)]) << i << j << k;

    // One slice only.
    AzVolume one;
    ASSERT_EQ(1, AzVolume_From_Class(study, &one, &error, 2)) << error;
    EXPECT_EQ(1, one.depth);
    EXPECT_EQ(234, one.gli[one.Index(4, 3, 0, 0)]);
    EXPECT_EQ(0, AzVolume_From_Class(study, &one, &error, 3));
    EXPECT_EQ("\"source\" has no frame 3 (it has 3)", error);
}

TEST_F(Export, NiftiRoundTripKeepsGeometryGreyLevelsAndTags)
{
    AzSeries series = Read(Test_Volume(), "source.nii");
    AzLabels labels;
    labels.width = 5;
    labels.height = 4;
    labels.depth = 3;
    for (int i = 0; i < 60; i++)
        labels.tags.push_back(static_cast<uint8_t>(i % 7));
    Kelvra_Class *study = Insert(series, &labels);
    ASSERT_NE(nullptr, study);
    AzVolume volume;
    std::string error;
    ASSERT_EQ(1, AzVolume_From_Class(study, &volume, &error)) << error;
    for (const char *name : {"copy.nii.gz", "copy.nii"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(1, AzVolume_Write_Nifti(volume, folder.File(name), AZ_EXPORT_GREY, &error)) << error;
        AzSeries back;
        AzLoad_Report report;
        ASSERT_EQ(1, AzNifti_Read(folder.File(name), &back, &report));
        ASSERT_EQ(3u, back.frames.size());
        EXPECT_EQ(5, back.width);
        EXPECT_EQ(4, back.height);
        for (int c = 0; c < 3; c++)
            EXPECT_NEAR(series.spacing[c], back.spacing[c], 1e-5);
        for (int k = 0; k < 3; k++) {
            EXPECT_NEAR(series.frames[k].position.x, back.frames[k].position.x, 1e-4);
            EXPECT_NEAR(series.frames[k].position.y, back.frames[k].position.y, 1e-4);
            EXPECT_NEAR(series.frames[k].position.z, back.frames[k].position.z, 1e-4);
            EXPECT_EQ(series.frames[k].gli, back.frames[k].gli);
        }
    }
    ASSERT_EQ(1, AzVolume_Write_Nifti(volume, folder.File("tags.nii.gz"), AZ_EXPORT_TAGS, &error)) << error;
    AzLabels back;
    AzLoad_Report report;
    ASSERT_EQ(1, AzNifti_Read_Labels(folder.File("tags.nii.gz"), &back, &report));
    EXPECT_EQ(labels.tags, back.tags);
    // Real values come back within 1/30000 of their range, through the study's slope and intercept.
    Nifti_Plan real = Test_Volume();
    real.datatype = 16;
    for (size_t i = 0; i < real.values.size(); i++)
        real.values[i] = -1.2 + 3.7 * i / (real.values.size() - 1) + (i % 3) * 1e-5;
    AzSeries fine = Read(real, "real.nii");
    ASSERT_EQ(1, AzVolume_From_Class(Insert(fine, nullptr), &volume, &error)) << error;
    ASSERT_EQ(1, AzVolume_Write_Nifti(volume, folder.File("real_copy.nii"), AZ_EXPORT_GREY, &error)) << error;
    AzSeries fine_back;
    ASSERT_EQ(1, AzNifti_Read(folder.File("real_copy.nii"), &fine_back, &report));
    EXPECT_EQ(fine.slope, fine_back.slope);
    EXPECT_EQ(fine.intercept, fine_back.intercept);
    for (size_t i = 0; i < real.values.size(); i++)
        EXPECT_NEAR(real.values[i], AzSeries_Real(fine_back, fine_back.frames[i / 20].gli[i % 20]), 3.7 / 30000) << i;
    // Nothing but the finished files is left in the folder.
    EXPECT_EQ((std::vector<std::string>{"copy.nii", "copy.nii.gz", "real.nii", "real_copy.nii", "source.nii",
                                        "tags.nii.gz"}),
              Files_In(folder.Path()));
}

TEST_F(Export, LabelValuesUpTo65535MapOntoTagsAndComeBackInEveryFile)
{
    // 200 distinct values from 300 to 65535 on a 20 x 10 x 2 grid, two of them named.
    Nifti_Plan plan;
    plan.dim[0] = 20;
    plan.dim[1] = 10;
    plan.dim[2] = 2;
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
    AzLoaded_Study loaded;
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

    // As many distinct values as tags are taken; more, and values that are no label, are refused with the
    // count or the value.
    for (int i = 0; i < 400; i++)
        plan.values[i] = 1000 + i % 255;
    ASSERT_TRUE(Nifti_Write(folder.File("full.nii"), plan));
    EXPECT_EQ(1, AzNifti_Read_Labels(folder.File("full.nii"), &back, &report));
    for (int i = 0; i < 400; i++)
        plan.values[i] = 1000 + i % 300;
    plan.datatype = 16;
    ASSERT_TRUE(Nifti_Write(folder.File("too_many.nii"), plan));
    EXPECT_EQ(0, AzNifti_Read_Labels(folder.File("too_many.nii"), &back, &report));
    EXPECT_EQ(folder.File("too_many.nii") +
                  ": 300 distinct label values (1000 to 1299): the host's tags hold at most 255 at once",
              report.problems.back());
    plan.values[7] = 2.5;
    ASSERT_TRUE(Nifti_Write(folder.File("half.nii"), plan));
    EXPECT_EQ(0, AzNifti_Read_Labels(folder.File("half.nii"), &back, &report));
    EXPECT_EQ(folder.File("half.nii") + ": label value 2.5 at voxel 7 is not a whole number from 0 to 65535",
              report.problems.back());
}

/* Label file variants of the test volume's grid: how their voxels are
 * stored, and the study voxel (i, j, k) each file voxel (a, b, c) lies on. */
struct Label_Grid {
    const char *name;
    int dim[3];
    int axis[3];      /* file axis a, b, c runs along study axis axis[] ... */
    int flip[3];      /* ... backwards when flip is 1 */
    int shift_i;      /* the whole grid moved this many voxels along i */
    const char *relation; /* what the load says ("" when it says nothing) */
};

const Label_Grid label_grids[] = {
    {"plain", {5, 4, 3}, {0, 1, 2}, {0, 0, 0}, 0, ""},
    {"flipped-x", {5, 4, 3}, {0, 1, 2}, {1, 0, 0}, 0, "storage order flipped along x"},
    {"flipped-z", {5, 4, 3}, {0, 1, 2}, {0, 0, 1}, 0, "storage order flipped along z"},
    {"transposed", {4, 5, 3}, {1, 0, 2}, {0, 0, 0}, 0,
     "size 4x5x3 against the study's 5x4x3; axes stored in another order"},
    {"moved", {5, 4, 3}, {0, 1, 2}, {0, 0, 0}, 1, "centres 2.0 mm apart"},
};

/* The label stored for study voxel (i, j, k): its own number. */
int Label_Of(int i, int j, int k) { return 1 + i + 5 * j + 20 * k; }

Nifti_Plan Label_File(const Label_Grid &grid)
{
    Nifti_Plan plan;
    plan.datatype = 2;
    memcpy(plan.dim, grid.dim, sizeof(grid.dim));
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
    for (int c3 = 0; c3 < grid.dim[2]; c3++)
        for (int b = 0; b < grid.dim[1]; b++)
            for (int a = 0; a < grid.dim[0]; a++) {
                int file[3] = {a, b, c3}, study[3] = {0, 0, 0};
                for (int c = 0; c < 3; c++)
                    study[grid.axis[c]] = grid.flip[c] ? grid.dim[c] - 1 - file[c] : file[c];
                study[0] += grid.shift_i;
                plan.values.push_back(Label_Of(study[0], study[1], study[2]));
            }
    return plan;
}

TEST_F(Export, LabelsLandByWorldPositionWhateverTheirGrid)
{
    AzSeries series = Read(Test_Volume(), "source.nii");
    for (const Label_Grid &grid : label_grids) {
        SCOPED_TRACE(grid.name);
        std::string path = folder.File(std::string(grid.name) + ".nii");
        ASSERT_TRUE(Nifti_Write(path, Label_File(grid)));
        AzLabels labels;
        AzLoad_Report report;
        ASSERT_EQ(1, AzNifti_Read_Labels(path, &labels, &report));
        Console_Capture console;
        Kelvra_Class *study = Insert(series, &labels);
        std::string said = std::string(": the label grid differs from the study's (") + grid.relation + ")";
        EXPECT_EQ(grid.relation[0] ? 1u : 0u, console.Count(said)) << Console_Dump(console.Lines());
        AzVolume volume;
        std::string error;
        ASSERT_EQ(1, AzVolume_From_Class(study, &volume, &error)) << error;
        for (int k = 0; k < 3; k++)
            for (int j = 0; j < 4; j++)
                for (int i = 0; i < 5; i++)
                    ASSERT_EQ(i < grid.shift_i ? 0 : Label_Of(i, j, k), volume.tag[volume.Index(i, j, k, 0)])
                        << i << " " << j << " " << k;
        AzDb_Reset();
        AzDb_Init();
        AzDb_Tree_Default(nullptr);
    }

    // The same study as a DICOM series (LPS: the test affine's x and y negated) takes a flipped atlas alike.
    Dicom_Plan dicom;
    dicom.width = 5;
    dicom.height = 4;
    dicom.frames = 3;
    const double row[3] = {-0.6, -0.8, 0}, col[3] = {0.8, -0.6, 0}, position[3] = {-5, 6, 7};
    memcpy(dicom.row, row, sizeof(row));
    memcpy(dicom.col, col, sizeof(col));
    memcpy(dicom.position, position, sizeof(position));
    dicom.col_spacing = 2.0;
    dicom.row_spacing = 1.5;
    dicom.frame_step = 3.0;
    dicom.stored.assign(60, 100);
    ASSERT_TRUE(Dicom_Write(folder.File("study.dcm"), dicom));
    std::vector<AzSeries> read;
    AzLoad_Report dicom_report;
    ASSERT_EQ(1, AzDicom_Read(folder.File("study.dcm"), &read, &dicom_report));
    AzLabels flipped;
    ASSERT_EQ(1, AzNifti_Read_Labels(folder.File("flipped-x.nii"), &flipped, &dicom_report));
    AzVolume volume;
    std::string error;
    ASSERT_EQ(1, AzVolume_From_Class(Insert(read[0], &flipped), &volume, &error)) << error;
    for (int k = 0; k < 3; k++)
        for (int j = 0; j < 4; j++)
            for (int i = 0; i < 5; i++)
                ASSERT_EQ(Label_Of(i, j, k), volume.tag[volume.Index(i, j, k, 0)]) << i << " " << j << " " << k;

    // Labels that miss the study entirely are refused; labels without world geometry must have its size.
    Label_Grid away = label_grids[0];
    away.shift_i = 50;
    ASSERT_TRUE(Nifti_Write(folder.File("away.nii"), Label_File(away)));
    AzLabels labels;
    AzLoad_Report report;
    ASSERT_EQ(1, AzNifti_Read_Labels(folder.File("away.nii"), &labels, &report));
    AzLoaded_Study loaded;
    EXPECT_EQ(0, AzSeries_Insert(series, &labels, &loaded, &error));
    EXPECT_EQ(folder.File("away.nii") + ": the label volume does not overlap the study at all (centres 100.0 mm apart)",
              error);
    labels.has_affine = 0;
    labels.depth = 4;
    EXPECT_EQ(0, AzSeries_Insert(series, &labels, &loaded, &error));
    EXPECT_EQ("label volume 5x4x4 does not match the study's grid 5x4x3", error);
}

TEST_F(Export, PicturesFollowTheDisplayWindowAndTagColours)
{
    Nifti_Plan plan = Test_Volume();
    AzSeries series = Read(plan, "source.nii");
    series.display_mode = AZ_DISPLAY_MIN_MAX;
    series.display_low = 0.0f;
    series.display_high = 200.0f;
    AzLabels labels;
    labels.width = 5;
    labels.height = 4;
    labels.depth = 3;
    labels.tags.assign(60, 0);
    labels.tags[1 * 20 + 2 * 5 + 3] = 1; // (3, 2) of slice 1
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
    int width = 0, height = 0;
    ASSERT_TRUE(Png_Size(folder.File("slice.png"), &width, &height));
    EXPECT_EQ(5, width);
    EXPECT_EQ(4, height);
    ASSERT_EQ(1, AzVolume_Write_Montage(volume, 2, folder.File("montage.png"), &error)) << error;
    ASSERT_TRUE(Png_Size(folder.File("montage.png"), &width, &height));
    EXPECT_EQ(10, width);
    EXPECT_EQ(8, height);
    EXPECT_EQ(0, AzVolume_Write_Png(volume, 3, folder.File("none.png"), &error));
    EXPECT_EQ(folder.File("none.png") + ": no slice 3 (the volume has 3)", error);
    EXPECT_EQ(0, AzVolume_Write_Nifti(volume, folder.File("missing/x.nii"), AZ_EXPORT_GREY, &error));
    EXPECT_EQ(0u, error.find(folder.File("missing/x.nii") + ": cannot create: ")) << error;
}

TEST_F(Export, TheStreamedExportHoldsWhatTheFramesShow)
{
    AzSeries series = Read(Test_Volume(), "source.nii");
    AzLabels labels;
    labels.width = 5;
    labels.height = 4;
    labels.depth = 3;
    labels.tags.assign(60, 0);
    labels.tags[2 * 20 + 1 * 5 + 4] = 9;
    for (int tagged = 0; tagged < 2; tagged++) {
        AzDb_Reset();
        SetUp();
        Kelvra_Class *study = Insert(series, tagged ? &labels : nullptr);
        AzVolume volume;
        std::string error;
        ASSERT_EQ(1, AzVolume_From_Class(study, &volume, &error)) << error;
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
            for (int k = 0; k < 3; k++)
                for (int p = 0; p < 20; p++) {
                    EXPECT_EQ(volume.gli[volume.Index(p % 5, p / 5, k, 0)], back.frames[k].gli[p]) << k << " " << p;
                    EXPECT_EQ(volume.tag[volume.Index(p % 5, p / 5, k, 0)], tags.tags[k * 20 + p]) << k << " " << p;
                }
        }
        // The blocks are gzip members of their own: the files differ in bytes, not in what they hold.
        EXPECT_NE(bytes[0], bytes[1]);
    }
    // A file that cannot be created is named.
    Kelvra_Class *study = AzDb_Root()->Child_Get_Pt(0);
    AzExport_Request request;
    request.grey_path = folder.File("missing/grey.nii.gz");
    AzExport_Result result;
    std::string error;
    EXPECT_EQ(0, AzExport_Class(study, request, &result, &error));
    EXPECT_EQ(0u, error.find(folder.File("missing/grey.nii.gz") + ": cannot create: ")) << error;
}

TEST_F(Export, ThroughTheModuleTheOriginalDirectionShowsTheStudy)
{
    AzDb_Tree_Default(Class_Insert);
    AzSeries series = Read(Test_Volume(), "source.nii");
    Kelvra_Class *study = Insert(series, nullptr);
    ASSERT_NE(nullptr, study);
    ASSERT_EQ(2, study->Child_Get_Nb());
    Kelvra_Class *original = study->Child_Get_Pt(0);
    EXPECT_STREQ("source (dir:Original)", original->Name_Get());
    AzVolume volume;
    std::string error;
    ASSERT_EQ(1, AzVolume_From_Class(original, &volume, &error)) << error;
    EXPECT_EQ(3, volume.depth);
    Expect_Lps_Affine(volume.affine);
    EXPECT_EQ(123, volume.gli[volume.Index(3, 2, 1, 0)]);
    // The Oblique direction has no frames before an apply.
    EXPECT_EQ(0, AzVolume_From_Class(study->Child_Get_Pt(1), &volume, &error));
    EXPECT_EQ("\"source (dir:Oblique)\" has no frames", error);
}

TEST_F(Export, AFourDStudyEntersWithTheFramesOfOneTimePoint)
{
    Nifti_Plan plan = Test_Volume();
    plan.dim[3] = 3;
    plan.values.clear();
    for (int t = 0; t < 3; t++)
        for (int k = 0; k < 3; k++)
            for (int j = 0; j < 4; j++)
                for (int i = 0; i < 5; i++)
                    plan.values.push_back(1000 * t + k * 100 + j * 10 + i);
    AzSeries series = Read(plan, "four.nii");
    ASSERT_EQ(3, series.times_nb);

    AzLoaded_Study loaded;
    std::string error;
    ASSERT_EQ(1, AzSeries_Insert(series, nullptr, &loaded, &error, 2)) << error;
    AzHost_Pump();
    EXPECT_EQ(3, loaded.frames_nb); // one frame per slice, not per slice and time point
    EXPECT_EQ(3, loaded.inserted_nb);
    EXPECT_EQ(2, loaded.time_point);
    Kelvra_Class *study = AzLoaded_Study_Class(loaded);
    ASSERT_NE(nullptr, study);
    ASSERT_EQ(3, study->Child_Get_Nb());
    for (int n = 0; n < 3; n++) {
        AzFrame *frame = AzFrame_Cast(study->Child_Get_Pt(n));
        ASSERT_NE(nullptr, frame);
        EXPECT_EQ(2, frame->t) << n;
        EXPECT_EQ(0, frame->z) << n;
    }
    EXPECT_EQ(0u, Fct_Group_Test(study)); // no two frames at one position
    // The images keep every time point.
    Vexa_Image *image = loaded.file->images[1];
    EXPECT_EQ(3, image->times_nb);
    for (int t = 0; t < 3; t++)
        EXPECT_EQ(1000 * t + 100 + 2 * 10 + 3, AzImage_GLI_Plane(image, 0, t)[2 * 5 + 3]) << t;
    // Read back through the frames: one time point, the chosen one.
    AzVolume volume;
    ASSERT_EQ(1, AzVolume_From_Class(study, &volume, &error)) << error;
    EXPECT_EQ(1, volume.times);
    EXPECT_EQ(3, volume.depth);
    EXPECT_EQ(2123, volume.gli[volume.Index(3, 2, 1, 0)]);
    Expect_Lps_Affine(volume.affine);

    // A time point beyond the last one is refused before anything enters the database.
    AzLoaded_Study refused;
    EXPECT_EQ(0, AzSeries_Insert(series, nullptr, &refused, &error, 3));
    EXPECT_EQ("no time point 3: the study has 3 time point(s)", error);
    EXPECT_EQ(0, AzSeries_Insert(series, nullptr, &refused, &error, -1));
    EXPECT_EQ("no time point -1: the study has 3 time point(s)", error);
    // A 3-D study has time point 0 only.
    AzSeries flat = Read(Test_Volume(), "flat.nii");
    EXPECT_EQ(0, AzSeries_Insert(flat, nullptr, &refused, &error, 1));
    EXPECT_EQ("no time point 1: the study has 1 time point(s)", error);
}
