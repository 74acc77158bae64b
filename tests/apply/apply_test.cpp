/* Frame creation: Ctrl_Apply and its worker against the host database,
 * with a real study loaded through the module. */
#include <atomic>

#include "apply_fixture.h"

namespace {

const AzPhantom_Plan Knee = Plan_Of("Knee", 12, 10, 7);

/* Every pixel of every Oblique frame against the phantom, for matrices
 * that keep voxels on voxels: frame k of the Oblique direction is source
 * column k, its column x source frame `last - x` (x when last is 0). */
void Expect_Pixels(Kelvra_Oblique *obl, const AzPhantom_Plan &plan, int last)
{
    std::vector<AzFrame *> frames = Frames_Of(obl);
    ASSERT_EQ((int)frames.size(), obl->dim.z);
    int wrong = 0;
    for (int k = 0; k < obl->dim.z; k++) {
        int w = 0, h = 0;
        ASSERT_EQ(frames[k]->key, obl->dir_image);
        EXPECT_EQ(frames[k]->z, k);
        AzFrame_Get_Dim(frames[k], &w, &h);
        EXPECT_EQ(w * 1000 + h, obl->dim.x * 1000 + obl->dim.y);
        for (int y = 0; y < obl->dim.y; y++)
            for (int x = 0; x < obl->dim.x; x++) {
                int f = last ? last - x : x;
                int want = f < 0 || f >= plan.slices ? AZ_GLI_INVALID : AzPhantom_GLI(plan, k, y, f, 0);
                if (AzFrame_Get_GLI(frames[k], (float)x, (float)y) != want && wrong++ < 5)
                    ADD_FAILURE() << "frame " << k << " pixel " << x << "," << y;
            }
    }
}

Matrix_4x4 Plain_Swap() { return Swap_Matrix(0, 0); }

class Apply : public Study_Test {};

TEST_F(Apply, CreatesObliqueFramesOnTheWorkerAndShowsThem)
{
    Enter(Knee);
    Kelvra_Window *shown = AzView_Create("View 1", 0, 1);
    Kelvra_Window *empty = AzView_Create("View 2", 7, 1);
    AzView_Create("Overview", 9, 0);
    AzView_Show(shown, org);
    EXPECT_EQ(Oblique_Setup(org, obl), 0);
    obl->matrix = Swap_Matrix(6);
    std::vector<AzFrame *> org_frames = Frames_Of(org);

    console.Clear();
    AzHost_Trace_Start();
    EXPECT_EQ(Ctrl_Apply(1, org, 1, obl), 1);
    ASSERT_EQ(Wait(), 1);
    std::vector<std::string> trace = AzHost_Trace_Take();

    ASSERT_EQ(obl->Child_Get_Nb(), 12);
    Expect_Pixels(obl, study->plan, 6);
    EXPECT_EQ(obl->enabled + org->enabled, 2);
    ASSERT_TRUE(obl->matrix_pt && obl->matrix_inv_pt);
    EXPECT_TRUE(*obl->matrix_pt == obl->matrix);
    EXPECT_TRUE(*obl->matrix_inv_pt == !obl->matrix);
    EXPECT_EQ(obl->Lock_Get(), 0);
    EXPECT_TRUE(Vect_Is(obl->dir_image->axis_row, 0, 0, -1)) << "the header follows the transform";
    /* The Original direction was up to date: its frames were left alone. */
    EXPECT_EQ(Frames_Of(org), org_frames);
    EXPECT_EQ(org->matrix_pt, nullptr);
    /* An empty view shows the new class, a busy one keeps its own. */
    EXPECT_EQ(AzView_Current(empty), obl);
    EXPECT_EQ(AzView_Current(shown), org);
    EXPECT_TRUE(Trace_Is("apply_first_transcript", Transcript()));   // one progress step a frame

    /* Showing a class flags it for that window: the host's own doing. */
    std::vector<std::string> module_calls;
    for (const std::string &line : Lines_Starting(trace, {"Fct_", "Database_", "Access_", "Lock_Set", "Iterator_",
                                                          "Flag_Set_On", "Child_Delete", "Sort"}))
        if (line.find(" 0x10 0x100") == std::string::npos)
            module_calls.push_back(line);
    EXPECT_TRUE(Trace_Is("apply_first", module_calls, Names()));
}

TEST_F(Apply, SecondApplyWithUnchangedSettingsCreatesNothing)
{
    Enter(Knee);
    Build_Oblique(Swap_Matrix(6), 7, 10, 12);
    std::vector<AzFrame *> frames = Frames_Of(obl);
    console.Clear();
    AzHost_Trace_Start();
    EXPECT_EQ(Ctrl_Apply(1, org, 1, obl), 1);
    /* No worker: everything is given back before the return. */
    EXPECT_EQ(AzTools_Wait_Cursor(), 0);
    EXPECT_EQ(*AzDb_Lock_Focus(), 0);
    EXPECT_TRUE(Trace_Is("closing", Lines_Starting(AzHost_Trace_Take(), {"Fct_", "Lock_Set", "Child_Delete",
                                                                          "Iterator_"})));
    ASSERT_EQ(Wait(), 1);
    EXPECT_EQ(Frames_Of(obl), frames);
    EXPECT_TRUE(Trace_Is("apply_again_transcript", Transcript()));
}

TEST_F(Apply, NewAnglesRebuildOnlyTheObliqueDirection)
{
    Enter(Knee);
    Build_Oblique(Swap_Matrix(6), 7, 10, 12);
    std::vector<AzFrame *> org_frames = Frames_Of(org);
    obl->matrix = Plain_Swap();
    console.Clear();
    AzHost_Trace_Start();
    EXPECT_EQ(Ctrl_Apply(1, org, 1, obl), 1);
    ASSERT_EQ(Wait(), 1);
    EXPECT_EQ(Lines_Starting(AzHost_Trace_Take(), {"Child_Delete", "Sort"}),
              std::vector<std::string>{"Child_Delete " + std::string(obl->Name_Get())});
    EXPECT_EQ(console.Count("12 created frames"), 1u) << Console_Dump(console.Lines());
    Expect_Pixels(obl, study->plan, 0);
    EXPECT_TRUE(*obl->matrix_pt == obl->matrix);
    EXPECT_EQ(Frames_Of(org), org_frames);
}

TEST_F(Apply, OriginalDirectionIsRebuiltWhenItsFramesAreMissing)
{
    Enter(Knee);
    Oblique_Setup(org, obl);
    org->Child_Delete();
    /* A transform left from elsewhere goes: the study's frames are shown as they are. */
    org->matrix_pt = new Matrix_4x4();
    org->matrix_inv_pt = new Matrix_4x4();
    console.Clear();
    AzHost_Trace_Start();
    EXPECT_EQ(Ctrl_Apply(1, org, 0, obl), 1);
    ASSERT_EQ(Wait(), 1);
    EXPECT_TRUE(Trace_Is("apply_original", Lines_Starting(AzHost_Trace_Take(), {"Lock_Set", "Sort", "Child_Delete"}),
                         Names()));
    EXPECT_EQ(org->matrix_pt, nullptr);
    EXPECT_EQ(org->matrix_inv_pt, nullptr);
    EXPECT_EQ(obl->enabled, 0);
    std::vector<AzFrame *> frames = Frames_Of(org);
    ASSERT_EQ(frames.size(), 7u);
    for (int k = 0; k < 7; k++) {   // the recorded frames again, in location order
        EXPECT_EQ(frames[k]->key, Oblique_Frame_Key(org, k));
        EXPECT_EQ(frames[k]->z, org->real_files_z[k]);
        EXPECT_EQ(AzFrame_Get_GLI(frames[k], 3, 4), AzPhantom_GLI(study->plan, 3, 4, k, 0));
    }
    EXPECT_TRUE(Trace_Is("apply_original_transcript", Transcript()));
}

TEST_F(Apply, BothDirectionsOffRemoveTheirFrames)
{
    Enter(Knee);
    Kelvra_Window *view = AzView_Create("View 1", 0, 1);
    Kelvra_Window *other = AzView_Create("View 2", 7, 1);
    Build_Oblique(Swap_Matrix(6), 7, 10, 12);
    ASSERT_EQ(AzView_Current(view), obl);
    AzView_Show(other, org);
    Kelvra_Class **frame_cur = AzDb_Frame_Cur();
    ASSERT_EQ(frame_cur[0], obl);

    console.Clear();
    AzHost_Trace_Start();
    EXPECT_EQ(Ctrl_Apply(0, org, 0, obl), 1);
    EXPECT_TRUE(Trace_Is("apply_off", Lines_Starting(AzHost_Trace_Take(), {"Fct_", "Iterator_", "Child_Delete"}),
                         Names()));
    ASSERT_EQ(Wait(), 1);
    EXPECT_EQ(org->Child_Get_Nb() + obl->Child_Get_Nb(), 0);
    EXPECT_EQ(org->enabled + obl->enabled, 0);
    EXPECT_EQ(frame_cur[0], nullptr) << "views that showed a direction show nothing now";
    EXPECT_TRUE(Trace_Is("apply_off_transcript", Transcript()));
    /* Without frames below it the Original direction still records the same volume. */
    EXPECT_EQ(Fct_Group_Test(org), 0u);
    org->group_valid = -1;
    Oblique_Setup(org, obl);
    EXPECT_EQ(org->group_valid, 1);

    /* Off again with nothing left: no deletion, no per-class update. */
    AzHost_Trace_Start();
    EXPECT_EQ(Ctrl_Apply(0, org, 0, obl), 1);
    EXPECT_TRUE(Trace_Is("closing", Lines_Starting(AzHost_Trace_Take(), {"Fct_", "Child_Delete"})));
}

TEST_F(Apply, LockedClassIsSkippedAndTheOtherBuilt)
{
    Enter(Knee);
    Build_Oblique(Swap_Matrix(6), 7, 10, 12);
    std::vector<AzFrame *> obl_frames = Frames_Of(obl);
    org->Child_Delete();
    obl->matrix = Plain_Swap();
    Access_Init("another task");
    obl->Lock_Set(1);
    Access_End("another task");
    console.Clear();
    EXPECT_EQ(Ctrl_Apply(1, org, 1, obl), 1);
    ASSERT_EQ(Wait(), 1);

    EXPECT_EQ(org->Child_Get_Nb(), 7);
    EXPECT_EQ(Frames_Of(obl), obl_frames);
    EXPECT_EQ(obl->Lock_Get(), 1);
    EXPECT_TRUE(Trace_Is("apply_locked_transcript", Transcript(), Names()));
    Access_Init("another task");
    obl->Lock_Set(-1);
    Access_End("another task");
}

/* Level-3 insert that asks the progress window to stop after a number of
 * frames, as a user pressing stop during the build. */
std::atomic<int> cancel_after(-1);
std::atomic<DWORD> insert_thread(0);

int Cancelling_Insert(Kelvra_File *file, int bunch, int slice, Kelvra_Class *parent, unsigned short level)
{
    insert_thread = GetCurrentThreadId();
    int result = AzDb_Frame_Insert(file, bunch, slice, parent, level);
    if (cancel_after.load() > 0 && --cancel_after == 0)
        AzProgress_Cancel(Oblique_Apply_Job.progress);
    return result;
}

TEST_F(Apply, CancelStopsBeforeTheNextFrame)
{
    const Kelvra_Insert_Fct chain[4] = {nullptr, AzDb_Study_Insert, Class_Insert, Cancelling_Insert};
    const unsigned short ids[4] = {0, 1, 0, 3};
    AzDb_Tree_Set(4, chain, ids);
    Enter(Knee);
    Build_Oblique(Swap_Matrix(6), 7, 10, 12);
    org->Child_Delete();
    obl->matrix = Plain_Swap();
    cancel_after = 3;
    insert_thread = 0;
    console.Clear();
    EXPECT_EQ(Ctrl_Apply(1, org, 1, obl), 1);
    ASSERT_EQ(Wait(), 1);
    cancel_after = -1;
    EXPECT_NE(insert_thread.load(), 0u);
    EXPECT_NE(insert_thread.load(), GetCurrentThreadId()) << "frames are made by the worker";
    /* Frames made before the stop stay; the Oblique direction still lost
     * its old frames and got none. */
    EXPECT_EQ(org->Child_Get_Nb(), 3);
    EXPECT_EQ(obl->Child_Get_Nb(), 0);
    EXPECT_EQ(org->Lock_Get() + obl->Lock_Get(), 0);
    EXPECT_TRUE(Trace_Is("apply_cancel_transcript", Transcript()));
}

TEST_F(Apply, ThreadStartFailureGivesEverythingBack)
{
    Enter(Knee);
    Oblique_Setup(org, obl);
    obl->matrix = Swap_Matrix(6);
    AzWin_Fail_Thread(1);
    console.Clear();
    EXPECT_EQ(Ctrl_Apply(1, org, 1, obl), 0);
    AzWin_Fail_Thread(0);
    EXPECT_EQ(obl->enabled, 1);
    EXPECT_EQ(obl->Child_Get_Nb() * 100 + org->Child_Get_Nb(), 7);
    AzWin_Pump();
    EXPECT_TRUE(Trace_Is("apply_thread_failed_transcript", Transcript()));
}

TEST_F(Apply, ScriptModeBuildsWithoutProgressWindow)
{
    AzHost_Script_Flag_Set(0x20);
    Enter(Knee);
    console.Clear();
    Build_Oblique(Swap_Matrix(6), 7, 10, 12);
    Expect_Pixels(obl, study->plan, 6);
    EXPECT_EQ(AzProgress_Count(), 0);
    EXPECT_EQ(console.Count("creating window"), 0u);
    EXPECT_EQ(Oblique_Apply_Job.progress, nullptr);
}

TEST_F(Apply, ShownClassIsShownAgainInEveryWindow)
{
    Enter(Knee);
    AzView_Create("View 1", 0, 1);
    AzView_Create("Overview", 9, 0);
    Oblique_Setup(org, obl);
    obl->matrix = Swap_Matrix(6);
    obl->Flag_Set_On(16, nullptr, 0x100);
    AzHost_Trace_Start();
    EXPECT_EQ(Ctrl_Apply(1, org, 1, obl), 1);
    ASSERT_EQ(Wait(), 1);
    EXPECT_TRUE(Trace_Is("apply_shown",
                         Lines_Starting(AzHost_Trace_Take(), {"Lock_Set", "Database_Current", "Iterator_"}), Names()));
}

} // namespace
