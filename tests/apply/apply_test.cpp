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

enum Situation { FIRST, AGAIN, NEW_ANGLES, ORIGINAL_MISSING, BOTH_OFF, LOCKED, CANCEL, THREAD_FAILS, SCRIPT, SHOWN };

/* One apply: the situation, its golden files (tests/data/traces/apply_{name}_transcript.trace:
 * the module's console lines, the progress window and the directions after;
 * `calls`: the host calls that start with one of the prefixes), the lamps
 * and the answer. */
struct Apply_Row {
    Situation situation;
    const char *name, *calls;
    std::vector<std::string> prefixes;
    int org_on, obl_on, result;
};

void PrintTo(const Apply_Row &row, std::ostream *out) { *out << row.name; }

class Apply : public Study_Test, public ::testing::WithParamInterface<Apply_Row> {
  protected:
    void Prepare(Situation s)
    {
        const Kelvra_Insert_Fct chain[4] = {nullptr, AzDb_Study_Insert, Class_Insert, Cancelling_Insert};
        const unsigned short ids[4] = {0, 1, 0, 3};
        if (s == CANCEL)
            AzDb_Tree_Set(4, chain, ids);
        if (s == SCRIPT)
            AzHost_Script_Flag_Set(0x20);
        Enter(Knee);
        if (s == FIRST || s == BOTH_OFF || s == SHOWN)
            views[0] = AzView_Create("View 1", 0, 1);
        if (s == FIRST || s == BOTH_OFF)
            views[1] = AzView_Create("View 2", 7, 1);
        if (s == FIRST || s == SHOWN)
            AzView_Create("Overview", 9, 0);
        if (s == FIRST)
            AzView_Show(views[0], org);
        if (s == AGAIN || s == NEW_ANGLES || s == BOTH_OFF || s == LOCKED || s == CANCEL) {
            ASSERT_NO_FATAL_FAILURE(Build_Oblique(Swap_Matrix(6), 7, 10, 12));
        } else {
            EXPECT_EQ(Oblique_Setup(org, obl), 0);
            obl->matrix = Swap_Matrix(6);
        }
        if (s == ORIGINAL_MISSING || s == LOCKED || s == CANCEL)
            org->Child_Delete();
        if (s == ORIGINAL_MISSING) {   // a transform left from elsewhere goes: the study's frames are shown as they are
            org->matrix_pt = new Matrix_4x4();
            org->matrix_inv_pt = new Matrix_4x4();
        }
        if (s == NEW_ANGLES || s == LOCKED || s == CANCEL)
            obl->matrix = Swap_Matrix(0, 0);
        if (s == BOTH_OFF) {
            ASSERT_EQ(AzView_Current(views[0]), obl);
            AzView_Show(views[1], org);
            ASSERT_EQ(AzDb_Frame_Cur()[0], obl);
        }
        if (s == LOCKED)
            Lock_By_Another(1);
        cancel_after = s == CANCEL ? 3 : -1;
        insert_thread = 0;
        if (s == SHOWN)
            obl->Flag_Set_On(16, nullptr, 0x100);
        AzWin_Fail_Thread(s == THREAD_FAILS);
        before[0] = Frames_Of(org);
        before[1] = Frames_Of(obl);
    }
    void Lock_By_Another(int delta)
    {
        Access_Init("another task");
        obl->Lock_Set(delta);
        Access_End("another task");
    }
    /* Each direction's frames (kept, new or none), enabled, lock count and
     * transform (none, the class's matrix with its inverse, or another). */
    std::string Directions()
    {
        std::string out;
        for (int d = 0; d < 2; d++) {
            Kelvra_Oblique *cls = d ? obl : org;
            std::vector<AzFrame *> now = Frames_Of(cls);
            const char *transform = !cls->matrix_pt                                          ? "none"
                                    : *cls->matrix_pt == cls->matrix && cls->matrix_inv_pt &&
                                              *cls->matrix_inv_pt == !cls->matrix ? "matrix"
                                                                                  : "other";
            out += std::string(d ? "; obl " : "directions: org ") + std::to_string(now.size()) + " frames" +
                   (now.empty() ? "" : now == before[d] ? " kept" : " new") + ", enabled " +
                   std::to_string(cls->enabled) + ", lock " + std::to_string(cls->Lock_Get()) + ", transform " +
                   transform;
        }
        return out;
    }
    /* What a situation must leave beyond its golden files. */
    void Check(Situation s)
    {
        if (s == FIRST || s == SCRIPT || s == NEW_ANGLES)
            Expect_Pixels(obl, study->plan, s == NEW_ANGLES ? 0 : 6);
        if (s == FIRST) {
            EXPECT_TRUE(Vect_Is(obl->dir_image->axis_row, 0, 0, -1)) << "the header follows the transform";
            EXPECT_EQ(AzView_Current(views[1]), obl) << "an empty view shows the new class";
            EXPECT_EQ(AzView_Current(views[0]), org) << "a busy one keeps its own";
        }
        std::vector<AzFrame *> frames = Frames_Of(org);
        for (int k = 0; s == ORIGINAL_MISSING && k < 7; k++) {   // the recorded frames again, in location order
            EXPECT_EQ(frames[k]->key, Oblique_Frame_Key(org, k));
            EXPECT_EQ(frames[k]->z, org->real_files_z[k]);
            EXPECT_EQ(AzFrame_Get_GLI(frames[k], 3, 4), AzPhantom_GLI(study->plan, 3, 4, k, 0));
        }
        if (s == BOTH_OFF) {
            EXPECT_EQ(AzDb_Frame_Cur()[0], nullptr) << "views that showed a direction show nothing now";
            // Without frames below it the Original direction still records the same volume.
            EXPECT_EQ(Fct_Group_Test(org), 0u);
            org->group_valid = -1;
            Oblique_Setup(org, obl);
            EXPECT_EQ(org->group_valid, 1);
            AzHost_Trace_Start();   // off again with nothing left: no deletion, no per-class update
            EXPECT_EQ(Ctrl_Apply(0, org, 0, obl), 1);
            EXPECT_TRUE(Trace_Is("closing", Lines_Starting(AzHost_Trace_Take(), {"Fct_", "Child_Delete"})));
        }
        if (s == LOCKED)
            Lock_By_Another(-1);
        if (s == CANCEL) {
            EXPECT_NE(insert_thread.load(), 0u);
            EXPECT_NE(insert_thread.load(), GetCurrentThreadId()) << "frames are made by the worker";
        }
        if (s == SCRIPT) {
            EXPECT_EQ(Oblique_Apply_Job.progress, nullptr);
        }
    }
    Kelvra_Window *views[2] = {};
    std::vector<AzFrame *> before[2];
};

TEST_P(Apply, Worker)
{
    const Apply_Row &row = GetParam();
    ASSERT_NO_FATAL_FAILURE(Prepare(row.situation));
    console.Clear();
    AzHost_Trace_Start();
    EXPECT_EQ(Ctrl_Apply(row.org_on, org, row.obl_on, obl), row.result);
    AzWin_Fail_Thread(0);
    std::vector<std::string> calls = AzHost_Trace_Take();
    if (row.situation == AGAIN || row.situation == BOTH_OFF) {   // no worker: everything given back before the return
        EXPECT_EQ(AzTools_Wait_Cursor(), 0);
        EXPECT_EQ(*AzDb_Lock_Focus(), 0);
    }
    ASSERT_EQ(Wait(), 1);
    std::vector<std::string> after = AzHost_Trace_Take(), compared;
    calls.insert(calls.end(), after.begin(), after.end());
    for (const std::string &line : Lines_Starting(calls, row.prefixes))
        if (line.find(" 0x10 0x100") == std::string::npos)   // showing a class flags it for that window: the host's doing
            compared.push_back(line);
    if (row.calls) {
        EXPECT_TRUE(Trace_Is(row.calls, compared, Names()));
    }
    std::vector<std::string> transcript = Transcript();
    transcript.push_back(Directions());
    EXPECT_TRUE(Trace_Is(std::string("apply_") + row.name + "_transcript", transcript, Names()));
    Check(row.situation);
    cancel_after = -1;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Apply,
    ::testing::Values(
        Apply_Row{FIRST, "first", "apply_first",
                  {"Fct_", "Database_", "Access_", "Lock_Set", "Iterator_", "Flag_Set_On", "Child_Delete", "Sort"},
                  1, 1, 1},
        Apply_Row{AGAIN, "again", "closing", {"Fct_", "Lock_Set", "Child_Delete", "Iterator_"}, 1, 1, 1},
        Apply_Row{NEW_ANGLES, "angles", "apply_angles", {"Child_Delete", "Sort"}, 1, 1, 1},
        Apply_Row{ORIGINAL_MISSING, "original", "apply_original", {"Lock_Set", "Sort", "Child_Delete"}, 1, 0, 1},
        Apply_Row{BOTH_OFF, "off", "apply_off", {"Fct_", "Iterator_", "Child_Delete"}, 0, 0, 1},
        Apply_Row{LOCKED, "locked", nullptr, {}, 1, 1, 1},
        Apply_Row{CANCEL, "cancel", nullptr, {}, 1, 1, 1},
        Apply_Row{THREAD_FAILS, "thread_failed", nullptr, {}, 1, 1, 0},
        Apply_Row{SCRIPT, "script", nullptr, {}, 1, 1, 1},
        Apply_Row{SHOWN, "shown", "apply_shown", {"Lock_Set", "Database_Current", "Iterator_"}, 1, 1, 1}));

} // namespace
