/*
 * Study readers: DICOM series and NIfTI volumes into their geometry and
 * grey levels, label volumes with their colours and names, and the files
 * they refuse.
 */
#include <math.h>
#include <sys/stat.h>

#include <set>

#include <gtest/gtest.h>

#include "hostapp/lib/az_progress_line.h"
#include "hostapp/lib/az_read.h"
#include "tests/support/console_capture.h"
#include "test_files.h"

namespace {

const double cos30 = 0.86602540378, sin30 = 0.5;

void Expect_Vec(const AzVec3 &v, double x, double y, double z, double tolerance = 1e-6)
{
    EXPECT_NEAR(v.x, x, tolerance);
    EXPECT_NEAR(v.y, y, tolerance);
    EXPECT_NEAR(v.z, z, tolerance);
}

/* An oblique series: rows along (cos30, sin30, 0), columns along
 * (0, 0, -1), so the normal is (-sin30, cos30, 0). */
Dicom_Plan Oblique_Slice(int slice)
{
    Dicom_Plan plan;
    plan.width = 6;
    plan.height = 5;
    plan.row[0] = cos30;
    plan.row[1] = sin30;
    plan.row[2] = 0;
    plan.col[0] = 0;
    plan.col[1] = 0;
    plan.col[2] = -1;
    plan.row_spacing = 0.7;
    plan.col_spacing = 0.5;
    const double step = 2.5;
    plan.position[0] = 10.0 - sin30 * step * slice;
    plan.position[1] = -20.0 + cos30 * step * slice;
    plan.position[2] = 30.0;
    plan.slope = 2.0;
    plan.intercept = -100.0;
    plan.sop_instance = "1.2.826.0.1.3680043.2.1125.1." + std::to_string(slice + 1);
    plan.instance_number = slice + 1;
    for (int y = 0; y < plan.height; y++)
        for (int x = 0; x < plan.width; x++)
            plan.stored.push_back(static_cast<uint16_t>(slice * 100 + y * 10 + x));
    return plan;
}

std::string Folder_Make(const Temp_Folder &folder, const std::string &name)
{
    std::string path = folder.File(name);
    mkdir(path.c_str(), 0777);
    return path;
}

} // namespace

TEST(DicomReader, ObliqueSeriesGeometryAndGreyLevels)
{
    Temp_Folder folder;
    std::string series_folder = Folder_Make(folder, "series");
    // File names sort in another order than the slice locations.
    const int order[4] = {2, 0, 3, 1};
    for (int i = 0; i < 4; i++)
        ASSERT_TRUE(Dicom_Write(series_folder + "/im" + std::to_string(i) + ".dcm", Oblique_Slice(order[i])));
    std::vector<AzSeries> series;
    AzLoad_Report report;
    ASSERT_EQ(1, AzStudy_Read(series_folder, &series, &report));
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
    EXPECT_NEAR(0.5, s.spacing[0], 1e-9);
    EXPECT_NEAR(0.7, s.spacing[1], 1e-9);
    EXPECT_NEAR(2.5, s.spacing[2], 1e-6);
    Expect_Vec(s.axis_row, cos30, sin30, 0);
    Expect_Vec(s.axis_col, 0, 0, -1);
    Expect_Vec(s.axis_normal, -sin30, cos30, 0);
    ASSERT_EQ(4u, s.frames.size());
    for (int k = 0; k < 4; k++) {
        const AzSeries_Frame &frame = s.frames[k];
        Expect_Vec(frame.position, 10.0 - sin30 * 2.5 * k, -20.0 + cos30 * 2.5 * k, 30.0, 1e-5);
        // Location: the position along the normal.
        EXPECT_NEAR(s.Location(frame), (10.0 * -sin30 + -20.0 * cos30) + 2.5 * k, 1e-5);
        EXPECT_EQ(k, frame.source_index);
        ASSERT_EQ(30u, frame.gli.size());
        EXPECT_EQ((k * 100 + 0) * 2 - 100, frame.gli[0]);
        EXPECT_EQ((k * 100 + 4 * 10 + 5) * 2 - 100, frame.gli[29]);
        EXPECT_EQ((k * 100 + 1 * 10 + 2) * 2 - 100, frame.gli[1 * 6 + 2]);
    }
    // Window centre 40, width 400: minimum and maximum of the window.
    EXPECT_EQ(AZ_DISPLAY_MIN_MAX, s.display_mode);
    EXPECT_FLOAT_EQ(-160.0f, s.display_low);
    EXPECT_FLOAT_EQ(240.0f, s.display_high);
}

TEST(DicomReader, StoredBitsSignsAndRealValues)
{
    Temp_Folder folder;
    Console_Capture console;
    Dicom_Plan plan;
    plan.width = 4;
    plan.height = 1;
    plan.has_window = 0;
    // 12 stored bits, unsigned: bits above are overlays and do not count.
    plan.bits_stored = 12;
    plan.is_signed = 0;
    plan.stored = {0xF123, 0x0FFF, 0x0000, 0x0800};
    ASSERT_TRUE(Dicom_Write(folder.File("u12.dcm"), plan));
    std::vector<AzSeries> series;
    AzLoad_Report report;
    ASSERT_EQ(1, AzStudy_Read(folder.File("u12.dcm"), &series, &report));
    EXPECT_EQ((std::vector<int16_t>{0x123, 4095, 0, 2048}), series[0].frames[0].gli);
    // Without a window the grey levels' range is shown.
    EXPECT_FLOAT_EQ(0.0f, series[0].display_low);
    EXPECT_FLOAT_EQ(4095.0f, series[0].display_high);

    // 12 stored bits, signed: the sign is bit 11.
    plan.is_signed = 1;
    plan.series_uid = "1.2.826.0.1.3680043.2.1125.2";
    ASSERT_TRUE(Dicom_Write(folder.File("s12.dcm"), plan));
    series.clear();
    ASSERT_EQ(1, AzStudy_Read(folder.File("s12.dcm"), &series, &report));
    EXPECT_EQ((std::vector<int16_t>{0x123, -1, 0, -2048}), series[0].frames[0].gli);
    EXPECT_EQ(0u, console.Count("clamped"));

    // Real values beyond 16 signed bits: levels with an intercept hold them exactly (table: stored values,
    // real values, then the study's slope and intercept).
    struct Case {
        int is_signed;
        double slope, intercept;
        std::vector<uint16_t> stored;
        std::vector<double> real;
        double study_slope, study_intercept;
    } cases[] = {
        {0, 1.0, -1000.0, {65535, 33767, 33768, 0}, {64535, 32767, 32768, -1000}, 1.0, 31768.0},
        {1, 1.0, -1.0, {static_cast<uint16_t>(-32767), static_cast<uint16_t>(-32768), 0, 1}, {-32768, -32769, -1, 0},
         1.0, -1.0},
        // PET-like: the files' own slope keeps every value exact.
        {0, 0.001, 0.0, {0, 1, 999, 1000}, {0.0, 0.001, 0.999, 1.0}, 0.001, 0.0},
    };
    int uid = 3;
    for (const Case &c : cases) {
        plan.bits_stored = 16;
        plan.is_signed = c.is_signed;
        plan.slope = c.slope;
        plan.intercept = c.intercept;
        plan.stored = c.stored;
        plan.series_uid = "1.2.826.0.1.3680043.2.1125." + std::to_string(uid++);
        ASSERT_TRUE(Dicom_Write(folder.File(plan.series_uid + ".dcm"), plan));
        series.clear();
        ASSERT_EQ(1, AzStudy_Read(folder.File(plan.series_uid + ".dcm"), &series, &report));
        const AzSeries &s = series[0];
        EXPECT_FLOAT_EQ(c.study_slope, s.slope);
        EXPECT_FLOAT_EQ(c.study_intercept, s.intercept);
        for (int i = 0; i < 4; i++)
            EXPECT_NEAR(c.real[i], AzSeries_Real(s, s.frames[0].gli[i]), 1e-6) << plan.series_uid << " " << i;
    }
    // A slope per file (as PET writes): the series' range spread over the levels, within 1/30000 of it.
    std::string mixed = folder.File("mixed");
    mkdir(mixed.c_str(), 0777);
    plan.stored = {0, 333, 999, 1000};
    plan.series_uid = "1.2.826.0.1.3680043.2.1125.9";
    for (int k = 0; k < 2; k++) {
        plan.slope = 0.001 * (k + 1);
        plan.position[2] = k;
        plan.sop_instance = plan.series_uid + "." + std::to_string(k + 1);
        ASSERT_TRUE(Dicom_Write(mixed + "/" + std::to_string(k) + ".dcm", plan));
    }
    series.clear();
    ASSERT_EQ(1, AzStudy_Read(mixed, &series, &report));
    EXPECT_NEAR(2.0 / 65534, series[0].slope, 1e-9);
    for (int k = 0; k < 2; k++)
        for (int i = 0; i < 4; i++)
            EXPECT_NEAR(0.001 * (k + 1) * plan.stored[i], AzSeries_Real(series[0], series[0].frames[k].gli[i]),
                        2.0 / 30000) << k << " " << i;
    EXPECT_EQ(0u, console.Lines().size()) << Console_Dump(console.Lines());
}

TEST(DicomReader, MultiFrameFileGivesOneFramePerSlice)
{
    Temp_Folder folder;
    Dicom_Plan plan = Oblique_Slice(0);
    plan.frames = 3;
    plan.frame_step = 3.0;
    plan.stored.clear();
    for (int f = 0; f < 3; f++)
        for (int i = 0; i < 30; i++)
            plan.stored.push_back(static_cast<uint16_t>(f * 1000 + i));
    ASSERT_TRUE(Dicom_Write(folder.File("multi.dcm"), plan));
    std::vector<AzSeries> series;
    AzLoad_Report report;
    ASSERT_EQ(1, AzStudy_Read(folder.File("multi.dcm"), &series, &report));
    const AzSeries &s = series[0];
    ASSERT_EQ(3u, s.frames.size());
    EXPECT_NEAR(3.0, s.spacing[2], 1e-6);
    for (int f = 0; f < 3; f++) {
        Expect_Vec(s.frames[f].position, 10.0 - sin30 * 3.0 * f, -20.0 + cos30 * 3.0 * f, 30.0, 1e-5);
        EXPECT_EQ((f * 1000 + 7) * 2 - 100, s.frames[f].gli[7]);
    }
}

TEST(DicomReader, BadFilesAreSkippedAndTheRestLoads)
{
    Temp_Folder folder;
    Console_Capture console;
    std::string top = Folder_Make(folder, "mixed");
    std::string sub = Folder_Make(folder, "mixed/deeper");
    for (int k = 0; k < 3; k++)
        ASSERT_TRUE(Dicom_Write(sub + "/slice" + std::to_string(k) + ".dcm", Oblique_Slice(k)));
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
    std::string pair = Folder_Make(folder, "pair");
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

TEST(NiftiReader, ColinBrainGeometryFromItsSform)
{
    const char *path = "/usr/share/mricron/templates/ch2.nii.gz";
    struct stat info;
    if (stat(path, &info) != 0)
        GTEST_SKIP() << path << " is not installed (package mricron-data)";
    std::vector<AzSeries> series;
    AzLoad_Report report;
    ASSERT_EQ(1, AzStudy_Read(path, &series, &report));
    const AzSeries &s = series[0];
    EXPECT_EQ("ch2", s.name);
    EXPECT_EQ(181, s.width);
    EXPECT_EQ(217, s.height);
    ASSERT_EQ(181u, s.frames.size());
    EXPECT_DOUBLE_EQ(1.0, s.spacing[0]);
    EXPECT_DOUBLE_EQ(1.0, s.spacing[1]);
    EXPECT_DOUBLE_EQ(1.0, s.spacing[2]);
    // The file's sform maps (i, j, k) to RAS (i - 90, j - 125, k - 71).  The far
    // corner (180, 216, 180) is RAS (90, 91, 109), LPS (-90, -91, 109).
    const AzSeries_Frame &last = s.frames[180];
    EXPECT_EQ(180, last.source_index);
    AzVec3 corner = AzVec3_Add(last.position, AzVec3_Add(AzVec3_Scale(s.axis_row, 180 * s.spacing[0]),
                                                         AzVec3_Scale(s.axis_col, 216 * s.spacing[1])));
    Expect_Vec(corner, -90.0, -91.0, 109.0, 1e-4);
    Expect_Vec(s.frames[0].position, 90.0, 125.0, -71.0, 1e-4);
    EXPECT_NEAR(-71.0, s.Location(s.frames[0]), 1e-4);
}

TEST(NiftiReader, ObliqueAffineScalingTimeAndBothVersions)
{
    Temp_Folder folder;
    for (int version = 1; version <= 2; version++) {
        SCOPED_TRACE(version);
        Nifti_Plan plan;
        plan.version = version;
        plan.dim[0] = 3;
        plan.dim[1] = 2;
        plan.dim[2] = 4;
        plan.dim[3] = 2; // time points
        // RAS columns: i along (0.6, 0.8, 0)*2, j along (-0.8, 0.6, 0)*1.5, k along z*3.
        double sform[3][4] = {{1.2, -1.2, 0, 5}, {1.6, 0.9, 0, -6}, {0, 0, 3, 7}};
        memcpy(plan.sform, sform, sizeof(sform));
        plan.slope = 0.5;
        plan.intercept = 10.0;
        plan.datatype = 16;
        for (int t = 0; t < 2; t++)
            for (int k = 0; k < 4; k++)
                for (int j = 0; j < 2; j++)
                    for (int i = 0; i < 3; i++)
                        plan.values.push_back(t * 1000 + k * 100 + j * 10 + i);
        std::string path = folder.File("v" + std::to_string(version) + ".nii");
        ASSERT_TRUE(Nifti_Write(path, plan));
        AzSeries s;
        AzLoad_Report report;
        ASSERT_EQ(1, AzNifti_Read(path, &s, &report)) << (report.problems.empty() ? "" : report.problems[0]);
        EXPECT_EQ(3, s.width);
        EXPECT_EQ(2, s.height);
        EXPECT_EQ(2, s.times_nb);
        ASSERT_EQ(4u, s.frames.size());
        EXPECT_NEAR(2.0, s.spacing[0], 1e-6);
        EXPECT_NEAR(1.5, s.spacing[1], 1e-6);
        EXPECT_NEAR(3.0, s.spacing[2], 1e-6);
        Expect_Vec(s.axis_row, -0.6, -0.8, 0, 1e-6);
        Expect_Vec(s.axis_col, 0.8, -0.6, 0, 1e-6);
        EXPECT_EQ(0.5, s.slope);
        EXPECT_EQ(10.0, s.intercept);
        for (int k = 0; k < 4; k++) {
            Expect_Vec(s.frames[k].position, -5.0, 6.0, 7.0 + 3.0 * k, 1e-5);
            ASSERT_EQ(12u, s.frames[k].gli.size());
            // Plane t of the frame: the file's own scale holds every value * 0.5 + 10 exactly.
            EXPECT_EQ(k * 100 + 12, s.frames[k].gli[5]);
            EXPECT_EQ(1000 + k * 100 + 12, s.frames[k].gli[6 + 5]);
        }
    }
}

TEST(NiftiReader, WithoutTransformsTheVoxelSizesPlaceTheVolume)
{
    Temp_Folder folder;
    Nifti_Plan plan;
    plan.sform_code = 0;
    double scaled[3][4] = {{2, 0, 0, 99}, {0, 3, 0, 99}, {0, 0, 4, 99}};
    memcpy(plan.sform, scaled, sizeof(scaled)); // only the voxel sizes are used
    plan.values.assign(4 * 3 * 2, 1.0);
    ASSERT_TRUE(Nifti_Write(folder.File("plain.nii"), plan));
    AzSeries s;
    AzLoad_Report report;
    ASSERT_EQ(1, AzNifti_Read(folder.File("plain.nii"), &s, &report));
    EXPECT_NEAR(2.0, s.spacing[0], 1e-6);
    EXPECT_NEAR(3.0, s.spacing[1], 1e-6);
    EXPECT_NEAR(4.0, s.spacing[2], 1e-6);
    Expect_Vec(s.frames[1].position, 0.0, 0.0, 4.0, 1e-6);
}

TEST(NiftiReader, LabelsWithColourTablesAndNames)
{
    Temp_Folder folder;
    Nifti_Plan plan;
    plan.datatype = 2;
    for (int i = 0; i < 24; i++)
        plan.values.push_back(i % 5);
    ASSERT_TRUE(Nifti_Write(folder.File("atlas.nii"), plan));
    // Binary table: 256 reds, then greens, then blues.
    std::string table(768, '\0');
    table[3] = 10;
    table[256 + 3] = 20;
    table[512 + 3] = 30;
    ASSERT_TRUE(Bytes_Write(folder.File("atlas.nii.lut"), table));
    ASSERT_TRUE(Bytes_Write(folder.File("atlas.nii.txt"), "1 Precentral_L 2001\n3 Frontal_Sup_L 2101\nbad line\n"));
    AzLabels labels;
    AzLoad_Report report;
    ASSERT_EQ(1, AzNifti_Read_Labels(folder.File("atlas.nii"), &labels, &report));
    EXPECT_EQ(4, labels.width);
    EXPECT_EQ(3, labels.height);
    EXPECT_EQ(2, labels.depth);
    ASSERT_EQ(24u, labels.tags.size());
    EXPECT_EQ(4, labels.tags[9]);
    EXPECT_EQ(1, labels.has_colours);
    EXPECT_EQ(10, labels.colours[3][0]);
    EXPECT_EQ(20, labels.colours[3][1]);
    EXPECT_EQ(30, labels.colours[3][2]);
    EXPECT_EQ(0, labels.colours[4][0]);
    EXPECT_EQ("Precentral_L", labels.names[1]);
    EXPECT_EQ("Frontal_Sup_L", labels.names[3]);
    EXPECT_EQ("", labels.names[2]);

    // A text table beside a volume without ".nii" in the table's name.
    ASSERT_TRUE(Nifti_Write(folder.File("second.nii"), plan));
    ASSERT_TRUE(Bytes_Write(folder.File("second.lut"), "# index red green blue\n2 200 100 50\n300 1 1 1\n"));
    AzLabels second;
    ASSERT_EQ(1, AzNifti_Read_Labels(folder.File("second.nii"), &second, &report));
    EXPECT_EQ(1, second.has_colours);
    EXPECT_EQ(200, second.colours[2][0]);
    EXPECT_EQ(100, second.colours[2][1]);
    EXPECT_EQ(50, second.colours[2][2]);

    // No table: no colours.
    ASSERT_TRUE(Nifti_Write(folder.File("bare.nii"), plan));
    AzLabels bare;
    ASSERT_EQ(1, AzNifti_Read_Labels(folder.File("bare.nii"), &bare, &report));
    EXPECT_EQ(0, bare.has_colours);
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
    AzSeries s;
    AzLoad_Report report;
    ASSERT_EQ(1, AzNifti_Read(folder.File("float.nii"), &s, &report));
    // The range -1.2 .. 2.5 spread over the levels, every value within 1/30000 of the range.
    EXPECT_NEAR(3.7 / 65534, s.slope, 1e-9);
    std::set<int> levels;
    for (int i = 0; i < 24; i++) {
        int16_t level = s.frames[i / 12].gli[i % 12];
        levels.insert(level);
        EXPECT_NEAR(plan.values[i], AzSeries_Real(s, level), 3.7 / 30000) << i;
    }
    EXPECT_EQ(24u, levels.size());
    EXPECT_EQ(0u, console.Lines().size()) << Console_Dump(console.Lines());
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
