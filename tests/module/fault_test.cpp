/* Every place where the module meets a failed allocation or a refused
 * window, as one table: what fails, the report (level and exact text),
 * what the operation answers and leaves behind, and that the same call
 * goes through once the failure is gone. */

#include "hostlib/structures/az_progress.h"
#include "hostlib/tools/az_tools.h"
#include "hostlib/win32/az_win.h"
#include "tests/oblique/oblique_fixture.h"
#include "tests/support/golden.h"
#include "tests/support/panel_state.h"

namespace {

enum Scene { GROW, CREATE, PAINT_FIRST, PAINT_MORE, SETUP, WORKER, PANEL_LIST, PREVIEW_GLI, PREVIEW_TAG, WINDOW };

struct Fault_Site {
    Scene scene;
    const char *what; /* heap call, or "window" / "record" for the progress window */
    int nth;
    std::vector<Console_Line> report; /* lines of level 1 and 2; "*" any text */
};

void PrintTo(const Fault_Site &site, std::ostream *out) { *out << site.scene << " " << site.what << " " << site.nth; }

Console_Line Memory(const char *where, const char *what, const char *var, const char *dim)
{
    return {1, std::string(where) + " \nmemory error in " + what + " (var=" + var + ", dim=" + dim + ")"};
}

class Fault : public ObliqueTest, public ::testing::WithParamInterface<Fault_Site> {
  protected:
    void SetUp() override
    {
        ObliqueTest::SetUp();
        AzHost_Script_Flag_Set(0x20);   // no progress window but the one a row asks for
    }
    void TearDown() override
    {
        EXPECT_EQ(Wait(), 1);
        Oblique_Buffers_Release();
        if (panel)
            Panel_Destroy(panel);
        if (window)
            DestroyWindow(window);
        ObliqueTest::TearDown();
    }
    void Enter(const AzPhantom_Plan &plan)
    {
        AzPhantom *entered = Load(plan);
        ASSERT_NE(entered, nullptr);
        org = Direction(entered, 0);
        obl = Direction(entered, 1);
    }
    /* Prepares the scene; then `Act` makes the call that meets the failure. */
    void Prepare(Scene scene)
    {
        switch (scene) {
        case GROW:
        case CREATE:
            study = Study("Grow");
            file = File("grow", {Image(4, 4, 3.0f), Image(4, 4, 1.0f), Image(4, 4, 2.0f)});
            if (scene == GROW) {
                ASSERT_EQ(Class_Insert(file, 0, 0, study, 2), 1);
                ASSERT_EQ(Class_Insert(file, 1, 0, study, 2), 1);
                org = Direction(study, 0);
            }
            break;
        case PAINT_FIRST:
        case PAINT_MORE:
            ASSERT_NO_FATAL_FAILURE(Enter(Plan_Of("Paint", 6, 5, 3)));
            Size_Original(org, 6, 5);
            obl->matrix_pt = new Matrix_4x4();
            if (scene == PAINT_MORE) {
                ASSERT_EQ(obl->Pixel_Set_TAG(obl, nullptr, Vect(1.0f, 1.0f, 2.0f, 0.0f), 3), 1);
            }
            list = obl->update_pt;
            AzHost_Trace_Start();
            break;
        case SETUP:
        case WORKER:
            ASSERT_NO_FATAL_FAILURE(Enter(Plan_Of("Spine", 12, 10, 7)));
            if (scene == WORKER) {
                Oblique_Setup(org, obl);
                obl->matrix = Swap_Matrix(6);
            }
            break;
        case PANEL_LIST:
            Panel_Reset();
            panel = Panel_Make("PanelTestWindow", 200, 600);
            ASSERT_NO_FATAL_FAILURE(Enter(Plan_Of("Head", 16, 16, 8)));
            ASSERT_NO_FATAL_FAILURE(Enter(Plan_Of("Knee", 16, 16, 8)));
            ASSERT_EQ(Ctrl_Open(0), 1);
            AzHost_Trace_Start();
            break;
        case PREVIEW_GLI:
        case PREVIEW_TAG:
            ASSERT_NO_FATAL_FAILURE(Enter(Plan_Of("Preview", 16, 8, 5)));
            header = *(Vexa_Image *)Oblique_Frame_Key(org, 0);
            if (scene == PREVIEW_TAG) {
                ASSERT_EQ(Oblique_GLI_Build(org, &header, 16, 8, 1), 1);
                ASSERT_EQ(Oblique_TAG_Build(org, &header, 16, 8, 1), 1);
            }
            break;
        case WINDOW:
            window = CreateWindowExA(0, "Az_Test_Parent", "parent", WS_OVERLAPPEDWINDOW, 0, 0, 800, 600, nullptr,
                                     nullptr, nullptr, nullptr);
            windows = AzWin_Count();
            break;
        }
    }
    int Act(Scene scene)
    {
        switch (scene) {
        case GROW:
            return Class_Insert(file, 2, 5, study, 2);
        case CREATE:
            return Class_Insert(file, 0, 7, study, 2);
        case PAINT_FIRST:
            return obl->Pixel_Set_TAG(obl, nullptr, Vect(1.0f, 1.0f, 2.0f, 0.0f), 3);
        case PAINT_MORE:
            return obl->Pixel_Set_TAG(obl, nullptr, Vect(2.0f, 2.0f, 0.0f, 0.0f), 3);
        case SETUP:
            return Oblique_Setup(org, obl);
        case WORKER:
            return Ctrl_Apply(1, org, 1, obl) && Wait();
        case PANEL_LIST:
            return Ctrl_Update(0x200000);
        case PREVIEW_GLI:
            return Oblique_GLI_Build(org, &header, 16, 8, 1);
        case PREVIEW_TAG:
            return Oblique_TAG_Build(org, &header, 20, 10, 1);
        case WINDOW:
            if (Progress_Record *record = Progress_Create(window, "T", "S")) {
                Progress_Close(record);
                return 1;
            }
            return 0;
        }
        return -1;
    }

    /* What a scene leaves behind, in a line. */
    std::string State(Scene scene, const std::vector<std::string> &trace)
    {
        std::string out;
        auto add = [&out](const std::string &part) { out += (out.empty() ? "" : " ") + part; };
        switch (scene) {
        case GROW:
            for (int i = 0; i < org->real_files_nb; i++)
                add(Golden_Text("%g:%d:%d", org->real_files_d[i], org->real_files_bunch[i], org->real_files_slice[i]));
            add("children " + std::to_string(org->Child_Get_Nb()));
            break;
        case CREATE:
            add("directions " + std::to_string(study->Child_Get_Nb()));
            add(std::to_string(Lines_Starting(trace, {"Fct_Update", "Child_Add"}).size()));
            break;
        case PAINT_FIRST:
        case PAINT_MORE:
            add("updates " + std::to_string(obl->update_nb) + (obl->update_pt == list ? " kept" : " new"));
            for (const std::string &line : Lines_With(trace, "Mutex_"))
                add(line + ";");
            break;
        case SETUP:
            if (!org->dir_file || !obl->dir_file)
                return "not both";   // a record half made is not kept
            add(Dim_Text(org->dim) + " " + Dim_Text(obl->dim) + Golden_Text(" width %d", obl->dir_image->width));
            break;
        case WORKER:
            add(Golden_Text("transform %d frames %d", obl->matrix_pt != nullptr, obl->Child_Get_Nb()));
            break;
        case PANEL_LIST:
            add(Golden_Text("list %d %d entries %d", Instance_Pt != nullptr, Instance_Nb, select_instance.entries_nb));
            add((trace.empty() ? "" : trace.back()) + Golden_Text(", %d flags", (int)Lines_Starting(trace, {"Flag_Set"}).size()));
            break;
        default:
            break;
        }
        return out;
    }

    Kelvra_Class *study = nullptr;
    Kelvra_File *file = nullptr;
    Kelvra_Oblique *org = nullptr, *obl = nullptr;
    Oblique_Update *list = nullptr;
    HWND panel = nullptr, window = nullptr;
    Vexa_Image header;
    int windows = 0;
};

/* Per scene: after the failure (the list kept, the mutex released on the
 * failure path, the iteration ended and no flags set), and after the retry. */
const char *const mutex = "Mutex_Open Paint (dir:Oblique) Class_Oblique_Pixel_Set_TAG; "
                          "Mutex_Close Paint (dir:Oblique) Class_Oblique_Pixel_Set_TAG;";
const std::string Left[] = {"1:1:0 3:0:0 children 2", "directions 0 0", std::string("updates 0 kept ") + mutex,
                            std::string("updates 1 kept ") + mutex, "not both",
                            "transform 0 frames 0", "list 0 0 entries 2 Iterator_End 2, 0 flags", "", "", ""};
const std::string Again[] = {"1:1:0 2:2:5 3:0:0 children 3", "directions 2 0", "", "", "12 10 7 7 10 12 width 7",
                             "", "", "", "", ""};

TEST_P(Fault, ReportedLeftWholeAndRetried)
{
    const Fault_Site &site = GetParam();
    ASSERT_NO_FATAL_FAILURE(Prepare(site.scene));
    console.Clear();
    int hits = Fault_Hits();
    if (!strcmp(site.what, "window"))
        AzWin_Fail_Create("Progress");
    else if (!strcmp(site.what, "record"))
        AzProgress_Fail_Record(1);
    else
        Fault_Arm(site.what, site.nth);
    int result = Act(site.scene);
    Fault_Disarm();
    AzWin_Fail_Create(nullptr);
    AzProgress_Fail_Record(0);
    std::vector<std::string> trace = AzHost_Trace_Take();

    std::vector<Console_Line> report;
    for (Console_Line line : console.Lines())
        if (line.level <= 2)
            report.push_back(line);
    for (size_t i = 0; i < report.size() && i < site.report.size(); i++)
        if (site.report[i].text == "*" && !report[i].text.empty())
            report[i].text = "*";
    EXPECT_EQ(report, site.report) << Console_Dump(console.Lines());
    if (site.scene != WINDOW) {
        EXPECT_EQ(Fault_Hits() - hits, 1) << "exactly one call failed";
    }

    // What the failed call answers and leaves behind, then the same call once memory is back.
    EXPECT_EQ(result, site.scene == SETUP || site.scene == WORKER);
    EXPECT_EQ(State(site.scene, trace), Left[site.scene]);
    if (site.scene == WINDOW) {
        EXPECT_EQ(console.Lines()[0], (Console_Line{11, "creating window: 200 100 T 00000000"}));
        EXPECT_EQ(AzWin_Count(), windows + !strcmp(site.what, "record")) << "a window without record stays";
        if (HWND stray = AzWin_Find("Progress", nullptr))
            DestroyWindow(stray);
    }
    console.Clear();
    EXPECT_EQ(Act(site.scene), site.scene != SETUP) << "the next set-up completes both directions";
    if (!Again[site.scene].empty()) {
        EXPECT_EQ(State(site.scene, {}), Again[site.scene]);
    }
    EXPECT_EQ(console.Lines(1).size() + console.Lines(2).size(), 0u) << Console_Dump(console.Lines());
}

Fault_Site Grow(int nth, const char *var, const char *dim)
{
    std::string where = "line " + std::to_string(99 + nth) + "  of .\\oblique_class";
    return {GROW, "realloc", nth, {Memory(where.c_str(), "realloc", var, dim)}};
}

Fault_Site Create(int nth, const char *var, const char *dim)
{
    std::string where = "line " + std::to_string(155 + nth) + "  of .\\oblique_class";
    return {CREATE, "calloc", nth, {Memory(where.c_str(), "calloc", var, dim)}};
}

const char *const header_site = "line 1120 of .\\oblique_ctrl", *const file_site = "line 1126 of .\\oblique_ctrl";
const char *const paint_site = "line 216  of .\\oblique_callback", *const list_site = "line 780  of .\\oblique_ctrl";

INSTANTIATE_TEST_SUITE_P(
    Sites, Fault,
    ::testing::Values(
        Grow(1, "oblique->real_files_pt", "3x8"), Grow(2, "oblique->real_files_bunch", "3x4"),
        Grow(3, "oblique->real_files_slice", "3x4"), Grow(4, "oblique->real_files_z", "3x4"),
        Grow(5, "oblique->real_files_t", "3x4"), Grow(6, "oblique->real_files_d", "3x4"),
        Create(1, "oblique_0->real_files_pt", "1x8"), Create(2, "oblique_0->real_files_bunch", "1x4"),
        Create(3, "oblique_0->real_files_slice", "1x4"), Create(4, "oblique_0->real_files_z", "1x4"),
        Create(5, "oblique_0->real_files_t", "1x4"), Create(6, "oblique_0->real_files_d", "1x4"),
        // The first entry is a new block; a second image needs a second entry.
        Fault_Site{PAINT_FIRST, "malloc", 1, {Memory(paint_site, "realloc", "oblique->update_pt", "1x48")}},
        Fault_Site{PAINT_MORE, "realloc", 1, {Memory(paint_site, "realloc", "oblique->update_pt", "2x48")}},
        Fault_Site{SETUP, "calloc", 1, {Memory(header_site, "calloc", "oblique->dir_image", "1x2960")}},
        Fault_Site{SETUP, "calloc", 2,
                   {Memory("line 1123 of .\\oblique_ctrl", "calloc", "oblique->dir_file->images", "2x8")}},
        Fault_Site{SETUP, "new", 1, {Memory(file_site, "new", "oblique->dir_file", "1x272")}},
        Fault_Site{SETUP, "calloc", 3, {Memory(header_site, "calloc", "oblique->dir_image", "1x2960")}},
        Fault_Site{SETUP, "new", 2, {Memory(file_site, "new", "oblique->dir_file", "1x272")}},
        Fault_Site{WORKER, "new", 1, {Memory("line 1290 of .\\oblique_ctrl", "new", "oblique->matrix_pt", "1x64")}},
        Fault_Site{PANEL_LIST, "realloc", 1, {Memory(list_site, "realloc", "Instance_Pt", "3x8")}},
        Fault_Site{PANEL_LIST, "realloc", 2, {Memory(list_site, "realloc", "Instance_Pt", "5x8")}},
        Fault_Site{PREVIEW_GLI, "malloc", 1,
                   {Memory("line 50   of .\\oblique_ctrl_ima", "realloc", "Oblique_GLI", "128x4")}},
        Fault_Site{PREVIEW_TAG, "realloc", 1,
                   {Memory("line 94   of .\\oblique_ctrl_ima", "realloc", "Oblique_TAG", "200x4")}},
        Fault_Site{WINDOW, "window", 0, {{2, "file:.\\w_progress line:370"}, {2, "Unable to create Progress Window"}}},
        Fault_Site{WINDOW, "record", 0,
                   {{2, "file:.\\w_progress line:377"}, {2, "Failed in GetWindowLong()"}, {2, "*"}}}));

} // namespace
