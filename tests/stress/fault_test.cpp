/* Failures met in the middle of whole operations, one table: the fault
 * switched on, the operation, the console lines it must give (level and
 * text), and what the operation leaves behind and does once the fault is
 * off again. */
#include <algorithm>
#include <functional>

#include "stress.h"
#include "tests/support/fault.h"

namespace {

class Fault_Test;
typedef std::function<void(Fault_Test *)> Step;

struct Fault_Case {
    const char *name;
    Step arm, act;                   /* the fault is switched off after act */
    int level;                       /* console lines of that level, exactly */
    std::vector<std::string> lines;  /* "*" stands for any non-empty text */
    Step after;
};

class Fault_Test : public Stress_Test, public testing::WithParamInterface<Fault_Case> {
  public:
    void Apply()
    {
        Set_Up(study);
        ASSERT_EQ(Ctrl_Apply(1, org, 1, obl), 1);
        ASSERT_EQ(Wait(), 1);
    }
    AzStudy *study = nullptr;
    std::vector<AzFrame *> frames;
    uint8_t tag_before = 0;
};

/* Oblique frame 3, pixel (1, 2) of the 10 x 6 x 5 study: source column 3, row 2, slice 5 - 1 - 1 = 3. */
uint8_t *Tag_Of_Frame_3(Fault_Test *t) { return AzImage_TAG_Plane(t->study->file->images[t->study->frame_bunch[3]], 0, 0) + 2 * 10 + 3; }

const Fault_Case cases[] = {
    {"ApplyWithoutProgressWindowStillBuilds", [](Fault_Test *) { AzWin_Fail_Create("Progress"); },
     [](Fault_Test *t) { t->Apply(); }, 2, {"file:.\\w_progress line:370", "Unable to create Progress Window"},
     [](Fault_Test *t) {
         EXPECT_EQ(t->obl->Child_Get_Nb(), 10) << "no window: never cancelled, every frame made";
         EXPECT_EQ(t->org->Child_Get_Nb(), 5);
     }},
    {"ApplyWithProgressWindowWithoutRecord", [](Fault_Test *) { AzProgress_Fail_Record(1); },
     [](Fault_Test *t) { t->Apply(); }, 2, {"file:.\\w_progress line:377", "Failed in GetWindowLong()", "*"},
     [](Fault_Test *t) {
         EXPECT_EQ(t->obl->Child_Get_Nb(), 10);
         HWND stray = AzWin_Find("Progress", nullptr); // a window without a record is left to its owner
         ASSERT_NE(stray, nullptr);
         DestroyWindow(stray);
     }},
    {"DirectionFileListRefused", [](Fault_Test *) { Fault_Arm("calloc", 2); }, // the header is made, its list is not
     [](Fault_Test *t) { Oblique_Setup(t->org, t->obl); }, 1,
     {"line 1123 of .\\oblique_ctrl \nmemory error in calloc (var=oblique->dir_file->images, dim=2x8)"},
     [](Fault_Test *t) {
         EXPECT_EQ(t->org->dir_file, nullptr);
         EXPECT_EQ(t->org->dir_image, nullptr) << "the header went with its list";
         EXPECT_EQ(t->org->real_files_nb, 5) << "the source frames stay";
         Oblique_Setup(t->org, t->obl);
         EXPECT_TRUE(t->org->dir_file && t->org->dir_image);
         EXPECT_EQ(t->org->dim.z, 5);
     }},
    {"PaintOnObliqueFrameWithoutMemory",
     [](Fault_Test *t) {
         t->Apply();
         t->frames = Frames_Of(t->obl);
         ASSERT_EQ(t->frames.size(), 10u);
         t->tag_before = *Tag_Of_Frame_3(t);
         ASSERT_NE(t->tag_before, 77);
         Fault_Arm("malloc", 1);
     },
     [](Fault_Test *t) { EXPECT_EQ(AzFrame_Set_TAG(t->frames[3], 1.0f, 2.0f, 77), 0); }, 1,
     {"line 216  of .\\oblique_callback \nmemory error in realloc (var=oblique->update_pt, dim=1x48)"},
     [](Fault_Test *t) {
         EXPECT_EQ(*Tag_Of_Frame_3(t), t->tag_before) << "nothing written";
         EXPECT_EQ(t->obl->update_nb, 0);
         // With memory back the paint lands and reaches the Original frame.
         AzFrame *target = Frames_Of(t->org)[3];
         ASSERT_EQ(target->key, t->study->file->images[t->study->frame_bunch[3]]);
         int updates = target->update_nb;
         EXPECT_EQ(AzFrame_Set_TAG(t->frames[3], 1.0f, 2.0f, 77), 1);
         EXPECT_EQ(*Tag_Of_Frame_3(t), 77);
         EXPECT_EQ(t->obl->update_nb, 1);
         AzHost_Post_Update(AZ_UPDATE_B_FLAG, nullptr, nullptr, nullptr);
         EXPECT_GE(AzHost_Pump(), 1);
         EXPECT_EQ(t->obl->update_nb, 0);
         EXPECT_GT(target->update_nb, updates) << "the change went to the other direction";
         EXPECT_EQ(AzFrame_Get_TAG(target, 3.0f, 2.0f), 77);
     }},
};

} // namespace

TEST_P(Fault_Test, ReportsAndKeepsTheData)
{
    study = Load("Wrist", 10, 6, 5);
    org = Direction(study, 0);
    obl = Direction(study, 1);
    const Fault_Case &c = GetParam();
    c.arm(this);
    console.Clear();
    c.act(this);
    Fault_Disarm();
    AzWin_Fail_Create(nullptr);
    AzProgress_Fail_Record(0);
    std::vector<Console_Line> lines = console.Lines(c.level);
    ASSERT_EQ(lines.size(), c.lines.size()) << Console_Dump(console.Lines());
    for (size_t i = 0; i < lines.size(); i++)
        EXPECT_TRUE(c.lines[i] == "*" ? !lines[i].text.empty() : lines[i].text == c.lines[i]) << lines[i].text;
    console.Clear();
    c.after(this);
    EXPECT_TRUE(console.Lines(1).empty()) << "memory back: no word" << Console_Dump(console.Lines());
}

INSTANTIATE_TEST_SUITE_P(Sites, Fault_Test, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<Fault_Case> &param) { return param.param.name; });

TEST_F(Stress_Test, StudyLoadWhileMemoryRunsOut)
{
    AzStudy_Plan plan = Plan_Of("Foot", 6, 5, 6);
    AzStudy *study = AzStudy_Build(plan); // its frames go in one by one below
    ASSERT_NE(study, nullptr);
    studies.push_back(study);
    console.Clear();
    {
        // No direction classes can be made: every frame is refused.
        Fault_Scope disarm;
        Fault_Always("calloc");
        EXPECT_EQ(AzStudy_Insert(study, AZ_ORDER_ASCENDING, 0), 0);
    }
    EXPECT_EQ(console.Lines(1), std::vector<Console_Line>(6, {1, "line 156  of .\\oblique_class \nmemory error in "
                                                               "calloc (var=oblique_0->real_files_pt, dim=1x8)"}));
    ASSERT_EQ(AzDb_Root()->Child_Get_Nb(), 1);
    Kelvra_Class *study_class = AzDb_Root()->Child_Get_Pt(0);
    EXPECT_EQ(study_class->Child_Get_Nb(), 0);
    // The first frame makes the directions; then the arrays cannot grow.
    console.Clear();
    {
        Fault_Scope disarm;
        EXPECT_EQ(AzDb_Insert(study->file, study->frame_bunch[3], study->frame_slice[3]), 1);
        Fault_Always("realloc");
        for (int s = 0; s < 6; s++)
            EXPECT_TRUE(s == 3 || !AzDb_Insert(study->file, study->frame_bunch[s], study->frame_slice[s])) << s;
    }
    EXPECT_EQ(console.Lines(1), std::vector<Console_Line>(5, {1, "line 100  of .\\oblique_class \nmemory error in "
                                                               "realloc (var=oblique->real_files_pt, dim=2x8)"}));
    ASSERT_EQ(study_class->Child_Get_Nb(), 2);
    Kelvra_Oblique *o = Direction(study, 0);
    ASSERT_EQ(o->real_files_nb, 1);
    // Memory back: the rest goes in, in location order, nothing twice.
    for (int s = 0; s < 6; s++)
        EXPECT_TRUE(s == 3 || AzDb_Insert(study->file, study->frame_bunch[s], study->frame_slice[s])) << s;
    ASSERT_EQ(o->real_files_nb, 6);
    EXPECT_EQ(o->Child_Get_Nb(), 6);
    for (int s = 0; s < 6; s++) {
        EXPECT_EQ(o->real_files_bunch[s], study->frame_bunch[s]) << s;
        EXPECT_TRUE(s == 0 || o->real_files_d[s - 1] < o->real_files_d[s]) << s;
    }
}

TEST_F(Stress_Test, PanelWithoutPreviewWindowOrMemory)
{
    ASSERT_NE(Load("Hand", 16, 12, 8), nullptr);
    // No preview window: the panel comes up and each drawing reports the context.
    AzWin_Fail_Create("TOOL");
    Make_Panel();
    AzWin_Fail_Create(nullptr);
    ASSERT_EQ(image_window, nullptr);
    console.Clear();
    ASSERT_EQ(Ctrl_Draw(), 1);
    std::vector<Console_Line> lines = console.Lines();
    std::vector<Console_Line> context{{11, "file:.\\oblique_ctrl_draw line:54"},
                                      {2, "Error: in YGL_CONTEXT_RGB( box_image )"}};
    EXPECT_NE(std::search(lines.begin(), lines.end(), context.begin(), context.end()), lines.end())
        << Console_Dump(lines);
    EXPECT_EQ(console.Lines(2), std::vector<Console_Line>{context[1]});
    Panel_Destroy(panel);
    // With the preview window but no memory for its images (unrotated: 16 x 12 pixels a slice).
    Make_Panel();
    ASSERT_NE(image_window, nullptr);
    Dir_Cur = 1;
    console.Clear();
    Pointer(box_preview.x + 10, box_preview.y + 10);
    Fault_Always(nullptr);
    EXPECT_EQ(Ctrl_Scroll(nullptr, -1), 1);
    Fault_Disarm();
    EXPECT_EQ(console.Lines(1),
              (std::vector<Console_Line>{
                  {1, "line 50   of .\\oblique_ctrl_ima \nmemory error in realloc (var=Oblique_GLI, dim=192x4)"},
                  {1, "line 94   of .\\oblique_ctrl_ima \nmemory error in realloc (var=Oblique_TAG, dim=192x4)"}}));
    EXPECT_EQ(console.Lines(2).size(), 0u) << "no other failure";
    // Memory back: the next slice builds both images without a word.
    console.Clear();
    EXPECT_EQ(Ctrl_Scroll(nullptr, -1), 1);
    EXPECT_TRUE(console.Lines(1).empty()) << Console_Dump(console.Lines());
}
