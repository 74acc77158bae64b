/*
 * Study readers: DICOM series and NIfTI volumes into their geometry and
 * grey levels, label volumes with their colours and names, and the files
 * they refuse.
 */
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <iterator>
#include <sstream>

#include <gtest/gtest.h>

#include "hostapp/lib/az_progress_line.h"
#include "hostapp/lib/az_read.h"
#include "tests/support/console_capture.h"
#include "test_files.h"

namespace {

int abort_exit_code = 0;
extern "C" void Abort_Exits(int) { _exit(abort_exit_code); }

} // namespace

/* Stored bits, signs, slopes and intercepts into real values: one study a row of the table. */
TEST(DicomReader, StoredBitsSignsAndRealValues)
{
    Console_Capture console;
    for (const auto &row : Rows(Input("bits/real_values.tsv"), 6)) {
        SCOPED_TRACE(row[0]);
        AzSeries s = Series_Read(Input(row[0]));
        EXPECT_FLOAT_EQ(atof(row[1].c_str()), s.slope);
        EXPECT_FLOAT_EQ(atof(row[2].c_str()), s.intercept);
        std::istringstream values(row[4]);
        std::vector<double> real{std::istream_iterator<double>(values), std::istream_iterator<double>()};
        ASSERT_EQ(real.size(), 4 * s.frames.size());
        for (size_t n = 0; n < real.size(); n++)
            EXPECT_NEAR(real[n], AzSeries_Real(s, s.frames[n / 4].gli[n % 4]), atof(row[3].c_str())) << n;
        std::ostringstream range;
        range << s.display_low << " " << s.display_high;
        EXPECT_TRUE(row[5] == "-" || row[5] == range.str()) << range.str();
    }
    EXPECT_EQ(0u, console.Lines().size()) << Console_Dump(console.Lines()); // nothing clamped
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

/* The geometry of both versions is in the command table; here the grey levels of each time point. */
TEST(NiftiReader, EachTimePointKeepsItsValuesThroughTheFilesScale)
{
    // 3 x 2 x 4 voxels at 2 time points, float 1000 t + 100 k + 10 j + i, slope 0.5, intercept 10.
    Temp_Folder folder;
    AzSeries s = Series_Read(Input("geometry/v2.nii"));
    EXPECT_EQ(0.5, s.slope);
    EXPECT_EQ(10.0, s.intercept);
    ASSERT_EQ(4u, s.frames.size());
    for (int k = 0; k < 4; k++) {
        ASSERT_EQ(12u, s.frames[k].gli.size()); // plane t of a frame: every value * 0.5 + 10, exactly
        EXPECT_EQ(k * 100 + 12, s.frames[k].gli[5]);
        EXPECT_EQ(1000 + k * 100 + 12, s.frames[k].gli[6 + 5]);
    }
    // gzip'd in two members, split inside the voxels: inflated member after member, the same levels.
    std::string bytes = Text_Of(Input("geometry/v2.nii")), path = folder.File("v2.nii");
    ASSERT_TRUE(Bytes_Write(path + ".a", bytes.substr(0, bytes.size() - 10)));
    ASSERT_TRUE(Bytes_Write(path + ".b", bytes.substr(bytes.size() - 10)));
    ASSERT_EQ(0, Shell("gzip -c '" + path + ".a' > '" + path + ".gz' && gzip -c '" + path + ".b' >> '" + path + ".gz'"));
    AzSeries packed = Series_Read(path + ".gz");
    for (int k = 0; k < 4; k++)
        EXPECT_EQ(packed.frames[k].gli, s.frames[k].gli) << k;
}

TEST(NiftiReader, LabelsWithColourTablesAndNames)
{
    // Three 4 x 3 x 2 volumes of i % 5: atlas.nii with a binary table (256 reds, then greens, then blues: 10 20 30
    // at 3) and names, second.nii with a text table beside it without ".nii" in its name, bare.nii alone.
    Temp_Folder folder;
    Inputs_Make("readers", folder);
    AzLabels labels[3];
    AzLoad_Report report;
    for (int n = 0; n < 3; n++)
        ASSERT_EQ(1, AzNifti_Read_Labels(folder.File(std::string(n ? n == 1 ? "second" : "bare" : "atlas") + ".nii"),
                                         &labels[n], &report));
    EXPECT_EQ((std::vector<int>{4, 3, 2}), (std::vector<int>{labels[0].width, labels[0].height, labels[0].depth}));
    ASSERT_EQ(24u, labels[0].tags.size());
    EXPECT_EQ(4, labels[0].tags[9]);
    EXPECT_EQ((std::vector<int>{1, 10, 20, 30, 0}), (std::vector<int>{labels[0].has_colours, labels[0].colours[3][0],
                                                                      labels[0].colours[3][1], labels[0].colours[3][2],
                                                                      labels[0].colours[4][0]}));
    EXPECT_EQ((std::vector<std::string>{"", "Precentral_L", "", "Frontal_Sup_L"}),
              std::vector<std::string>(labels[0].names.begin(), labels[0].names.begin() + 4));
    EXPECT_EQ((std::vector<int>{1, 200, 100, 50}), (std::vector<int>{labels[1].has_colours, labels[1].colours[2][0],
                                                                      labels[1].colours[2][1], labels[1].colours[2][2]}));
    EXPECT_EQ(0, labels[2].has_colours); // no table: no colours
}

TEST(LoadProgress, EveryQuarterOnceOffATerminalAndNothingForShortWork)
{
    Console_Capture console;
    AzProgressLine progress;
    AzProgressLine_Start(&progress, "reading x", 20);
    progress.terminal = 0; // the tests' standard error may be a terminal
    for (long done = 1; done <= 20; done++)
        AzProgressLine_Step(&progress, done);
    std::vector<Console_Line> lines = console.Lines();
    ASSERT_EQ(4u, lines.size()) << Console_Dump(lines);
    EXPECT_EQ((Console_Line{4, "reading x: 25%"}), lines[0]);
    EXPECT_EQ((Console_Line{4, "reading x: 100%"}), lines[3]);
    console.Clear();
    AzProgressLine_Start(&progress, "short", 0);
    AzProgressLine_Step(&progress, 1);
    EXPECT_EQ(0u, console.Lines().size());
    // The line a terminal shows: bar, percentage, what, time left; cut to the terminal's width.
    EXPECT_EQ("[######..................]  25% writing oblique.nii.gz, 9 s left",
              AzProgressLine_Text("writing oblique.nii.gz", 25, 100, 3000, 80));
    EXPECT_EQ("[########################] 100% done", AzProgressLine_Text("done", 7, 7, 3000, 80));
    EXPECT_EQ("[######..................]  25% writ...", AzProgressLine_Text("writing oblique.nii.gz", 25, 100, 3000, 40));
    EXPECT_EQ(", 2 min 05 s left", AzProgressLine_Text("", 1, 2, 125000, 200).substr(32));
}
