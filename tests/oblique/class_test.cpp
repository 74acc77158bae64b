/* The direction classes: construction, copies, destruction and the
 * recording of a study's frames by the insert level. */
#include "oblique_fixture.h"

#include <dlfcn.h>
#include <string.h>

#include <atomic>

namespace {

void Expect_Empty_Region(const Region_3D &r)
{
    EXPECT_EQ(r.kind, 0);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(r.min[i], 100000.0f);
        EXPECT_EQ(r.max[i], -100000.0f);
    }
}

void Expect_Identity(const Matrix_4x4 &m)
{
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++)
            EXPECT_EQ(m.m[i][j], i == j ? 1.0f : 0.0f) << i << "," << j;
}

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

TEST_F(ObliqueTest, DirectionClassDefaults)
{
    Kelvra_Class *study = Study("Defaults");
    Console_Capture console;
    AzHost_Trace_Start();
    Kelvra_Oblique *obl = new Kelvra_Oblique(study, 7, (signed char)1);
    EXPECT_TRUE(Lines_With(AzHost_Trace_Take(), "Flag_Set_On").empty()) << "no flag set for a direction";

    EXPECT_EQ(obl->Class_Magic_Get(), 43706);
    EXPECT_EQ(obl->Class_A_Get(), 14);
    EXPECT_EQ(obl->Class_B_Get(), 7);
    EXPECT_STREQ(obl->Title_Get(), "Oblique");
    EXPECT_STREQ(obl->Sort_Get(), "---");
    EXPECT_EQ(obl->Parent_Get_Pt(), study);
    EXPECT_EQ(study->Child_Get_Nb(), 0) << "the constructor does not attach";
    EXPECT_EQ(obl->enabled, 0);
    EXPECT_EQ(obl->is_original, 0);
    EXPECT_EQ(obl->dir, 1);
    EXPECT_EQ(obl->group_valid, -1);
    EXPECT_EQ(obl->update_nb, 0);
    EXPECT_EQ(obl->update_pt, nullptr);
    EXPECT_EQ(obl->real_files_nb, 0);
    EXPECT_EQ(obl->real_files_pt, nullptr);
    EXPECT_EQ(obl->real_files_bunch, nullptr);
    EXPECT_EQ(obl->real_files_slice, nullptr);
    EXPECT_EQ(obl->real_files_z, nullptr);
    EXPECT_EQ(obl->real_files_t, nullptr);
    EXPECT_EQ(obl->real_files_d, nullptr);
    EXPECT_EQ(obl->dir_file, nullptr);
    EXPECT_EQ(obl->dir_image, nullptr);
    EXPECT_EQ(Dim_Text(obl->dim), "0 0 0");
    EXPECT_EQ(Dim_Text(obl->ref_dim), "0 0 0") << "a start that matches no image size";
    EXPECT_EQ(obl->slice_cur, 0.0f);
    EXPECT_EQ(obl->alpha, 0.0f);
    EXPECT_EQ(obl->beta, 0.0f);
    EXPECT_EQ(obl->theta, 0.0f);
    EXPECT_EQ(obl->matrix_pt, nullptr);
    EXPECT_EQ(obl->matrix_inv_pt, nullptr);
    Expect_Identity(obl->matrix);
    Expect_Empty_Region(obl->region);
    EXPECT_EQ(obl->voxel.x, 0.0f) << "axes and voxel wait for the set-up";
    EXPECT_EQ(obl->axis_x.x, 0.0f);
    EXPECT_EQ(obl->Pixel_Get_GLI, &Class_Oblique_Pixel_Get_GLI);
    EXPECT_EQ(obl->Pixel_Get_TAG, &Class_Oblique_Pixel_Get_TAG);
    EXPECT_EQ(obl->Pixel_Set_TAG, &Class_Oblique_Pixel_Set_TAG);
    EXPECT_EQ(obl->Pixel_Get_Pos, &Class_Oblique_Pixel_Get_Pos);
    EXPECT_NE(obl->Pixel_Get_Dim, &Class_Oblique_Pixel_Get_Dim) << "installed by the set-up only";
    EXPECT_FALSE(obl->Flag_Get_Bit(16, nullptr, 0x1));

    // Direction 0 through the same constructor is an Original-direction type.
    Kelvra_Oblique *zero = new Kelvra_Oblique(study, 2, (signed char)0);
    EXPECT_EQ(zero->Class_A_Get(), 13);
    EXPECT_EQ(zero->is_original, 0);

    delete obl;
    delete zero;
    EXPECT_TRUE(console.Lines().empty()) << Console_Dump(console.Lines());
}

TEST_F(ObliqueTest, FrameClassDefaults)
{
    Kelvra_Class *study = Study("Frames");
    Vexa_Image *first = Image(8, 6, 2.0f);
    first->pixel_size = Vect(0.5f, 0.75f, 2.5f);
    first->axis_row = Vect(0.0f, 1.0f, 0.0f);
    first->axis_col = Vect(0.0f, 0.0f, -1.0f);
    first->axis_normal = Vect(-1.0f, 0.0f, 0.0f);
    Vexa_Image *second = Image(8, 6, 4.0f);
    Vect override_size(0.25f, 0.3f, 3.0f);
    second->pixel_size_pt = &override_size;
    Kelvra_File *file = File("frames", {first, second});

    Console_Capture console;
    Kelvra_Oblique *org = new Kelvra_Oblique(study, 5, file, 0, 99);
    EXPECT_EQ(org->Class_A_Get(), 13);
    EXPECT_EQ(org->Class_B_Get(), 5);
    EXPECT_STREQ(org->Title_Get(), "Oblique");
    EXPECT_STREQ(org->Sort_Get(), "---");
    EXPECT_EQ(org->Parent_Get_Pt(), study);
    EXPECT_EQ(org->enabled, 1);
    EXPECT_EQ(org->is_original, 1);
    EXPECT_EQ(org->dir, 0);
    EXPECT_EQ(org->group_valid, -1);
    EXPECT_EQ(org->real_files_nb, 0) << "the constructor records no frame";
    EXPECT_EQ(org->real_files_pt, nullptr);
    EXPECT_EQ(org->update_pt, nullptr);
    EXPECT_EQ(org->dir_file, nullptr);
    EXPECT_EQ(org->ref_dim.x, 0);
    EXPECT_EQ(org->slice_cur, 0.0f);
    Expect_Identity(org->matrix);
    Expect_Empty_Region(org->region);
    EXPECT_TRUE(Vect_Is(org->voxel, 0.5f, 0.75f, 2.5f));
    EXPECT_EQ(org->axis_x.y, 1.0f);
    EXPECT_EQ(org->axis_y.z, -1.0f);
    EXPECT_EQ(org->axis_z.x, -1.0f);
    EXPECT_TRUE(org->Flag_Get_Bit(16, nullptr, 0x1));
    EXPECT_EQ(org->Pixel_Set_TAG, &Class_Oblique_Pixel_Set_TAG);

    // The header's pixel-size pointer wins over its own vector.
    Kelvra_Oblique *other = new Kelvra_Oblique(study, 5, file, 1, 0);
    EXPECT_EQ(other->voxel.x, 0.25f);
    EXPECT_EQ(other->voxel.z, 3.0f);

    delete org;
    delete other;
    EXPECT_TRUE(console.Lines().empty()) << Console_Dump(console.Lines());
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
    // A pending update list to share as well (the Original direction paints
    // its own frames).
    ASSERT_EQ(org->Pixel_Set_TAG(org, file->images[1], Vect(1, 1, 0, 0), 3), 1);
    ASSERT_EQ(org->update_nb, 1);

    Console_Capture console;
    Kelvra_Oblique *copy = new Kelvra_Oblique(*org);
    EXPECT_EQ(copy->real_files_nb, 3);
    EXPECT_EQ(copy->real_files_pt, org->real_files_pt);
    EXPECT_EQ(copy->real_files_bunch, org->real_files_bunch);
    EXPECT_EQ(copy->real_files_slice, org->real_files_slice);
    EXPECT_EQ(copy->real_files_z, org->real_files_z);
    EXPECT_EQ(copy->real_files_t, org->real_files_t);
    EXPECT_EQ(copy->real_files_d, org->real_files_d);
    EXPECT_EQ(copy->update_pt, org->update_pt);
    EXPECT_EQ(copy->update_nb, 1);
    EXPECT_EQ(copy->alpha, 0.5f);
    EXPECT_EQ(copy->Class_A_Get(), 13);
    EXPECT_STREQ(copy->Name_Get(), org->Name_Get());
    EXPECT_EQ(memcmp(&copy->matrix, &org->matrix, sizeof(Matrix_4x4)), 0);
    EXPECT_EQ(memcmp(&copy->region, &org->region, sizeof(Region_3D)), 0);
    EXPECT_EQ(copy->Child_Get_Nb(), 0) << "children stay with the original";

    // Assignment shares too, and lets go of what the target held (here the
    // arrays of another study, which that study still holds).
    Kelvra_Class *other_study = Study("Own");
    Kelvra_File *own = File("own", {Image(2, 2, 0.0f)});
    ASSERT_EQ(Class_Insert(own, 0, 0, other_study, 2), 1);
    console.Clear();
    Kelvra_Oblique *target = new Kelvra_Oblique(*Direction(other_study, 0));
    EXPECT_EQ(target->real_files_d, Direction(other_study, 0)->real_files_d);
    // The target's own file record outlives the assignment: a frame of it
    // carries the record's header as its key.
    Vexa_Image *header = Image(2, 2, 0.0f);
    Vexa_Image **list = (Vexa_Image **)calloc(2, sizeof *list);
    list[0] = header;
    target->dir_file = new Kelvra_File("Oblique_Dir_0", list);
    target->dir_image = header;
    target->Child_Add(new AzFrame(header, 0, 0));
    watched_image = header;
    *target = *org;
    EXPECT_EQ(watched_frees, 0) << "the header its frame shows was freed";
    EXPECT_EQ(target->dir_file, org->dir_file);
    EXPECT_EQ(target->real_files_d, org->real_files_d);
    EXPECT_EQ(target->update_pt, org->update_pt);
    EXPECT_EQ(target->alpha, 0.5f);
    EXPECT_EQ(Direction(other_study, 0)->real_files_d[0], 0.0f) << "the other study keeps its frames";
    *target = *target;
    EXPECT_EQ(target->real_files_d, org->real_files_d) << "self-assignment keeps the storage";

    // A copy that grows its list gets its own; the original keeps its one entry.
    Oblique_Update *shared_list = org->update_pt;
    ASSERT_EQ(copy->Pixel_Set_TAG(copy, file->images[2], Vect(2, 2, 0, 0), 4), 1);
    EXPECT_EQ(copy->update_nb, 2);
    EXPECT_NE(copy->update_pt, shared_list);
    EXPECT_EQ(copy->update_pt[0].key, (void *)file->images[1]);
    EXPECT_EQ(org->update_pt, shared_list);
    EXPECT_EQ(org->update_nb, 1);
    EXPECT_EQ(org->update_pt[0].key, (void *)file->images[1]);

    // A further frame of the study grows the original's arrays privately:
    // the copies keep the three frames they saw.
    Kelvra_File *more = File("more", {Image(4, 4, 2.5f)});
    float *copy_d = copy->real_files_d;
    ASSERT_EQ(Class_Insert(more, 0, 0, study, 2), 1);
    EXPECT_EQ(org->real_files_nb, 4);
    EXPECT_NE(org->real_files_d, copy_d);
    EXPECT_EQ(org->real_files_d[2], 2.5f);
    EXPECT_EQ(org->real_files_pt[2], more);
    EXPECT_EQ(copy->real_files_d, copy_d);
    EXPECT_EQ(copy->real_files_nb, 3);
    EXPECT_EQ(copy->real_files_d[2], 3.0f);
    EXPECT_EQ(copy->real_files_pt[2], file);
    console.Clear();

    // The original goes first: the copies still read the frames (the
    // address sanitizer build checks that nothing is read after free or
    // freed twice).
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

TEST_F(ObliqueTest, DestructorValidation)
{
    Kelvra_Class *study = Study("Stale");
    Console_Capture console;

    Kelvra_Oblique *foreign = new Kelvra_Oblique(study, 0, (signed char)1);
    foreign->Class_Magic_Set(1234);
    delete foreign;
    std::vector<Console_Line> expected = {
        {2, "Invalid study class structure in Class Kelvra_Oblique::~Kelvra_Oblique"},
        {2, "file:.\\oblique_method line:177"}};
    EXPECT_EQ(console.Lines(), expected) << Console_Dump(console.Lines());

    console.Clear();
    Kelvra_Oblique *wrong_type = new Kelvra_Oblique(study, 0, (signed char)2);   // type 15
    delete wrong_type;
    expected = {{2, "Invalid Oblique structure in Class Kelvra_Oblique::~Kelvra_Oblique"},
                {2, "file:.\\oblique_method line:177"}};
    EXPECT_EQ(console.Lines(), expected) << Console_Dump(console.Lines());

    // Both faults: both reports, magic first; the storage is still released
    // (the leak checker of the sanitizer build sees the array).
    Kelvra_File *file = File("stale", {Image(4, 4, 1.0f)});
    console.Clear();
    Kelvra_Oblique *both = new Kelvra_Oblique(study, 0, file, 0, 0);
    both->real_files_d = (float *)malloc(4 * sizeof(float));
    both->real_files_nb = 4;
    both->Class_Magic_Set(7);
    both->Class_A_Set(12);
    delete both;
    expected = {{2, "Invalid study class structure in Class Kelvra_Oblique::~Kelvra_Oblique"},
                {2, "file:.\\oblique_method line:177"},
                {2, "Invalid Oblique structure in Class Kelvra_Oblique::~Kelvra_Oblique"},
                {2, "file:.\\oblique_method line:177"}};
    EXPECT_EQ(console.Lines(), expected) << Console_Dump(console.Lines());
}

TEST_F(ObliqueTest, FramesRecordedInLocationOrder)
{
    Kelvra_Class *study = Study("Order");
    // Locations 5, 1, 3, then two more at 3 and one at 1: ties keep arrival.
    Kelvra_File *file =
        File("order", {Image(4, 4, 5.0f), Image(4, 4, 1.0f), Image(4, 4, 3.0f), Image(4, 4, 3.0f),
                       Image(4, 4, 1.0f), Image(4, 4, 3.0f)});
    Kelvra_Oblique *org = nullptr;
    const float after[6][6] = {{5}, {1, 5}, {1, 3, 5}, {1, 3, 3, 5}, {1, 1, 3, 3, 5}, {1, 1, 3, 3, 3, 5}};
    const int bunches[6][6] = {{0}, {1, 0}, {1, 2, 0}, {1, 2, 3, 0}, {1, 4, 2, 3, 0}, {1, 4, 2, 3, 5, 0}};
    for (int b = 0; b < 6; b++) {
        ASSERT_EQ(Class_Insert(file, b, 10 + b, study, 2), 1) << "the frame level's result";
        org = Direction(study, 0);
        ASSERT_EQ(org->real_files_nb, b + 1);
        for (int i = 0; i <= b; i++) {
            EXPECT_EQ(org->real_files_d[i], after[b][i]) << "after " << b << " at " << i;
            EXPECT_EQ(org->real_files_bunch[i], bunches[b][i]) << "after " << b << " at " << i;
            // Every parallel array moved alike.
            EXPECT_EQ(org->real_files_slice[i], 10 + bunches[b][i]);
            EXPECT_EQ(org->real_files_pt[i], file);
            EXPECT_EQ(org->real_files_z[i], 0);
            EXPECT_EQ(org->real_files_t[i], 10 + bunches[b][i]) << "one slice per volume";
        }
    }
    EXPECT_EQ(study->Child_Get_Nb(), 2) << "one pair of direction classes per study";
    EXPECT_EQ(org->Child_Get_Nb(), 6) << "each frame went on below the Original direction";
    EXPECT_EQ(Direction(study, 1)->real_files_nb, 0);
    EXPECT_EQ(Direction(study, 1)->Child_Get_Nb(), 0);

    // Every insertion asks for a new group test.
    org->group_valid = 1;
    ASSERT_EQ(Class_Insert(file, 0, 0, study, 2), 1);
    EXPECT_EQ(org->group_valid, -1);
}

TEST_F(ObliqueTest, SlicesSplitIntoVolumesAndTimePoints)
{
    Kelvra_Class *study = Study("Volumes");
    Vexa_Image *series = Image(4, 4, 2.0f, 10, 2);   // two volumes of 10 slices
    Vexa_Image *flat = Image(4, 4, 7.0f, 1, 1);
    flat->slices_nb = 0;   // a header without a slice count counts as one
    Kelvra_File *file = File("volumes", {series, flat});
    ASSERT_EQ(Class_Insert(file, 0, 13, study, 2), 1);
    ASSERT_EQ(Class_Insert(file, 0, 9, study, 2), 1);
    ASSERT_EQ(Class_Insert(file, 1, 4, study, 2), 1);
    Kelvra_Oblique *org = Direction(study, 0);
    ASSERT_EQ(org->real_files_nb, 3);
    EXPECT_EQ(org->real_files_slice[0], 13);
    EXPECT_EQ(org->real_files_z[0], 3);
    EXPECT_EQ(org->real_files_t[0], 1);
    EXPECT_EQ(org->real_files_z[1], 9);
    EXPECT_EQ(org->real_files_t[1], 0);
    EXPECT_EQ(org->real_files_z[2], 0);
    EXPECT_EQ(org->real_files_t[2], 4);
    EXPECT_EQ(org->real_files_d[2], 7.0f);
}

TEST_F(ObliqueTest, FirstFrameCreatesBothDirections)
{
    const Kelvra_Insert_Fct chain[4] = {nullptr, AzDb_Study_Insert, Class_Insert, AzDb_Frame_Insert};
    const unsigned short ids[4] = {0, 1, 9, 3};
    AzDb_Tree_Set(4, chain, ids);
    Kelvra_Class *exact = Study("Abcdefghij0123456789");      // 20 characters
    Kelvra_Class *longer = Study("Abcdefghij0123456789X");    // 21 characters
    Kelvra_File *file = File("first", {Image(4, 4, 1.0f), Image(4, 4, 2.0f)});

    Console_Capture console;
    AzHost_Trace_Start();
    ASSERT_EQ(Class_Insert(file, 1, 0, exact, 2), 1);
    std::vector<std::string> trace = AzHost_Trace_Take();
    ASSERT_EQ(exact->Child_Get_Nb(), 2);
    Kelvra_Oblique *org = Direction(exact, 0);
    Kelvra_Oblique *obl = Direction(exact, 1);
    EXPECT_EQ(org->Class_A_Get(), 13);
    EXPECT_EQ(obl->Class_A_Get(), 14);
    EXPECT_EQ(org->Class_B_Get(), 9) << "class id of the module's level";
    EXPECT_EQ(obl->Class_B_Get(), 9);
    EXPECT_EQ(org->tree_level, 2);
    EXPECT_EQ(obl->tree_level, 2);
    EXPECT_STREQ(org->Name_Get(), "Abcdefghij0123456789 (dir:Original)");
    EXPECT_STREQ(obl->Name_Get(), "Abcdefghij0123456789 (dir:Oblique)");
    EXPECT_EQ(org->real_files_nb, 1);
    EXPECT_EQ(org->real_files_bunch[0], 1);
    EXPECT_EQ(org->real_files_d[0], 2.0f);
    EXPECT_EQ(org->group_valid, -1);
    EXPECT_EQ(obl->enabled, 0);
    EXPECT_TRUE(obl->Flag_Get_Bit(16, nullptr, 0x1000000));
    EXPECT_FALSE(org->Flag_Get_Bit(16, nullptr, 0x1000000));
    EXPECT_TRUE(org->Flag_Get_Bit(16, nullptr, 0x1));
    ASSERT_EQ(org->Child_Get_Nb(), 1) << "the frame went on below the Original direction";
    EXPECT_EQ(AzFrame_Cast(org->Child_Get_Pt(0))->key, file->images[1]);

    // The constructor's flag, then attached Original first and announced in
    // the same order, before the frame is passed on (the host's own calls
    // are not recorded).
    std::vector<std::string> expected = {"Flag_Set_On  0x10 0x1",
                                         "Flag_Set_On Abcdefghij0123456789 (dir:Oblique) 0x10 0x1000000",
                                         "Child_Add Abcdefghij0123456789 Abcdefghij0123456789 (dir:Original)",
                                         "Child_Add Abcdefghij0123456789 Abcdefghij0123456789 (dir:Oblique)",
                                         "Fct_Update 0xc00300 cls=Abcdefghij0123456789 (dir:Original)",
                                         "Fct_Update 0xc00300 cls=Abcdefghij0123456789 (dir:Oblique)"};
    EXPECT_EQ(trace, expected);

    ASSERT_EQ(Class_Insert(file, 0, 0, longer, 2), 1);
    EXPECT_STREQ(Direction(longer, 0)->Name_Get(), "Abcdefghij0123456789... (dir:Original)");
    EXPECT_STREQ(Direction(longer, 1)->Name_Get(), "Abcdefghij0123456789... (dir:Oblique)");

    // The trace line comes first on every call.
    std::vector<Console_Line> lines = console.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], (Console_Line{11, "Class Kelvra_Oblique: Class_Insert(slice:0)"}));
}

TEST_F(ObliqueTest, GrowthFailuresKeepTheFrames)
{
    Kelvra_Class *study = Study("Grow");
    Kelvra_File *file = File("grow", {Image(4, 4, 3.0f), Image(4, 4, 1.0f), Image(4, 4, 2.0f)});
    ASSERT_EQ(Class_Insert(file, 0, 0, study, 2), 1);
    ASSERT_EQ(Class_Insert(file, 1, 0, study, 2), 1);
    Kelvra_Oblique *org = Direction(study, 0);

    const char *expected[6] = {
        "line 100  of .\\oblique_class \nmemory error in realloc (var=oblique->real_files_pt, dim=3x8)",
        "line 101  of .\\oblique_class \nmemory error in realloc (var=oblique->real_files_bunch, dim=3x4)",
        "line 102  of .\\oblique_class \nmemory error in realloc (var=oblique->real_files_slice, dim=3x4)",
        "line 103  of .\\oblique_class \nmemory error in realloc (var=oblique->real_files_z, dim=3x4)",
        "line 104  of .\\oblique_class \nmemory error in realloc (var=oblique->real_files_t, dim=3x4)",
        "line 105  of .\\oblique_class \nmemory error in realloc (var=oblique->real_files_d, dim=3x4)"};
    for (int k = 0; k < 6; k++) {
        Console_Capture console;
        Fault_Arm("realloc", k + 1);
        EXPECT_EQ(Class_Insert(file, 2, 5, study, 2), 0) << k;
        Fault_Disarm();
        std::vector<Console_Line> want = {{11, "Class Kelvra_Oblique: Class_Insert(slice:5)"}, {1, expected[k]}};
        EXPECT_EQ(console.Lines(), want) << Console_Dump(console.Lines());
        ASSERT_EQ(org->real_files_nb, 2) << k;
        EXPECT_EQ(org->real_files_d[0], 1.0f);
        EXPECT_EQ(org->real_files_d[1], 3.0f);
        EXPECT_EQ(org->real_files_bunch[0], 1);
        EXPECT_EQ(org->real_files_bunch[1], 0);
        EXPECT_EQ(org->Child_Get_Nb(), 2) << "not forwarded";
    }
    // The same frame goes in once memory is back.
    ASSERT_EQ(Class_Insert(file, 2, 5, study, 2), 1);
    ASSERT_EQ(org->real_files_nb, 3);
    EXPECT_EQ(org->real_files_d[1], 2.0f);
    EXPECT_EQ(org->real_files_slice[1], 5);
    EXPECT_EQ(org->Child_Get_Nb(), 3);
}

TEST_F(ObliqueTest, CreationFailuresLeaveTheStudyBare)
{
    Kelvra_File *file = File("create", {Image(4, 4, 3.0f)});
    const char *expected[6] = {
        "line 156  of .\\oblique_class \nmemory error in calloc (var=oblique_0->real_files_pt, dim=1x8)",
        "line 157  of .\\oblique_class \nmemory error in calloc (var=oblique_0->real_files_bunch, dim=1x4)",
        "line 158  of .\\oblique_class \nmemory error in calloc (var=oblique_0->real_files_slice, dim=1x4)",
        "line 159  of .\\oblique_class \nmemory error in calloc (var=oblique_0->real_files_z, dim=1x4)",
        "line 160  of .\\oblique_class \nmemory error in calloc (var=oblique_0->real_files_t, dim=1x4)",
        "line 161  of .\\oblique_class \nmemory error in calloc (var=oblique_0->real_files_d, dim=1x4)"};
    Kelvra_Class *study = Study("Create");
    for (int k = 0; k < 6; k++) {
        Console_Capture console;
        AzHost_Trace_Start();
        Fault_Arm("calloc", k + 1);
        EXPECT_EQ(Class_Insert(file, 0, 7, study, 2), 0) << k;
        Fault_Disarm();
        std::vector<Console_Line> want = {{11, "Class Kelvra_Oblique: Class_Insert(slice:7)"}, {1, expected[k]}};
        EXPECT_EQ(console.Lines(), want) << Console_Dump(console.Lines());
        EXPECT_EQ(study->Child_Get_Nb(), 0) << "no direction classes";
        std::vector<std::string> trace = AzHost_Trace_Take();
        EXPECT_TRUE(Lines_With(trace, "Fct_Update").empty()) << ::testing::PrintToString(trace);
        EXPECT_TRUE(Lines_With(trace, "Child_Add").empty()) << ::testing::PrintToString(trace);
    }
    ASSERT_EQ(Class_Insert(file, 0, 7, study, 2), 1);
    EXPECT_EQ(study->Child_Get_Nb(), 2);
}
