/*
 * The batch commands: label values above one byte, runs stopped by a
 * signal, the global options.  Sessions, pictures and output folders
 * replaced, refused or left whole are rows of the command table.
 */
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "hostapp/lib/az_app.h"
#include "test_files.h"

TEST(SessionRun, LabelValuesAboveOneByteAreWrittenAsSixteenBits)
{
    Temp_Folder folder;
    Inputs_Make("labelled", folder); // study.nii, 20 x 16 x 12 voxels, and labels.nii: 300 where i >= 10, else 7
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

class Interrupted : public ::testing::TestWithParam<int> {};

TEST_P(Interrupted, ARunStoppedBySignalLeavesNothing)
{
    Temp_Folder folder;
    Inputs_Make("big", folder);  // 96 x 96 x 96 voxels
    std::string out_dir = folder.File("out");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        std::string program = std::string(AZ_BUILD_DIR) + "/azozude";
        execl(program.c_str(), program.c_str(), "reslice", folder.File("study.nii.gz").c_str(), "--alpha", "40",
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
    EXPECT_EQ(std::vector<std::string>{"study.nii.gz"}, Names_In(folder.Path())) << "only the study is left";
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
