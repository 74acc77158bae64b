/*
 * The host program as a user runs it: what it prints and its exit codes.
 */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "hostapp/lib/az_read.h"
#include "test_files.h"

namespace {

const char module_info[] = "version: 1.0 rev-a  (Nov 22 2013)\n"
                           "class key: class Oblique\n"
                           "name: RUD Azozude\n"
                           "class type: 13\n";

} // namespace

TEST(HostProgram, InfoPrintsTheModuleIdentity)
{
    std::string out, err;
    EXPECT_EQ(0, Program_Run("info", &out, &err)) << err;
    EXPECT_EQ(module_info, out);
    // The same module named on the command line, with the option after the command.
    EXPECT_EQ(0, Program_Run(std::string("info --module '") + AZ_MODULE_PATH + "'", &out, &err)) << err;
    EXPECT_EQ(module_info, out);
}

TEST(HostProgram, ModuleProblemsExitWithThree)
{
    std::string out, err;
    EXPECT_EQ(3, Program_Run("info --module /nonexistent/class_oblique.so", &out, &err));
    EXPECT_EQ("", out);
    EXPECT_TRUE(Contains(err, "azozude info: cannot load module /nonexistent/class_oblique.so: ")) << err;
    EXPECT_TRUE(Contains(err, "No such file or directory")) << err;

    // A real library that is not a module: the first entry point it lacks is named.
    std::string library = std::string(AZ_BUILD_DIR) + "/libazwin32.so";
    EXPECT_EQ(3, Program_Run("--module '" + library + "' info", &out, &err));
    EXPECT_TRUE(Contains(err, "azozude info: module " + library + " has no entry point Version: ")) << err;
    EXPECT_TRUE(Contains(err, "undefined symbol: Version")) << err;

    // Not a library at all.
    Temp_Folder folder;
    ASSERT_TRUE(Bytes_Write(folder.File("fake.so"), "not an ELF file"));
    EXPECT_EQ(3, Program_Run("info --module '" + folder.File("fake.so") + "'", &out, &err));
    EXPECT_TRUE(Contains(err, "cannot load module " + folder.File("fake.so"))) << err;

    // A name without a slash is a file of the current folder, not a search of the loader's path.
    ASSERT_EQ(0, system(("cp '" + std::string(AZ_MODULE_PATH) + "' '" + folder.File("mine.so") + "'").c_str()));
    char here[4096];
    ASSERT_NE(nullptr, getcwd(here, sizeof(here)));
    ASSERT_EQ(0, chdir(folder.File("").c_str()));
    int mine = Program_Run("info --module mine.so", &out, &err);
    std::string mine_err = err;
    int missing = Program_Run("info --module missing.so", &out, &err);
    ASSERT_EQ(0, chdir(here));
    EXPECT_EQ(0, mine) << mine_err;
    EXPECT_EQ(3, missing);
    EXPECT_TRUE(Contains(err, "azozude info: cannot load module missing.so: ")) << err;
    EXPECT_TRUE(Contains(err, "No such file or directory")) << err;
}

/* A command line that is wrong: exit code 1 and a message naming the problem. */
struct Bad_Line {
    const char *arguments;
    const char *message;   /* on standard error */
};

class BadCommandLine : public ::testing::TestWithParam<Bad_Line> {};

TEST_P(BadCommandLine, ExitsWithOneNamingTheProblem)
{
    std::string out, err;
    EXPECT_EQ(1, Program_Run(GetParam().arguments, &out, &err)) << err;
    EXPECT_TRUE(Contains(err, GetParam().message)) << err;
    EXPECT_EQ("", out);
}

INSTANTIATE_TEST_SUITE_P(
    HostProgram, BadCommandLine,
    ::testing::Values(
        Bad_Line{"", "usage: azozude"}, Bad_Line{"frobnicate", "azozude: unknown command \"frobnicate\""},
        Bad_Line{"info --module", "azozude: --module needs a path"},
        Bad_Line{"info --bogus", "azozude info: unknown option --bogus"},
        Bad_Line{"run", "usage: azozude run SESSION"},
        Bad_Line{"reslice", "azozude reslice: --alpha is missing (degrees from -90 to 90)\nusage: azozude reslice STUDY"},
        Bad_Line{"reslice s.nii --alpha 10 -o out", "azozude reslice: --beta is missing (degrees from -90 to 90)"},
        Bad_Line{"reslice s.nii --alpha -90 --beta 90", "azozude reslice: -o is missing (the output folder)"},
        Bad_Line{"reslice --alpha 10 --beta 0 -o out", "azozude reslice: a STUDY is missing"},
        Bad_Line{"reslice a.nii b.nii --alpha 10 --beta 0 -o out", "azozude reslice: one STUDY only"},
        Bad_Line{"reslice s.nii --alpha 91 --beta 0 -o out",
                 "azozude reslice: --alpha must be a decimal number of degrees from -90 to 90, not \"91\""},
        Bad_Line{"reslice s.nii --alpha 0 --beta -90.5 -o out", "--beta must be a decimal number of degrees from -90 "
                                                                "to 90, not \"-90.5\""},
        Bad_Line{"reslice s.nii --alpha nan --beta 0 -o out", "--alpha must be a decimal number of degrees from -90 to "
                                                              "90, not \"nan\""},
        Bad_Line{"reslice s.nii --alpha inf --beta 0 -o out", "not \"inf\""},
        Bad_Line{"reslice s.nii --alpha 0x10 --beta 0 -o out", "not \"0x10\""},
        Bad_Line{"reslice s.nii --alpha 1e1 --beta 0 -o out", "not \"1e1\""},
        Bad_Line{"reslice s.nii --alpha 1.2.3 --beta 0 -o out", "not \"1.2.3\""},
        Bad_Line{"reslice s.nii --alpha . --beta 0 -o out", "not \".\""},
        Bad_Line{"reslice s.nii --alpha= --beta 0 -o out", "not \"\""},
        Bad_Line{"reslice s.nii --alpha ' 5' --beta 0 -o out", "not \" 5\""},
        Bad_Line{"reslice s.nii --alpha 10 --alpha 20 --beta 0 -o out", "azozude reslice: --alpha is given twice"},
        Bad_Line{"reslice s.nii --alpha 10 --beta 0 -o a -o b", "azozude reslice: -o is given twice"},
        Bad_Line{"reslice s.nii --alpha 10 --beta 0 -o out --pictures --pictures",
                 "azozude reslice: --pictures is given twice"},
        Bad_Line{"reslice s.nii --alpha 10 --beta 0 -o out --pictures=yes", "azozude reslice: --pictures takes no value"},
        Bad_Line{"reslice s.nii --beta 0 -o out --alpha", "azozude reslice: --alpha needs a value (degrees from -90 to 90)"},
        Bad_Line{"reslice s.nii --alpha 1 --beta 0 -o out --frob", "azozude reslice: unknown option --frob"},
        Bad_Line{"demo extra", "usage: azozude demo"}, Bad_Line{"demo -o ''", "azozude demo: -o needs a folder"},
        Bad_Line{"run s.txt --labels a --labels b", "azozude run: --labels is given twice"},
        // The viewer's window: at most an 8K screen, at least what shows its 300-pixel panel whole.
        Bad_Line{"view --size 100000x100000", "--size is WIDTHxHEIGHT, at most 7680x4320, not \"100000x100000\""},
        Bad_Line{"view --size 7681x800", "not \"7681x800\""}, Bad_Line{"view --size 0x10", "not \"0x10\""},
        Bad_Line{"view --size 12x", "not \"12x\""},
        Bad_Line{"view --size 640x480 --screenshot never.png",
                 "--size 640x480 is too small for a panel 300 pixels wide: at least 632x618"}));

TEST(HostProgram, HelpStatesTheOutputsAndExitCodes)
{
    std::string out, err;
    EXPECT_EQ(0, Program_Run("--help", &out, &err));
    EXPECT_TRUE(Contains(out, "exit codes: 0 done, 1 usage, 2 bad input or output, 3 module problem")) << out;
    for (const char *option : {"--original", "--pictures", "--montage", "--summary", "--force", "--series N|UID"})
        EXPECT_TRUE(Contains(out, option)) << option;
}

TEST(HostProgram, BadStudiesExitWithTwoNamingTheFile)
{
    Temp_Folder folder;
    std::string out, err;
    EXPECT_EQ(2, Program_Run("info " + folder.File("missing.nii"), &out, &err));
    EXPECT_TRUE(Contains(err, folder.File("missing.nii") + ": no such file or folder")) << err;
    EXPECT_TRUE(Contains(err, folder.File("missing.nii") + ": nothing could be loaded")) << err;

    // A folder of files that are not images.
    std::string empty = folder.File("docs");
    ASSERT_EQ(0, system(("mkdir '" + empty + "'").c_str()));
    ASSERT_TRUE(Bytes_Write(empty + "/notes.txt", "hello"));
    EXPECT_EQ(2, Program_Run("info '" + empty + "'", &out, &err));
    EXPECT_TRUE(Contains(err, empty + "/notes.txt: not a DICOM file, or unreadable")) << err;
    EXPECT_TRUE(Contains(err, empty + ": no usable DICOM image among 1 files")) << err;

    // An empty folder.
    std::string nothing = folder.File("nothing");
    ASSERT_EQ(0, system(("mkdir '" + nothing + "'").c_str()));
    EXPECT_EQ(2, Program_Run("info '" + nothing + "'", &out, &err));
    EXPECT_TRUE(Contains(err, nothing + ": folder holds no files")) << err;

    // A DICOM file without an image.
    Dicom_Plan plan;
    plan.with_pixels = 0;
    ASSERT_TRUE(Dicom_Write(folder.File("noimage.dcm"), plan));
    EXPECT_EQ(2, Program_Run("info '" + folder.File("noimage.dcm") + "'", &out, &err));
    EXPECT_TRUE(Contains(err, folder.File("noimage.dcm") + ": DICOM file without an image")) << err;

    // A truncated NIfTI file: the header is whole, the data is not.
    Nifti_Plan nifti;
    nifti.values.assign(4 * 3 * 2, 7.0);
    nifti.truncate_to = 352 + 10;
    ASSERT_TRUE(Nifti_Write(folder.File("cut.nii"), nifti));
    EXPECT_EQ(2, Program_Run("info '" + folder.File("cut.nii") + "'", &out, &err));
    EXPECT_TRUE(Contains(err, folder.File("cut.nii") + ": image data truncated or unreadable (4x3x2)")) << err;

    // A file named .nii that holds no NIfTI header.
    ASSERT_TRUE(Bytes_Write(folder.File("junk.nii"), std::string(400, 'x')));
    EXPECT_EQ(2, Program_Run("info '" + folder.File("junk.nii") + "'", &out, &err));
    EXPECT_TRUE(Contains(err, folder.File("junk.nii") + ": not a NIfTI file, or its header is malformed")) << err;

    // A label volume that lies away from the study; one of another grid that overlaps it is placed on it.
    Nifti_Plan labels = nifti;
    labels.truncate_to = -1;
    labels.dim[0] = 5;
    labels.sform[0][3] = 40.0;
    labels.values.assign(5 * 3 * 2, 1.0);
    nifti.truncate_to = -1;
    ASSERT_TRUE(Nifti_Write(folder.File("study.nii"), nifti));
    ASSERT_TRUE(Nifti_Write(folder.File("labels.nii"), labels));
    EXPECT_EQ(2, Program_Run("info '" + folder.File("study.nii") + "' --labels '" + folder.File("labels.nii") + "'",
                             &out, &err));
    EXPECT_TRUE(Contains(err, folder.File("labels.nii") + ": the label volume does not overlap the study at all "
                                                          "(size 5x3x2 against the study's 4x3x2; centres 40.5 mm apart)"))
        << err;
    labels.sform[0][3] = 2.0;
    ASSERT_TRUE(Nifti_Write(folder.File("labels.nii"), labels));
    EXPECT_EQ(0, Program_Run("info '" + folder.File("study.nii") + "' --labels '" + folder.File("labels.nii") + "'",
                             &out, &err));
    EXPECT_TRUE(Contains(err, folder.File("labels.nii") + ": the label grid differs from the study's (size 5x3x2 "
                                                          "against the study's 4x3x2; centres 2.5 mm apart): labels "
                                                          "resampled onto \"study\" by world position, nearest label; "
                                                          "50.0 % of the study's voxels lie inside the label volume"))
        << err;
    EXPECT_TRUE(Contains(out, "\nlabels: " + folder.File("labels.nii") + "\n  values: 1 distinct besides 0, 1 .. 1 "
                              "(each value is its own tag)\n  names: 0; colour table: no\n  grid: 5 x 3 x 2 voxels "
                              "of 1 x 1 x 1 mm\n  against study 1: size 5x3x2 against the study's 4x3x2; centres "
                              "2.5 mm apart; 50.0 % of the study's voxels inside the label volume\n"))
        << out;
}

TEST(HostProgram, InfoDescribesStudies)
{
    Temp_Folder folder;
    Nifti_Plan nifti;
    nifti.values.assign(4 * 3 * 2, 7.0);
    nifti.sform[0][0] = 0.5;
    nifti.sform[1][1] = 0.75;
    nifti.sform[2][2] = 2.0;
    nifti.sform[0][3] = 10.0;
    ASSERT_TRUE(Nifti_Write(folder.File("small.nii"), nifti));
    std::string out, err;
    ASSERT_EQ(0, Program_Run("info '" + folder.File("small.nii") + "'", &out, &err)) << err;
    EXPECT_TRUE(Contains(out, "\nstudy 1: small\n")) << out;
    EXPECT_TRUE(Contains(out, "  size: 4 x 3 pixels, 2 frames, 1 time point(s)\n")) << out;
    EXPECT_TRUE(Contains(out, "  spacing: 0.5 x 0.75 x 2 mm\n")) << out;
    EXPECT_TRUE(Contains(out, "  orientation: row (-1.0000, 0.0000, 0.0000) column (0.0000, -1.0000, 0.0000) "
                              "normal (0.0000, 0.0000, 1.0000)\n"))
        << out;
    EXPECT_TRUE(Contains(out, "  first frame at (-10.00, 0.00, 0.00) mm; locations 0.00 .. 2.00 mm\n")) << out;
    EXPECT_TRUE(Contains(out, "  3D group: valid 3D group\n")) << out;

    // Known by content: a NIfTI file without its extension, gzip-compressed; a folder of NIfTI files, numbered.
    std::string set = folder.File("set");
    ASSERT_EQ(0, system(("mkdir '" + set + "' && gzip -c '" + folder.File("small.nii") + "' > '" + set +
                         "/first' && cp '" + folder.File("small.nii") + "' '" + set + "/second.nii'")
                            .c_str()));
    ASSERT_EQ(0, Program_Run("info '" + set + "/first'", &out, &err)) << err;
    EXPECT_TRUE(Contains(out, "\nstudy 1: first\n  series number: 1 (--series 1 picks it)\n  source: " + set +
                              "/first\n"))
        << out;
    ASSERT_EQ(0, Program_Run("info '" + set + "'", &out, &err)) << err;
    EXPECT_TRUE(Contains(out, "\nstudy 2: second\n  series number: 2 (--series 2 picks it)\n")) << out;
    EXPECT_EQ(1, Program_Run("reslice '" + set + "' --alpha 1 --beta 1 -o '" + folder.File("out") + "'", &out, &err));
    EXPECT_TRUE(Contains(err, "azozude reslice: " + set + " holds 2 series; choose one with --series N or --series "
                              "UID (azozude info " + set + " numbers them)\n"))
        << err;
    EXPECT_EQ(2, Program_Run("reslice '" + set + "' --series 3 --alpha 1 --beta 1 -o '" + folder.File("out") + "'",
                             &out, &err));
    EXPECT_TRUE(Contains(err, set + ": no series \"3\" (it holds 2: 1 " + set + "/first, 2 " + set + "/second.nii)"))
        << err;
    ASSERT_EQ(0, Program_Run("-q reslice '" + set + "' --series 2 --alpha 1 --beta 1 --summary -o '" +
                                 folder.File("out") + "'",
                             &out, &err))
        << err;
    EXPECT_EQ(0u, Text_Of(folder.File("out/summary.txt")).find("study: second\n"));

    // One frame cannot be a 3D group, and says so.
    nifti.dim[2] = 1;
    nifti.values.assign(4 * 3, 7.0);
    ASSERT_TRUE(Nifti_Write(folder.File("flat.nii"), nifti));
    ASSERT_EQ(0, Program_Run("info '" + folder.File("flat.nii") + "'", &out, &err)) << err;
    EXPECT_TRUE(Contains(out, "  3D group: not a 3D group: one frame only (0x40000000)\n")) << out;
}

TEST(HostProgram, TiltedSeriesLoadsAndTheGroupTestSaysSo)
{
    Temp_Folder folder;
    std::string series = folder.File("tilted");
    ASSERT_EQ(0, system(("mkdir '" + series + "'").c_str()));
    for (int k = 0; k < 4; k++) {
        Dicom_Plan plan;
        // Each slice moves 2 mm along the normal and 0.8 mm along the columns: a gantry tilt.
        plan.position[1] = 0.8 * k;
        plan.position[2] = 2.0 * k;
        plan.sop_instance += "." + std::to_string(k);
        plan.stored.assign(30, static_cast<uint16_t>(k));
        ASSERT_TRUE(Dicom_Write(series + "/s" + std::to_string(k) + ".dcm", plan));
    }
    std::string out, err;
    ASSERT_EQ(0, Program_Run("info '" + series + "'", &out, &err)) << err;
    EXPECT_TRUE(Contains(out, "  size: 6 x 5 pixels, 4 frames, 1 time point(s)\n")) << out;
    EXPECT_TRUE(Contains(out, "  3D group: not a 3D group: positions not along the normal (tilted) (0x10000000)\n"))
        << out;
}

TEST(HostProgram, DemoWithThePhantom)
{
    Temp_Folder folder;
    std::string out, err;
    ASSERT_EQ(0, Program_Run("-q demo --phantom --original --pictures --montage --summary -o '" + folder.File("demo") +
                                 "'",
                             &out, &err))
        << err;
    EXPECT_TRUE(Contains(out, "demo: using the built-in phantom\n")) << out;
    std::string summary = Text_Of(folder.File("demo/summary.txt"));
    EXPECT_TRUE(Contains(out, summary)) << "the summary is printed too:\n" << out;
    EXPECT_EQ(0u, summary.find("study: Phantom\n"
                               "panel angles: alpha 25.00 degrees, beta -20.00 degrees\n"
                               "original: 48 frames of 96 x 96 pixels, spacing 1 x 1 x 2 mm, tags\n"
                               "  orientation: row (1.0000, 0.0000, 0.0000), column (0.0000, 1.0000, 0.0000), "
                               "normal (0.0000, 0.0000, 1.0000)\n"
                               // The box of 95 x 95 x 47 voxel steps turned about x by 25 and y by -20 degrees.
                               "oblique: 111 frames of 118 x 106 pixels, spacing "))
        << summary;
    double load = -1, apply = -1, export_s = -1;
    size_t times = summary.find("\ntimes: ");
    ASSERT_NE(std::string::npos, times) << summary;
    ASSERT_EQ(3, sscanf(summary.c_str() + times, "\ntimes: load %lf s, apply %lf s (\"Update DB\" to the last frame), "
                                                 "export %lf s\n",
                        &load, &apply, &export_s))
        << summary;
    EXPECT_GE(load, 0.0);
    EXPECT_GT(apply, 0.0);
    EXPECT_GT(export_s, 0.0);
    EXPECT_EQ(summary.size(), summary.find('\n', times + 1) + 1) << "the times end the summary";
    for (const char *name : {"oblique.nii.gz", "oblique_tags.nii.gz"})
        EXPECT_GT(Text_Of(folder.File(std::string("demo/") + name)).size(), 352u) << name;
    int width = 0, height = 0;
    // 36 of the 111 frames, six a row, at their own size.
    EXPECT_TRUE(Png_Size(folder.File("demo/oblique_montage.png"), &width, &height));
    EXPECT_EQ(6 * 118, width);
    EXPECT_EQ(6 * 106, height);
    EXPECT_TRUE(Png_Size(folder.File("demo/oblique_middle.png"), &width, &height));
    EXPECT_EQ(118, width);
    EXPECT_TRUE(Png_Size(folder.File("demo/panel.png"), &width, &height));
}

TEST(HostProgram, AFourDStudyEntersAtOneTimePoint)
{
    Temp_Folder folder;
    Nifti_Plan nifti;
    const int nx = 6, ny = 5, nz = 4, nt = 3;
    nifti.dim[0] = nx;
    nifti.dim[1] = ny;
    nifti.dim[2] = nz;
    nifti.dim[3] = nt;
    for (int t = 0; t < nt; t++)
        for (int k = 0; k < nz; k++)
            for (int j = 0; j < ny; j++)
                for (int i = 0; i < nx; i++)
                    nifti.values.push_back(1000 * t + 100 * k + 10 * j + i);
    std::string study = folder.File("run.nii");
    ASSERT_TRUE(Nifti_Write(study, nifti));
    std::string out, err;
    ASSERT_EQ(0, Program_Run("info '" + study + "'", &out, &err)) << err;
    EXPECT_TRUE(Contains(out, "  size: 6 x 5 pixels, 4 frames, 3 time point(s)\n")) << out;
    EXPECT_TRUE(Contains(out, "  database frames: time point 0 of 3 (--time T chooses; the images keep every time "
                              "point)\n"))
        << out;
    EXPECT_TRUE(Contains(out, "  3D group: valid 3D group\n")) << out;
    ASSERT_EQ(0, Program_Run("info --time 2 '" + study + "'", &out, &err)) << err;
    EXPECT_TRUE(Contains(out, "  database frames: time point 2 of 3 (")) << out;
    ASSERT_EQ(0, Program_Run("info '" + study + "' --time=1", &out, &err)) << err;
    EXPECT_TRUE(Contains(out, "  database frames: time point 1 of 3 (")) << out;

    // One step beyond the last time point, and words that are no time point.
    EXPECT_EQ(2, Program_Run("info --time 3 '" + study + "'", &out, &err));
    EXPECT_TRUE(Contains(err, study + ": no time point 3: the study has 3 time point(s)")) << err;
    EXPECT_EQ(1, Program_Run("info --time x '" + study + "'", &out, &err));
    EXPECT_TRUE(Contains(err, "azozude: --time needs a time point (a whole number from 0), not \"x\"")) << err;
    EXPECT_EQ(1, Program_Run("info --time -1 '" + study + "'", &out, &err));
    EXPECT_TRUE(Contains(err, "azozude: --time needs a time point (a whole number from 0), not \"-1\"")) << err;
    EXPECT_EQ(1, Program_Run("info '" + study + "' --time", &out, &err));
    EXPECT_TRUE(Contains(err, "azozude: --time needs a time point (a whole number from 0)\n")) << err;

    // Re-sliced at time point 1: both directions show that time point only.
    std::string out_dir = folder.File("out");
    ASSERT_EQ(0, Program_Run("-q reslice '" + study + "' --time 1 --alpha 30 --beta 10 --original --summary -o '" +
                                 out_dir + "'",
                             &out, &err))
        << err;
    std::string summary = Text_Of(out_dir + "/summary.txt");
    EXPECT_EQ(0u, summary.find("study: run, time point 1 of 3\n")) << summary;
    EXPECT_TRUE(Contains(summary, "\noriginal: 4 frames of 6 x 5 pixels, spacing 1 x 1 x 1 mm\n")) << summary;
    AzSeries original, oblique;
    AzLoad_Report report;
    ASSERT_EQ(1, AzNifti_Read(out_dir + "/original.nii.gz", &original, &report));
    ASSERT_EQ(1, AzNifti_Read(out_dir + "/oblique.nii.gz", &oblique, &report));
    EXPECT_EQ(1, original.times_nb);
    ASSERT_EQ(static_cast<size_t>(nz), original.frames.size());
    for (int k = 0; k < nz; k++)
        for (int j = 0; j < ny; j++)
            for (int i = 0; i < nx; i++)
                ASSERT_EQ(1000 + 100 * original.frames[k].source_index + 10 * j + i,
                          original.frames[k].gli[j * nx + i])
                    << i << " " << j << " " << k;
    // Every oblique voxel holds a grey level of time point 1, or the fill 0 beyond the study.
    EXPECT_EQ(1, oblique.times_nb);
    ASSERT_FALSE(oblique.frames.empty());
    for (const AzSeries_Frame &frame : oblique.frames)
        for (int16_t grey : frame.gli)
            ASSERT_TRUE(grey == 0 || (grey >= 1000 && grey < 2000)) << grey;
}

TEST(HostProgram, AFolderWithSomeBadFilesStillLoads)
{
    Temp_Folder folder;
    std::string series = folder.File("series");
    ASSERT_EQ(0, system(("mkdir '" + series + "'").c_str()));
    for (int k = 0; k < 3; k++) {
        Dicom_Plan plan;
        plan.position[2] = 1.5 * k;
        plan.sop_instance += "." + std::to_string(k);
        ASSERT_TRUE(Dicom_Write(series + "/s" + std::to_string(k) + ".dcm", plan));
    }
    ASSERT_TRUE(Bytes_Write(series + "/notes.txt", "not an image"));
    // A file on which the DICOM library itself gives up (it ends the process
    // reading it): only this file is lost.
    const char *crasher = "/usr/lib/python3/dist-packages/pydicom/data/test_files/rtdose_1frame.dcm";
    FILE *sample = fopen(crasher, "rb");
    int with_crasher = sample != nullptr;
    if (sample) {
        fclose(sample);
        ASSERT_EQ(0, system((std::string("cp '") + crasher + "' '" + series + "/dose.dcm'").c_str()));
    }
    std::string out, err;
    ASSERT_EQ(0, Program_Run("info '" + series + "'", &out, &err)) << err;
    EXPECT_TRUE(Contains(out, "  size: 6 x 5 pixels, 3 frames, 1 time point(s)\n")) << out;
    EXPECT_TRUE(Contains(out, "  spacing: 1 x 1 x 1.5 mm\n")) << out;
    EXPECT_TRUE(Contains(err, series + "/notes.txt: not a DICOM file, or unreadable")) << err;
    if (with_crasher) {
        EXPECT_TRUE(Contains(err, series + "/dose.dcm: the DICOM reader fails on this file (malformed)")) << err;
        EXPECT_TRUE(Contains(err, series + ": 2 of 5 files skipped")) << err;
    } else {
        EXPECT_TRUE(Contains(err, series + ": 1 of 4 files skipped")) << err;
    }
}

namespace {

/* A series of single-slice files at the given depths: identity axes,
 * 1 mm pixels, pixel (0, 0) at (10, -20, depth), stored 100 + 10 x + 3 y. */
std::string Series_At(const Temp_Folder &folder, const std::string &name, const std::vector<double> &depths,
                      double slope)
{
    std::string path = folder.File(name);
    if (system(("mkdir '" + path + "'").c_str()) != 0)
        return path;
    for (size_t k = 0; k < depths.size(); k++) {
        Dicom_Plan plan;
        plan.width = 16;
        plan.height = 12;
        plan.has_window = 0;
        plan.slope = slope;
        plan.description = name;
        plan.series_uid = "1.2.826.0.1.3680043.2.1125.5." + std::to_string(name.size());
        plan.sop_instance = plan.series_uid + "." + std::to_string(k + 1);
        plan.position[0] = 10;
        plan.position[1] = -20;
        plan.position[2] = depths[k];
        for (int y = 0; y < plan.height; y++)
            for (int x = 0; x < plan.width; x++)
                plan.stored.push_back(static_cast<uint16_t>(100 + 10 * x + 3 * y));
        Dicom_Write(path + "/s" + std::to_string(k) + ".dcm", plan);
    }
    return path;
}

template <class T> T Field(const std::string &bytes, size_t offset)
{
    T value;
    memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

/* The RAS position of voxel (i, j, k) by a header's sform or its qform. */
void Ras_Of(const std::string &h, bool by_qform, double i, double j, double k, double out[3])
{
    if (!by_qform) {
        for (int r = 0; r < 3; r++)
            out[r] = Field<float>(h, 280 + 16 * r) * i + Field<float>(h, 284 + 16 * r) * j +
                     Field<float>(h, 288 + 16 * r) * k + Field<float>(h, 292 + 16 * r);
        return;
    }
    double b = Field<float>(h, 256), c = Field<float>(h, 260), d = Field<float>(h, 264);
    double a = sqrt(std::max(0.0, 1.0 - b * b - c * c - d * d));
    double rotation[3][3] = {{a * a + b * b - c * c - d * d, 2 * (b * c - a * d), 2 * (b * d + a * c)},
                             {2 * (b * c + a * d), a * a + c * c - b * b - d * d, 2 * (c * d - a * b)},
                             {2 * (b * d - a * c), 2 * (c * d + a * b), a * a + d * d - c * c - b * b}};
    double qfac = Field<float>(h, 76) < 0 ? -1.0 : 1.0;
    double scaled[3] = {i * Field<float>(h, 80), j * Field<float>(h, 84), k * Field<float>(h, 88) * qfac};
    for (int r = 0; r < 3; r++)
        out[r] = Field<float>(h, 268 + 4 * r) + rotation[r][0] * scaled[0] + rotation[r][1] * scaled[1] +
                 rotation[r][2] * scaled[2];
}

} // namespace

TEST(HostProgram, UnevenSlicesAreNoGroupAndTheConsoleSaysWhere)
{
    Temp_Folder folder;
    std::string gap = Series_At(folder, "gap", {0, 1, 2, 3, 5, 6}, 1.0);
    std::string out, err;
    EXPECT_EQ(0, Program_Run("info '" + gap + "'", &out, &err)) << err;
    EXPECT_TRUE(Contains(out, "\n  3D group: not a 3D group: slices not evenly spaced (0x80000100)\n")) << out;
    EXPECT_TRUE(Contains(err, "gap: uneven slice spacing: 2 mm between frames 3 and 4 (3.00 and 5.00 mm from the "
                              "first frame) where the usual step is 1 mm; 1 of 5 steps differ by more than 1%: not a "
                              "3D group")) << err;
    EXPECT_EQ(2,
              Program_Run("-q reslice '" + gap + "' --alpha 10 --beta 0 -o '" + folder.File("out") + "'", &out, &err));
    EXPECT_TRUE(Contains(err, "\"Dir. Oblique\" is disabled: the current study is not a valid 3D group")) << err;
    // Written anyway (a session's dump), its geometry is said to be a best fit.
    ASSERT_TRUE(Bytes_Write(folder.File("dump.session"), "open\ndump \"" + folder.File("dump") + "\"\n"));
    EXPECT_EQ(0, Program_Run("run '" + folder.File("dump.session") + "' '" + gap + "'", &out, &err)) << err;
    EXPECT_TRUE(Contains(err, "\"gap (dir:Original)\": its frames do not lie on one grid (up to 0.45 mm off): the "
                              "geometry written is their best fit")) << err;
}

TEST(HostProgram, ObliqueExportIsOrthogonalKeepsRealValuesAndFillsWithZero)
{
    Temp_Folder folder;
    // Two slices 2.5 mm apart, values 0.1 + 0.01 x + 0.003 y.  A re-sliced voxel reads the slice below it (slice
    // indices are cut toward zero: the first slice from -2.5 to 2.5 mm, the second from 2.5 to 5 mm); the file
    // places it half a slice back, so that the slice it reads is the nearest: -3.75 .. 3.75 mm hold values.
    std::string two = Series_At(folder, "two", {0, 2.5}, 0.001);
    // Alpha, beta and how many voxels lie beyond the slices at least (at right angles every voxel reads the first
    // slice: its axis is found although every position along it is the same).
    const double angles[][3] = {{30, 20, 200}, {-60, 45, 200}, {90, 0, 0}, {0, 0, 0}};
    for (const auto &angle : angles) {
        SCOPED_TRACE(std::to_string(angle[0]) + " " + std::to_string(angle[1]));
        std::string out_dir = folder.File("out" + std::to_string(static_cast<int>(angle[0])) + "_" +
                                          std::to_string(static_cast<int>(angle[1])));
        std::string out, err;
        ASSERT_EQ(0, Program_Run("-q reslice '" + two + "' --alpha " + std::to_string(angle[0]) + " --beta " +
                                     std::to_string(angle[1]) + " -o '" + out_dir + "'",
                                 &out, &err))
            << err;
        ASSERT_EQ(0, system(("gzip -dc '" + out_dir + "/oblique.nii.gz' > '" + out_dir + "/o.nii'").c_str()));
        std::string nii = Text_Of(out_dir + "/o.nii");
        ASSERT_GT(nii.size(), 352u);
        int dim[3] = {Field<int16_t>(nii, 42), Field<int16_t>(nii, 44), Field<int16_t>(nii, 46)};
        ASSERT_EQ(nii.size(), 352u + 2u * dim[0] * dim[1] * dim[2]);
        EXPECT_FLOAT_EQ(0.001f, Field<float>(nii, 112)); // scl_slope
        EXPECT_EQ(0.0f, Field<float>(nii, 116));         // scl_inter
        EXPECT_EQ(1, Field<int16_t>(nii, 252));          // qform_code
        // Axes at right angles, and qform and sform within a tenth of a voxel at every corner.
        double column[3][3];
        for (int c = 0; c < 3; c++)
            for (int r = 0; r < 3; r++)
                column[c][r] = Field<float>(nii, 280 + 16 * r + 4 * c);
        for (int a = 0; a < 3; a++)
            for (int b = a + 1; b < 3; b++)
                EXPECT_NEAR(0.0, column[a][0] * column[b][0] + column[a][1] * column[b][1] + column[a][2] * column[b][2],
                            1e-4) << a << b;
        for (int corner = 0; corner < 8; corner++) {
            double s[3], q[3];
            double i = corner & 1 ? dim[0] - 1 : 0, j = corner & 2 ? dim[1] - 1 : 0, k = corner & 4 ? dim[2] - 1 : 0;
            Ras_Of(nii, false, i, j, k, s);
            Ras_Of(nii, true, i, j, k, q);
            EXPECT_LT(sqrt((s[0] - q[0]) * (s[0] - q[0]) + (s[1] - q[1]) * (s[1] - q[1]) + (s[2] - q[2]) * (s[2] - q[2])),
                      0.1 * Field<float>(nii, 80)) << corner;
        }
        // Every voxel where the sform places it: inside the slices the study's value there, beyond them 0.
        int inside = 0, beyond = 0;
        for (int k = 0; k < dim[2]; k++)
            for (int j = 0; j < dim[1]; j++)
                for (int i = 0; i < dim[0]; i++) {
                    double ras[3];
                    Ras_Of(nii, false, i, j, k, ras);
                    double x = -ras[0] - 10, y = -ras[1] + 20, depth = ras[2];
                    double value = 0.001 * Field<int16_t>(nii, 352 + 2 * ((static_cast<size_t>(k) * dim[1] + j) * dim[0] + i));
                    ASSERT_TRUE(value == 0.0 || value > 0.0995) << value;
                    if (x < 0.5 || x > 14.5 || y < 0.5 || y > 10.5 || fabs(fabs(depth) - 3.75) < 0.05)
                        continue;
                    if (depth > -3.75 && depth < 3.75) {
                        inside++;
                        ASSERT_NEAR(0.1 + 0.01 * x + 0.003 * y, value, 6e-4) << i << " " << j << " " << k;
                    } else {
                        beyond++;
                        ASSERT_EQ(0.0, value) << i << " " << j << " " << k;
                    }
                }
        EXPECT_GT(inside, 250);
        EXPECT_GE(beyond, angle[2]);
    }
}
