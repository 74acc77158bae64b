/* Class tree, flags, lock counts, variables, iterators and views. */
#include <thread>
#include <tuple>

#include "db_fixture.h"

namespace {

/* Counts its destructions. */
class Counted : public Kelvra_Class {
  public:
    explicit Counted(Kelvra_Class *parent, int *counter) : deaths(counter) { parent->Child_Add(this); }
    ~Counted() override { (*deaths)++; }
    int *deaths;
};

intptr_t Value(const char *name) { return Fct_Variable_Value(name, nullptr, nullptr, nullptr); }
void *Address(const char *name) { return Fct_Variable_Get(name, nullptr, nullptr, nullptr, 0); }

} // namespace

TEST_F(Db, ClassTreeKeepsOrderAndDeletesSubtrees)
{
    Kelvra_Class *root = AzDb_Root();
    ASSERT_NE(root, nullptr);
    EXPECT_TRUE(root->Class_Magic_Get() == 43706 && root->Class_A_Get() == AZ_CLASS_ROOT);
    EXPECT_EQ((Kelvra_Class *)Value("$DB_ROOT_PT"), root);
    int deaths = 0;
    Kelvra_Class *a = new Counted(root, &deaths), *b = new Counted(root, &deaths), *c = new Counted(root, &deaths);
    Kelvra_Class *a1 = new Counted(a, &deaths);
    a->Name_Set("a%d", 1);
    EXPECT_STREQ(a->Name_Get(), "a1");
    EXPECT_TRUE(root->Child_Get_Nb() == 3 && root->Child_Get_Pt(0) == a && root->Child_Get_Pt(1) == b &&
                root->Child_Get_Pt(2) == c);
    EXPECT_TRUE(root->Child_Get_Pt(3) == nullptr && root->Child_Get_Pt(-1) == nullptr);
    EXPECT_TRUE(a1->Parent_Get_Pt() == a && a->Parent_Get_Pt() == root);

    /* A view showing a grandchild loses it when the subtree goes. */
    Kelvra_Window *view = AzView_Create("view 1", 5);
    EXPECT_EQ(Database_Current(view, a1), 1);
    Kelvra_Class **frame_cur = (Kelvra_Class **)Value("$FRAME_CUR");
    ASSERT_EQ(frame_cur, AzDb_Frame_Cur());
    EXPECT_EQ(frame_cur[5], a1);
    a->Child_Delete();
    EXPECT_TRUE(deaths == 1 && a->Child_Get_Nb() == 0);
    EXPECT_TRUE(frame_cur[5] == nullptr && AzView_Current(view) == nullptr);
    delete b;  // deleting a class directly takes it out of its parent's list
    EXPECT_TRUE(root->Child_Get_Nb() == 2 && root->Child_Get_Pt(1) == c);
    /* A copy takes the identity with its own matrix, neither children nor lock count, and is no child. */
    c->Lock_Set(1), c->Title_Set("T");
    c->matrix_pt = new Matrix_4x4;
    c->matrix_pt->translate(1, 2, 3, Matrix_4x4::post);
    Kelvra_Class copy(*c);
    EXPECT_TRUE(copy.Parent_Get_Pt() == root && copy.Lock_Get() == 0 && copy.Child_Get_Nb() == 0);
    EXPECT_STREQ(copy.Title_Get(), "T");
    ASSERT_TRUE(copy.matrix_pt && copy.matrix_pt != c->matrix_pt && *copy.matrix_pt == *c->matrix_pt);
    EXPECT_EQ(root->Child_Get_Nb(), 2);
    c->Lock_Set(-1);
    root->Child_Delete();
    EXPECT_TRUE(deaths == 4 && root->Child_Get_Nb() == 0);
}

TEST_F(Db, FlagsByGroupAndWindow)
{
    Kelvra_Class *root = AzDb_Root(), *study = Make_Class("study", 2, 1, root), *dir = Make_Class("dir", 13, 0, study),
                 *frame = Make_Class("frame", 3, 3, dir);
    Kelvra_Window *w1 = AzView_Create("w1", 3), *w2 = AzView_Create("w2", 4);
    /* 0x10 the class itself, 0x20 its children, 0x40 its parents; per window or the class's own word. */
    dir->Flag_Set_On(0x10, nullptr, 0x4000);
    dir->Flag_Set_On(0x20, nullptr, 0x2);
    dir->Flag_Set_On(0x40, nullptr, 0x1);
    dir->Flag_Set_On(0x30, w1, 0x200);
    const std::tuple<Kelvra_Class *, Kelvra_Window *, unsigned, int> rows[] = {
        {dir, nullptr, 0x4000, 1},  {frame, nullptr, 0x4000, 0}, {study, nullptr, 0x4000, 0},
        {dir, w1, 0x4000, 0},       {dir, nullptr, 0x2, 0},      {frame, nullptr, 0x2, 1},
        {dir, nullptr, 0x1, 0},     {study, nullptr, 0x1, 1},    {root, nullptr, 0x1, 1},
        {frame, nullptr, 0x1, 0},   {dir, w1, 0x200, 1},         {frame, w1, 0x200, 1},
        {dir, w2, 0x200, 0},        {dir, nullptr, 0x200, 0}};
    for (const auto &[cls, window, bit, on] : rows)
        EXPECT_EQ(cls->Flag_Get_Bit(0x10, window, bit), on) << cls->Name_Get() << " " << bit;
    /* Off by group: 0x30 from the root clears the whole tree's own words. */
    root->Flag_Set_Off(0x30, nullptr, 0x4000 | 0x2 | 0x1);
    for (Kelvra_Class *cls : {root, study, dir, frame})
        EXPECT_EQ(cls->Flag_Get_Bit(0x10, nullptr, 0x4003), 0) << cls->Name_Get();
    dir->Flag_Set_Off(0x10, w1, 0x200);
    EXPECT_TRUE(dir->Flag_Get_Bit(0x10, w1, 0x200) == 0 && frame->Flag_Get_Bit(0x10, w1, 0x200) == 1);
    /* Database_Current marks the shown class per window (0x100) and in its own word while any
     * window shows it. */
    Kelvra_Class **frame_cur = AzDb_Frame_Cur();
    EXPECT_TRUE(Database_Current(w1, dir) == 1 && Database_Current(w2, dir) == 1);
    EXPECT_TRUE(frame_cur[3] == dir && frame_cur[4] == dir && dir->Flag_Get_Bit(16, w2, 0x100) == 1);
    Database_Current(w1, frame);
    EXPECT_TRUE(frame_cur[3] == frame && AzView_Current(w1) == frame);
    EXPECT_TRUE(dir->Flag_Get_Bit(16, w1, 0x100) == 0 && dir->Flag_Get_Bit(16, nullptr, 0x100) == 1);
    Database_Current(w2, frame);
    EXPECT_TRUE(dir->Flag_Get_Bit(16, nullptr, 0x100) == 0 && frame->Flag_Get_Bit(16, nullptr, 0x100) == 1);
    EXPECT_EQ(Database_Current(nullptr, frame), 0);
    /* A window that goes is no longer iterated; the shown table is per class id, not per window. */
    ASSERT_EQ(Iterator_Init(3, "views", nullptr), 1);
    AzView_Destroy(w1);
    EXPECT_TRUE(Iterator_Window(3, 0) == w2 && Iterator_Window(3, 0) == nullptr);
    Iterator_End(3);
    EXPECT_EQ(frame_cur[3], frame);
}

TEST_F(Db, LockCountsUnderTheAccessLockFromTwoThreads)
{
    Kelvra_Class *cls = Make_Class("locked", 13, 0, AzDb_Root());
    /* A plain counter changed only under the access lock, or between the
     * class mutex's Open and Close, stays exact. */
    long shared = 0, guarded = 0;
    auto work = [&](int delta) {
        for (int i = 0; i < 20000; i++) {
            Access_Init("test");
            long v = shared;
            cls->Lock_Set(delta);
            shared = v + 1;
            Access_End("test");
            cls->Mutex_Open("label");
            v = guarded;
            guarded = v + 1;
            cls->Mutex_Close("label");
        }
    };
    std::thread one(work, 1), two(work, 2);
    one.join(), two.join();
    EXPECT_TRUE(shared == 40000 && guarded == 40000) << shared << " " << guarded;
    EXPECT_EQ(cls->Lock_Get(), 60000);
    Access_Init("outer");  // the access lock is recursive
    Access_Init("inner");
    cls->Lock_Set(-60000);
    Access_End("inner");
    Access_End("outer");  // the fixture finds the count back at 0
}

TEST_F(Db, VariablesGiveValuesAddressesAndBytes)
{
    /* Other parts of the library register theirs at set-up too, again after a reset. */
    EXPECT_TRUE(Address("$TAG_NB") && Address("$COLORMAP_GLI_INVALID"));
    EXPECT_TRUE(Value("$NO_SUCH") == 0 && Address("$NO_SUCH") == nullptr);
    AzHost_Script_Flag_Set(0x20);
    EXPECT_EQ(Script_Flag_Get(), 0x20u);
    /* Own storage: Get gives its address, which stays; writing there changes the value. */
    AzVar_Set("$TEST_NUMBER", 41);
    intptr_t *slot = (intptr_t *)Address("$TEST_NUMBER");
    ASSERT_TRUE(slot && *slot == 41);
    *slot = 42;
    EXPECT_EQ(Value("$TEST_NUMBER"), 42);
    AzVar_Set("$TEST_OTHER", 1), AzVar_Set("$TEST_NUMBER", 43);
    EXPECT_TRUE(Address("$TEST_NUMBER") == slot && *slot == 43);
    AzVar_Remove("$TEST_NUMBER");
    EXPECT_EQ(Address("$TEST_NUMBER"), nullptr);
    /* Bound storage; the interface lock byte, of which Value reads only the byte. */
    intptr_t outside = 7;
    AzVar_Bind("$TEST_BOUND", &outside);
    outside = 8;
    EXPECT_TRUE(Address("$TEST_BOUND") == &outside && Value("$TEST_BOUND") == 8);
    unsigned char *focus = (unsigned char *)Address("$INTERFACE_LOCK_FOCUS");
    ASSERT_EQ(focus, AzDb_Lock_Focus());
    *focus = 1;
    EXPECT_EQ(Value("$INTERFACE_LOCK_FOCUS"), 1);
    *focus = 0;
}

TEST_F(Db, IteratorsFilterByTypeAndKeepSlotsApart)
{
    Kelvra_Class *s1 = Make_Class("s1", 2, 1, AzDb_Root()), *s2 = Make_Class("s2", 2, 1, AzDb_Root());
    Kelvra_Class *o1 = Make_Class("o1", 13, 0, s1), *o2 = Make_Class("o2", 13, 0, s2), *o2m = Make_Class("o2 mode 1", 13, 1, s2);
    Make_Class("b1", 14, 0, s1);
    Kelvra_Window *w1 = AzView_Create("w1", 3), *w2 = AzView_Create("w2", 4, 0);
    ASSERT_TRUE(Iterator_Init(2, "panel", nullptr) == 1 && Iterator_Init(4, "apply", nullptr) == 1);
    /* Each slot has its own cursor; the type word is class A << 16 | class B. */
    const std::tuple<int, unsigned, Kelvra_Class *> steps[] = {
        {2, 0xD0000, o1}, {4, 0xD0000, o1}, {2, 0xD0000, o2}, {2, 0xD0000, nullptr}, {4, 0xD0001, o2m}};
    for (const auto &[slot, type, want] : steps)
        EXPECT_EQ(Iterator_Class(slot, type, nullptr, 0), want) << slot;
    EXPECT_TRUE(Iterator_Window(4, 0) == w1 && Iterator_Window(4, 0) == w2 && Iterator_Window(4, 0) == nullptr);
    EXPECT_TRUE(Iterator_End(2) == 1 && Iterator_Class(2, 0xD0000, nullptr, 0) == nullptr) << "ended";
    EXPECT_EQ(Iterator_End(4), 1);

    /* A subtree; a class deleted during the iteration is skipped; after the end a new Init starts again. */
    ASSERT_EQ(Iterator_Init(5, "worker", s2), 1);
    delete o2;
    EXPECT_EQ(Iterator_Class(5, 0xD0001, nullptr, 0), o2m);
    EXPECT_TRUE(Iterator_End(5) == 1 && Iterator_Class(5, 0x20001, nullptr, 0) == nullptr);
    ASSERT_EQ(Iterator_Init(5, "worker", s2), 1);
    EXPECT_TRUE(Iterator_Class(5, 0x20001, nullptr, 0) == s2 && Iterator_End(5) == 1);
    EXPECT_TRUE(Iterator_Init(8, "bad", nullptr) == 0 && Iterator_Init(-1, "bad", nullptr) == 0) << "slots 0 to 7";
}

namespace {

/* A middle level standing in for a module: records what reaches it and
 * files the frame under a class of its own. */
std::vector<std::string> middle_calls;

int Middle_Insert(Kelvra_File *file, int bunch, int slice, Kelvra_Class *parent, unsigned short level)
{
    middle_calls.push_back(std::string(parent->Name_Get()) + " " + std::to_string(level) + " " +
                           std::to_string(bunch) + " " + std::to_string(slice));
    if (parent->Child_Get_Nb() == 0)
        Make_Class("middle", 13, ((unsigned short *)Value("$DB_TREE_ID"))[level], parent);
    return ((Kelvra_Insert_Fct *)Value("$DB_TREE_PT"))[level + 1](file, bunch, slice, parent->Child_Get_Pt(0),
                                                                (unsigned short)(level + 1));
}

} // namespace

TEST_F(Db, InsertChainPassesFramesDown)
{
    /* A module level in the middle of the host's chain (study, frame). */
    AzDb_Tree_Default(Middle_Insert);
    Kelvra_Insert_Fct *tree = (Kelvra_Insert_Fct *)Value("$DB_TREE_PT");
    unsigned short *ids = (unsigned short *)Value("$DB_TREE_ID");
    EXPECT_EQ(AzDb_Tree_Levels(), 4);
    EXPECT_TRUE(tree[1] == AzDb_Study_Insert && tree[2] == Middle_Insert && tree[3] == AzDb_Frame_Insert);
    EXPECT_TRUE(ids[0] == 0 && ids[1] == 1 && ids[2] == 0 && ids[3] == 3);

    middle_calls.clear();
    AzPhantom *study = Load(Plan_Of("Phantom", 5, 4, 3), AZ_ORDER_DESCENDING);
    EXPECT_EQ(middle_calls, std::vector<std::string>({"Phantom 2 2 0", "Phantom 2 1 0", "Phantom 2 0 0"}));
    Kelvra_Class *middle = AzDb_Root()->Child_Get_Pt(0)->Child_Get_Pt(0);
    ASSERT_EQ(middle->Child_Get_Nb(), 3);
    AzFrame *frame = AzFrame_Cast(middle->Child_Get_Pt(0));
    ASSERT_TRUE(frame && frame->key == study->file->images[2]);
    /* The frames read their pixels through the middle class, which has no callbacks here. */
    EXPECT_TRUE(AzFrame_Get_GLI(frame, 0, 0) == 2147483646 && AzFrame_Get_TAG(frame, 0, 0) == 0);
    AzDb_Tree_Set(0, nullptr, nullptr);
    EXPECT_EQ(AzDb_Insert(study->file, 0, 0), 0) << "no chain: nothing enters";
    EXPECT_EQ(AzDb_Tree_Levels(), 0);
}
