/*
 * Study readers: DICOM series and NIfTI volumes into their geometry and
 * grey levels, label volumes with their colours and names, and the files
 * they refuse.
 */
#include <math.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include <gtest/gtest.h>

#include "hostapp/lib/az_series.h"
#include "tests/support/console_capture.h"
#include "test_files.h"

namespace {

const double cos30 = 0.86602540378, sin30 = 0.5;

/* A vector to four decimals, as a failure shows it. */
std::string Vec(const AzVec3 &v)
{
    char text[96];
    double c[3] = {v.x, v.y, v.z};
    for (double &x : c)
        x = fabs(x) < 5e-5 ? 0.0 : x;
    snprintf(text, sizeof(text), "(%.4f, %.4f, %.4f)", c[0], c[1], c[2]);
    return text;
}

std::string Vec(double x, double y, double z) { return Vec(AzVec3{x, y, z}); }

/* An oblique series: rows along (cos30, sin30, 0), columns along
 * (0, 0, -1), so the normal is (-sin30, cos30, 0); 2.5 mm apart. */
Dicom_Plan Oblique_Slice(int slice)
{
    Dicom_Plan plan;
    double row[3] = {cos30, sin30, 0}, col[3] = {0, 0, -1};
    double position[3] = {10.0 - sin30 * 2.5 * slice, -20.0 + cos30 * 2.5 * slice, 30.0};
    memcpy(plan.row, row, sizeof(row));
    memcpy(plan.col, col, sizeof(col));
    memcpy(plan.position, position, sizeof(position));
    plan.row_spacing = 0.7;
    plan.col_spacing = 0.5;
    plan.slope = 2.0;
    plan.intercept = -100.0;
    plan.sop_instance = "1.2.826.0.1.3680043.2.1125.1." + std::to_string(slice + 1);
    plan.instance_number = slice + 1;
    for (int n = 0; n < 30; n++)
        plan.stored.push_back(static_cast<uint16_t>(slice * 100 + n / 6 * 10 + n % 6));
    return plan;
}

AzSeries Read_One(const std::string &path)
{
    std::vector<AzSeries> series;
    AzLoad_Report report;
    EXPECT_EQ(1, AzStudy_Read(path, &series, &report)) << path;
    return series.empty() ? AzSeries() : series[0];
}

int abort_exit_code = 0;
extern "C" void Abort_Exits(int) { _exit(abort_exit_code); }

} // namespace

TEST(DicomReader, ObliqueSeriesGeometryAndGreyLevels)
{
    Temp_Folder folder;
    mkdir(folder.File("series").c_str(), 0777);
    // File names sort in another order than the slice locations.
    const int order[4] = {2, 0, 3, 1};
    for (int i = 0; i < 4; i++)
        ASSERT_TRUE(Dicom_Write(folder.File("series/im" + std::to_string(i) + ".dcm"), Oblique_Slice(order[i])));
    std::vector<AzSeries> series;
    AzLoad_Report report;
    ASSERT_EQ(1, AzStudy_Read(folder.File("series"), &series, &report));
    EXPECT_EQ(4, report.files_seen);
    EXPECT_EQ(0, report.files_bad);
    const AzSeries &s = series[0];
    EXPECT_EQ("Test series", s.name);
    EXPECT_EQ("1.2.826.0.1.3680043.2.1125.1", s.uid);
    EXPECT_EQ("MR", s.modality);
    EXPECT_EQ(6, s.width);
    EXPECT_EQ(5, s.height);
    EXPECT_EQ(1, s.times_nb);
    // Pixel Spacing is "between rows \ between columns": x takes the second.
    EXPECT_EQ(Vec(0.5, 0.7, 2.5), Vec(s.spacing[0], s.spacing[1], s.spacing[2]));
    EXPECT_EQ(Vec(cos30, sin30, 0), Vec(s.axis_row));
    EXPECT_EQ(Vec(0, 0, -1), Vec(s.axis_col));
    EXPECT_EQ(Vec(-sin30, cos30, 0), Vec(s.axis_normal));
    ASSERT_EQ(4u, s.frames.size());
    for (int k = 0; k < 4; k++) {
        const AzSeries_Frame &frame = s.frames[k];
        EXPECT_EQ(Vec(10.0 - sin30 * 2.5 * k, -20.0 + cos30 * 2.5 * k, 30.0), Vec(frame.position));
        EXPECT_NEAR(s.Location(frame), (10.0 * -sin30 + -20.0 * cos30) + 2.5 * k, 1e-5); // along the normal
        EXPECT_EQ(k, frame.source_index);
        ASSERT_EQ(30u, frame.gli.size());
        EXPECT_EQ((k * 100 + 0) * 2 - 100, frame.gli[0]);
        EXPECT_EQ((k * 100 + 12) * 2 - 100, frame.gli[1 * 6 + 2]);
        EXPECT_EQ((k * 100 + 45) * 2 - 100, frame.gli[29]);
    }
    // Window centre 40, width 400: minimum and maximum of the window.
    EXPECT_EQ(AZ_DISPLAY_MIN_MAX, s.display_mode);
    EXPECT_FLOAT_EQ(-160.0f, s.display_low);
    EXPECT_FLOAT_EQ(240.0f, s.display_high);

    // One multi-frame file gives one frame per slice, its spacing between them.
    Dicom_Plan multi = Oblique_Slice(0);
    multi.frames = 3;
    multi.frame_step = 3.0;
    multi.stored.clear();
    for (int n = 0; n < 90; n++)
        multi.stored.push_back(static_cast<uint16_t>(n / 30 * 1000 + n % 30));
    ASSERT_TRUE(Dicom_Write(folder.File("multi.dcm"), multi));
    AzSeries m = Read_One(folder.File("multi.dcm"));
    ASSERT_EQ(3u, m.frames.size());
    EXPECT_NEAR(3.0, m.spacing[2], 1e-6);
    for (int f = 0; f < 3; f++) {
        EXPECT_EQ(Vec(10.0 - sin30 * 3.0 * f, -20.0 + cos30 * 3.0 * f, 30.0), Vec(m.frames[f].position));
        EXPECT_EQ((f * 1000 + 7) * 2 - 100, m.frames[f].gli[7]);
    }
}

TEST(DicomReader, StoredBitsSignsAndRealValues)
{
    Temp_Folder folder;
    Console_Capture console;
    // Stored values, real values, then the study's slope and intercept: levels with an intercept hold real
    // values beyond 16 signed bits exactly.
    struct Case {
        int bits, is_signed;
        double slope, intercept;
        std::vector<uint16_t> stored;
        std::vector<double> real;
        double study_slope, study_intercept;
    } cases[] = {
        // 12 stored bits, unsigned: bits above are overlays and do not count.
        {12, 0, 1.0, 0.0, {0xF123, 0x0FFF, 0x0000, 0x0800}, {0x123, 4095, 0, 2048}, 1.0, 0.0},
        // 12 stored bits, signed: the sign is bit 11.
        {12, 1, 1.0, 0.0, {0xF123, 0x0FFF, 0x0000, 0x0800}, {0x123, -1, 0, -2048}, 1.0, 0.0},
        {16, 0, 1.0, -1000.0, {65535, 33767, 33768, 0}, {64535, 32767, 32768, -1000}, 1.0, 31768.0},
        {16, 1, 1.0, -1.0, {static_cast<uint16_t>(-32767), static_cast<uint16_t>(-32768), 0, 1},
         {-32768, -32769, -1, 0}, 1.0, -1.0},
        // PET-like: the files' own slope keeps every value exact.
        {16, 0, 0.001, 0.0, {0, 1, 999, 1000}, {0.0, 0.001, 0.999, 1.0}, 0.001, 0.0},
    };
    Dicom_Plan plan;
    plan.width = 4;
    plan.height = 1;
    plan.has_window = 0;
    int uid = 3;
    for (const Case &c : cases) {
        plan.bits_stored = c.bits;
        plan.is_signed = c.is_signed;
        plan.slope = c.slope;
        plan.intercept = c.intercept;
        plan.stored = c.stored;
        plan.series_uid = "1.2.826.0.1.3680043.2.1125." + std::to_string(uid++);
        ASSERT_TRUE(Dicom_Write(folder.File(plan.series_uid + ".dcm"), plan));
        AzSeries s = Read_One(folder.File(plan.series_uid + ".dcm"));
        EXPECT_FLOAT_EQ(c.study_slope, s.slope);
        EXPECT_FLOAT_EQ(c.study_intercept, s.intercept);
        for (int i = 0; i < 4; i++)
            EXPECT_NEAR(c.real[i], AzSeries_Real(s, s.frames[0].gli[i]), 1e-6) << plan.series_uid << " " << i;
        if (c.bits == 12 && !c.is_signed) {
            // Without a window the grey levels' range is shown.
            EXPECT_FLOAT_EQ(0.0f, s.display_low);
            EXPECT_FLOAT_EQ(4095.0f, s.display_high);
        }
    }
    // A slope per file (as PET writes): the series' range spread over the levels, within 1/30000 of it.
    mkdir(folder.File("mixed").c_str(), 0777);
    plan.stored = {0, 333, 999, 1000};
    plan.series_uid = "1.2.826.0.1.3680043.2.1125.9";
    for (int k = 0; k < 2; k++) {
        plan.slope = 0.001 * (k + 1);
        plan.position[2] = k;
        plan.sop_instance = plan.series_uid + "." + std::to_string(k + 1);
        ASSERT_TRUE(Dicom_Write(folder.File("mixed/" + std::to_string(k) + ".dcm"), plan));
    }
    AzSeries mixed = Read_One(folder.File("mixed"));
    EXPECT_NEAR(2.0 / 65534, mixed.slope, 1e-9);
    for (int k = 0; k < 2; k++)
        for (int i = 0; i < 4; i++)
            EXPECT_NEAR(0.001 * (k + 1) * plan.stored[i], AzSeries_Real(mixed, mixed.frames[k].gli[i]), 2.0 / 30000)
                << k << " " << i;
    EXPECT_EQ(0u, console.Lines().size()) << Console_Dump(console.Lines()); // nothing clamped
}

TEST(DicomReader, BadFilesAreSkippedAndTheRestLoads)
{
    Temp_Folder folder;
    Console_Capture console;
    std::string top = folder.File("mixed");
    mkdir(top.c_str(), 0777);
    mkdir((top + "/deeper").c_str(), 0777);
    for (int k = 0; k < 3; k++)
        ASSERT_TRUE(Dicom_Write(top + "/deeper/slice" + std::to_string(k) + ".dcm", Oblique_Slice(k)));
    ASSERT_TRUE(Bytes_Write(top + "/README.txt", "not an image"));
    Dicom_Plan no_image = Oblique_Slice(5);
    no_image.with_pixels = 0;
    ASSERT_TRUE(Dicom_Write(top + "/report.dcm", no_image));
    // A second series whose images differ in size is refused whole.
    Dicom_Plan odd = Oblique_Slice(0);
    odd.series_uid = "1.2.826.0.1.3680043.2.1125.77";
    ASSERT_TRUE(Dicom_Write(top + "/odd_a.dcm", odd));
    odd.width = 7;
    odd.stored.resize(35);
    odd.sop_instance += ".2";
    ASSERT_TRUE(Dicom_Write(top + "/odd_b.dcm", odd));

    std::vector<AzSeries> series;
    AzLoad_Report report;
    ASSERT_EQ(1, AzStudy_Read(top, &series, &report));
    EXPECT_EQ(3u, series[0].frames.size());
    EXPECT_EQ(7, report.files_seen);
    EXPECT_EQ(3, report.files_bad);
    EXPECT_EQ(1u, console.Count(top + "/README.txt: not a DICOM file, or unreadable"));
    EXPECT_EQ(1u, console.Count(top + "/report.dcm: DICOM file without an image"));
    EXPECT_EQ(1u, console.Count(top + "/odd_b.dcm: image size 7x5 differs from 6x5 of " + top +
                                "/odd_a.dcm in the same series"));
    EXPECT_EQ(1u, console.Count(top + "/odd_a.dcm: series 1.2.826.0.1.3680043.2.1125.77 refused: its images "
                                      "differ in size"));
    for (const Console_Line &line : console.Lines())
        EXPECT_EQ(2, line.level) << line.text;

    // Series of one folder without a description are told apart by their numbers, else by their UIDs.
    std::string pair = folder.File("pair");
    mkdir(pair.c_str(), 0777);
    Dicom_Plan numbered = Oblique_Slice(0), plain = Oblique_Slice(0);
    numbered.description = plain.description = "";
    numbered.series_number = "3";
    plain.series_uid = "1.2.826.0.1.3680043.2.1125.78";
    ASSERT_TRUE(Dicom_Write(pair + "/a.dcm", numbered));
    ASSERT_TRUE(Dicom_Write(pair + "/b.dcm", plain));
    series.clear();
    ASSERT_EQ(2, AzStudy_Read(pair, &series, &report));
    std::set<std::string> names = {series[0].name, series[1].name};
    EXPECT_EQ((std::set<std::string>{"pair (series 3)", "pair (1.2.826.0.1.3680043.2.1125.78)"}), names);
}

/* Under a fuzzer or a crash reporter the library's abort becomes an exit
 * with a non-zero code instead of a signal: the reading child must count
 * as failed all the same, or the parent reads the file and ends too. */
TEST(DicomReader, ALibraryFailureThatExitsIsAFailureToo)
{
    Console_Capture console;
    std::string path = AZ_SOURCE_DIR "/fuzz/regressions/dicom/rtdose_frames_assert.dcm";
    abort_exit_code = 1;
    struct sigaction exits = {}, previous = {};
    exits.sa_handler = Abort_Exits;
    sigemptyset(&exits.sa_mask);
    ASSERT_EQ(0, sigaction(SIGABRT, &exits, &previous));
    std::vector<AzSeries> series;
    AzLoad_Report report;
    int read = AzDicom_Read(path, &series, &report);
    sigaction(SIGABRT, &previous, nullptr);
    EXPECT_EQ(0, read);
    EXPECT_EQ(1, report.files_bad);
    EXPECT_EQ(1u, console.Count(path + ": the DICOM reader fails on this file (malformed)"));
}

TEST(NiftiReader, ObliqueAffineScalingTimeAndBothVersions)
{
    Temp_Folder folder;
    for (int version = 1; version <= 2; version++) {
        SCOPED_TRACE(version);
        Nifti_Plan plan;
        plan.version = version;
        int dim[4] = {3, 2, 4, 2}; // two time points
        memcpy(plan.dim, dim, sizeof(dim));
        // RAS columns: i along (0.6, 0.8, 0)*2, j along (-0.8, 0.6, 0)*1.5, k along z*3.
        double sform[3][4] = {{1.2, -1.2, 0, 5}, {1.6, 0.9, 0, -6}, {0, 0, 3, 7}};
        memcpy(plan.sform, sform, sizeof(sform));
        plan.slope = 0.5;
        plan.intercept = 10.0;
        plan.datatype = 16;
        for (int n = 0; n < 48; n++)
            plan.values.push_back(n / 24 * 1000 + n / 6 % 4 * 100 + n / 3 % 2 * 10 + n % 3);
        std::string path = folder.File("v" + std::to_string(version) + ".nii");
        ASSERT_TRUE(Nifti_Write(path, plan));
        AzSeries s;
        AzLoad_Report report;
        ASSERT_EQ(1, AzNifti_Read(path, &s, &report)) << (report.problems.empty() ? "" : report.problems[0]);
        EXPECT_EQ(3, s.width);
        EXPECT_EQ(2, s.height);
        EXPECT_EQ(2, s.times_nb);
        ASSERT_EQ(4u, s.frames.size());
        EXPECT_EQ(Vec(2, 1.5, 3), Vec(s.spacing[0], s.spacing[1], s.spacing[2]));
        EXPECT_EQ(Vec(-0.6, -0.8, 0), Vec(s.axis_row));
        EXPECT_EQ(Vec(0.8, -0.6, 0), Vec(s.axis_col));
        EXPECT_EQ(0.5, s.slope);
        EXPECT_EQ(10.0, s.intercept);
        for (int k = 0; k < 4; k++) {
            EXPECT_EQ(Vec(-5.0, 6.0, 7.0 + 3.0 * k), Vec(s.frames[k].position));
            ASSERT_EQ(12u, s.frames[k].gli.size());
            // Plane t of the frame: the file's own scale holds every value * 0.5 + 10 exactly.
            EXPECT_EQ(k * 100 + 12, s.frames[k].gli[5]);
            EXPECT_EQ(1000 + k * 100 + 12, s.frames[k].gli[6 + 5]);
        }
    }
    // Without transforms the voxel sizes alone place the volume.
    Nifti_Plan plan;
    plan.sform_code = 0;
    double scaled[3][4] = {{2, 0, 0, 99}, {0, 3, 0, 99}, {0, 0, 4, 99}};
    memcpy(plan.sform, scaled, sizeof(scaled));
    ASSERT_TRUE(Nifti_Write(folder.File("plain.nii"), plan));
    AzSeries s = Read_One(folder.File("plain.nii"));
    EXPECT_EQ(Vec(2, 3, 4), Vec(s.spacing[0], s.spacing[1], s.spacing[2]));
    EXPECT_EQ(Vec(0, 0, 4), Vec(s.frames.at(1).position));
}

TEST(NiftiReader, RealValuesKeepTheirValueThroughTheStudysScale)
{
    Temp_Folder folder;
    Console_Capture console;
    Nifti_Plan plan;
    plan.datatype = 16;
    for (int i = 0; i < 24; i++)
        plan.values.push_back(-1.2 + 3.7 * i / 23.0);
    plan.values[5] = 0.1234567;
    ASSERT_TRUE(Nifti_Write(folder.File("float.nii"), plan));
    AzSeries s = Read_One(folder.File("float.nii"));
    // The range -1.2 .. 2.5 spread over the levels, every value within 1/30000 of the range.
    EXPECT_NEAR(3.7 / 65534, s.slope, 1e-9);
    std::set<int> levels;
    for (int i = 0; i < 24; i++) {
        levels.insert(s.frames[i / 12].gli[i % 12]);
        EXPECT_NEAR(plan.values[i], AzSeries_Real(s, s.frames[i / 12].gli[i % 12]), 3.7 / 30000) << i;
    }
    EXPECT_EQ(24u, levels.size());
    EXPECT_EQ(0u, console.Lines().size()) << Console_Dump(console.Lines());
}

TEST(NiftiReader, LabelsWithColourTablesAndNames)
{
    Temp_Folder folder;
    Nifti_Plan plan;
    plan.datatype = 2;
    for (int i = 0; i < 24; i++)
        plan.values.push_back(i % 5);
    // Binary table: 256 reds, then greens, then blues.  A text table beside a volume without ".nii" in its name.
    std::string table(768, '\0');
    table[3] = 10;
    table[256 + 3] = 20;
    table[512 + 3] = 30;
    for (const char *name : {"atlas", "second", "bare"})
        ASSERT_TRUE(Nifti_Write(folder.File(std::string(name) + ".nii"), plan));
    ASSERT_TRUE(Bytes_Write(folder.File("atlas.nii.lut"), table));
    ASSERT_TRUE(Bytes_Write(folder.File("atlas.nii.txt"), "1 Precentral_L 2001\n3 Frontal_Sup_L 2101\nbad line\n"));
    ASSERT_TRUE(Bytes_Write(folder.File("second.lut"), "# index red green blue\n2 200 100 50\n300 1 1 1\n"));
    AzLabels labels[3];
    AzLoad_Report report;
    for (int n = 0; n < 3; n++)
        ASSERT_EQ(1, AzNifti_Read_Labels(folder.File(std::string(n ? n == 1 ? "second" : "bare" : "atlas") + ".nii"),
                                         &labels[n], &report));
    EXPECT_EQ(4, labels[0].width);
    EXPECT_EQ(3, labels[0].height);
    EXPECT_EQ(2, labels[0].depth);
    ASSERT_EQ(24u, labels[0].tags.size());
    EXPECT_EQ(4, labels[0].tags[9]);
    EXPECT_EQ((std::vector<int>{1, 10, 20, 30, 0}), (std::vector<int>{labels[0].has_colours, labels[0].colours[3][0],
                                                                      labels[0].colours[3][1], labels[0].colours[3][2],
                                                                      labels[0].colours[4][0]}));
    EXPECT_EQ("Precentral_L", labels[0].names[1]);
    EXPECT_EQ("Frontal_Sup_L", labels[0].names[3]);
    EXPECT_EQ("", labels[0].names[2]);
    EXPECT_EQ((std::vector<int>{1, 200, 100, 50}), (std::vector<int>{labels[1].has_colours, labels[1].colours[2][0],
                                                                      labels[1].colours[2][1], labels[1].colours[2][2]}));
    EXPECT_EQ(0, labels[2].has_colours); // no table: no colours
}

TEST(LoadProgress, EveryQuarterOnceOffATerminalAndNothingForShortWork)
{
    Console_Capture console;
    AzProgress progress;
    AzProgress_Start(&progress, "reading x", 20);
    progress.terminal = 0; // the tests' standard error may be a terminal
    for (long done = 1; done <= 20; done++)
        AzProgress_Step(&progress, done);
    std::vector<Console_Line> lines = console.Lines();
    ASSERT_EQ(4u, lines.size()) << Console_Dump(lines);
    EXPECT_EQ((Console_Line{4, "reading x: 25%"}), lines[0]);
    EXPECT_EQ((Console_Line{4, "reading x: 100%"}), lines[3]);
    console.Clear();
    AzProgress_Start(&progress, "short", 0);
    AzProgress_Step(&progress, 1);
    EXPECT_EQ(0u, console.Lines().size());
    // The line a terminal shows: bar, percentage, what, time left; cut to the terminal's width.
    EXPECT_EQ("[######..................]  25% writing oblique.nii.gz, 9 s left",
              AzProgress_Line("writing oblique.nii.gz", 25, 100, 3000, 80));
    EXPECT_EQ("[########################] 100% done", AzProgress_Line("done", 7, 7, 3000, 80));
    EXPECT_EQ("[######..................]  25% writ...", AzProgress_Line("writing oblique.nii.gz", 25, 100, 3000, 40));
    EXPECT_EQ(", 2 min 05 s left", AzProgress_Line("", 1, 2, 125000, 200).substr(32));
}
