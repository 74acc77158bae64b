/* Shared set-up of the preview tests: a study whose pixels the test
 * chooses, its two direction classes, a preview window of a known size and
 * readers of the window's pixels. */
#ifndef DRAW_FIXTURE_H
#define DRAW_FIXTURE_H

#include <gtest/gtest.h>

#include <GL/gl.h>
#include <math.h>

#include <string>
#include <vector>

#include "hostlib/structures/az_db.h"
#include "hostlib/structures/az_gl.h"
#include "hostlib/tools/az_tools.h"
#include "hostlib/win32/az_win.h"
#include "module/entry.h"
#include "oblique/oblique.h"
#include "tests/support/fault.h"
#include "tests/support/golden.h"
#include "tests/support/host_steps.h"
#include "tests/support/host_test.h"

/* The study's answers, chosen per test: a grey level and a tag for each
 * voxel (x column, y row, z slice) of a small volume. */
struct Draw_Volume {
    int width = 16, height = 8, slices = 5;
    std::vector<int> gli, tag;
    bool record = false;
    std::vector<Vect> seen; /* points the grey callback received, when recording */
    int At(int x, int y, int z) const { return (z * height + y) * width + x; }
    /* The voxel a point truncates to, or -1 outside. */
    int Index(const Vect &p) const
    {
        int x = (int)p.x, y = (int)p.y, z = (int)p.z;
        return x < 0 || y < 0 || z < 0 || x >= width || y >= height || z >= slices ? -1 : At(x, y, z);
    }
};

/* RGB part of a window pixel or colour value; a grey level's colour. */
inline uint32_t Rgb(uint32_t value) { return value & 0xffffffu; }
inline uint32_t Grey(int g) { return (uint32_t)g * 0x010101u; }
const uint32_t DARK_BLUE = 0x402010u, WHITE = 0xffffffu, YELLOW = 0x00ffffu;   // dark blue: the host's "no data"

class DrawTest : public Host_Test {
  protected:
    static Draw_Volume *volume_now;
    Draw_Volume volume;
    Kelvra_Class *study = nullptr;
    Kelvra_Oblique *org = nullptr, *obl = nullptr;
    Vexa_Image header;
    HWND window = nullptr;
    Boxs box;

    void SetUp() override
    {
        Host_Test::SetUp();
        header = Vexa_Image();
        header.display_mode = 0;
        header.display_low = 0.0f;
        header.display_high = 255.0f;   // grey level g shows as g
        volume_now = &volume;
    }
    void TearDown() override
    {
        Oblique_Buffers_Release();
        if (window)
            DestroyWindow(window);
        volume_now = nullptr;
        Host_Test::TearDown();
    }
    static int Study_GLI(Kelvra_Class *, void *, Vect p)
    {
        if (volume_now->record)
            volume_now->seen.push_back(p);
        return volume_now->Index(p) < 0 ? 2147483646 : volume_now->gli[volume_now->Index(p)];
    }
    static int Study_TAG(Kelvra_Class *, void *, Vect p)
    {
        return volume_now->Index(p) < 0 ? 0 : volume_now->tag[volume_now->Index(p)];
    }
    /* A study of w x h x n voxels of the given size (mm): one image holding
     * every slice, answered by the volume; both directions sized like it,
     * mapping identity.  Grey levels x*5 + y*10 + z, tags 0. */
    void Make_Study(int w, int h, int n, float vx = 1.0f, float vy = 1.0f, float vz = 1.0f)
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
        AzPhantom_Plan plan = Plan_Of("Preview", w, h, n);
        plan.slices_per_image = 0;
        plan.spacing[0] = vx;
        plan.spacing[1] = vy;
        plan.spacing[2] = vz;
        plan.phantom = plan.tags = 0;
        AzPhantom *built = Load(plan);
        ASSERT_NE(built, nullptr);
        study = AzApp_Study_Class(built);
        study->Pixel_Get_GLI = Study_GLI;
        study->Pixel_Get_TAG = Study_TAG;
        org = Direction(built, 0);
        obl = Direction(built, 1);
        for (Kelvra_Oblique *cls : {org, obl}) {
            cls->dim = Oblique_Dim{w, h, n};
            cls->voxel = Vect(vx, vy, vz, 0.0f);
            cls->matrix.init();
            cls->slice_cur = cls->alpha = cls->beta = cls->theta = 0.0f;
        }
    }
    /* The preview window, w x h pixels. */
    void Make_Window(int w, int h)
    {
        window = CreateWindowExA(0, AZ_TOOLS_CLASS, "preview", WS_VISIBLE, 0, 0, w, h, nullptr, nullptr, nullptr,
                                 nullptr);
        ASSERT_NE(window, nullptr);
        box.x = box.y = 0;
        box.width = (short)w, box.height = (short)h;
        box.window = window;
    }
    /* Builds both images of slice k of a class and draws the preview. */
    void Preview(Kelvra_Oblique *cls, int k)
    {
        cls->slice_cur = (float)k;
        Oblique_GLI_Build(cls, &header, cls->dim.x, cls->dim.y, k);
        Oblique_TAG_Build(cls, &header, cls->dim.x, cls->dim.y, k);
        Oblique_Image(window, &box, cls);
    }
    uint32_t Pixel(int x, int y)
    {
        int w = 0, h = 0;
        uint32_t *pixels = AzWin_Pixels(window, &w, &h);
        return pixels && x >= 0 && y >= 0 && x < w && y < h ? pixels[(size_t)y * w + x] : 0xdeadbeefu;
    }
    /* Pixels whose RGB equals a colour, within a rectangle (inclusive). */
    int Count(uint32_t rgb, int x0, int y0, int x1, int y1)
    {
        int n = 0;
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++)
                n += Rgb(Pixel(x, y)) == rgb;
        return n;
    }
};

#endif
