/* Update queue, call recorder, group test and help. */
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "db_fixture.h"
#include "tests/support/console_capture.h"
#include "tests/support/golden.h"

namespace {

/* What the module hook, the redraw hook and the classes saw, in order. */
std::vector<std::string> seen;

void Note(const char *format, const char *name, uint64_t flags)
{
    char line[300];
    snprintf(line, sizeof line, format, name, (unsigned long long)flags);
    seen.push_back(line);
}

class Listening : public Kelvra_Class {
  public:
    int Update_B(uint64_t flags) override { return Note("Update_B %s 0x%llx", Name_Get(), flags), 1; }
    void Update_Child_A(uint64_t flags, void *context, void *key, Region_4D *box) override
    {
        char line[400];
        snprintf(line, sizeof line, "Update_Child_A %s 0x%llx %s %s %g..%g", Name_Get(), (unsigned long long)flags,
                 context ? (const char *)context : "-", key ? "key" : "null", box->min[0], box->max[0]);
        seen.push_back(line);
    }
};

Kelvra_Class *Listener(Kelvra_Class *parent, const char *name)
{
    Kelvra_Class *cls = new Listening;
    cls->Name_Set("%s", name), cls->Class_A_Set(13), parent->Child_Add(cls);
    return cls;
}

Region_4D Box(float x0, float y0, float z0, float t0, float x1, float y1, float z1, float t1)
{
    Region_4D box;
    box.kind = 6;
    box.Clear(), box.Add(x0, y0, z0, t0), box.Add(x1, y1, z1, t1);
    return box;
}

} // namespace

TEST_F(Db, UpdatesFromAWorkerRunOnPumpInOrder)
{
    seen.clear();
    Kelvra_Class *study = Listener(AzDb_Root(), "study"), *o = Listener(study, "O"), *b = Listener(study, "B");
    AzHost_Module_Set([](uint64_t flags) { return Note("hook%s 0x%llx", "", flags), 1; }, 0x7e00000);
    AzHost_Redraw_Hook_Set([](uint64_t flags, void *) { Note("redraw%s 0x%llx", "", flags); }, nullptr);
    AzHost_Interface_Thread_Set();
    EXPECT_EQ(AzHost_Is_Interface_Thread(), 1);
    static char context[] = "ctx";
    std::thread worker([&] {
        EXPECT_EQ(AzHost_Is_Interface_Thread(), 0);
        Region_4D box = Box(2, 3, 4, 0, 2, 3, 4, 0);
        Fct_Update(0x4000000000000000ULL, nullptr, nullptr, nullptr);
        Fct_Update(0xc00300, nullptr, o, nullptr);
        Fct_Redraw(0x40000000, nullptr, nullptr, nullptr);
        Fct_Update(0x200000 | 0x10001, nullptr, nullptr, nullptr);
        Fct_Update(0x800000, context, b, &box);
        box.Add(9, 9, 9, 0);  // the queue kept its own copy
        EXPECT_EQ(AzHost_Pump(), 0) << "pumping off the interface thread does nothing";
    });
    worker.join();
    EXPECT_TRUE(seen.empty() && AzHost_Pending() == 5);
    EXPECT_EQ(AzHost_Pump(), 5);
    EXPECT_EQ(AzHost_Pending(), 0);
    EXPECT_TRUE(Trace_Is("host_update_queue", seen));

    /* An update queued on the interface thread waits for the pump too;
     * a class that dies before the pump is not called. */
    seen.clear();
    Fct_Update(0x1000000, nullptr, nullptr, nullptr);
    EXPECT_TRUE(seen.empty());
    Region_4D box = Box(1, 1, 1, 0, 1, 1, 1, 0);
    Fct_Update(0x1, nullptr, o, &box);
    delete o;
    EXPECT_EQ(AzHost_Pump(), 2);
    EXPECT_EQ(seen, std::vector<std::string>({"hook 0x1000000"}));
}

TEST_F(Db, RecorderListsTheModulesCallsFromEveryThreadInCallOrder)
{
    Kelvra_Class *o = Make_Class("Phantom (dir:Original)", 13, 0);
    Kelvra_Window *w = AzView_Create("View 1", 3);
    AzHost_Trace_Start();
    Load("Phantom", 4, 4, 2);
    EXPECT_TRUE(AzHost_Trace_Take().empty()) << "what the host does itself is not recorded";
    AzDb_Root()->Child_Add(o);
    Region_4D box = Box(1, 2, 3, 0, 4, 5, 6, 1);
    Fct_Update(0x800000, nullptr, o, &box);
    o->Flag_Set_Off(0x30, w, 0x200);
    Access_Init("Class Oblique: Oblique_Thread");
    o->Lock_Set(1);
    Access_End("Class Oblique: Oblique_Thread");
    o->Mutex_Open("Class_Oblique_Pixel_Set_TAG");
    Iterator_Init(4, "Class Oblique: Ctrl_Apply", nullptr);
    Database_Geom_Cleanup();
    Database_Current(w, o);
    std::thread([] { Fct_Update(0x8000000000000000ULL, nullptr, nullptr, nullptr); }).join();
    Fct_Redraw(0xFFFFFFFF3FFFFFFFULL, nullptr, nullptr, nullptr);
    EXPECT_TRUE(Trace_Is("host_recorder", AzHost_Trace_Take()));
    EXPECT_TRUE(AzHost_Trace_Take().empty() && AzHost_Geom_Cleanup_Count() == 1) << "Take empties";
    AzHost_Trace_Stop();
    o->Lock_Set(-1), o->Mutex_Close("Class_Oblique_Pixel_Set_TAG"), Iterator_End(4);
    Fct_Redraw(0x1, nullptr, nullptr, nullptr);
    EXPECT_TRUE(AzHost_Trace_Take().empty());
}

TEST_F(Db, GroupTestBitPerCondition)
{
    AzPhantom_Plan plan = Plan_Of("Phantom", 8, 6, 4, 1.0f, 1.0f, 1.5f);
    plan.row = Vect(0.8f, 0.6f, 0), plan.col = Vect(0, 0, 1), plan.origin = Vect(100, -40, 250);
    plan.phantom = AZ_PHANTOM_GRADIENT;
    AzPhantom *s = Load(plan, AZ_ORDER_ASCENDING, 0);
    Kelvra_Class *cls = AzDb_Root()->Child_Get_Pt(0);
    EXPECT_EQ(Fct_Group_Test(cls), 0u);
    Vexa_Image **im = s->file->images;
    Vect other(1.0f, 1.2f, 1.5f), n = im[3]->axis_normal, p1 = im[1]->position, p2 = im[2]->position;
    im[2]->width = 9;
    EXPECT_EQ(Fct_Group_Test(cls), 0x01000000u) << "resolution";
    im[2]->width = 8, im[1]->pixel_size.y = 1.0005f;
    EXPECT_EQ(Fct_Group_Test(cls), 0u) << "pixel sizes within 1e-3 are equal";
    im[1]->pixel_size.y = 1.0f, im[3]->pixel_size_pt = &other;
    EXPECT_EQ(Fct_Group_Test(cls), 0x02000000u) << "pixel size given apart";
    im[3]->pixel_size_pt = nullptr;
    const float c = cosf(0.035f), sn = sinf(0.035f);  // 2 degrees; 1 still counts as parallel
    im[3]->axis_normal = Vect(n.x * c - n.y * sn, n.x * sn + n.y * c, n.z);
    EXPECT_EQ(Fct_Group_Test(cls) & 0x20000000u, 0x20000000u) << "not parallel";
    im[3]->axis_normal = n;
    for (float tilt : {0.2f, -0.2f}) {
        for (int i = 0; i < 4; i++)
            im[i]->position = im[i]->position + (tilt * i) * im[i]->axis_col;
        EXPECT_EQ(Fct_Group_Test(cls), tilt > 0 ? 0x10000000u : 0u) << "gantry tilt, then put back";
    }
    im[2]->position = p1;
    EXPECT_EQ(Fct_Group_Test(cls) & 0x00020000u, 0x00020000u) << "two frames at one place";
    im[2]->position = p2, im[1]->position = im[3]->position + 1.5f * n;
    EXPECT_EQ(Fct_Group_Test(cls), 0x00010000u) << "child order not along the normal";
    im[1]->position = p1;

    /* Uneven spacing: a step off by more than 1% is refused and said, a jitter of 0.5% is not. */
    console.Clear();
    Vect last = im[3]->position;
    for (float extra : {-0.3f, 0.0075f}) {
        im[3]->position = last + extra * n;
        EXPECT_EQ(Fct_Group_Test(cls), extra < 0 ? 0x80000100u : 0u) << extra;
    }
    im[3]->position = last;
    EXPECT_EQ((std::vector<Console_Line>{
                  {2, "Phantom: uneven slice spacing: 1.2 mm between frames 2 and 3 (3.00 and 4.20 mm from the first "
                      "frame) where the usual step is 1.5 mm; 1 of 3 steps differ by more than 1%: not a 3D group"}}),
              console.Lines());

    /* Whole studies: descending is in order, shuffled is not and bits add up, one frame, time
     * points at one place; no frames; a child that is not a frame. */
    const std::tuple<const char *, int, int, int, unsigned> rows[] = {
        {"Down", AZ_ORDER_DESCENDING, 4, 1, 0}, {"Mixed", AZ_ORDER_SHUFFLED, 6, 1, 0x01010000u},
        {"Single", AZ_ORDER_ASCENDING, 1, 1, 0x40000000u}, {"Timed", AZ_ORDER_ASCENDING, 4, 2, 0x00020000u}};
    for (const auto &[name, order, slices, times, bits] : rows) {
        plan.name = name, plan.slices = slices, plan.times = times;
        plan.slices_per_image = times == 2 ? slices : 1;  // time points of a volume
        Load(plan, order, 3)->file->images[0]->width = order == AZ_ORDER_SHUFFLED ? 7 : 8;
        EXPECT_EQ(Fct_Group_Test(AzDb_Root()->Child_Get_Pt(AzDb_Root()->Child_Get_Nb() - 1)), bits) << name;
    }
    Kelvra_Class *empty = Make_Class("empty", 13, 0, AzDb_Root());
    Make_Class("odd", 13, 0, cls);
    for (Kelvra_Class *bad : {empty, cls, (Kelvra_Class *)nullptr})
        EXPECT_EQ(Fct_Group_Test(bad), 0x80000000u);
}

TEST_F(Db, HelpShowsSectionsFromTheModulesFolderOrTheHosts)
{
    /* By default the folder of the library holding the chain's module level: here the host's own
     * library, built into the build folder.  A folder set by the host wins. */
    AzDb_Tree_Default(AzDb_Frame_Insert);
    std::string folder = std::string(AZ_BUILD_DIR) + "/help", path = folder + "/az_structures_test.txt";
    mkdir(folder.c_str(), 0700);
    FILE *f = fopen(path.c_str(), "w");
    ASSERT_TRUE(f && fputs("Topic text.\nSecond line.\n\n[Angle]\nTurns the plane.\n  Indented.\n\n[slice]\nPicks "
                           "a slice.\n", f) >= 0 && fclose(f) == 0);
    console.Clear();
    EXPECT_TRUE(Fct_Help("az_structures_test", "angle") == 1 && AzHost_Help_Last() == "Turns the plane.\n  Indented.");
    EXPECT_TRUE(Fct_Help("az_structures_test", nullptr) == 1 && AzHost_Help_Last() == "Topic text.\nSecond line.");
    EXPECT_TRUE(Fct_Help("az_structures_test", "zoom") == 0 && Fct_Help("missing", "zoom") == 0);
    AzHost_Help_Dir_Set("/nonexistent");
    EXPECT_EQ(Fct_Help("az_structures_test", nullptr), 0);
    EXPECT_EQ(AzHost_Help_Last(), "Topic text.\nSecond line.");
    EXPECT_EQ(console.Lines(), std::vector<Console_Line>({{4, "Turns the plane."}, {4, "  Indented."},
                                                          {4, "Topic text."}, {4, "Second line."},
                                                          {2, "Help: no entry zoom in az_structures_test"},
                                                          {2, "Help: no topic missing"},
                                                          {2, "Help: no topic az_structures_test"}}));
    unlink(path.c_str());
}
