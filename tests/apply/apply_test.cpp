/* Frame creation: Ctrl_Apply and its worker against the host database,
 * with a real study loaded through the module. */
#include <atomic>

#include "apply_study.h"
#include "hostlib/tools/az_tools.h"
#include "hostlib/win32/az_win.h"
#include "module/entry.h"
#include "tests/support/fault.h"

namespace {

const char *const Thread_Tag = "Class Oblique: Oblique_Thread";

AzStudy_Plan Small_Plan()
{
    return Plan_Of("Knee", 12, 10, 7);
}

/* Module console lines: the progress window's own echo left out. */
std::vector<Console_Line> Module_Lines(Console_Capture &console)
{
    std::vector<Console_Line> kept;
    for (const Console_Line &line : console.Lines())
        if (line.text.compare(0, 10, "Progress: ") != 0)
            kept.push_back(line);
    return kept;
}

std::string Name(Kelvra_Class *cls) { return cls->Name_Get(); }

/* Every pixel of every Oblique frame against the phantom through q = p * m
 * where the test's matrices keep voxels on voxels. */
void Expect_Pixels(Kelvra_Oblique *obl, const AzStudy_Plan &plan, int (*source)(int x, int y, int k, int *frame))
{
    std::vector<AzFrame *> frames = Frames_Of(obl);
    ASSERT_EQ((int)frames.size(), obl->dim.z);
    int wrong = 0;
    for (int k = 0; k < obl->dim.z; k++) {
        ASSERT_NE(frames[k], nullptr);
        EXPECT_EQ(frames[k]->key, obl->dir_image);
        EXPECT_EQ(frames[k]->z, k);
        int w = 0, h = 0;
        AzFrame_Get_Dim(frames[k], &w, &h);
        EXPECT_EQ(w, obl->dim.x);
        EXPECT_EQ(h, obl->dim.y);
        for (int y = 0; y < obl->dim.y; y++)
            for (int x = 0; x < obl->dim.x; x++) {
                int frame = 0;
                int column = source(x, y, k, &frame);
                int expected = frame < 0 || frame >= plan.slices ? AZ_GLI_INVALID
                                                                 : AzPhantom_GLI(plan, column, y, frame, 0);
                if (AzFrame_Get_GLI(frames[k], (float)x, (float)y) != expected && wrong++ < 5)
                    ADD_FAILURE() << "frame " << k << " pixel " << x << "," << y;
            }
    }
    EXPECT_EQ(wrong, 0);
}

/* Swap_Matrix(6): column k of the source, frame 6 - x. */
int Source_Swap_6(int x, int, int k, int *frame)
{
    *frame = 6 - x;
    return k;
}

/* Plain swap: column k, frame x. */
int Source_Swap(int x, int, int k, int *frame)
{
    *frame = x;
    return k;
}

Matrix_4x4 Plain_Swap()
{
    Matrix_4x4 m = Swap_Matrix(0);
    m[0][2] = 1.0f;
    return m;
}

class Apply : public Study_Test {};

TEST_F(Apply, CreatesObliqueFramesOnTheWorkerAndShowsThem)
{
    Load(Small_Plan());
    Kelvra_Window *shown = AzView_Create("View 1", 0, 1);
    Kelvra_Window *empty = AzView_Create("View 2", 7, 1);
    Kelvra_Window *overview = AzView_Create("Overview", 9, 0);
    AzView_Show(shown, org);
    EXPECT_EQ(Oblique_Setup(org, obl), 0);
    obl->matrix = Swap_Matrix(6);
    std::vector<AzFrame *> org_frames = Frames_Of(org);

    console.Clear();
    AzHost_Trace_Start();
    EXPECT_EQ(Ctrl_Apply(1, org, 1, obl), 1);
    ASSERT_EQ(Worker_Wait(), 1);
    std::vector<std::string> trace = AzHost_Trace_Take();

    /* The Oblique direction: one frame per slice of its one header. */
    ASSERT_EQ(obl->Child_Get_Nb(), 12);
    Expect_Pixels(obl, study->plan, Source_Swap_6);
    EXPECT_EQ(obl->enabled, 1);
    EXPECT_EQ(org->enabled, 1);
    ASSERT_NE(obl->matrix_pt, nullptr);
    ASSERT_NE(obl->matrix_inv_pt, nullptr);
    EXPECT_TRUE(*obl->matrix_pt == obl->matrix);
    Matrix_4x4 inverse = !obl->matrix;
    EXPECT_TRUE(*obl->matrix_inv_pt == inverse);
    Vexa_Image *header = obl->dir_image;
    EXPECT_EQ(header->width, 7);
    EXPECT_EQ(header->height, 10);
    EXPECT_EQ(header->slices_nb, 12);
    /* Rows follow the reversed normal, columns stay, slices step along x. */
    EXPECT_TRUE(Vect_Is(header->axis_row, 0, 0, -1));
    EXPECT_TRUE(Vect_Is(header->axis_col, 0, 1, 0));
    EXPECT_TRUE(Vect_Is(header->axis_normal, 1, 0, 0));
    EXPECT_TRUE(Vect_Is(header->pixel_size_2, header->pixel_size.x, header->pixel_size.y, header->pixel_size.z));

    /* The Original direction was up to date: its frames were left alone. */
    EXPECT_EQ(Frames_Of(org), org_frames);
    EXPECT_EQ(org->matrix_pt, nullptr);

    /* The worker gave everything back. */
    EXPECT_EQ(*AzDb_Lock_Focus(), 0);
    EXPECT_EQ(AzTools_Wait_Cursor(), 0);
    EXPECT_EQ(obl->Lock_Get(), 0);

    /* Views: an empty view shows the new class, a busy one is told to refresh. */
    EXPECT_EQ(AzView_Current(empty), obl);
    EXPECT_EQ(AzView_Current(shown), org);

    const std::vector<Console_Line> expected_lines{
        {11, "creating window: 0 0 VOV Ozadoreviz Progress 00000000"},
        {11, "12 created frames"},
        {6, "Creating \x01" "12\x02 new frames"},
        {13, "in Oblique_Thread()"},
    };
    EXPECT_EQ(Module_Lines(console), expected_lines) << Console_Dump(console.Lines());

    AzProgress_View progress;
    ASSERT_EQ(AzProgress_Last(&progress), 1);
    EXPECT_EQ(AzProgress_Count(), 1);
    EXPECT_EQ(progress.title, "VOV Ozadoreviz Progress");
    EXPECT_EQ(progress.subtitle, "Creating new frames");
    const std::vector<std::string> expected_progress{
        "Creating \x01" "12\x02 new frames",
        "Creating 12 frames for \x01" "dir: Oblique",
        "New frames setup...",
    };
    EXPECT_EQ(progress.lines, expected_progress);
    EXPECT_EQ(progress.max, 12);
    EXPECT_EQ(progress.pos, 12);
    EXPECT_EQ(progress.received[1044 - 1044], 12);
    EXPECT_EQ(progress.closed, 1);

    const std::string obl_name = Name(obl);
    const std::string org_name = Name(org);
    const std::vector<std::string> expected_trace{
        "Fct_Redraw 0x40000000",
        "Fct_Update 0x4000000000000000",
        "Database_Geom_Cleanup",
        std::string("Access_Init ") + Thread_Tag,
        "Lock_Set " + obl_name + " 1",
        std::string("Access_End ") + Thread_Tag,
        std::string("Access_Init ") + Thread_Tag,
        "Lock_Set " + obl_name + " -1",
        std::string("Access_End ") + Thread_Tag,
        "Fct_Update 0x8000000000000000",
        std::string("Iterator_Init 5 ") + Thread_Tag,
        "Flag_Set_On " + org_name + " 0x50 0x200 win=View 1",
        "Database_Current View 2 " + obl_name,
        "Flag_Set_On " + obl_name + " 0x30 0x200 win=Overview",
        "Iterator_End 5",
        "Fct_Update 0x200000",
        "Fct_Update 0x10001",
        "Fct_Redraw 0x80000000",
        "Fct_Redraw 0xffffffff3fffffff",
    };
    std::vector<std::string> module_calls =
        Lines_Starting(trace, {"Fct_", "Database_", "Access_", "Lock_Set", "Iterator_", "Flag_Set_On", "Child_Delete",
                           "Sort"});
    /* Showing a class flags it for that window: the host's own doing. */
    std::vector<std::string> without_host;
    for (const std::string &line : module_calls)
        if (line.find(" 0x10 0x100") == std::string::npos)
            without_host.push_back(line);
    EXPECT_EQ(without_host, expected_trace);
    (void)overview;
}

TEST_F(Apply, SecondApplyWithUnchangedSettingsCreatesNothing)
{
    Load(Small_Plan());
    Build_Oblique(Swap_Matrix(6), 7, 10, 12);
    std::vector<AzFrame *> frames = Frames_Of(obl);

    console.Clear();
    AzHost_Trace_Start();
    EXPECT_EQ(Ctrl_Apply(1, org, 1, obl), 1);
    /* No worker: everything is given back before the return. */
    EXPECT_EQ(AzTools_Wait_Cursor(), 0);
    EXPECT_EQ(*AzDb_Lock_Focus(), 0);
    std::vector<std::string> trace = AzHost_Trace_Take();
    ASSERT_EQ(Worker_Wait(), 1);

    EXPECT_EQ(Frames_Of(obl), frames);
    const std::vector<Console_Line> expected_lines{
        {11, "creating window: 0 0 VOV Ozadoreviz Progress 00000000"},
        {11, "0 created frames"},
    };
    EXPECT_EQ(Module_Lines(console), expected_lines) << Console_Dump(console.Lines());
    const std::vector<std::string> expected_trace{
        "Fct_Update 0x200000",
        "Fct_Update 0x10001",
        "Fct_Redraw 0xffffffff3fffffff",
    };
    EXPECT_EQ(Lines_Starting(trace, {"Fct_", "Lock_Set", "Child_Delete", "Iterator_"}), expected_trace);
    AzProgress_View progress;
    ASSERT_EQ(AzProgress_Last(&progress), 1);
    EXPECT_EQ(AzProgress_Count(), 2);
    EXPECT_TRUE(progress.lines.empty());
    EXPECT_EQ(progress.received[1047 - 1044], 1);
    EXPECT_EQ(progress.closed, 1);
}

TEST_F(Apply, NewAnglesRebuildOnlyTheObliqueDirection)
{
    Load(Small_Plan());
    Build_Oblique(Swap_Matrix(6), 7, 10, 12);
    std::vector<AzFrame *> org_frames = Frames_Of(org);

    obl->matrix = Plain_Swap();
    console.Clear();
    AzHost_Trace_Start();
    EXPECT_EQ(Ctrl_Apply(1, org, 1, obl), 1);
    ASSERT_EQ(Worker_Wait(), 1);
    std::vector<std::string> trace = AzHost_Trace_Take();

    EXPECT_EQ(console.Count("12 created frames"), 1u) << Console_Dump(console.Lines());
    Expect_Pixels(obl, study->plan, Source_Swap);
    EXPECT_TRUE(*obl->matrix_pt == obl->matrix);
    EXPECT_TRUE(Vect_Is(obl->dir_image->axis_row, 0, 0, 1));
    EXPECT_EQ(Frames_Of(org), org_frames);
    const std::vector<std::string> deletes{"Child_Delete " + Name(obl)};
    EXPECT_EQ(Lines_Starting(trace, {"Child_Delete", "Sort"}), deletes);
}

TEST_F(Apply, OriginalDirectionIsRebuiltWhenItsFramesAreMissing)
{
    Load(Small_Plan());
    Oblique_Setup(org, obl);
    org->Child_Delete();
    /* A transform left from elsewhere goes: the study's frames are shown as they are. */
    org->matrix_pt = new Matrix_4x4();
    org->matrix_inv_pt = new Matrix_4x4();

    console.Clear();
    AzHost_Trace_Start();
    EXPECT_EQ(Ctrl_Apply(1, org, 0, obl), 1);
    ASSERT_EQ(Worker_Wait(), 1);
    std::vector<std::string> trace = AzHost_Trace_Take();

    EXPECT_EQ(org->matrix_pt, nullptr);
    EXPECT_EQ(org->matrix_inv_pt, nullptr);
    EXPECT_EQ(obl->enabled, 0);
    std::vector<AzFrame *> frames = Frames_Of(org);
    ASSERT_EQ(frames.size(), 7u);
    /* The recorded frames again, in location order. */
    for (int k = 0; k < 7; k++) {
        ASSERT_NE(frames[k], nullptr);
        EXPECT_EQ(frames[k]->key, Oblique_Frame_Key(org, k));
        EXPECT_EQ(frames[k]->z, org->real_files_z[k]);
        EXPECT_EQ(AzFrame_Get_GLI(frames[k], 3, 4), AzPhantom_GLI(study->plan, 3, 4, k, 0));
    }
    AzProgress_View progress;
    ASSERT_EQ(AzProgress_Last(&progress), 1);
    const std::vector<std::string> expected_progress{
        "Creating \x01" "7\x02 new frames",
        "Creating 7 frames for \x01" "dir: X-Y",
        "New frames setup...",
    };
    EXPECT_EQ(progress.lines, expected_progress);
    const std::vector<std::string> expected_trace{
        "Lock_Set " + Name(org) + " 1",
        "Sort " + Name(org) + " 1",
        "Lock_Set " + Name(org) + " -1",
    };
    EXPECT_EQ(Lines_Starting(trace, {"Lock_Set", "Sort", "Child_Delete"}), expected_trace);
}

TEST_F(Apply, BothDirectionsOffRemoveTheirFrames)
{
    Load(Small_Plan());
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
    EXPECT_EQ(AzTools_Wait_Cursor(), 0);
    EXPECT_EQ(*AzDb_Lock_Focus(), 0);
    std::vector<std::string> trace = AzHost_Trace_Take();
    ASSERT_EQ(Worker_Wait(), 1);

    EXPECT_EQ(org->Child_Get_Nb(), 0);
    EXPECT_EQ(obl->Child_Get_Nb(), 0);
    EXPECT_EQ(org->enabled, 0);
    EXPECT_EQ(obl->enabled, 0);
    /* Views that showed a direction show nothing now. */
    EXPECT_EQ(frame_cur[0], nullptr);
    const std::string apply_tag = "Class Oblique: Ctrl_Apply";
    const std::vector<std::string> expected_trace{
        "Iterator_Init 4 " + apply_tag,
        "Iterator_End 4",
        "Child_Delete " + Name(org),
        "Fct_Update 0x200000",
        "Iterator_Init 4 " + apply_tag,
        "Iterator_End 4",
        "Child_Delete " + Name(obl),
        "Fct_Update 0x200000",
        "Fct_Update 0x200000",
        "Fct_Update 0x10001",
        "Fct_Redraw 0xffffffff3fffffff",
    };
    EXPECT_EQ(Lines_Starting(trace, {"Fct_", "Iterator_", "Child_Delete"}), expected_trace);
    EXPECT_EQ(console.Count("in Oblique_Thread()"), 0u);
    EXPECT_EQ(console.Count("0 created frames"), 1u);
    AzProgress_View progress;
    ASSERT_EQ(AzProgress_Last(&progress), 1);
    EXPECT_EQ(progress.closed, 1);
    /* Without frames below it the Original direction still records the same volume. */
    EXPECT_EQ(Fct_Group_Test(org), 0u);
    org->group_valid = -1;
    console.Clear();
    Oblique_Setup(org, obl);
    EXPECT_EQ(org->group_valid, 1);
    EXPECT_EQ(console.Count("Invalid Volume!"), 0u) << Console_Dump(console.Lines());

    /* Off again with nothing left: no deletion, no per-class update. */
    AzHost_Trace_Start();
    EXPECT_EQ(Ctrl_Apply(0, org, 0, obl), 1);
    trace = AzHost_Trace_Take();
    const std::vector<std::string> nothing_left{
        "Fct_Update 0x200000",
        "Fct_Update 0x10001",
        "Fct_Redraw 0xffffffff3fffffff",
    };
    EXPECT_EQ(Lines_Starting(trace, {"Fct_", "Child_Delete"}), nothing_left);
}

TEST_F(Apply, LockedClassIsSkippedAndTheOtherBuilt)
{
    Load(Small_Plan());
    Build_Oblique(Swap_Matrix(6), 7, 10, 12);
    std::vector<AzFrame *> obl_frames = Frames_Of(obl);
    org->Child_Delete();
    obl->matrix = Plain_Swap();
    Access_Init("another task");
    obl->Lock_Set(1);
    Access_End("another task");

    console.Clear();
    EXPECT_EQ(Ctrl_Apply(1, org, 1, obl), 1);
    ASSERT_EQ(Worker_Wait(), 1);

    EXPECT_EQ(org->Child_Get_Nb(), 7);
    EXPECT_EQ(Frames_Of(obl), obl_frames);
    EXPECT_EQ(obl->Lock_Get(), 1);
    EXPECT_EQ(org->Lock_Get(), 0);
    const std::string name = Name(obl);
    std::vector<Console_Line> lines = Module_Lines(console);
    const std::vector<Console_Line> tail{
        {13, "in Oblique_Thread()"},
        {6, "\xF1\x05WARNING:\x02 class locked!"},
        {6, "\xF1\t skipping: \x01" + name},
    };
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(std::vector<Console_Line>(lines.end() - 3, lines.end()), tail) << Console_Dump(lines);
    AzProgress_View progress;
    ASSERT_EQ(AzProgress_Last(&progress), 1);
    const std::vector<std::string> expected_progress{
        "Creating \x01" "19\x02 new frames",
        "Creating 7 frames for \x01" "dir: X-Y",
        "\xF1\x05WARNING:\xF0\x02 class locked!",
        "\x02   skipping: \x01" + name,
        "New frames setup...",
    };
    EXPECT_EQ(progress.lines, expected_progress);
    EXPECT_EQ(progress.max, 19);
    EXPECT_EQ(progress.pos, 7);
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
    Load(Small_Plan());
    Build_Oblique(Swap_Matrix(6), 7, 10, 12);
    org->Child_Delete();
    obl->matrix = Plain_Swap();

    cancel_after = 3;
    insert_thread = 0;
    console.Clear();
    EXPECT_EQ(Ctrl_Apply(1, org, 1, obl), 1);
    ASSERT_EQ(Worker_Wait(), 1);
    cancel_after = -1;
    /* The frames were made by the worker, not by the caller. */
    EXPECT_NE(insert_thread.load(), 0u);
    EXPECT_NE(insert_thread.load(), GetCurrentThreadId());

    /* Frames made before the stop stay; the Oblique direction still lost
     * its old frames and got none. */
    EXPECT_EQ(org->Child_Get_Nb(), 3);
    EXPECT_EQ(obl->Child_Get_Nb(), 0);
    EXPECT_EQ(org->Lock_Get(), 0);
    EXPECT_EQ(obl->Lock_Get(), 0);
    EXPECT_EQ(*AzDb_Lock_Focus(), 0);
    AzProgress_View progress;
    ASSERT_EQ(AzProgress_Last(&progress), 1);
    EXPECT_EQ(progress.pos, 3);
    EXPECT_EQ(progress.cancel, 1);
    EXPECT_EQ(progress.closed, 1);
    const std::vector<std::string> expected_progress{
        "Creating \x01" "19\x02 new frames",
        "Creating 7 frames for \x01" "dir: X-Y",
        "Creating 12 frames for \x01" "dir: Oblique",
        "New frames setup...",
    };
    EXPECT_EQ(progress.lines, expected_progress);
}

TEST_F(Apply, StartFailuresGiveEverythingBack)
{
    Load(Small_Plan());
    Oblique_Setup(org, obl);
    obl->matrix = Swap_Matrix(6);

    AzWin_Fail_Thread(1);
    console.Clear();
    EXPECT_EQ(Ctrl_Apply(1, org, 1, obl), 0);
    AzWin_Fail_Thread(0);
    EXPECT_EQ(AzTools_Wait_Cursor(), 0);
    EXPECT_EQ(*AzDb_Lock_Focus(), 0);
    EXPECT_EQ(obl->enabled, 1);
    EXPECT_EQ(obl->Child_Get_Nb(), 0);
    EXPECT_EQ(org->Child_Get_Nb(), 7);

    const std::vector<Console_Line> expected_lines{
        {11, "creating window: 0 0 VOV Ozadoreviz Progress 00000000"},
        {11, "12 created frames"},
        {6, "Creating \x01" "12\x02 new frames"},
        {2, "\xF1\x05WARNING:\x02 Unable to start RUD Azozude thread!"},
        {2, "\xF1\x02\t Errno = 11, DOS Errno=8"},
    };
    EXPECT_EQ(Module_Lines(console), expected_lines) << Console_Dump(console.Lines());
    AzWin_Pump();
    AzProgress_View progress;
    ASSERT_EQ(AzProgress_Last(&progress), 1);
    EXPECT_EQ(progress.closed, 1);
    const std::vector<std::string> written{"Creating \x01" "12\x02 new frames"};
    EXPECT_EQ(progress.lines, written);

    /* The worker cannot allocate the transform: reported, the class keeps what it had. */
    AzHost_Script_Flag_Set(0x20);
    Fault_Scope disarm;
    Fault_Arm("new", 1);
    console.Clear();
    EXPECT_EQ(Ctrl_Apply(1, org, 1, obl), 1);
    ASSERT_EQ(Worker_Wait(), 1);
    Fault_Disarm();
    const std::vector<Console_Line> memory{
        {1, "line 1290 of .\\oblique_ctrl \nmemory error in new (var=oblique->matrix_pt, dim=1x64)"}};
    EXPECT_EQ(console.Lines(1), memory) << Console_Dump(console.Lines());
    EXPECT_EQ(obl->matrix_pt, nullptr);
    EXPECT_EQ(obl->Child_Get_Nb(), 0);
    EXPECT_EQ(obl->Lock_Get(), 0);
    EXPECT_EQ(*AzDb_Lock_Focus(), 0);
}

TEST_F(Apply, ScriptModeBuildsWithoutProgressWindow)
{
    AzHost_Script_Flag_Set(0x20);
    Load(Small_Plan());
    console.Clear();
    Build_Oblique(Swap_Matrix(6), 7, 10, 12);
    Expect_Pixels(obl, study->plan, Source_Swap_6);
    EXPECT_EQ(AzProgress_Count(), 0);
    EXPECT_EQ(console.Count("creating window"), 0u);
    EXPECT_EQ(Oblique_Apply_Job.progress, nullptr);
}

TEST_F(Apply, ShownClassIsShownAgainInEveryWindow)
{
    Load(Small_Plan());
    AzView_Create("View 1", 0, 1);
    AzView_Create("Overview", 9, 0);
    Oblique_Setup(org, obl);
    obl->matrix = Swap_Matrix(6);
    obl->Flag_Set_On(16, nullptr, 0x100);

    AzHost_Trace_Start();
    EXPECT_EQ(Ctrl_Apply(1, org, 1, obl), 1);
    ASSERT_EQ(Worker_Wait(), 1);
    std::vector<std::string> trace = Lines_Starting(AzHost_Trace_Take(), {"Lock_Set", "Database_Current", "Iterator_"});
    const std::string name = Name(obl);
    const std::vector<std::string> expected{
        "Lock_Set " + name + " 1",
        std::string("Iterator_Init 5 ") + Thread_Tag,
        "Database_Current View 1 " + name,
        "Database_Current Overview " + name,
        "Iterator_End 5",
        "Lock_Set " + name + " -1",
        std::string("Iterator_Init 5 ") + Thread_Tag,
        "Iterator_End 5",
    };
    EXPECT_EQ(trace, expected);
}

} // namespace
