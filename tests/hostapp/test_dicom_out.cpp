/*
 * The re-sliced series and the tags as DICOM: checked by an outside
 * validator (dciodvfy), read back by the host's own readers and compared
 * with the NIfTI files of the same run.
 */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "hostapp/lib/az_dicom_write.h"
#include "test_files.h"

namespace {

const int width = 16, height = 12, depth = 20;

/* The validator's error lines for a file. */
std::string Validator_Errors(const std::string &file)
{
    return Shell_Output("dciodvfy '" + file + "' 2>&1 | grep ^Error");
}

std::string Key_Of(const std::string &file, const char *key)
{
    std::string value = Shell_Output("dckey -k " + std::string(key) + " '" + file + "'");
    while (!value.empty() && (value.back() == '\n' || value.back() == ' '))
        value.pop_back();
    return value;
}

/* Label 3 in one block, label 2001 (beyond the 8-bit tags) in another, in
 * location order; named and coloured. */
int Label_At(int x, int y, int k)
{
    if (x >= 2 && x <= 6 && y >= 2 && y <= 5 && k >= 1 && k <= 4)
        return 3;
    if (x >= 9 && x <= 13 && y >= 6 && y <= 10 && k >= 3 && k <= 6)
        return 2001;
    return 0;
}

/* The tag that stands for a label value, -1 when none. */
int Tag_Of(const AzLabels &labels, int value)
{
    for (int tag = 1; tag < 256; tag++)
        if (labels.values[tag] == value)
            return tag;
    return -1;
}

/* World position of pixel (x, y) of frame f. */
AzVec3 Pixel_World(const AzSeries &series, size_t f, double x, double y)
{
    return AzVec3_Add(series.frames[f].position,
                      AzVec3_Add(AzVec3_Scale(series.axis_row, x * series.spacing[0]),
                                 AzVec3_Scale(series.axis_col, y * series.spacing[1])));
}

/* The study's modality; empty for a NIfTI study. */
class DicomOut : public ::testing::TestWithParam<const char *> {
  protected:
    void SetUp() override
    {
        if (Shell("command -v dciodvfy dckey dcdump >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "dciodvfy is not installed (package dicom3tools)";
    }
    Temp_Folder folder;
};

} // namespace

TEST_P(DicomOut, ValidObjectsThatReadBackWhereTheNiftiExportPutsThem)
{
    std::string modality = GetParam();
    bool dicom = !modality.empty();
    // The study (tests/data/inputs/dicom-out) as a DICOM series of 1.5 x 1.2 mm slices 1 mm apart, or as NIfTI.
    Inputs_Make("dicom-out", folder);
    std::string study = folder.File(dicom ? modality + "/study" : "study.nii"), out = folder.File("out");
    // "dicom" is one of the names a run writes: an earlier one, even a file, is replaced as a whole.
    mkdir(out.c_str(), 0777);
    ASSERT_TRUE(Bytes_Write(out + "/dicom", "an earlier output"));
    Outcome run = Program("reslice '" + study + "' --alpha 20 --beta -15 -o out --labels labels.nii --dicom --original",
                          folder.Path());
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_EQ((std::vector<std::string>{"dicom", "oblique.nii.gz", "oblique_tags.nii.gz", "original.nii.gz",
                                        "original_tags.nii.gz"}), Names_In(out));
    EXPECT_EQ((std::vector<std::string>{"oblique", "tags_seg.dcm"}), Names_In(out + "/dicom"));
    std::string first = out + "/dicom/oblique/IM00001.dcm", seg = out + "/dicom/tags_seg.dcm";
    EXPECT_EQ("", Validator_Errors(first));
    EXPECT_EQ("", Validator_Errors(seg));
    EXPECT_EQ("DERIVED\\SECONDARY\\REFORMATTED", Key_Of(first, "ImageType"));
    EXPECT_EQ("Oblique alpha 20.0 beta -15.0", Key_Of(first, "SeriesDescription"));
    EXPECT_EQ(dicom ? modality : "MR", Key_Of(first, "Modality"));
    EXPECT_TRUE(modality != "CT" || Key_Of(first, "RescaleType") == "HU");
    EXPECT_TRUE(modality != "MR" || Key_Of(first, "RescaleSlope") == "0.5");
    EXPECT_EQ(dicom ? "Test^Patient" : "ANONYMOUS^NIFTI", Key_Of(first, "PatientName"));
    if (dicom) {
        // The segmentation names its source series and images.
        EXPECT_TRUE(Matches(Shell_Output("dcdump '" + seg + "'"),
                            "1.2.826.0.1.3680043.2.1125.1.1.1*<1.2.826.0.1.3680043.2.1125.1>"));
        EXPECT_EQ("1.2.826.0.1.3680043.2.1125.9", Key_Of(first, "StudyInstanceUID"));
        EXPECT_EQ("1.2.826.0.1.3680043.2.1125.9", Key_Of(seg, "StudyInstanceUID"));
    } else {
        EXPECT_EQ("AZOZUDE-NIFTI", Key_Of(first, "PatientID"));
    }
    EXPECT_NE(Key_Of(first, "SeriesInstanceUID"), Key_Of(seg, "SeriesInstanceUID"));
    EXPECT_EQ(Key_Of(first, "FrameOfReferenceUID"), Key_Of(seg, "FrameOfReferenceUID"));

    // The derived series at the NIfTI export's positions, with its grey levels.
    AzSeries back = Series_Read(out + "/dicom/oblique"), exported = Series_Read(out + "/oblique.nii.gz");
    ASSERT_EQ(exported.frames.size(), back.frames.size());
    ASSERT_EQ(exported.width, back.width);
    ASSERT_EQ(exported.height, back.height);
    for (int i = 0; i < 3; i++)
        EXPECT_NEAR(exported.spacing[i], back.spacing[i], 1e-4) << i;
    double farthest = 0.0;
    for (size_t f = 0; f < back.frames.size(); f++) {
        for (int corner = 0; corner < 4; corner++) {
            double x = (corner & 1) * (back.width - 1), y = (corner >> 1) * (back.height - 1);
            farthest = std::max(farthest, AzVec3_Norm(AzVec3_Sub(Pixel_World(exported, f, x, y), Pixel_World(back, f, x, y))));
        }
        EXPECT_EQ(exported.frames[f].gli, back.frames[f].gli) << f;
    }
    // DICOM states perpendicular axes; the export's fit is perpendicular to within its sampling.
    EXPECT_LT(farthest, 0.01);

    // The segmentation gives the same tags at the same places, with their names.
    AzSeries source = Series_Read(study);
    AzLabels read;
    AzLoad_Report report;
    ASSERT_EQ(1, AzDicom_Read_Segmentation(seg, source, &read, &report));
    ASSERT_EQ(static_cast<size_t>(width * height * depth), read.tags.size());
    int differ = 0;
    for (const AzSeries_Frame &frame : source.frames)   // NIfTI's k and DICOM's location order agree here
        for (int n = 0; n < width * height; n++)
            differ += read.values[read.tags[static_cast<size_t>(frame.source_index) * width * height + n]] !=
                      Label_At(n % width, n / width, frame.source_index);
    EXPECT_EQ(0, differ);
    ASSERT_GT(Tag_Of(read, 3), 0);
    ASSERT_GT(Tag_Of(read, 2001), 0);
    EXPECT_EQ("left", read.names[Tag_Of(read, 3)]);
    EXPECT_EQ("right", read.names[Tag_Of(read, 2001)]);
    // Colours travel as CIELab and come back within a step.
    const int expected[2][4] = {{3, 200, 30, 40}, {2001, 10, 220, 90}};
    ASSERT_EQ(1, read.has_colours);
    for (const int *colour : expected)
        for (int c = 0; c < 3; c++)
            EXPECT_NEAR(colour[1 + c], read.colours[Tag_Of(read, colour[0])][c], 1) << colour[0] << " " << c;

    // A segmentation of another grid, a file that is none, and one cut short are refused by name.
    for (AzSeries_Frame &frame : source.frames)
        frame.position.x += 0.7;
    EXPECT_EQ(0, AzDicom_Read_Segmentation(seg, source, &read, &report));
    EXPECT_EQ((std::vector<std::string>{seg + ": frame 1 does not lie on the study's grid"}), report.problems);
    EXPECT_EQ(0, AzDicom_Read_Segmentation(first, source, &read, &report));
    EXPECT_EQ(first + ": not a DICOM segmentation", report.problems.back());
    std::string whole = Text_Of(seg);
    ASSERT_TRUE(Bytes_Write(folder.File("cut.dcm"), whole.substr(0, whole.size() - 100)));
    EXPECT_EQ(0, AzDicom_Read_Segmentation(folder.File("cut.dcm"), Series_Read(study), &read, &report));
    EXPECT_EQ(folder.File("cut.dcm") + ": pixel data shorter than 8 frames", report.problems.back());

    // And through the command line, as a study's labels.
    run = Program("reslice '" + study + "' --alpha 20 --beta -15 -o again --labels '" + seg + "' --original",
                  folder.Path());
    ASSERT_EQ(0, run.code) << run.err;
    AzLabels before, after;
    ASSERT_EQ(1, AzNifti_Read_Labels(out + "/original_tags.nii.gz", &before, &report));
    ASSERT_EQ(1, AzNifti_Read_Labels(folder.File("again/original_tags.nii.gz"), &after, &report));
    EXPECT_EQ(before.tags, after.tags);
}

INSTANTIATE_TEST_SUITE_P(Sources, DicomOut, ::testing::Values("MR", "CT", ""),
                         [](const ::testing::TestParamInfo<const char *> &source) {
                             return *source.param ? std::string("Dicom") + source.param : std::string("Nifti");
                         });
