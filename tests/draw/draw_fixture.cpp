#include "draw_fixture.h"

Draw_Volume *draw_volume = nullptr;

/* The frame key names the study's single image; z is the slice. */
int Draw_Study_GLI(Kelvra_Class *, void *, Vect p)
{
    if (draw_volume && draw_volume->record)
        draw_volume->seen.push_back(p);
    int x = (int)p.x, y = (int)p.y, z = (int)p.z;
    if (!draw_volume || x < 0 || y < 0 || z < 0 || x >= draw_volume->width || y >= draw_volume->height ||
        z >= draw_volume->slices)
        return 2147483646;
    return draw_volume->gli[draw_volume->At(x, y, z)];
}

int Draw_Study_TAG(Kelvra_Class *, void *, Vect p)
{
    int x = (int)p.x, y = (int)p.y, z = (int)p.z;
    if (!draw_volume || x < 0 || y < 0 || z < 0 || x >= draw_volume->width || y >= draw_volume->height ||
        z >= draw_volume->slices)
        return 0;
    return draw_volume->tag[draw_volume->At(x, y, z)];
}

void DrawTest::SetUp()
{
    AzDb_Init();
    AzDb_Tree_Default(Class_Insert);
    ASSERT_TRUE(AzTools_Register());
    header = Vexa_Image();
    header.display_mode = 0;
    header.display_low = 0.0f;
    header.display_high = 255.0f;   // grey level g shows as g
    draw_volume = &volume;
}

void DrawTest::TearDown()
{
    Oblique_Buffers_Release();
    Fault_Disarm();
    if (window)
        DestroyWindow(window);
    draw_volume = nullptr;
    AzDb_Reset();
}

void DrawTest::Make_Study(int w, int h, int n, float vx, float vy, float vz)
{
    volume.width = w;
    volume.height = h;
    volume.slices = n;
    volume.gli.assign((size_t)w * h * n, 0);
    volume.tag.assign((size_t)w * h * n, 0);
    for (int z = 0; z < n; z++)
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                volume.gli[volume.At(x, y, z)] = x * 5 + y * 10 + z;

    AzStudy_Plan plan = Plan_Of("Preview", w, h, n);
    plan.slices_per_image = 0;
    plan.spacing[0] = vx;
    plan.spacing[1] = vy;
    plan.spacing[2] = vz;
    plan.phantom = 0;
    plan.tags = 0;
    AzStudy *built = AzStudy_Build(plan);
    ASSERT_NE(built, nullptr);
    ASSERT_EQ(AzStudy_Insert(built, AZ_ORDER_ASCENDING, 1), n);
    AzStudy_Free(built);

    study = AzDb_Root()->Child_Get_Pt(0);
    ASSERT_NE(study, nullptr);
    study->Pixel_Get_GLI = Draw_Study_GLI;
    study->Pixel_Get_TAG = Draw_Study_TAG;
    org = static_cast<Kelvra_Oblique *>(study->Child_Get_Pt(0));
    obl = static_cast<Kelvra_Oblique *>(study->Child_Get_Pt(1));
    ASSERT_NE(org, nullptr);
    ASSERT_NE(obl, nullptr);
    ASSERT_EQ(org->real_files_nb, n);
    for (Kelvra_Oblique *cls : {org, obl}) {
        cls->dim = Oblique_Dim{w, h, n};
        cls->voxel = Vect(vx, vy, vz, 0.0f);
        cls->matrix.init();
        cls->slice_cur = 0.0f;
        cls->alpha = cls->beta = cls->theta = 0.0f;
    }
}

void DrawTest::Make_Window(int w, int h)
{
    window = CreateWindowExA(0, AZ_TOOLS_CLASS, "preview", WS_VISIBLE, 0, 0, w, h, nullptr, nullptr, nullptr,
                             nullptr);
    ASSERT_NE(window, nullptr);
    box.x = 0;
    box.y = 0;
    box.width = (short)w;
    box.height = (short)h;
    box.window = window;
}

void DrawTest::Preview(Kelvra_Oblique *cls, int k)
{
    cls->slice_cur = (float)k;
    Oblique_GLI_Build(cls, &header, cls->dim.x, cls->dim.y, k);
    Oblique_TAG_Build(cls, &header, cls->dim.x, cls->dim.y, k);
    Oblique_Image(window, &box, cls);
}

uint32_t DrawTest::Pixel(int x, int y)
{
    int w = 0, h = 0;
    uint32_t *pixels = AzWin_Pixels(window, &w, &h);
    if (!pixels || x < 0 || y < 0 || x >= w || y >= h)
        return 0xdeadbeefu;
    return pixels[(size_t)y * w + x];
}

int DrawTest::Window_W()
{
    int w = 0, h = 0;
    AzWin_Pixels(window, &w, &h);
    return w;
}

int DrawTest::Window_H()
{
    int w = 0, h = 0;
    AzWin_Pixels(window, &w, &h);
    return h;
}

int DrawTest::Count(uint32_t rgb, int x0, int y0, int x1, int y1)
{
    int n = 0;
    for (int y = y0; y <= y1; y++)
        for (int x = x0; x <= x1; x++)
            n += Rgb(Pixel(x, y)) == rgb;
    return n;
}

void DrawTest::Save(const char *name)
{
    std::string path = std::string(AZ_BUILD_DIR) + "/" + name;
    EXPECT_EQ(AzGl_Save_PNG(window, path.c_str()), 1) << path;
}

std::vector<Console_Line> Lines(std::initializer_list<Console_Line> lines)
{
    return std::vector<Console_Line>(lines);
}

/* The off-screen OpenGL library keeps its buffer records for the life of
 * the process on purpose; a leak checker build must not count them. */
extern "C" __attribute__((visibility("default"), used)) const char *__lsan_default_suppressions()
{
    return "leak:libOSMesa.so\n";
}
