/*
 * Sessions of panel events, and the batch commands built on them: parsing,
 * failures with their line, and a re-slice checked voxel by voxel against
 * the study it came from.
 */
#include <dirent.h>
#include <math.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "hostapp/lib/az_app.h"
#include "hostapp/lib/az_read.h"
#include "hostapp/lib/az_session.h"
#include "test_files.h"

namespace {

/* A gradient study, 20 x 16 x 12 voxels of 1.5 x 1 x 2 mm: grey 10 i + 7 j + k;
 * its labels: 1 where i >= 10. */
const int nx = 20, ny = 16, nz = 12;

void Gradient_Write(const Temp_Folder &folder)
{
    Nifti_Plan study, labels;
    double sform[3][4] = {{1.5, 0, 0, -15}, {0, 1, 0, -8}, {0, 0, 2, -12}};
    memcpy(study.sform, sform, sizeof(sform));
    study.dim[0] = nx;
    study.dim[1] = ny;
    study.dim[2] = nz;
    labels = study;
    labels.datatype = 2;
    for (int k = 0; k < nz; k++)
        for (int j = 0; j < ny; j++)
            for (int i = 0; i < nx; i++) {
                study.values.push_back(10 * i + 7 * j + k);
                labels.values.push_back(i >= 10 ? 1 : 0);
            }
    ASSERT_TRUE(Nifti_Write(folder.File("study.nii"), study));
    ASSERT_TRUE(Nifti_Write(folder.File("labels.nii"), labels));
}

/* A gradient study of sx x sy x sz voxels of 1 x 1 x dz mm (grey i + 2 j + 3 k). */
void Block_Write(const std::string &path, int sx, int sy, int sz, double dz = 1.0)
{
    Nifti_Plan study;
    study.sform[2][2] = dz;
    study.dim[0] = sx;
    study.dim[1] = sy;
    study.dim[2] = sz;
    for (int k = 0; k < sz; k++)
        for (int j = 0; j < sy; j++)
            for (int i = 0; i < sx; i++)
                study.values.push_back(i + 2 * j + 3 * k);
    ASSERT_TRUE(Nifti_Write(path, study));
}

/* The names in a folder, hidden ones too, sorted; empty when it does not exist. */
std::vector<std::string> Names_In(const std::string &folder)
{
    std::vector<std::string> names;
    if (DIR *dir = opendir(folder.c_str())) {
        while (struct dirent *entry = readdir(dir))
            if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
                names.push_back(entry->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
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

    EXPECT_EQ(0, AzSession_Parse("open\nfrob 1\n", "s.txt", &steps, &error));
    EXPECT_EQ("s.txt:2: unknown step \"frob\"", error);
    EXPECT_EQ(0, AzSession_Parse("rotate 10\n", "s.txt", &steps, &error));
    EXPECT_EQ("s.txt:1: wrong number of words for \"rotate\"", error);
    EXPECT_EQ(0, AzSession_Parse("open\nclose now\n", "s.txt", &steps, &error));
    EXPECT_EQ("s.txt:2: wrong number of words for \"close\"", error);
    EXPECT_EQ(0, AzSession_Parse("\n\nclick \"Update DB\n", "s.txt", &steps, &error));
    EXPECT_EQ("s.txt:3: unclosed quote", error);
    EXPECT_EQ(0, AzSession_Load("/nonexistent/s.txt", &steps, &error));
    EXPECT_EQ(0u, error.find("/nonexistent/s.txt: cannot open: ")) << error;
}

TEST(SessionRun, PanelEventsPicturesAndFailuresWithTheirLine)
{
    Temp_Folder folder;
    Gradient_Write(folder);
    std::string session = folder.File("session.txt");
    ASSERT_TRUE(Bytes_Write(session, "open\n"
                                     "click \"Dir. Oblique\"\n"
                                     "slice 3\n"
                                     "save-panel \"" + folder.File("panel.png") + "\"\n"
                                     "save-frame original 5 \"" + folder.File("frame.png") + "\"\n"
                                     "resize 300\n"
                                     "slice middle\n"
                                     "save-panel \"" + folder.File("wide.png") + "\"\n"
                                     "wait 30\n"
                                     "echo session done\n"));
    std::string out, err;
    ASSERT_EQ(0, Program_Run("run '" + session + "' '" + folder.File("study.nii") + "'", &out, &err)) << err;
    EXPECT_TRUE(Contains(out, "session done\n")) << out;
    int width = 0, height = 0;
    ASSERT_TRUE(Png_Size(folder.File("frame.png"), &width, &height));
    EXPECT_EQ(nx, width);
    EXPECT_EQ(ny, height);
    ASSERT_TRUE(Png_Size(folder.File("panel.png"), &width, &height));
    EXPECT_EQ(200, width); // the host's tool width
    EXPECT_GT(height, 200);
    int wide_height = 0;
    ASSERT_TRUE(Png_Size(folder.File("wide.png"), &width, &wide_height));
    EXPECT_EQ(300, width);
    EXPECT_EQ(height + 100, wide_height); // the panel grows with its square preview

    // A step that cannot be carried out stops the session with its line.
    ASSERT_TRUE(Bytes_Write(session, "open\necho first\nclick Nope\necho never\n"));
    EXPECT_EQ(2, Program_Run("run '" + session + "' '" + folder.File("study.nii") + "'", &out, &err));
    EXPECT_TRUE(Contains(err, "azozude run: " + session + ":3: no widget \"Nope\" on the panel")) << err;
    EXPECT_TRUE(Contains(out, "first\n"));
    EXPECT_FALSE(Contains(out, "never"));

    ASSERT_TRUE(Bytes_Write(session, "click 10 10\n"));
    EXPECT_EQ(2, Program_Run("run '" + session + "' '" + folder.File("study.nii") + "'", &out, &err));
    EXPECT_TRUE(Contains(err, session + ":1: the panel is not open (a session starts with \"open\")")) << err;

    ASSERT_TRUE(Bytes_Write(session, "open\nsave-frame sideways 0 x.png\n"));
    EXPECT_EQ(2, Program_Run("run '" + session + "' '" + folder.File("study.nii") + "'", &out, &err));
    EXPECT_TRUE(Contains(err, session + ":2: a direction is original or oblique, not \"sideways\"")) << err;

    ASSERT_TRUE(Bytes_Write(session, "open\nsave-frame oblique 0 x.png\n"));
    EXPECT_EQ(2, Program_Run("run '" + session + "' '" + folder.File("study.nii") + "'", &out, &err));
    EXPECT_TRUE(Contains(err, session + ":2: \"study (dir:Oblique)\" has no frames")) << err;

    // A parse error runs nothing.
    ASSERT_TRUE(Bytes_Write(session, "echo first\nfrob\n"));
    EXPECT_EQ(2, Program_Run("run '" + session + "' '" + folder.File("study.nii") + "'", &out, &err));
    EXPECT_TRUE(Contains(err, session + ":2: unknown step \"frob\"")) << err;
    EXPECT_EQ("", out);
}

TEST(SessionRun, ResliceMatchesTheStudyAtEveryWorldPoint)
{
    Temp_Folder folder;
    Gradient_Write(folder);
    std::string out_dir = folder.File("out");
    std::string out, err;
    ASSERT_EQ(0, Program_Run("reslice '" + folder.File("study.nii") + "' --alpha 20 --beta -15 --original --summary -o '" +
                                 out_dir + "' --labels '" + folder.File("labels.nii") + "'",
                             &out, &err))
        << err;
    EXPECT_TRUE(Contains(out, "written to " + out_dir)) << out;
    std::string summary = Text_Of(out_dir + "/summary.txt");
    EXPECT_TRUE(Contains(summary, "study: study\n")) << summary;
    EXPECT_TRUE(Contains(out, summary)) << out;
    EXPECT_TRUE(Contains(summary, "original: 12 frames of 20 x 16 pixels, spacing 1.5 x 1 x 2 mm, tags\n"
                                  "  orientation: row (-1.0000, 0.0000, 0.0000), column (0.0000, -1.0000, 0.0000), "
                                  "normal (0.0000, 0.0000, 1.0000)\n"))
        << summary;
    // 19 x 15 x 11 voxel steps turned about x by 20 and y by -15 degrees span 23 x 18 x 20 voxels.
    EXPECT_TRUE(Contains(summary, "\noblique: 20 frames of 23 x 18 pixels, spacing ")) << summary;

    AzSeries oblique;
    AzLabels tags;
    AzLoad_Report report;
    ASSERT_EQ(1, AzNifti_Read(out_dir + "/oblique.nii.gz", &oblique, &report));
    ASSERT_EQ(1, AzNifti_Read_Labels(out_dir + "/oblique_tags.nii.gz", &tags, &report));
    // The cut is oblique: its normal leans away from the study's.
    EXPECT_LT(fabs(oblique.axis_normal.z), 0.99);
    int inside = 0, tagged = 0;
    for (size_t n = 0; n < oblique.frames.size(); n++) {
        const AzSeries_Frame &frame = oblique.frames[n];
        for (int y = 0; y < oblique.height; y += 3)
            for (int x = 0; x < oblique.width; x += 3) {
                AzVec3 world = AzVec3_Add(frame.position,
                                          AzVec3_Add(AzVec3_Scale(oblique.axis_row, x * oblique.spacing[0]),
                                                     AzVec3_Scale(oblique.axis_col, y * oblique.spacing[1])));
                // The study's voxel at that point (its LPS affine inverted by hand).
                double i = (15.0 - world.x) / 1.5, j = 8.0 - world.y, k = (world.z + 12.0) / 2.0;
                if (i < 1 || i > nx - 2 || j < 1 || j > ny - 2 || k < 0.5 || k > nz - 1.5)
                    continue;
                inside++;
                int grey = frame.gli[static_cast<size_t>(y) * oblique.width + x];
                // In-plane the grey levels are interpolated; across slices one slice step is at stake.
                ASSERT_NEAR(10 * i + 7 * j + k, grey, 1.75) << "frame " << n << " x " << x << " y " << y;
                int tag = tags.tags[(static_cast<size_t>(frame.source_index) * tags.height + y) * tags.width + x];
                if (i > 10.5 || i < 9.0) {
                    EXPECT_EQ(i > 10.5 ? 1 : 0, tag) << "frame " << n << " x " << x << " y " << y;
                    tagged += tag;
                }
            }
    }
    EXPECT_GT(inside, 200);
    EXPECT_GT(tagged, 50);
}

TEST(SessionRun, EveryAngleReachesTheMiddleSliceOfAFineVolume)
{
    // 600 slices of 0.5 mm: the Oblique direction has more frames than the slider at the host's tool width has
    // pixels, so that a click cannot reach every slice.
    Temp_Folder folder;
    Block_Write(folder.File("fine.nii"), 8, 6, 600, 0.5);
    std::string session = "open 0 1851\ndirection oblique on\n";
    const int angles[][2] = {{-30, -10}, {-30, 5}, {-30, 30}, {-7, -10}, {-7, 5},  {-7, 30},
                             {15, -10},  {15, 5},  {15, 30},  {-90, -90}, {90, 90}};
    for (const auto &angle : angles)
        session += "resize 1851\nrotate " + std::to_string(angle[0]) + " " + std::to_string(angle[1]) +
                   "\nclick \"Update DB\"\nwait\nresize\nslice middle\necho reached " + std::to_string(angle[0]) +
                   " " + std::to_string(angle[1]) + "\n";
    ASSERT_TRUE(Bytes_Write(folder.File("grid.txt"), session));
    std::string out, err;
    EXPECT_EQ(0, Program_Run("-q run '" + folder.File("grid.txt") + "' '" + folder.File("fine.nii") + "'", &out, &err))
        << err;
    EXPECT_TRUE(Contains(out, "reached -30 -10\n")) << out;
    EXPECT_TRUE(Contains(out, "reached 90 90\n")) << out;

    // The pictures of a re-slice never depend on the slider.
    ASSERT_EQ(0, Program_Run("-q reslice '" + folder.File("fine.nii") + "' --alpha -7 --beta 5 --pictures -o '" +
                                 folder.File("out") + "'",
                             &out, &err))
        << err;
    EXPECT_EQ((std::vector<std::string>{"oblique.nii.gz", "oblique_middle.png", "original_middle.png", "panel.png"}),
              Names_In(folder.File("out")));
}

TEST(SessionRun, AnEarlierRunsOutputsAreReplacedAndOtherFilesRefused)
{
    Temp_Folder folder;
    Gradient_Write(folder);
    std::string out_dir = folder.File("a\"b c"), study = folder.File("study.nii");
    std::string quoted = "'" + out_dir + "'", out, err;
    ASSERT_EQ(0, Program_Run("-q reslice '" + study + "' --alpha 5 --beta 5 --summary -o " + quoted + " --labels '" +
                                 folder.File("labels.nii") + "'",
                             &out, &err))
        << err;
    EXPECT_EQ((std::vector<std::string>{"oblique.nii.gz", "oblique_tags.nii.gz", "summary.txt"}), Names_In(out_dir));
    // Without labels: the earlier tags and summary go, they would not describe the new volume.
    ASSERT_EQ(0, Program_Run("-q reslice '" + study + "' --alpha 5 --beta 5 -o " + quoted, &out, &err)) << err;
    EXPECT_EQ((std::vector<std::string>{"oblique.nii.gz"}), Names_In(out_dir));
    // A file of the user's refuses the folder, unless --force, which leaves it alone.
    ASSERT_TRUE(Bytes_Write(out_dir + "/notes.txt", "mine"));
    EXPECT_EQ(2, Program_Run("-q reslice '" + study + "' --alpha 5 --beta 5 --original -o " + quoted, &out, &err));
    EXPECT_TRUE(Contains(err, "azozude reslice: " + out_dir + ": the folder holds other files (\"notes.txt\"); choose an "
                              "empty or new folder, or add --force to write beside them\n"))
        << err;
    EXPECT_EQ((std::vector<std::string>{"notes.txt", "oblique.nii.gz"}), Names_In(out_dir));
    ASSERT_EQ(0, Program_Run("-q reslice '" + study + "' --alpha 5 --beta 5 --original --force -o " + quoted, &out,
                             &err))
        << err;
    EXPECT_EQ((std::vector<std::string>{"notes.txt", "oblique.nii.gz", "original.nii.gz"}), Names_In(out_dir));
    EXPECT_EQ("mine", Text_Of(out_dir + "/notes.txt"));
    // What a run killed outright left is cleared; a run that lives (process 1 here) keeps the folder to itself.
    ASSERT_EQ(0, system(("mkdir " + quoted + "/.azozude-part.2147483000").c_str()));
    ASSERT_TRUE(Bytes_Write(out_dir + "/.azozude-part.2147483000/oblique.nii.gz", "half"));
    ASSERT_EQ(0, Program_Run("-q reslice '" + study + "' --alpha 5 --beta 5 --force -o " + quoted, &out, &err)) << err;
    EXPECT_EQ((std::vector<std::string>{"notes.txt", "oblique.nii.gz"}), Names_In(out_dir));
    ASSERT_EQ(0, system(("mkdir " + quoted + "/.azozude-part.1").c_str()));
    EXPECT_EQ(2, Program_Run("-q reslice '" + study + "' --alpha 5 --beta 5 --force -o " + quoted, &out, &err));
    EXPECT_TRUE(Contains(err, out_dir + ": another azozude run is writing into this folder")) << err;

    // A run that fails after its first outputs leaves none of them, and no folder it made.
    std::string session = folder.File("session.txt");
    ASSERT_TRUE(Bytes_Write(session, "open\nsave-panel \"" + folder.File("new/panel.png") + "\"\ndump \"" +
                                         folder.File("new") + "\"\nclick Nope\n"));
    ASSERT_EQ(0, system(("mkdir '" + folder.File("new") + "'").c_str()));
    EXPECT_EQ(2, Program_Run("-q run '" + session + "' '" + study + "'", &out, &err));
    EXPECT_TRUE(Contains(err, session + ":4: no widget \"Nope\" on the panel")) << err;
    EXPECT_EQ(std::vector<std::string>(), Names_In(folder.File("new")));
}

TEST(SessionRun, LabelValuesAboveOneByteAreExportedAsSixteenBits)
{
    Temp_Folder folder;
    Block_Write(folder.File("study.nii"), 10, 8, 6);
    Nifti_Plan labels;
    labels.dim[0] = 10;
    labels.dim[1] = 8;
    labels.dim[2] = 6;
    for (int n = 0; n < 10 * 8 * 6; n++)
        labels.values.push_back(n % 10 >= 5 ? 300 : 7);
    ASSERT_TRUE(Nifti_Write(folder.File("labels.nii"), labels));
    std::string out, err;
    ASSERT_EQ(0, Program_Run("-q reslice '" + folder.File("study.nii") + "' --labels '" + folder.File("labels.nii") +
                                 "' --alpha 10 --beta 5 -o '" + folder.File("out") + "'",
                             &out, &err))
        << err;
    ASSERT_EQ(0, system(("gzip -dc '" + folder.File("out/oblique_tags.nii.gz") + "' > '" + folder.File("tags.nii") +
                         "'").c_str()));
    std::string bytes = Text_Of(folder.File("tags.nii"));
    ASSERT_GT(bytes.size(), 352u);
    int16_t datatype = 0;
    memcpy(&datatype, bytes.data() + 70, sizeof(datatype));
    EXPECT_EQ(512, datatype); // unsigned 16 bits
    std::vector<int> seen(65536, 0);
    for (size_t at = 352; at + 1 < bytes.size(); at += 2)
        seen[static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8] = 1;
    EXPECT_TRUE(seen[0] && seen[7] && seen[300]);
    EXPECT_EQ(3, std::count(seen.begin(), seen.end(), 1));
}

class Interrupted : public ::testing::TestWithParam<int> {};

TEST_P(Interrupted, ARunStoppedBySignalLeavesNothing)
{
    Temp_Folder folder;
    Block_Write(folder.File("block.nii"), 96, 96, 96);
    std::string out_dir = folder.File("out");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        std::string program = std::string(AZ_BUILD_DIR) + "/azozude";
        execl(program.c_str(), program.c_str(), "reslice", folder.File("block.nii").c_str(), "--alpha", "40",
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
    EXPECT_EQ(std::vector<std::string>{"block.nii"}, Names_In(folder.Path())) << "only the study is left";
}

INSTANTIATE_TEST_SUITE_P(SessionRun, Interrupted, ::testing::Values(SIGINT, SIGTERM));

TEST(AppText, GroupVerdicts)
{
    EXPECT_EQ("valid 3D group", AzApp_Group_Text(0));
    EXPECT_EQ("not a 3D group: one frame only (0x40000000)", AzApp_Group_Text(0x40000000u));
    EXPECT_EQ("not a 3D group: positions not along the normal (tilted); two frames at one position (0x10020000)",
              AzApp_Group_Text(0x10020000u));
}

TEST(AppText, GlobalOptionsStandAnywhere)
{
    const char *argv[] = {"azozude", "-v", "reslice", "a.nii", "--module", "/x/m.so", "-o", "out", "-q"};
    AzApp_Options options;
    std::string error;
    ASSERT_EQ(1, AzApp_Options_Parse(9, const_cast<char **>(argv), &options, &error));
    EXPECT_EQ("reslice", options.command);
    EXPECT_EQ("/x/m.so", options.module_path);
    EXPECT_EQ(2, options.console_level); // the last of -v and -q wins
    EXPECT_EQ((std::vector<std::string>{"a.nii", "-o", "out"}), options.words);
    EXPECT_EQ(0, options.time_point); // the first time point unless asked
    const char *missing[] = {"azozude", "info", "--module"};
    EXPECT_EQ(0, AzApp_Options_Parse(3, const_cast<char **>(missing), &options, &error));
    EXPECT_EQ("--module needs a path", error);

    const char *timed[] = {"azozude", "info", "a.nii", "--time", "7"};
    ASSERT_EQ(1, AzApp_Options_Parse(5, const_cast<char **>(timed), &options, &error));
    EXPECT_EQ(7, options.time_point);
    EXPECT_EQ((std::vector<std::string>{"a.nii"}), options.words);
    const char *joined[] = {"azozude", "--time=65535", "run", "s.txt"};
    ASSERT_EQ(1, AzApp_Options_Parse(4, const_cast<char **>(joined), &options, &error));
    EXPECT_EQ(65535, options.time_point);
    const char *beyond[] = {"azozude", "--time=65536", "run"};
    EXPECT_EQ(0, AzApp_Options_Parse(3, const_cast<char **>(beyond), &options, &error));
    EXPECT_EQ("--time needs a time point (a whole number from 0), not \"65536\"", error);
    const char *empty[] = {"azozude", "--time=", "run"};
    EXPECT_EQ(0, AzApp_Options_Parse(3, const_cast<char **>(empty), &options, &error));
    EXPECT_EQ("--time needs a time point (a whole number from 0), not \"\"", error);
}
