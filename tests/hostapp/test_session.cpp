/*
 * Sessions of panel events, and the batch commands built on them: parsing,
 * pictures, and output folders that are never left half-written.
 */
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "hostapp/lib/az_app.h"
#include "hostapp/lib/az_session.h"
#include "test_files.h"

namespace {

/* study.nii: sx x sy x sz voxels of 1.5 x 1 x dz mm; with labels.nii beside it: 300 where i >= sx / 2, else 7. */
void Study_Write(const Temp_Folder &folder, int sx, int sy, int sz, double dz, bool labelled)
{
    Nifti_Plan study;
    study.sform = {{{1.5, 0, 0, -15}, {0, 1, 0, -8}, {0, 0, dz, -12}}};
    study.dim = {sx, sy, sz, 1};
    Nifti_Plan labels = study;
    for (int n = 0; n < sx * sy * sz; n++) {
        study.values.push_back(n % 1000);
        labels.values.push_back(n % sx >= sx / 2 ? 300 : 7);
    }
    ASSERT_TRUE(Nifti_Write(folder.File("study.nii"), study));
    ASSERT_TRUE(!labelled || Nifti_Write(folder.File("labels.nii"), labels));
}

} // namespace

TEST(SessionText, StepsAreCheckedBeforeAnythingRuns)
{
    std::vector<AzSession_Step> steps;
    std::string error;
    ASSERT_EQ(1, AzSession_Parse("# a comment\n\nopen 0\nclick \"Dir. Oblique\" 0.5 0.5  # trailing\n"
                                 "drag 10 20 30 40 4\necho two words\n",
                                 "s.txt", &steps, &error))
        << error;
    ASSERT_EQ(4u, steps.size());
    EXPECT_EQ(3, steps[0].line);
    EXPECT_EQ((std::vector<std::string>{"click", "Dir. Oblique", "0.5", "0.5"}), steps[1].words);
    EXPECT_EQ(4, steps[1].line);
    EXPECT_EQ(6u, steps[2].words.size());
    EXPECT_EQ((std::vector<std::string>{"echo", "two", "words"}), steps[3].words);
    // What it refuses is in the command table.
}

TEST(SessionRun, PicturesOfThePanelAndOfFrames)
{
    Temp_Folder folder;
    Study_Write(folder, 20, 16, 12, 2, true);
    ASSERT_TRUE(Bytes_Write(folder.File("session.txt"), "open\nclick \"Dir. Oblique\"\nslice 3\nsave-panel panel.png\n"
                                                         "save-frame original 5 frame.png\nresize 300\nslice middle\n"
                                                         "save-panel wide.png\nwait 30\necho session done\n"));
    Outcome run = Program("run session.txt study.nii", folder.Path());
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_TRUE(Contains(run.out, "session done\n")) << run.out;
    EXPECT_EQ("20x16", Png_Size(folder.File("frame.png")));
    // The panel at the host's tool width; it grows with its square preview.
    int high = atoi(Png_Size(folder.File("panel.png")).substr(4).c_str());
    EXPECT_TRUE(Png_Size(folder.File("panel.png")).compare(0, 4, "200x") == 0 && high > 200);
    EXPECT_EQ("300x" + std::to_string(high + 100), Png_Size(folder.File("wide.png")));
}

TEST(SessionRun, LabelValuesAboveOneByteAreWrittenAsSixteenBits)
{
    Temp_Folder folder;
    Study_Write(folder, 20, 16, 12, 2, true);
    Outcome run = Program("-q reslice study.nii --alpha 20 --beta -15 -o out --labels labels.nii", folder.Path());
    ASSERT_EQ(0, run.code) << run.err;
    ASSERT_EQ(0, Shell("gzip -dc '" + folder.File("out/oblique_tags.nii.gz") + "' >'" + folder.File("tags.nii") + "'"));
    std::string bytes = Text_Of(folder.File("tags.nii"));
    EXPECT_EQ(512, Field<int16_t>(bytes, 70)); // unsigned 16 bits
    // The labels' own values, and the fill 0 beyond the study.
    std::vector<int> seen(65536, 0);
    for (size_t at = 352; at + 1 < bytes.size(); at += 2)
        seen[Field<uint16_t>(bytes, at)] = 1;
    EXPECT_TRUE(seen[0] && seen[7] && seen[300]);
    EXPECT_EQ(3, std::count(seen.begin(), seen.end(), 1));
}

TEST(SessionRun, EveryAngleReachesTheMiddleSliceOfAFineVolume)
{
    // 600 slices of 0.5 mm: the Oblique direction has more frames than the slider at the host's tool width has
    // pixels, so that a click cannot reach every slice.
    Temp_Folder folder;
    Study_Write(folder, 8, 6, 600, 0.5, false);
    std::string session = "open 0 1851\ndirection oblique on\n";
    const int angles[][2] = {{-30, -10}, {-30, 5}, {-30, 30}, {-7, -10}, {-7, 5},  {-7, 30},
                             {15, -10},  {15, 5},  {15, 30},  {-90, -90}, {90, 90}};
    for (const auto &angle : angles)
        session += "resize 1851\nrotate " + std::to_string(angle[0]) + " " + std::to_string(angle[1]) +
                   "\nclick \"Update DB\"\nwait\nresize\nslice middle\necho reached " + std::to_string(angle[0]) +
                   " " + std::to_string(angle[1]) + "\n";
    ASSERT_TRUE(Bytes_Write(folder.File("grid.txt"), session));
    Outcome run = Program("-q run grid.txt study.nii", folder.Path());
    EXPECT_EQ(0, run.code) << run.err;
    EXPECT_TRUE(Matches(run.out, "reached -30 -10\n*reached 90 90\n")) << run.out;

    // The pictures of a re-slice never depend on the slider.
    run = Program("-q reslice study.nii --alpha -7 --beta 5 --pictures -o out", folder.Path());
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_EQ((std::vector<std::string>{"oblique.nii.gz", "oblique_middle.png", "original_middle.png", "panel.png"}),
              Names_In(folder.File("out")));
}

TEST(SessionRun, AnEarlierRunsOutputsAreReplacedAndOtherFilesRefused)
{
    Temp_Folder folder;
    Study_Write(folder, 20, 16, 12, 2, true);
    std::string out_dir = folder.File("a\"b c"), here = folder.Path();
    std::string reslice = "-q reslice study.nii --alpha 5 --beta 5 -o 'a\"b c'";
    Outcome run = Program(reslice + " --summary --labels labels.nii", here);
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_EQ((std::vector<std::string>{"oblique.nii.gz", "oblique_tags.nii.gz", "summary.txt"}), Names_In(out_dir));
    // Without labels: the earlier tags and summary go, they would not describe the new volume.
    ASSERT_EQ(0, Program(reslice, here).code);
    EXPECT_EQ((std::vector<std::string>{"oblique.nii.gz"}), Names_In(out_dir));
    // A file of the user's refuses the folder, unless --force, which leaves it alone.
    ASSERT_TRUE(Bytes_Write(out_dir + "/notes.txt", "mine"));
    run = Program(reslice + " --original", here);
    EXPECT_EQ(2, run.code);
    EXPECT_TRUE(Contains(run.err, "azozude reslice: a\"b c: the folder holds other files (\"notes.txt\"); choose an "
                                  "empty or new folder, or add --force to write beside them\n"))
        << run.err;
    EXPECT_EQ((std::vector<std::string>{"notes.txt", "oblique.nii.gz"}), Names_In(out_dir));
    ASSERT_EQ(0, Program(reslice + " --original --force", here).code);
    EXPECT_EQ((std::vector<std::string>{"notes.txt", "oblique.nii.gz", "original.nii.gz"}), Names_In(out_dir));
    EXPECT_EQ("mine", Text_Of(out_dir + "/notes.txt"));
    // What a run killed outright left is cleared; a run that lives (process 1 here) keeps the folder to itself.
    ASSERT_EQ(0, Shell("mkdir '" + out_dir + "/.azozude-part.2147483000'"));
    ASSERT_TRUE(Bytes_Write(out_dir + "/.azozude-part.2147483000/oblique.nii.gz", "half"));
    ASSERT_EQ(0, Program(reslice + " --force", here).code);
    EXPECT_EQ((std::vector<std::string>{"notes.txt", "oblique.nii.gz"}), Names_In(out_dir));
    ASSERT_EQ(0, Shell("mkdir '" + out_dir + "/.azozude-part.1'"));
    run = Program(reslice + " --force", here);
    EXPECT_EQ(2, run.code);
    EXPECT_TRUE(Contains(run.err, "a\"b c: another azozude run is writing into this folder")) << run.err;

    // A run that fails after its first outputs leaves none of them, and no folder it made.
    ASSERT_TRUE(Bytes_Write(folder.File("session.txt"), "open\nsave-panel new/panel.png\ndump new\nclick Nope\n"));
    ASSERT_EQ(0, Shell("mkdir '" + folder.File("new") + "'"));
    run = Program("-q run session.txt study.nii", here);
    EXPECT_EQ(2, run.code);
    EXPECT_TRUE(Contains(run.err, "session.txt:4: no widget \"Nope\" on the panel")) << run.err;
    EXPECT_EQ(std::vector<std::string>(), Names_In(folder.File("new")));
}

class Interrupted : public ::testing::TestWithParam<int> {};

TEST_P(Interrupted, ARunStoppedBySignalLeavesNothing)
{
    Temp_Folder folder;
    Study_Write(folder, 96, 96, 96, 1, false);
    std::string out_dir = folder.File("out");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        std::string program = std::string(AZ_BUILD_DIR) + "/azozude";
        execl(program.c_str(), program.c_str(), "reslice", folder.File("study.nii").c_str(), "--alpha", "40",
              "--beta", "30", "--original", "--pictures", "--montage", "--summary", "-o", out_dir.c_str(),
              static_cast<char *>(nullptr));
        _exit(127);
    }
    // The signal comes while files are being written.
    int writing = 0;
    for (int i = 0; i < 20000 && !writing; i++) {
        for (const std::string &name : Names_In(out_dir))
            writing |= name.compare(0, 14, ".azozude-part.") == 0;
        if (!writing)
            usleep(500);
    }
    kill(child, GetParam());
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(writing) << "the run ended before it wrote";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == GetParam()) << status;
    EXPECT_EQ(std::vector<std::string>{"study.nii"}, Names_In(folder.Path())) << "only the study is left";
}

INSTANTIATE_TEST_SUITE_P(SessionRun, Interrupted, ::testing::Values(SIGINT, SIGTERM));

TEST(AppText, GroupVerdictsAndGlobalOptions)
{
    // One reason each is said by the info rows of the command table; several are joined.
    EXPECT_EQ("not a 3D group: positions not along the normal (tilted); two frames at one position (0x10020000)",
              AzApp_Group_Text(0x10020000u));
    const char *argv[] = {"azozude", "-v", "reslice", "a.nii", "--module", "/x/m.so", "-o", "out", "-q", "--time", "7"};
    AzApp_Options options;
    std::string error;
    ASSERT_EQ(1, AzApp_Options_Parse(11, const_cast<char **>(argv), &options, &error));
    EXPECT_EQ("reslice", options.command);
    EXPECT_EQ("/x/m.so", options.module_path);
    EXPECT_EQ(2, options.console_level); // the last of -v and -q wins
    EXPECT_EQ((std::vector<std::string>{"a.nii", "-o", "out"}), options.words);
    EXPECT_EQ(7, options.time_point);
    ASSERT_EQ(1, AzApp_Options_Parse(3, const_cast<char **>(argv), &options, &error));
    EXPECT_EQ(0, options.time_point); // the first time point unless asked
}
