/* Class tree, flags, lock counts, variables, iterators and views. */
#include <string.h>

#include <thread>

#include "db_fixture.h"

namespace {

/* Counts its destructions. */
class Counted : public Kelvra_Class {
  public:
    explicit Counted(int *counter) : deaths(counter) {}
    ~Counted() override { (*deaths)++; }
    int *deaths;
};

}  // namespace

TEST_F(Db, ClassTreeKeepsOrderAndDeletesSubtrees)
{
    Kelvra_Class *root = AzDb_Root();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->Class_Magic_Get(), 43706);
    EXPECT_EQ(root->Class_A_Get(), AZ_CLASS_ROOT);
    EXPECT_EQ((Kelvra_Class *)Fct_Variable_Value("$DB_ROOT_PT", nullptr, nullptr, nullptr), root);

    int deaths = 0;
    Kelvra_Class *a = new Counted(&deaths);
    Kelvra_Class *b = new Counted(&deaths);
    Kelvra_Class *c = new Counted(&deaths);
    Kelvra_Class *a1 = new Counted(&deaths);
    a->Name_Set("a%d", 1);
    root->Child_Add(a);
    root->Child_Add(b);
    root->Child_Add(c);
    a->Child_Add(a1);
    EXPECT_EQ(root->Child_Get_Nb(), 3);
    EXPECT_EQ(root->Child_Get_Pt(0), a);
    EXPECT_EQ(root->Child_Get_Pt(1), b);
    EXPECT_EQ(root->Child_Get_Pt(2), c);
    EXPECT_EQ(root->Child_Get_Pt(3), nullptr);
    EXPECT_EQ(root->Child_Get_Pt(-1), nullptr);
    EXPECT_EQ(a1->Parent_Get_Pt(), a);
    EXPECT_EQ(a->Parent_Get_Pt(), root);
    EXPECT_STREQ(a->Name_Get(), "a1");

    /* A view showing a grandchild loses it when the subtree goes. */
    Kelvra_Window *view = AzView_Create("view 1", 5);
    EXPECT_EQ(Database_Current(view, a1), 1);
    Kelvra_Class **frame_cur = (Kelvra_Class **)Fct_Variable_Value("$FRAME_CUR", nullptr, nullptr, nullptr);
    ASSERT_NE(frame_cur, nullptr);
    EXPECT_EQ(frame_cur[5], a1);
    EXPECT_EQ(AzView_Current(view), a1);
    a->Child_Delete();
    EXPECT_EQ(deaths, 1);
    EXPECT_EQ(a->Child_Get_Nb(), 0);
    EXPECT_EQ(frame_cur[5], nullptr);
    EXPECT_EQ(AzView_Current(view), nullptr);

    /* Deleting a class directly takes it out of its parent's list. */
    delete b;
    EXPECT_EQ(deaths, 2);
    EXPECT_EQ(root->Child_Get_Nb(), 2);
    EXPECT_EQ(root->Child_Get_Pt(1), c);

    root->Child_Delete();
    EXPECT_EQ(deaths, 4);
    EXPECT_EQ(root->Child_Get_Nb(), 0);
}

TEST_F(Db, ClassCopyTakesIdentityNotChildren)
{
    Kelvra_Class *root = AzDb_Root();
    Kelvra_Class *source = Make_Class("source", 7, 2);
    root->Child_Add(source);
    source->Child_Add(Make_Class("kid", 3, 3));
    source->Title_Set("T");
    source->Sort_Set("S");
    source->Flag_Set_On(0x10, nullptr, 0x8);
    source->Lock_Set(1);
    source->matrix_pt = new Matrix_4x4;
    source->matrix_pt->translate(1, 2, 3, Matrix_4x4::post);
    source->Pixel_Get_GLI = AzStudy_Pixel_Get_GLI;

    Kelvra_Class copy(*source);
    EXPECT_STREQ(copy.Name_Get(), "source");
    EXPECT_EQ(copy.Class_A_Get(), 7);
    EXPECT_EQ(copy.Class_B_Get(), 2);
    EXPECT_STREQ(copy.Title_Get(), "T");
    EXPECT_STREQ(copy.Sort_Get(), "S");
    EXPECT_EQ(copy.Parent_Get_Pt(), root);
    EXPECT_EQ(copy.Flag_Get_Bit(0x10, nullptr, 0x8), 1);
    EXPECT_EQ(copy.Child_Get_Nb(), 0);
    EXPECT_EQ(copy.Lock_Get(), 0);
    ASSERT_NE(copy.matrix_pt, nullptr);
    EXPECT_NE(copy.matrix_pt, source->matrix_pt);
    EXPECT_TRUE(*copy.matrix_pt == *source->matrix_pt);
    EXPECT_EQ(copy.matrix_inv_pt, nullptr);
    EXPECT_EQ(copy.Pixel_Get_GLI, AzStudy_Pixel_Get_GLI);
    /* The copy is not one of the parent's children. */
    EXPECT_EQ(root->Child_Get_Nb(), 1);
}

TEST_F(Db, FlagsByGroupAndWindow)
{
    Kelvra_Class *root = AzDb_Root();
    Kelvra_Class *study = Make_Class("study", 2, 1);
    Kelvra_Class *dir = Make_Class("dir", 13, 0);
    Kelvra_Class *frame = Make_Class("frame", 3, 3);
    root->Child_Add(study);
    study->Child_Add(dir);
    dir->Child_Add(frame);
    Kelvra_Window *w1 = AzView_Create("w1", 3);
    Kelvra_Window *w2 = AzView_Create("w2", 4);

    dir->Flag_Set_On(0x10, nullptr, 0x4000);
    EXPECT_EQ(dir->Flag_Get_Bit(0x10, nullptr, 0x4000), 1);
    EXPECT_EQ(frame->Flag_Get_Bit(0x10, nullptr, 0x4000), 0);
    EXPECT_EQ(study->Flag_Get_Bit(0x10, nullptr, 0x4000), 0);
    EXPECT_EQ(dir->Flag_Get_Bit(0x10, w1, 0x4000), 0);

    dir->Flag_Set_On(0x20, nullptr, 0x2);
    EXPECT_EQ(dir->Flag_Get_Bit(0x10, nullptr, 0x2), 0);
    EXPECT_EQ(frame->Flag_Get_Bit(0x10, nullptr, 0x2), 1);

    dir->Flag_Set_On(0x40, nullptr, 0x1);
    EXPECT_EQ(dir->Flag_Get_Bit(0x10, nullptr, 0x1), 0);
    EXPECT_EQ(study->Flag_Get_Bit(0x10, nullptr, 0x1), 1);
    EXPECT_EQ(root->Flag_Get_Bit(0x10, nullptr, 0x1), 1);
    EXPECT_EQ(frame->Flag_Get_Bit(0x10, nullptr, 0x1), 0);

    /* Per-window words are separate from the class's own word. */
    dir->Flag_Set_On(0x30, w1, 0x200);
    EXPECT_EQ(dir->Flag_Get_Bit(0x10, w1, 0x200), 1);
    EXPECT_EQ(frame->Flag_Get_Bit(0x10, w1, 0x200), 1);
    EXPECT_EQ(dir->Flag_Get_Bit(0x10, w2, 0x200), 0);
    EXPECT_EQ(dir->Flag_Get_Bit(0x10, nullptr, 0x200), 0);

    /* Off by group: 0x30 from the root clears the whole tree. */
    root->Flag_Set_Off(0x30, nullptr, 0x4000 | 0x2 | 0x1);
    for (Kelvra_Class *cls : {root, study, dir, frame})
        EXPECT_EQ(cls->Flag_Get_Bit(0x10, nullptr, 0x4003), 0) << cls->Name_Get();
    EXPECT_EQ(frame->Flag_Get_Bit(0x10, w1, 0x200), 1);
    dir->Flag_Set_Off(0x10, w1, 0x200);
    EXPECT_EQ(dir->Flag_Get_Bit(0x10, w1, 0x200), 0);
    EXPECT_EQ(frame->Flag_Get_Bit(0x10, w1, 0x200), 1);

    /* A window that goes is no longer iterated or shown. */
    Database_Current(w1, dir);
    ASSERT_EQ(Iterator_Init(3, "views", nullptr), 1);
    AzView_Destroy(w1);
    EXPECT_EQ(Iterator_Window(3, 0), w2);
    EXPECT_EQ(Iterator_Window(3, 0), nullptr);
    Iterator_End(3);
    EXPECT_EQ(AzDb_Frame_Cur()[3], dir);  // the table is per class id, not per window
}

TEST_F(Db, LockCountsUnderTheAccessLockFromTwoThreads)
{
    Kelvra_Class *cls = Make_Class("locked", 13, 0);
    AzDb_Root()->Child_Add(cls);
    EXPECT_EQ(cls->Lock_Get(), 0);

    /* A plain counter changed only under the access lock stays exact. */
    long shared = 0;
    auto work = [&](int delta) {
        for (int i = 0; i < 20000; i++) {
            Access_Init("test");
            long v = shared;
            cls->Lock_Set(delta);
            shared = v + 1;
            Access_End("test");
        }
    };
    std::thread one(work, 1), two(work, 2);
    one.join();
    two.join();
    EXPECT_EQ(shared, 40000);
    EXPECT_EQ(cls->Lock_Get(), 60000);

    /* The access lock is recursive. */
    Access_Init("outer");
    Access_Init("inner");
    cls->Lock_Set(-60000);
    Access_End("inner");
    Access_End("outer");
    EXPECT_EQ(cls->Lock_Get(), 0);

    /* The class mutex is held from Open to Close: a counter changed only
     * between them stays exact too. */
    long guarded = 0;
    auto paint = [&] {
        for (int i = 0; i < 20000; i++) {
            cls->Mutex_Open("label");
            long v = guarded;
            guarded = v + 1;
            cls->Mutex_Close("label");
        }
    };
    std::thread three(paint), four(paint);
    three.join();
    four.join();
    EXPECT_EQ(guarded, 40000);
}

TEST_F(Db, VariablesGiveValuesAddressesAndBytes)
{
    EXPECT_EQ(Fct_Variable_Value("$INTERFACE_TOOL_WIDTH", nullptr, nullptr, nullptr), 200);
    EXPECT_EQ(Fct_Variable_Value("$INTERFACE_SPACE_DIM", nullptr, nullptr, nullptr), 4);
    EXPECT_EQ(Fct_Variable_Value("$INTERFACE_BUTTON_DIM_BIG", nullptr, nullptr, nullptr), 20);
    EXPECT_EQ(Fct_Variable_Value("$INTERFACE_TITLE_DIM_BIG", nullptr, nullptr, nullptr), 20);
    EXPECT_EQ(Fct_Variable_Value("$INTERFACE_VAL_DIM_MID", nullptr, nullptr, nullptr), 16);
    EXPECT_EQ(Fct_Variable_Value("$INTERFACE_VAL_DIM_SML", nullptr, nullptr, nullptr), 12);
    EXPECT_EQ(Fct_Variable_Value("$INTERFACE_LIST_DIM_SML", nullptr, nullptr, nullptr), 20);
    EXPECT_EQ(Fct_Variable_Value("$INTERFACE_LIST_DIM_ARROW", nullptr, nullptr, nullptr), 12);
    EXPECT_EQ(Fct_Variable_Value("$INTERFACE_BORDER_DIM", nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(Fct_Variable_Value("$INTERFACE_TITLE_FONT_WEIGHT", nullptr, nullptr, nullptr), 700);
    EXPECT_EQ(Fct_Variable_Value("$INTERFACE_TOOL_FONT_WEIGHT", nullptr, nullptr, nullptr), 400);
    EXPECT_EQ(Fct_Variable_Value("$INTERFACE_TITLE_FONT_SCALE", nullptr, nullptr, nullptr), 10);
    EXPECT_EQ(Fct_Variable_Value("$INTERFACE_TOOL_FONT_SCALE", nullptr, nullptr, nullptr), 9);
    EXPECT_STREQ((const char *)Fct_Variable_Value("$INTERFACE_TITLE_FONT_NAME", nullptr, nullptr, nullptr), "arial");
    EXPECT_STREQ((const char *)Fct_Variable_Value("$INTERFACE_TOOL_FONT_NAME", nullptr, nullptr, nullptr), "arial");
    EXPECT_EQ(Fct_Variable_Value("$WINDOW_CUR", nullptr, nullptr, nullptr), 0);
    /* Other parts of the library register theirs at set-up too, again after a reset. */
    EXPECT_NE(Fct_Variable_Get("$TAG_NB", nullptr, nullptr, nullptr, 0), nullptr);
    EXPECT_NE(Fct_Variable_Get("$COLORMAP_GLI_INVALID", nullptr, nullptr, nullptr, 0), nullptr);

    /* Script mode. */
    EXPECT_EQ(Script_Flag_Get(), 0u);
    AzHost_Script_Flag_Set(0x20);
    EXPECT_EQ(Script_Flag_Get(), 0x20u);

    /* Unknown names. */
    EXPECT_EQ(Fct_Variable_Value("$NO_SUCH", nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(Fct_Variable_Get("$NO_SUCH", nullptr, nullptr, nullptr, 0), nullptr);

    /* Own storage: Get gives its address, writing there changes the value. */
    AzVar_Set("$TEST_NUMBER", 41);
    intptr_t *slot = (intptr_t *)Fct_Variable_Get("$TEST_NUMBER", nullptr, nullptr, nullptr, 0);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(*slot, 41);
    *slot = 42;
    EXPECT_EQ(Fct_Variable_Value("$TEST_NUMBER", nullptr, nullptr, nullptr), 42);
    AzVar_Set("$TEST_OTHER", 1);
    AzVar_Set("$TEST_NUMBER", 43);
    EXPECT_EQ(Fct_Variable_Get("$TEST_NUMBER", nullptr, nullptr, nullptr, 0), (void *)slot);
    EXPECT_EQ(*slot, 43);

    /* Bound storage. */
    intptr_t outside = 7;
    AzVar_Bind("$TEST_BOUND", &outside);
    EXPECT_EQ(Fct_Variable_Get("$TEST_BOUND", nullptr, nullptr, nullptr, 0), (void *)&outside);
    outside = 8;
    EXPECT_EQ(Fct_Variable_Value("$TEST_BOUND", nullptr, nullptr, nullptr), 8);

    /* The interface lock byte: Get gives the byte, Value reads only it. */
    unsigned char *focus =
        (unsigned char *)Fct_Variable_Get("$INTERFACE_LOCK_FOCUS", nullptr, nullptr, nullptr, 0);
    ASSERT_NE(focus, nullptr);
    EXPECT_EQ(focus, AzDb_Lock_Focus());
    EXPECT_EQ(Fct_Variable_Value("$INTERFACE_LOCK_FOCUS", nullptr, nullptr, nullptr), 0);
    *focus = 1;
    EXPECT_EQ(Fct_Variable_Value("$INTERFACE_LOCK_FOCUS", nullptr, nullptr, nullptr), 1);
    *focus = 0;

    AzVar_Remove("$TEST_NUMBER");
    EXPECT_EQ(Fct_Variable_Get("$TEST_NUMBER", nullptr, nullptr, nullptr, 0), nullptr);

    /* The insert chain tables. */
    Kelvra_Insert_Fct *tree = (Kelvra_Insert_Fct *)Fct_Variable_Value("$DB_TREE_PT", nullptr, nullptr, nullptr);
    unsigned short *ids = (unsigned short *)Fct_Variable_Value("$DB_TREE_ID", nullptr, nullptr, nullptr);
    ASSERT_NE(tree, nullptr);
    ASSERT_NE(ids, nullptr);
    EXPECT_EQ(tree[1], AzDb_Study_Insert);
    EXPECT_EQ(tree[2], AzDb_Frame_Insert);
    EXPECT_EQ(tree[3], nullptr);
    EXPECT_EQ(ids[1], 1);
    EXPECT_EQ(ids[2], 3);
    Kelvra_Insert_Fct module_insert = AzDb_Frame_Insert;  // any insert function stands in for the module's
    AzDb_Tree_Default(module_insert);
    tree = (Kelvra_Insert_Fct *)Fct_Variable_Value("$DB_TREE_PT", nullptr, nullptr, nullptr);
    ids = (unsigned short *)Fct_Variable_Value("$DB_TREE_ID", nullptr, nullptr, nullptr);
    EXPECT_EQ(AzDb_Tree_Levels(), 4);
    EXPECT_EQ(tree[1], AzDb_Study_Insert);
    EXPECT_EQ(tree[2], module_insert);
    EXPECT_EQ(tree[3], AzDb_Frame_Insert);
    EXPECT_EQ(ids[0], 0);
    EXPECT_EQ(ids[1], 1);
    EXPECT_EQ(ids[2], 0);
    EXPECT_EQ(ids[3], 3);
}

TEST_F(Db, IteratorsFilterByTypeAndKeepSlotsApart)
{
    Kelvra_Class *root = AzDb_Root();
    Kelvra_Class *s1 = Make_Class("s1", 2, 1);
    Kelvra_Class *s2 = Make_Class("s2", 2, 1);
    Kelvra_Class *o1 = Make_Class("o1", 13, 0);
    Kelvra_Class *b1 = Make_Class("b1", 14, 0);
    Kelvra_Class *o2 = Make_Class("o2", 13, 0);
    Kelvra_Class *o2m = Make_Class("o2 mode 1", 13, 1);
    root->Child_Add(s1);
    root->Child_Add(s2);
    s1->Child_Add(o1);
    s1->Child_Add(b1);
    s2->Child_Add(o2);
    s2->Child_Add(o2m);
    Kelvra_Window *w1 = AzView_Create("w1", 3);
    Kelvra_Window *w2 = AzView_Create("w2", 4, 0);

    ASSERT_EQ(Iterator_Init(2, "panel", nullptr), 1);
    ASSERT_EQ(Iterator_Init(4, "apply", nullptr), 1);
    EXPECT_EQ(Iterator_Class(2, 0xD0000, nullptr, 0), o1);
    /* The other slot starts from the beginning on its own. */
    EXPECT_EQ(Iterator_Class(4, 0xD0000, nullptr, 0), o1);
    EXPECT_EQ(Iterator_Class(2, 0xD0000, nullptr, 0), o2);
    EXPECT_EQ(Iterator_Class(2, 0xD0000, nullptr, 0), nullptr);
    EXPECT_EQ(Iterator_Class(4, 0xD0001, nullptr, 0), o2m);
    EXPECT_EQ(Iterator_Window(4, 0), w1);
    EXPECT_EQ(Iterator_Window(4, 0), w2);
    EXPECT_EQ(Iterator_Window(4, 0), nullptr);
    EXPECT_EQ(w2->Class_A_Get(), 0);
    EXPECT_EQ(Iterator_End(2), 1);
    EXPECT_EQ(Iterator_Class(2, 0xD0000, nullptr, 0), nullptr);
    EXPECT_EQ(Iterator_End(4), 1);

    /* A subtree, and a class deleted during the iteration is skipped. */
    ASSERT_EQ(Iterator_Init(5, "worker", s2), 1);
    delete o2;
    EXPECT_EQ(Iterator_Class(5, 0xD0001, nullptr, 0), o2m);
    EXPECT_EQ(Iterator_End(5), 1);
    ASSERT_EQ(Iterator_Init(5, "worker", s2), 1);
    EXPECT_EQ(Iterator_Class(5, 0xD0000, nullptr, 0), nullptr);
    /* One cursor per slot: after the end, a new Init starts again. */
    EXPECT_EQ(Iterator_Class(5, 0x20001, nullptr, 0), nullptr);
    ASSERT_EQ(Iterator_Init(5, "worker", s2), 1);
    EXPECT_EQ(Iterator_Class(5, 0x20001, nullptr, 0), s2);
    Iterator_End(5);

    /* Slots 0 to 7 only. */
    EXPECT_EQ(Iterator_Init(8, "bad", nullptr), 0);
    EXPECT_EQ(Iterator_Init(-1, "bad", nullptr), 0);
    EXPECT_EQ(Iterator_Class(8, 0xD0000, nullptr, 0), nullptr);
    EXPECT_EQ(Iterator_Init(7, "last", nullptr), 1);
    EXPECT_EQ(Iterator_Class(7, 0x20001, nullptr, 0), s1);
    Iterator_End(7);
}

TEST_F(Db, DatabaseCurrentMarksTheShownClass)
{
    Kelvra_Class *root = AzDb_Root();
    Kelvra_Class *k0 = Make_Class("k0", 13, 0);
    Kelvra_Class *k1 = Make_Class("k1", 14, 0);
    root->Child_Add(k0);
    root->Child_Add(k1);
    Kelvra_Window *w1 = AzView_Create("w1", 3);
    Kelvra_Window *w2 = AzView_Create("w2", 4);
    Kelvra_Class **frame_cur = AzDb_Frame_Cur();

    EXPECT_EQ(Database_Current(w1, k0), 1);
    EXPECT_EQ(Database_Current(w2, k0), 1);
    EXPECT_EQ(frame_cur[3], k0);
    EXPECT_EQ(frame_cur[4], k0);
    EXPECT_EQ(k0->Flag_Get_Bit(16, w1, 0x100), 1);
    EXPECT_EQ(k0->Flag_Get_Bit(16, w2, 0x100), 1);
    EXPECT_EQ(k0->Flag_Get_Bit(16, nullptr, 0x100), 1);
    EXPECT_EQ(k1->Flag_Get_Bit(16, nullptr, 0x100), 0);

    /* w1 moves on: k0 is still shown in w2. */
    Database_Current(w1, k1);
    EXPECT_EQ(frame_cur[3], k1);
    EXPECT_EQ(k0->Flag_Get_Bit(16, w1, 0x100), 0);
    EXPECT_EQ(k0->Flag_Get_Bit(16, nullptr, 0x100), 1);
    EXPECT_EQ(k1->Flag_Get_Bit(16, w1, 0x100), 1);
    Database_Current(w2, k1);
    EXPECT_EQ(k0->Flag_Get_Bit(16, nullptr, 0x100), 0);
    EXPECT_EQ(AzView_Current(w2), k1);
    EXPECT_EQ(Database_Current(nullptr, k1), 0);
}

namespace {

/* A middle level standing in for a module: records what reaches it and
 * files the frame under a class of its own. */
struct Middle_Call {
    Kelvra_Class *parent;
    unsigned short level;
    int bunch, slice;
};
std::vector<Middle_Call> middle_calls;

int Middle_Insert(Kelvra_File *file, int bunch, int slice, Kelvra_Class *parent, unsigned short level)
{
    middle_calls.push_back({parent, level, bunch, slice});
    unsigned short *ids = (unsigned short *)Fct_Variable_Value("$DB_TREE_ID", nullptr, nullptr, nullptr);
    Kelvra_Insert_Fct *tree = (Kelvra_Insert_Fct *)Fct_Variable_Value("$DB_TREE_PT", nullptr, nullptr, nullptr);
    if (parent->Child_Get_Nb() == 0)
        parent->Child_Add(Make_Class("middle", 13, ids[level]));
    return tree[level + 1](file, bunch, slice, parent->Child_Get_Pt(0), (unsigned short)(level + 1));
}

}  // namespace

TEST_F(Db, InsertChainPassesFramesDown)
{
    AzDb_Tree_Default(Middle_Insert);
    middle_calls.clear();
    AzStudy_Plan plan = Plan_Of("Phantom", 5, 4, 3);
    AzStudy *study = AzStudy_Build(plan);
    EXPECT_EQ(AzStudy_Insert(study, AZ_ORDER_DESCENDING, 0), 3);
    ASSERT_EQ(middle_calls.size(), 3u);
    Kelvra_Class *study_class = AzDb_Root()->Child_Get_Pt(0);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(middle_calls[i].parent, study_class);
        EXPECT_EQ(middle_calls[i].level, 2);
        EXPECT_EQ(middle_calls[i].bunch, 2 - i);
        EXPECT_EQ(middle_calls[i].slice, 0);
    }
    Kelvra_Class *middle = study_class->Child_Get_Pt(0);
    EXPECT_EQ(study_class->Child_Get_Nb(), 1);
    EXPECT_EQ(middle->Class_B_Get(), 0);
    ASSERT_EQ(middle->Child_Get_Nb(), 3);
    AzFrame *frame = AzFrame_Cast(middle->Child_Get_Pt(0));
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->Class_B_Get(), 3);
    EXPECT_EQ(frame->key, study->file->images[2]);
    /* The frames read their pixels through the middle class, which has no
     * callbacks of its own here. */
    EXPECT_EQ(AzFrame_Get_GLI(frame, 0, 0), 2147483646);
    EXPECT_EQ(AzFrame_Get_TAG(frame, 0, 0), 0);

    /* No chain: nothing enters. */
    AzDb_Tree_Set(0, nullptr, nullptr);
    EXPECT_EQ(AzDb_Insert(study->file, 0, 0), 0);
    EXPECT_EQ(AzDb_Tree_Levels(), 0);
    AzStudy_Free(study);
}
