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

bool Tool_Present(const char *name) { return system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0; }

/* A command's standard output and error. */
std::string Output_Of(const std::string &command)
{
    std::string text;
    FILE *pipe = popen((command + " 2>&1").c_str(), "r");
    char buffer[4096];
    size_t length;
    while (pipe && (length = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        text.append(buffer, length);
    if (pipe)
        pclose(pipe);
    return text;
}

/* The validator's error lines for a file. */
std::string Validator_Errors(const std::string &file)
{
    std::string text = Output_Of("dciodvfy '" + file + "'"), errors;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (line.compare(0, 5, "Error") == 0)
            errors += line + "\n";
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return errors;
}

std::string Key_Of(const std::string &file, const char *key)
{
    std::string value = Output_Of("dckey -k " + std::string(key) + " '" + file + "'");
    while (!value.empty() && (value.back() == '\n' || value.back() == ' '))
        value.pop_back();
    return value;
}

/* Both study forms' grid (RAS): the DICOM series' pixel (0, 0) of slice k lies at LPS (-10, 0, k). */
const double study_sform[3][4] = {{-1.5, 0, 0, 10}, {0, -1.2, 0, 0}, {0, 0, 1, 0}};

int Stored(int x, int y, int k) { return (x * 7 + y * 13 + k * 29) % 500; }

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

/* The study as a DICOM series (slices of 1.5 x 1.2 mm, 1 mm apart) or
 * as NIfTI, and its labels with names. */
std::string Study_Write(const Temp_Folder &folder, const std::string &modality)
{
    if (!modality.empty()) {
        mkdir(folder.File("study").c_str(), 0777);
        for (int k = 0; k < depth; k++) {
            Dicom_Plan plan;
            plan.width = width;
            plan.height = height;
            plan.row_spacing = 1.2;
            plan.col_spacing = 1.5;
            plan.position[0] = -10.0;
            plan.position[2] = 1.0 * k;
            plan.sop_instance += "." + std::to_string(k + 1);
            plan.instance_number = k + 1;
            plan.modality = modality;
            plan.intercept = modality == "CT" ? -1024.0 : 0.0;
            plan.slope = modality == "MR" ? 0.5 : 1.0; // real values in halves: the study keeps the file's scale
            for (int y = 0; y < height; y++)
                for (int x = 0; x < width; x++)
                    plan.stored.push_back(static_cast<uint16_t>(Stored(x, y, k)));
            EXPECT_TRUE(Dicom_Write(folder.File("study/im" + std::to_string(k) + ".dcm"), plan));
        }
        return folder.File("study");
    }
    Nifti_Plan plan;
    plan.dim[0] = width;
    plan.dim[1] = height;
    plan.dim[2] = depth;
    memcpy(plan.sform, study_sform, sizeof(study_sform));
    for (int k = 0; k < depth; k++)
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++)
                plan.values.push_back(Stored(x, y, k));
    EXPECT_TRUE(Nifti_Write(folder.File("study.nii"), plan));
    return folder.File("study.nii");
}

std::string Labels_Write(const Temp_Folder &folder)
{
    Nifti_Plan plan;
    plan.dim[0] = width;
    plan.dim[1] = height;
    plan.dim[2] = depth;
    plan.datatype = 4;
    memcpy(plan.sform, study_sform, sizeof(study_sform));
    for (int k = 0; k < depth; k++)
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++)
                plan.values.push_back(Label_At(x, y, k));
    EXPECT_TRUE(Nifti_Write(folder.File("labels.nii"), plan));
    EXPECT_TRUE(Bytes_Write(folder.File("labels.txt"), "3 left\n2001 right\n"));
    EXPECT_TRUE(Bytes_Write(folder.File("labels.lut"), "3 200 30 40\n2001 10 220 90\n"));
    return folder.File("labels.nii");
}

AzSeries Series_Read(const std::string &path)
{
    std::vector<AzSeries> series;
    AzLoad_Report report;
    EXPECT_EQ(1, AzStudy_Read(path, &series, &report)) << path;
    return series.empty() ? AzSeries() : series[0];
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
        if (!Tool_Present("dciodvfy") || !Tool_Present("dckey"))
            GTEST_SKIP() << "dciodvfy is not installed (package dicom3tools)";
    }
    Temp_Folder folder;
};

} // namespace

TEST_P(DicomOut, ValidObjectsThatReadBackWhereTheNiftiExportPutsThem)
{
    std::string modality = GetParam();
    bool dicom = !modality.empty();
    std::string study = Study_Write(folder, modality), labels = Labels_Write(folder), out = folder.File("out");
    std::string stdout_text, stderr_text;
    ASSERT_EQ(0, Program_Run("reslice '" + study + "' --alpha 20 --beta -15 -o '" + out + "' --labels '" + labels +
                                 "' --dicom --original",
                             &stdout_text, &stderr_text))
        << stderr_text;
    std::string first = out + "/dicom/oblique/IM00001.dcm", seg = out + "/dicom/tags_seg.dcm";
    EXPECT_EQ("", Validator_Errors(first));
    EXPECT_EQ("", Validator_Errors(seg));
    EXPECT_EQ("DERIVED\\SECONDARY\\REFORMATTED", Key_Of(first, "ImageType"));
    EXPECT_EQ("Oblique alpha 20.0 beta -15.0", Key_Of(first, "SeriesDescription"));
    EXPECT_EQ(dicom ? modality : "MR", Key_Of(first, "Modality"));
    if (modality == "CT") {
        EXPECT_EQ("HU", Key_Of(first, "RescaleType"));
    }
    if (modality == "MR") {
        EXPECT_EQ("0.5", Key_Of(first, "RescaleSlope"));
    }
    if (dicom) {
        EXPECT_EQ("1.2.826.0.1.3680043.2.1125.9", Key_Of(first, "StudyInstanceUID"));
        EXPECT_EQ("1.2.826.0.1.3680043.2.1125.9", Key_Of(seg, "StudyInstanceUID"));
        EXPECT_EQ("Test^Patient", Key_Of(first, "PatientName"));
        // The segmentation names its source series and images.
        std::string dump = Output_Of("dcdump '" + seg + "'");
        EXPECT_TRUE(Contains(dump, "1.2.826.0.1.3680043.2.1125.1.1.1")) << dump;
        EXPECT_TRUE(Contains(dump, "<1.2.826.0.1.3680043.2.1125.1>")) << dump;
    } else {
        EXPECT_EQ("ANONYMOUS^NIFTI", Key_Of(first, "PatientName"));
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
    for (const AzSeries_Frame &frame : source.frames)
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++) {
                // NIfTI's k and DICOM's location order agree for this study.
                int k = frame.source_index;
                differ += read.values[read.tags[(static_cast<size_t>(k) * height + y) * width + x]] != Label_At(x, y, k);
            }
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

    // And through the command line, as a study's labels.
    ASSERT_EQ(0, Program_Run("reslice '" + study + "' --alpha 20 --beta -15 -o '" + folder.File("again") +
                                 "' --labels '" + seg + "' --original",
                             &stdout_text, &stderr_text))
        << stderr_text;
    AzLabels before, after;
    ASSERT_EQ(1, AzNifti_Read_Labels(out + "/original_tags.nii.gz", &before, &report));
    ASSERT_EQ(1, AzNifti_Read_Labels(folder.File("again/original_tags.nii.gz"), &after, &report));
    EXPECT_EQ(before.tags, after.tags);
}

INSTANTIATE_TEST_SUITE_P(Sources, DicomOut, ::testing::Values("MR", "CT", ""),
                         [](const ::testing::TestParamInfo<const char *> &source) {
                             return *source.param ? std::string("Dicom") + source.param : std::string("Nifti");
                         });

TEST_F(DicomOut, FailuresNameTheProblemAndLeaveNothingHalfWritten)
{
    std::string study = Study_Write(folder, "MR"), err, text;
    mkdir(folder.File("ok").c_str(), 0777);
    // "dicom" is one of the names a run writes: an earlier one, even a file, is replaced as a whole.
    ASSERT_TRUE(Bytes_Write(folder.File("ok/dicom"), "an earlier output"));
    EXPECT_EQ(0, Program_Run("reslice '" + study + "' --alpha 10 --beta 5 -o '" + folder.File("ok") + "' --dicom", &text, &err)) << err;
    EXPECT_EQ("IM00001.dcm\n", Output_Of("ls '" + folder.File("ok/dicom/oblique") + "' | head -n 1"));
    EXPECT_EQ("", Output_Of("ls -A '" + folder.File("ok") + "' | grep azozude-part"));

    // A session that never created oblique frames has nothing to write.
    ASSERT_TRUE(Bytes_Write(folder.File("no_frames.txt"), "dicom \"" + folder.File("none") + "\"\n"));
    EXPECT_EQ(2, Program_Run("run '" + folder.File("no_frames.txt") + "' '" + study + "'", &text, &err));
    EXPECT_TRUE(Contains(err, folder.File("none") +
                                  ": the Oblique direction has no frames (switch it on and click \"Update DB\")"))
        << err;

    // Other modalities would be misstated as CT or MR.
    Temp_Folder pet;
    EXPECT_EQ(2, Program_Run("reslice '" + Study_Write(pet, "PT") + "' --alpha 10 --beta 5 -o '" + pet.File("out") + "' --dicom", &text, &err));
    EXPECT_TRUE(Contains(err, "DICOM output is written for CT and MR studies only, not for modality \"PT\"")) << err;
    EXPECT_EQ("", Output_Of("ls -A '" + pet.File("out") + "' | grep dicom"));

    // A segmentation of another grid is refused by name.
    Temp_Folder other;
    std::string other_study = Study_Write(other, ""), seg_out = other.File("out");
    Labels_Write(other);
    ASSERT_EQ(0, Program_Run("reslice '" + other_study + "' --alpha 10 --beta 5 -o '" + seg_out + "' --labels '" + other.File("labels.nii") +
                                 "' --dicom",
                             &text, &err))
        << err;
    AzSeries shifted = Series_Read(study);
    for (AzSeries_Frame &frame : shifted.frames)
        frame.position.x += 0.7;
    AzLabels labels;
    AzLoad_Report report;
    EXPECT_EQ(0, AzDicom_Read_Segmentation(seg_out + "/dicom/tags_seg.dcm", shifted, &labels, &report));
    ASSERT_EQ(1u, report.problems.size());
    EXPECT_EQ(seg_out + "/dicom/tags_seg.dcm: frame 1 does not lie on the study's grid", report.problems[0]);
    EXPECT_EQ(0, AzDicom_Read_Segmentation(study + "/im0.dcm", shifted, &labels, &report));
    EXPECT_EQ(study + "/im0.dcm: not a DICOM segmentation", report.problems.back());
    std::string whole = Text_Of(seg_out + "/dicom/tags_seg.dcm");
    ASSERT_TRUE(Bytes_Write(other.File("cut.dcm"), whole.substr(0, whole.size() - 100)));
    EXPECT_EQ(0, AzDicom_Read_Segmentation(other.File("cut.dcm"), Series_Read(other_study), &labels, &report));
    EXPECT_EQ(other.File("cut.dcm") + ": pixel data shorter than 8 frames", report.problems.back());
    EXPECT_EQ("", Output_Of("ls -A '" + seg_out + "/dicom' | grep part"));
}
