/* Update queue, call recorder, regions, group test and help. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "db_fixture.h"
#include "tests/support/console_capture.h"

namespace {

/* What the module hook and the classes saw, in order. */
std::vector<std::string> *seen = nullptr;

int Module_Hook(uint64_t flags)
{
    char line[64];
    snprintf(line, sizeof line, "hook 0x%llx", (unsigned long long)flags);
    seen->push_back(line);
    return 1;
}

void Redraw_Hook(uint64_t flags, void *)
{
    char line[64];
    snprintf(line, sizeof line, "redraw 0x%llx", (unsigned long long)flags);
    seen->push_back(line);
}

class Listening : public Kelvra_Class {
  public:
    int Update_B(uint64_t flags) override
    {
        char line[300];
        snprintf(line, sizeof line, "Update_B %s 0x%llx", Name_Get(), (unsigned long long)flags);
        seen->push_back(line);
        return 1;
    }
    void Update_Child_A(uint64_t flags, void *context, void *key, Region_4D *box) override
    {
        char line[400];
        snprintf(line, sizeof line, "Update_Child_A %s 0x%llx %s %s %g..%g", Name_Get(), (unsigned long long)flags,
                 context ? (const char *)context : "-", key ? "key" : "null", box->min[0], box->max[0]);
        seen->push_back(line);
    }
};

Kelvra_Class *Listener(const char *name)
{
    Kelvra_Class *cls = new Listening;
    cls->Name_Set("%s", name);
    cls->Class_A_Set(13);
    return cls;
}

class Queue : public Db {
  protected:
    void SetUp() override
    {
        Db::SetUp();
        seen = &lines;
    }
    void TearDown() override
    {
        Db::TearDown();
        seen = nullptr;
    }
    std::vector<std::string> lines;
};

bool Close(float a, float b) { return fabsf(a - b) < 1e-4f; }

}  // namespace

TEST_F(Queue, UpdatesFromAWorkerRunOnPumpInOrder)
{
    Kelvra_Class *root = AzDb_Root();
    Kelvra_Class *study = Listener("study");
    Kelvra_Class *o = Listener("O");
    Kelvra_Class *b = Listener("B");
    root->Child_Add(study);
    study->Child_Add(o);
    study->Child_Add(b);
    AzHost_Module_Set(Module_Hook, 0x7e00000);
    AzHost_Redraw_Hook_Set(Redraw_Hook, nullptr);
    AzHost_Interface_Thread_Set();
    EXPECT_EQ(AzHost_Is_Interface_Thread(), 1);

    static char context[] = "ctx";
    std::thread worker([&] {
        EXPECT_EQ(AzHost_Is_Interface_Thread(), 0);
        Region_4D box;
        box.kind = 6;
        box.Clear();
        box.Add(2, 3, 4, 0);
        Fct_Update(0x4000000000000000ULL, nullptr, nullptr, nullptr);
        Fct_Update(0xc00300, nullptr, o, nullptr);
        Fct_Redraw(0x40000000, nullptr, nullptr, nullptr);
        Fct_Update(0x200000 | 0x10001, nullptr, nullptr, nullptr);
        Fct_Update(0x800000, context, b, &box);
        box.Add(9, 9, 9, 0);  // the queue kept its own copy
        /* Pumping off the interface thread does nothing. */
        EXPECT_EQ(AzHost_Pump(), 0);
    });
    worker.join();
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(AzHost_Pending(), 5);
    EXPECT_EQ(AzHost_Pump(), 5);
    EXPECT_EQ(AzHost_Pending(), 0);
    const std::vector<std::string> want = {
        "hook 0xc00000",  // 0xc00300 & 0x7e00000
        "Update_B study 0xc00300",
        "Update_B O 0xc00300",
        "Update_B B 0xc00300",
        "redraw 0x40000000",
        "hook 0x200000",
        "hook 0x800000",
        "Update_B study 0x800000",
        "Update_B O 0x800000",
        "Update_B B 0x800000",
        "Update_Child_A B 0x800000 ctx null 2..2",
    };
    EXPECT_EQ(lines, want);

    /* An update queued on the interface thread waits for the pump too. */
    lines.clear();
    Fct_Update(0x1000000, nullptr, nullptr, nullptr);
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(AzHost_Pump(), 1);
    EXPECT_EQ(lines, std::vector<std::string>({"hook 0x1000000"}));

    /* A class that dies before the pump is not called. */
    lines.clear();
    Region_4D box;
    box.Clear();
    box.Add(1, 1, 1, 0);
    Fct_Update(0x1, nullptr, o, &box);
    delete o;
    EXPECT_EQ(AzHost_Pump(), 1);
    EXPECT_TRUE(lines.empty());
}

TEST_F(Queue, RecorderListsTheModulesCalls)
{
    Kelvra_Class *root = AzDb_Root();
    Kelvra_Class *o = Make_Class("Phantom (dir:Original)", 13, 0);
    Kelvra_Window *w = AzView_Create("View 1", 3);
    /* What the host does itself is not recorded. */
    AzStudy_Plan plan;
    plan.slices = 2;
    AzHost_Trace_Start();
    AzStudy *study = Load_Study(plan);
    EXPECT_TRUE(AzHost_Trace_Take().empty());

    root->Child_Add(o);
    Region_4D box;
    box.Clear();
    box.Add(1, 2, 3, 0);
    box.Add(4, 5, 6, 1);
    Fct_Update(0xc00300, nullptr, o, nullptr);
    Fct_Update(0x800000, nullptr, o, &box);
    Fct_Redraw(0xFFFFFFFF3FFFFFFFULL, nullptr, nullptr, nullptr);
    o->Flag_Set_On(0x10, nullptr, 0x4000);
    o->Flag_Set_Off(0x30, w, 0x200);
    Access_Init("Class Oblique: Oblique_Thread");
    o->Lock_Set(1);
    Access_End("Class Oblique: Oblique_Thread");
    o->Mutex_Open("Class_Oblique_Pixel_Set_TAG");
    o->Mutex_Close("Class_Oblique_Pixel_Set_TAG");
    Iterator_Init(4, "Class Oblique: Ctrl_Apply", nullptr);
    Iterator_End(4);
    Database_Geom_Cleanup();
    Database_Current(w, o);
    o->Sort(1);
    o->Child_Delete();
    Fct_Group_Test(o);
    const std::vector<std::string> want = {
        "Child_Add Database Phantom (dir:Original)",
        "Fct_Update 0xc00300 cls=Phantom (dir:Original)",
        "Fct_Update 0x800000 cls=Phantom (dir:Original) region=1,2,3,0:4,5,6,1",
        "Fct_Redraw 0xffffffff3fffffff",
        "Flag_Set_On Phantom (dir:Original) 0x10 0x4000",
        "Flag_Set_Off Phantom (dir:Original) 0x30 0x200 win=View 1",
        "Access_Init Class Oblique: Oblique_Thread",
        "Lock_Set Phantom (dir:Original) 1",
        "Access_End Class Oblique: Oblique_Thread",
        "Mutex_Open Phantom (dir:Original) Class_Oblique_Pixel_Set_TAG",
        "Mutex_Close Phantom (dir:Original) Class_Oblique_Pixel_Set_TAG",
        "Iterator_Init 4 Class Oblique: Ctrl_Apply",
        "Iterator_End 4",
        "Database_Geom_Cleanup",
        "Database_Current View 1 Phantom (dir:Original)",
        "Sort Phantom (dir:Original) 1",
        "Child_Delete Phantom (dir:Original)",
        "Fct_Group_Test Phantom (dir:Original)",
    };
    EXPECT_EQ(AzHost_Trace_Take(), want);
    EXPECT_EQ(AzHost_Geom_Cleanup_Count(), 1);

    /* Calls from another thread join in call order; Take empties. */
    std::thread worker([&] { Fct_Update(0x8000000000000000ULL, nullptr, nullptr, nullptr); });
    worker.join();
    Fct_Redraw(0x80000000, nullptr, nullptr, nullptr);
    EXPECT_EQ(AzHost_Trace_Take(),
              std::vector<std::string>({"Fct_Update 0x8000000000000000", "Fct_Redraw 0x80000000"}));
    EXPECT_TRUE(AzHost_Trace_Take().empty());
    AzHost_Trace_Stop();
    Fct_Redraw(0x1, nullptr, nullptr, nullptr);
    EXPECT_TRUE(AzHost_Trace_Take().empty());
    AzStudy_Free(study);
}

TEST_F(Db, RegionsClearAddAndTransform)
{
    Region_4D r;
    r.kind = 6;
    r.Clear();
    EXPECT_EQ(r.kind, 6);
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(r.min[i], 100000.0f);
        EXPECT_EQ(r.max[i], -100000.0f);
    }
    r.Add(1, 2, 3, 4);
    r.Add(-1, 5, 3, 2);
    EXPECT_EQ(r.min[0], -1.0f);
    EXPECT_EQ(r.max[0], 1.0f);
    EXPECT_EQ(r.min[1], 2.0f);
    EXPECT_EQ(r.max[1], 5.0f);
    EXPECT_EQ(r.min[2], 3.0f);
    EXPECT_EQ(r.max[2], 3.0f);
    EXPECT_EQ(r.min[3], 2.0f);
    EXPECT_EQ(r.max[3], 4.0f);

    /* 45 degrees about z: the bounding box of the turned corners; t stays. */
    Matrix_4x4 m;
    m.rot_z((float)M_PI / 4, Matrix_4x4::post);
    m.translate(10, 0, 0, Matrix_4x4::post);
    Region_4D box;
    box.kind = 6;
    box.Clear();
    box.Add(0, 0, 0, 1);
    box.Add(2, 2, 1, 3);
    box *= m;
    const float h = sqrtf(2.0f);
    Vect corners[4] = {Vect(0, 0, 0), Vect(2, 0, 0), Vect(0, 2, 0), Vect(2, 2, 0)};
    float lo_x = 1e9f, hi_x = -1e9f, lo_y = 1e9f, hi_y = -1e9f;
    for (Vect c : corners) {
        c *= m;
        lo_x = fminf(lo_x, c.x);
        hi_x = fmaxf(hi_x, c.x);
        lo_y = fminf(lo_y, c.y);
        hi_y = fmaxf(hi_y, c.y);
    }
    EXPECT_TRUE(Close(box.min[0], lo_x)) << box.min[0];
    EXPECT_TRUE(Close(box.max[0], hi_x)) << box.max[0];
    EXPECT_TRUE(Close(box.min[1], lo_y)) << box.min[1];
    EXPECT_TRUE(Close(box.max[1], hi_y)) << box.max[1];
    /* The same box worked out by hand (either turning sense). */
    EXPECT_TRUE(Close(box.max[0] - box.min[0], 2 * h));
    EXPECT_TRUE(Close(box.max[1] - box.min[1], 2 * h));
    EXPECT_TRUE(Close(box.min[2], 0.0f));
    EXPECT_TRUE(Close(box.max[2], 1.0f));
    EXPECT_EQ(box.min[3], 1.0f);
    EXPECT_EQ(box.max[3], 3.0f);
    EXPECT_EQ(box.kind, 6);

    /* An empty box stays empty. */
    Region_4D empty;
    empty.Clear();
    empty *= m;
    EXPECT_EQ(empty.min[0], 100000.0f);
    EXPECT_EQ(empty.max[0], -100000.0f);

    Region_3D three;
    three.kind = 0;
    three.Clear();
    three.Add(1, 1, 1);
    three.Add(2, 3, 4);
    Matrix_4x4 s;
    s.scale(2, -1, 1, Matrix_4x4::post);
    three *= s;
    EXPECT_EQ(three.min[0], 2.0f);
    EXPECT_EQ(three.max[0], 4.0f);
    EXPECT_EQ(three.min[1], -3.0f);
    EXPECT_EQ(three.max[1], -1.0f);
    EXPECT_EQ(three.kind, 0);

    Point_3D p(1, 2, 3);
    p *= s;
    EXPECT_EQ(p.kind, 1);
    EXPECT_TRUE(Vect_Is(p, 2.0f, -2.0f, 3.0f));
}

namespace {

/* A study of 4 frames under its study class; test code then bends it. */
Kelvra_Class *Group(AzStudy **out, float spacing = 1.5f, int slices = 4)
{
    AzStudy_Plan plan = Plan_Of("Phantom", 8, 6, slices);
    plan.spacing[2] = spacing;
    plan.row = Vect(0.8f, 0.6f, 0);
    plan.col = Vect(0, 0, 1);
    plan.origin = Vect(100, -40, 250);
    plan.phantom = AZ_PHANTOM_GRADIENT;
    *out = AzStudy_Build(plan);
    AzStudy_Insert(*out, AZ_ORDER_ASCENDING, 0);
    return AzDb_Root()->Child_Get_Pt(AzDb_Root()->Child_Get_Nb() - 1);
}

}  // namespace

TEST_F(Db, GroupTestBitPerCondition)
{
    AzStudy *s;
    Kelvra_Class *cls = Group(&s);
    EXPECT_EQ(Fct_Group_Test(cls), 0u);
    Vexa_Image **im = s->file->images;

    /* Resolution. */
    im[2]->width = 9;
    EXPECT_EQ(Fct_Group_Test(cls), 0x01000000u);
    im[2]->width = 8;
    /* Pixel size: beyond 1e-3 relative, not within it. */
    im[1]->pixel_size.y = 1.0005f;
    EXPECT_EQ(Fct_Group_Test(cls), 0u);
    im[1]->pixel_size.y = 1.01f;
    EXPECT_EQ(Fct_Group_Test(cls), 0x02000000u);
    im[1]->pixel_size.y = 1.0f;
    Vect other(1.0f, 1.2f, 1.5f);
    im[3]->pixel_size_pt = &other;
    EXPECT_EQ(Fct_Group_Test(cls), 0x02000000u);
    im[3]->pixel_size_pt = nullptr;
    /* Not parallel: one normal turned by 2 degrees (1 degree still counts as parallel). */
    Vect n = im[3]->axis_normal;
    float c = cosf(0.035f), sn = sinf(0.035f);
    im[3]->axis_normal = Vect(n.x * c - n.y * sn, n.x * sn + n.y * c, n.z);
    EXPECT_EQ(Fct_Group_Test(cls) & 0x20000000u, 0x20000000u);
    im[3]->axis_normal = n;
    EXPECT_EQ(Fct_Group_Test(cls), 0u);
    /* Gantry tilt: each frame shifted along the rows. */
    for (int i = 0; i < 4; i++)
        im[i]->position = im[i]->position + (0.2f * i) * im[i]->axis_col;
    EXPECT_EQ(Fct_Group_Test(cls), 0x10000000u);
    for (int i = 0; i < 4; i++)
        im[i]->position = im[i]->position - (0.2f * i) * im[i]->axis_col;
    EXPECT_EQ(Fct_Group_Test(cls), 0u);
    /* Uneven spacing: a gap of twice the step (a missing slice) is refused and placed; a jitter of 0.5% is not. */
    Console_Capture console;
    Vect last = im[3]->position;
    for (float extra : {1.5f, -0.3f, 0.0075f}) {
        im[3]->position = last + extra * im[3]->axis_normal;
        EXPECT_EQ(Fct_Group_Test(cls), extra == 0.0075f ? 0u : 0x80000100u) << extra;
    }
    im[3]->position = last;
    EXPECT_EQ((std::vector<Console_Line>{
                  {2, "Phantom: uneven slice spacing: 3 mm between frames 2 and 3 (3.00 and 6.00 mm from the first "
                      "frame) where the usual step is 1.5 mm; 1 of 3 steps differ by more than 1%: not a 3D group"},
                  {2, "Phantom: uneven slice spacing: 1.2 mm between frames 2 and 3 (3.00 and 4.20 mm from the first "
                      "frame) where the usual step is 1.5 mm; 1 of 3 steps differ by more than 1%: not a 3D group"}}),
              console.Lines());
    /* Two frames at one place. */
    Vect keep = im[2]->position;
    im[2]->position = im[1]->position;
    EXPECT_EQ(Fct_Group_Test(cls) & 0x00020000u, 0x00020000u);
    im[2]->position = keep;
    /* Child order not along the normal. */
    Vect p1 = im[1]->position;
    im[1]->position = im[3]->position + 1.5f * im[3]->axis_normal;
    EXPECT_EQ(Fct_Group_Test(cls), 0x00010000u);
    im[1]->position = p1;
    /* Descending order is in order. */
    AzStudy_Plan plan = s->plan;
    plan.name = "Down";
    AzStudy *d = Load_Study(plan, AZ_ORDER_DESCENDING, 0);
    EXPECT_EQ(Fct_Group_Test(AzDb_Root()->Child_Get_Pt(1)), 0u);
    /* Shuffled is not; several conditions add up. */
    plan.name = "Mixed";
    plan.slices = 6;
    AzStudy *m = Load_Study(plan, AZ_ORDER_SHUFFLED, 3);
    m->file->images[0]->width = 7;
    EXPECT_EQ(Fct_Group_Test(AzDb_Root()->Child_Get_Pt(2)), 0x01010000u);

    /* One frame; no frames; a child that is not a frame. */
    plan.name = "Single";
    plan.slices = 1;
    AzStudy *one = Load_Study(plan, AZ_ORDER_ASCENDING, 0);
    EXPECT_EQ(Fct_Group_Test(AzDb_Root()->Child_Get_Pt(3)), 0x40000000u);
    Kelvra_Class *empty = Make_Class("empty", 13, 0);
    AzDb_Root()->Child_Add(empty);
    EXPECT_EQ(Fct_Group_Test(empty), 0x80000000u);
    cls->Child_Add(Make_Class("odd", 13, 0));
    EXPECT_EQ(Fct_Group_Test(cls), 0x80000000u);
    EXPECT_EQ(Fct_Group_Test(nullptr), 0x80000000u);
    /* Several slices per image, and time points at one place. */
    plan.name = "Volume";
    plan.slices = 4;
    plan.slices_per_image = 4;
    AzStudy *vol = Load_Study(plan, AZ_ORDER_ASCENDING, 0);
    EXPECT_EQ(Fct_Group_Test(AzDb_Root()->Child_Get_Pt(5)), 0u);
    plan.name = "Timed";
    plan.times = 2;
    AzStudy *timed = Load_Study(plan, AZ_ORDER_ASCENDING, 0);
    EXPECT_EQ(Fct_Group_Test(AzDb_Root()->Child_Get_Pt(6)), 0x00020000u);
    for (AzStudy *x : {s, d, m, one, vol, timed})
        AzStudy_Free(x);
}

TEST_F(Db, HelpShowsSections)
{
    char dir[] = "/tmp/az_help_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string folder = std::string(dir) + "/help";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    FILE *f = fopen((folder + "/topic.txt").c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("Topic text.\nSecond line.\n\n[Angle]\nTurns the plane.\n  Indented.\n\n[slice]\nPicks a slice.\n", f);
    fclose(f);
    AzHost_Help_Dir_Set(dir);

    Console_Capture console;
    EXPECT_EQ(Fct_Help("topic", "angle"), 1);
    EXPECT_EQ(AzHost_Help_Last(), "Turns the plane.\n  Indented.");
    std::vector<Console_Line> want = {{4, "Turns the plane."}, {4, "  Indented."}};
    EXPECT_EQ(console.Lines(), want) << Console_Dump(console.Lines());
    console.Clear();
    EXPECT_EQ(Fct_Help("topic", nullptr), 1);
    EXPECT_EQ(AzHost_Help_Last(), "Topic text.\nSecond line.");
    EXPECT_EQ(Fct_Help("topic", "slice"), 1);
    EXPECT_EQ(AzHost_Help_Last(), "Picks a slice.");
    console.Clear();
    EXPECT_EQ(Fct_Help("topic", "zoom"), 0);
    EXPECT_EQ(Fct_Help("missing", "zoom"), 0);
    want = {{2, "Help: no entry zoom in topic"}, {2, "Help: no topic missing"}};
    EXPECT_EQ(console.Lines(), want) << Console_Dump(console.Lines());
    EXPECT_EQ(AzHost_Help_Last(), "Picks a slice.");

    unlink((folder + "/topic.txt").c_str());
    rmdir(folder.c_str());
    rmdir(dir);
}

TEST_F(Db, HelpDefaultsToTheModulesFolder)
{
    /* The folder of the library holding the chain's module level: here the
     * host's own library, built into the build folder. */
    AzDb_Tree_Default(AzDb_Frame_Insert);
    std::string folder = std::string(AZ_BUILD_DIR) + "/help";
    mkdir(folder.c_str(), 0700);
    std::string path = folder + "/az_structures_test.txt";
    FILE *f = fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("[]\nOwn text.\n", f);
    fclose(f);
    EXPECT_EQ(Fct_Help("az_structures_test", nullptr), 1);
    EXPECT_EQ(AzHost_Help_Last(), "Own text.");
    /* A folder set by the host wins. */
    AzHost_Help_Dir_Set("/nonexistent");
    Console_Capture console;
    EXPECT_EQ(Fct_Help("az_structures_test", nullptr), 0);
    EXPECT_EQ(console.Lines(), std::vector<Console_Line>({{2, "Help: no topic az_structures_test"}}));
    unlink(path.c_str());
}
