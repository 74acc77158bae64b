/*
 * Sessions of panel events, and the batch commands built on them: parsing,
 * failures with their line, and a re-slice checked voxel by voxel against
 * the study it came from.
 */
#include <math.h>
#include <stdio.h>

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "hostapp/lib/az_app.h"
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
    EXPECT_TRUE(Contains(err, "azozude: " + session + ":3: no widget \"Nope\" on the panel")) << err;
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
    ASSERT_EQ(0, Program_Run("reslice '" + folder.File("study.nii") + "' --alpha 20 --beta -15 -o '" + out_dir +
                                 "' --labels '" + folder.File("labels.nii") + "'",
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
