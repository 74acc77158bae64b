/* The direction classes: copies, destruction and the recording of a
 * study's frames by the insert level. */
#include "oblique_fixture.h"

#include <dlfcn.h>

#include <atomic>

namespace {

std::atomic<const Vexa_Image *> watched_image{nullptr};
std::atomic<int> watched_frees{0};

} // namespace

/* Stands in front of the host's AzImage_Free (this program exports its
 * symbols) to see when one header is freed. */
void AzImage_Free(Vexa_Image *image)
{
    typedef void (*Free_Fct)(Vexa_Image *);
    static Free_Fct host = (Free_Fct)dlsym(RTLD_NEXT, "_Z12AzImage_FreeP10Vexa_Image");
    if (image && image == watched_image)
        watched_frees++;
    host(image);
}

TEST_F(ObliqueTest, CopiesShareStorageAndFreeItOnce)
{
    Kelvra_Class *study = Study("Copies");
    Kelvra_File *file = File("copies", {Image(4, 4, 1.0f), Image(4, 4, 2.0f), Image(4, 4, 3.0f)});
    for (int b = 0; b < 3; b++)
        ASSERT_EQ(Class_Insert(file, b, 0, study, 2), 1);
    Kelvra_Oblique *org = Direction(study, 0);
    Size_Original(org, 4, 4);
    org->alpha = 0.5f;
    org->matrix.rot_z(0.25f, Matrix_4x4::post);
    // A pending update list to share as well (the Original direction paints its own frames).
    ASSERT_EQ(org->Pixel_Set_TAG(org, file->images[1], Vect(1, 1, 0, 0), 3), 1);
    console.Clear();
    Kelvra_Oblique *copy = new Kelvra_Oblique(*org);
    EXPECT_TRUE(copy->real_files_nb == 3 && copy->real_files_d == org->real_files_d && copy->alpha == 0.5f);
    EXPECT_TRUE(copy->real_files_t == org->real_files_t && copy->update_pt == org->update_pt);
    EXPECT_EQ(memcmp(&copy->matrix, &org->matrix, sizeof(Matrix_4x4)), 0);
    EXPECT_EQ(copy->Child_Get_Nb(), 0) << "children stay with the original";

    // Assignment shares too and lets go of what the target held (the
    // arrays of another study, which that study still holds); the target's
    // own file record outlives it: a frame of it carries the record's
    // header as its key.
    Kelvra_Class *other_study = Study("Own");
    ASSERT_EQ(Class_Insert(File("own", {Image(2, 2, 0.0f)}), 0, 0, other_study, 2), 1);
    Kelvra_Oblique *target = new Kelvra_Oblique(*Direction(other_study, 0));
    Vexa_Image *header = Own_Header(target, Image(2, 2, 0.0f), "Oblique_Dir_0");
    target->Child_Add(new AzFrame(header, 0, 0));
    watched_image = header;
    watched_frees = 0;
    *target = *org;
    EXPECT_EQ(watched_frees, 0) << "the header its frame shows was freed";
    EXPECT_TRUE(target->dir_file == org->dir_file && target->real_files_d == org->real_files_d &&
                target->update_pt == org->update_pt);
    EXPECT_EQ(Direction(other_study, 0)->real_files_d[0], 0.0f) << "the other study keeps its frames";
    *target = *target;
    EXPECT_EQ(target->real_files_d, org->real_files_d) << "self-assignment keeps the storage";

    // A copy that grows its list gets its own; the original keeps its one entry.
    Oblique_Update *shared_list = org->update_pt;
    ASSERT_EQ(copy->Pixel_Set_TAG(copy, file->images[2], Vect(2, 2, 0, 0), 4), 1);
    EXPECT_TRUE(copy->update_nb == 2 && copy->update_pt != shared_list);
    EXPECT_EQ(copy->update_pt[0].key, (void *)file->images[1]);
    EXPECT_TRUE(org->update_pt == shared_list && org->update_nb == 1);
    // A further frame of the study grows the original's arrays privately:
    // the copies keep the three frames they saw.
    Kelvra_File *more = File("more", {Image(4, 4, 2.5f)});
    float *copy_d = copy->real_files_d;
    ASSERT_EQ(Class_Insert(more, 0, 0, study, 2), 1);
    EXPECT_TRUE(org->real_files_nb == 4 && org->real_files_d != copy_d && org->real_files_d[2] == 2.5f &&
                org->real_files_pt[2] == more);
    EXPECT_TRUE(copy->real_files_nb == 3 && copy->real_files_d == copy_d && copy->real_files_d[2] == 3.0f &&
                copy->real_files_pt[2] == file);
    console.Clear();
    // The original goes first: the copies still read the frames (the
    // address sanitizer build checks nothing is read after free or freed twice).
    copy->Parent_Set_Pt(nullptr);
    target->Parent_Set_Pt(nullptr);
    AzDb_Root()->Child_Delete();
    EXPECT_EQ(copy->real_files_d[2], 3.0f);
    EXPECT_EQ(target->real_files_d[0], 1.0f);
    delete copy;
    EXPECT_EQ(target->real_files_d[1], 2.0f);
    delete target;
    EXPECT_EQ(watched_frees, 1) << "freed with its class, once";
    watched_image = nullptr;
    EXPECT_TRUE(console.Lines().empty()) << Console_Dump(console.Lines());
}

/* A damaged class is reported when destroyed, magic first, each report with
 * its source line, and its storage still released: the leak checker of the
 * sanitizer build sees the array (tests/data/traces/destructor_reports.trace). */
TEST_F(ObliqueTest, DestructorValidation)
{
    Kelvra_Class *study = Study("Stale");
    Kelvra_File *file = File("stale", {Image(4, 4, 1.0f)});
    std::vector<std::string> reports;
    for (const auto &damage : {std::make_pair(1234, 14), std::make_pair(43706, 15), std::make_pair(7, 12)}) {
        console.Clear();
        Kelvra_Oblique *cls = new Kelvra_Oblique(study, 0, file, 0, 0);
        cls->real_files_d = (float *)malloc(4 * sizeof(float));
        cls->real_files_nb = 4;
        cls->Class_Magic_Set(damage.first);
        cls->Class_A_Set(damage.second);
        delete cls;
        reports.push_back("magic " + std::to_string(damage.first) + " class " + std::to_string(damage.second));
        for (const std::string &line : Golden_Console(console.Lines()))
            reports.push_back("  " + line);
    }
    EXPECT_TRUE(Trace_Is("destructor_reports", reports));
}

TEST_F(ObliqueTest, FramesRecordedInLocationOrder)
{
    Kelvra_Class *study = Study("Order");
    // Locations 5, 1, 3, then two more at 3 and one at 1: ties keep arrival.
    Kelvra_File *file = File("order", {Image(4, 4, 5.0f), Image(4, 4, 1.0f), Image(4, 4, 3.0f), Image(4, 4, 3.0f),
                                       Image(4, 4, 1.0f), Image(4, 4, 3.0f)});
    const float after[6][6] = {{5}, {1, 5}, {1, 3, 5}, {1, 3, 3, 5}, {1, 1, 3, 3, 5}, {1, 1, 3, 3, 3, 5}};
    const int bunches[6][6] = {{0}, {1, 0}, {1, 2, 0}, {1, 2, 3, 0}, {1, 4, 2, 3, 0}, {1, 4, 2, 3, 5, 0}};
    Kelvra_Oblique *org = nullptr;
    for (int b = 0; b < 6; b++) {
        ASSERT_EQ(Class_Insert(file, b, 10 + b, study, 2), 1) << "the frame level's result";
        org = Direction(study, 0);
        ASSERT_EQ(org->real_files_nb, b + 1);
        for (int i = 0; i <= b; i++) {   // every parallel array moved alike
            EXPECT_EQ(org->real_files_d[i], after[b][i]) << "after " << b << " at " << i;
            EXPECT_EQ(org->real_files_bunch[i], bunches[b][i]) << "after " << b << " at " << i;
            EXPECT_EQ(org->real_files_slice[i], 10 + bunches[b][i]);
            EXPECT_EQ(org->real_files_pt[i], file);
            EXPECT_EQ(org->real_files_z[i] * 100 + org->real_files_t[i], 10 + bunches[b][i]) << "one slice a volume";
        }
    }
    EXPECT_EQ(study->Child_Get_Nb(), 2) << "one pair of direction classes per study";
    EXPECT_EQ(org->Child_Get_Nb(), 6) << "each frame went on below the Original direction";
    EXPECT_EQ(Direction(study, 1)->real_files_nb + Direction(study, 1)->Child_Get_Nb(), 0);
    org->group_valid = 1;
    ASSERT_EQ(Class_Insert(file, 0, 0, study, 2), 1);
    EXPECT_EQ(org->group_valid, -1) << "every insertion asks for a new group test";
}

TEST_F(ObliqueTest, FirstFrameCreatesBothDirections)
{
    const Kelvra_Insert_Fct chain[4] = {nullptr, AzDb_Study_Insert, Class_Insert, AzDb_Frame_Insert};
    const unsigned short ids[4] = {0, 1, 9, 3};
    AzDb_Tree_Set(4, chain, ids);
    Kelvra_Class *exact = Study("Abcdefghij0123456789");     // 20 characters
    Kelvra_Class *longer = Study("Abcdefghij0123456789X");   // 21 characters
    Kelvra_File *file = File("first", {Image(4, 4, 1.0f), Image(4, 4, 2.0f)});
    console.Clear();
    AzHost_Trace_Start();
    ASSERT_EQ(Class_Insert(file, 1, 0, exact, 2), 1);
    EXPECT_TRUE(Trace_Is("first_frame", AzHost_Trace_Take()));
    ASSERT_EQ(exact->Child_Get_Nb(), 2);
    Kelvra_Oblique *org = Direction(exact, 0), *obl = Direction(exact, 1);
    EXPECT_EQ(org->Class_A_Get() * 100 + obl->Class_A_Get(), 1314);
    EXPECT_EQ(org->Class_B_Get() * 10 + obl->Class_B_Get(), 99) << "class id of the module's level";
    EXPECT_EQ(org->tree_level * 10 + obl->tree_level, 22);
    EXPECT_STREQ(org->Name_Get(), "Abcdefghij0123456789 (dir:Original)");
    EXPECT_STREQ(obl->Name_Get(), "Abcdefghij0123456789 (dir:Oblique)");
    EXPECT_EQ(org->real_files_bunch[0] * 10 + org->real_files_nb, 11);
    EXPECT_EQ(org->real_files_d[0], 2.0f);
    EXPECT_EQ(obl->enabled, 0);
    EXPECT_TRUE(obl->Flag_Get_Bit(16, nullptr, 0x1000000));
    EXPECT_FALSE(org->Flag_Get_Bit(16, nullptr, 0x1000000));
    ASSERT_EQ(org->Child_Get_Nb(), 1) << "the frame went on below the Original direction";
    EXPECT_EQ(AzFrame_Cast(org->Child_Get_Pt(0))->key, file->images[1]);
    ASSERT_EQ(Class_Insert(file, 0, 0, longer, 2), 1);
    EXPECT_STREQ(Direction(longer, 0)->Name_Get(), "Abcdefghij0123456789... (dir:Original)");
    EXPECT_STREQ(Direction(longer, 1)->Name_Get(), "Abcdefghij0123456789... (dir:Oblique)");
    std::vector<Console_Line> lines = console.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], (Console_Line{11, "Class Kelvra_Oblique: Class_Insert(slice:0)"})) << "first on every call";
}
