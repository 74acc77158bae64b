/* Failures met in the middle of whole operations: the message and its
 * level, and the data the operation leaves behind. */
#include <algorithm>

#include "stress_fixture.h"
#include "tests/support/fault.h"

namespace {

class Faults : public Stress_Test {
  protected:
    /* Direction classes of a loaded study, set up. */
    void Set_Up(AzStudy *study)
    {
        org = Direction(study, 0);
        obl = Direction(study, 1);
        ASSERT_TRUE(org && obl);
        Oblique_Setup(org, obl);
        Swap_Direction(obl, study->plan.width, study->plan.height, study->plan.slices);
    }
    Kelvra_Oblique *org = nullptr;
    Kelvra_Oblique *obl = nullptr;
};

}  // namespace

TEST_F(Faults, ApplyWithoutProgressWindowStillBuilds)
{
    AzStudy *a = Load("Wrist", 10, 6, 5);
    Set_Up(a);
    console.Clear();
    AzWin_Fail_Create("Progress");
    ASSERT_EQ(Ctrl_Apply(1, org, 1, obl), 1);
    AzWin_Fail_Create(nullptr);
    std::vector<Console_Line> errors = console.Lines(2);
    std::vector<Console_Line> expected{{2, "file:.\\w_progress line:370"}, {2, "Unable to create Progress Window"}};
    EXPECT_EQ(errors, expected) << Console_Dump(console.Lines());
    ASSERT_EQ(Wait(), 1);
    EXPECT_EQ(obl->Child_Get_Nb(), 10) << "no window: never cancelled, every frame made";
    EXPECT_EQ(org->Child_Get_Nb(), 5);
    EXPECT_EQ(AzWin_Count(), windows_before);

}

TEST_F(Faults, ApplyWithProgressWindowWithoutRecord)
{
    AzStudy *a = Load("Wrist", 10, 6, 5);
    Set_Up(a);
    console.Clear();
    AzProgress_Fail_Record(1);
    ASSERT_EQ(Ctrl_Apply(1, org, 1, obl), 1);
    AzProgress_Fail_Record(0);
    std::vector<Console_Line> errors = console.Lines(2);
    ASSERT_EQ(errors.size(), 3u) << Console_Dump(console.Lines());
    EXPECT_EQ(errors[0], (Console_Line{2, "file:.\\w_progress line:377"}));
    EXPECT_EQ(errors[1], (Console_Line{2, "Failed in GetWindowLong()"}));
    EXPECT_FALSE(errors[2].text.empty()) << "the system's text of the error";
    ASSERT_EQ(Wait(), 1);
    EXPECT_EQ(obl->Child_Get_Nb(), 10);
    // The window without a record is left to its owner.
    HWND stray = AzWin_Find("Progress", nullptr);
    ASSERT_NE(stray, nullptr);
    DestroyWindow(stray);

}

TEST_F(Faults, DirectionFileListRefused)
{
    AzStudy *a = Load("Ankle", 8, 6, 4);
    Kelvra_Oblique *o = Direction(a, 0), *b = Direction(a, 1);
    ASSERT_TRUE(o && b);
    console.Clear();
    {
        Fault_Scope disarm;
        Fault_Arm("calloc", 2);   // the header is made, its list is not
        Oblique_Setup(o, b);
    }
    std::vector<Console_Line> memory = console.Lines(1);
    std::vector<Console_Line> expected{
        {1, "line 1123 of .\\oblique_ctrl \nmemory error in calloc (var=oblique->dir_file->images, dim=2x8)"}};
    EXPECT_EQ(memory, expected) << Console_Dump(console.Lines());
    EXPECT_EQ(o->dir_file, nullptr);
    EXPECT_EQ(o->dir_image, nullptr) << "the header went with its list";
    EXPECT_EQ(o->real_files_nb, 4) << "the source frames stay";
    // Memory is back: the next set-up makes both.
    console.Clear();
    Oblique_Setup(o, b);
    EXPECT_TRUE(console.Lines(1).empty());
    EXPECT_NE(o->dir_file, nullptr);
    EXPECT_NE(o->dir_image, nullptr);
    EXPECT_EQ(o->dim.z, 4);
}

TEST_F(Faults, PaintOnObliqueFrameWithoutMemory)
{
    AzStudy *a = Load("Elbow", 10, 6, 5);
    Set_Up(a);
    AzHost_Script_Flag_Set(0x20);
    ASSERT_EQ(Ctrl_Apply(1, org, 1, obl), 1);
    ASSERT_EQ(Wait(), 1);
    std::vector<AzFrame *> frames = Frames_Of(obl);
    ASSERT_EQ(frames.size(), 10u);
    // Oblique frame 3, pixel (1, 2): source column 3, row 2, slice 5 - 1 - 1 = 3.
    Vexa_Image *image = a->file->images[a->frame_bunch[3]];
    uint8_t *tags = AzImage_TAG_Plane(image, 0, 0);
    uint8_t before = tags[2 * 10 + 3];
    ASSERT_EQ(obl->update_nb, 0);
    console.Clear();
    {
        Fault_Scope disarm;
        Fault_Arm("malloc", 1);
        EXPECT_EQ(AzFrame_Set_TAG(frames[3], 1.0f, 2.0f, 77), 0);
    }
    std::vector<Console_Line> expected{
        {1, "line 216  of .\\oblique_callback \nmemory error in realloc (var=oblique->update_pt, dim=1x48)"}};
    EXPECT_EQ(console.Lines(1), expected) << Console_Dump(console.Lines());
    EXPECT_EQ(tags[2 * 10 + 3], before) << "nothing written";
    EXPECT_EQ(obl->update_nb, 0);
    Pump();

    // With memory back the paint lands and reaches the Original frame.
    std::vector<AzFrame *> source = Frames_Of(org);
    AzFrame *target = nullptr;
    for (AzFrame *f : source)
        if (f && f->key == image)
            target = f;
    ASSERT_NE(target, nullptr);
    int updates = target->update_nb;
    EXPECT_EQ(AzFrame_Set_TAG(frames[3], 1.0f, 2.0f, 77), 1);
    EXPECT_EQ(tags[2 * 10 + 3], 77);
    EXPECT_EQ(obl->update_nb, 1);
    AzHost_Post_Update(AZ_UPDATE_B_FLAG, nullptr, nullptr, nullptr);
    EXPECT_GE(AzHost_Pump(), 1);
    EXPECT_EQ(obl->update_nb, 0);
    EXPECT_GT(target->update_nb, updates) << "the change went to the other direction";
    EXPECT_EQ(AzFrame_Get_TAG(target, 3.0f, 2.0f), 77);

}

TEST_F(Faults, StudyLoadWhileMemoryRunsOut)
{
    AzStudy_Plan plan = Plan_Of("Foot", 6, 5, 6);
    AzStudy *study = AzStudy_Build(plan);
    ASSERT_NE(study, nullptr);
    studies.push_back(study);
    console.Clear();
    {
        // No direction classes can be made: every frame is refused.
        Fault_Scope disarm;
        Fault_Always("calloc");
        EXPECT_EQ(AzStudy_Insert(study, AZ_ORDER_ASCENDING, 0), 0);
    }
    std::vector<Console_Line> memory = console.Lines(1);
    ASSERT_EQ(memory.size(), 6u) << Console_Dump(console.Lines());
    for (const Console_Line &line : memory)
        EXPECT_EQ(line.text, "line 156  of .\\oblique_class \nmemory error in calloc (var=oblique_0->real_files_pt, "
                             "dim=1x8)");
    ASSERT_EQ(AzDb_Root()->Child_Get_Nb(), 1);
    Kelvra_Class *study_class = AzDb_Root()->Child_Get_Pt(0);
    EXPECT_EQ(study_class->Child_Get_Nb(), 0);

    // The first frame makes the directions; then the arrays cannot grow.
    console.Clear();
    {
        Fault_Scope disarm;
        EXPECT_EQ(AzDb_Insert(study->file, study->frame_bunch[3], study->frame_slice[3]), 1);
        Fault_Always("realloc");
        for (int s = 0; s < 6; s++) {
            if (s != 3) {
                EXPECT_EQ(AzDb_Insert(study->file, study->frame_bunch[s], study->frame_slice[s]), 0) << s;
            }
        }
    }
    memory = console.Lines(1);
    ASSERT_EQ(memory.size(), 5u) << Console_Dump(console.Lines());
    for (const Console_Line &line : memory)
        EXPECT_EQ(line.text,
                  "line 100  of .\\oblique_class \nmemory error in realloc (var=oblique->real_files_pt, dim=2x8)");
    ASSERT_EQ(study_class->Child_Get_Nb(), 2);
    Kelvra_Oblique *o = (Kelvra_Oblique *)study_class->Child_Get_Pt(0);
    ASSERT_EQ(o->real_files_nb, 1);
    EXPECT_EQ(o->Child_Get_Nb(), 1);

    // Memory back: the rest goes in, in location order, nothing twice.
    for (int s = 0; s < 6; s++) {
        if (s != 3) {
            EXPECT_EQ(AzDb_Insert(study->file, study->frame_bunch[s], study->frame_slice[s]), 1) << s;
        }
    }
    ASSERT_EQ(o->real_files_nb, 6);
    EXPECT_EQ(o->Child_Get_Nb(), 6);
    for (int s = 0; s < 6; s++) {
        EXPECT_EQ(o->real_files_bunch[s], study->frame_bunch[s]) << s;
        if (s > 0) {
            EXPECT_LT(o->real_files_d[s - 1], o->real_files_d[s]);
        }
    }
    Pump();

}

TEST_F(Faults, PanelWithoutPreviewWindowOrMemory)
{
    AzStudy *a = Load("Hand", 16, 12, 8);
    ASSERT_NE(a, nullptr);
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
    auto found = std::search(lines.begin(), lines.end(), context.begin(), context.end());
    EXPECT_NE(found, lines.end()) << Console_Dump(lines);
    EXPECT_EQ(console.Lines(2), std::vector<Console_Line>{context[1]});
    Ctrl_Close();
    DestroyWindow(panel);
    panel = nullptr;

    // With the preview window but no memory for its images.
    Make_Panel();
    ASSERT_NE(image_window, nullptr);
    Dir_Cur = 1;
    // Unrotated, the Oblique direction of a 16 x 12 study has 16 x 12 pixels per slice.
    console.Clear();
    {
        Fault_Scope disarm;
        Fault_Always(nullptr);
        Pointer(box_preview.x + 10, box_preview.y + 10);
        EXPECT_EQ(Ctrl_Scroll(nullptr, -1), 1);
    }
    std::vector<Console_Line> memory = console.Lines(1);
    ASSERT_EQ(memory.size(), 2u) << Console_Dump(console.Lines());
    EXPECT_EQ(memory[0].text, "line 50   of .\\oblique_ctrl_ima \nmemory error in realloc (var=Oblique_GLI, dim=192x4)");
    EXPECT_EQ(memory[1].text, "line 94   of .\\oblique_ctrl_ima \nmemory error in realloc (var=Oblique_TAG, dim=192x4)");
    EXPECT_EQ(console.Lines(2).size(), 0u) << "no other failure";
    // Memory back: the next slice builds both images without a word.
    console.Clear();
    EXPECT_EQ(Ctrl_Scroll(nullptr, -1), 1);
    EXPECT_TRUE(console.Lines(1).empty()) << Console_Dump(console.Lines());
    Pump();

}
