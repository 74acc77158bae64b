/* Shared set-up of the preview tests: a study whose pixels the test
 * chooses, its two direction classes, a preview window of a known size and
 * readers of the window's pixels. */
#ifndef DRAW_FIXTURE_H
#define DRAW_FIXTURE_H

#include <gtest/gtest.h>

#include <GL/gl.h>
#include <math.h>
#include <string.h>

#include <string>
#include <vector>

#include "hostlib/structures/az_db.h"
#include "hostlib/structures/az_gl.h"
#include "hostlib/tools/az_tools.h"
#include "hostlib/win32/az_win.h"
#include "module/entry.h"
#include "oblique/oblique.h"
#include "tests/support/console_capture.h"
#include "tests/support/fault.h"
#include "tests/support/host_steps.h"

/* The study's answers, chosen per test: a grey level and a tag for each
 * voxel (x column, y row, z slice) of a small volume. */
struct Draw_Volume {
    int width = 16, height = 8, slices = 5;
    std::vector<int> gli;
    std::vector<int> tag;
    bool record = false;
    std::vector<Vect> seen;   /* points the grey callback received, when recording */
    int At(int x, int y, int z) const { return (z * height + y) * width + x; }
};

extern Draw_Volume *draw_volume;

int Draw_Study_GLI(Kelvra_Class *cls, void *key, Vect point);
int Draw_Study_TAG(Kelvra_Class *cls, void *key, Vect point);

/* RGB part of a window pixel or colour value. */
inline uint32_t Rgb(uint32_t value) { return value & 0xffffffu; }
inline int Red(uint32_t v) { return (int)(v & 0xff); }
inline int Green(uint32_t v) { return (int)(v >> 8 & 0xff); }
inline int Blue(uint32_t v) { return (int)(v >> 16 & 0xff); }

#define DARK_BLUE 0x402010u /* the host's default colour of pixels without data */
#define WHITE 0xffffffu
#define YELLOW 0x00ffffu

class DrawTest : public ::testing::Test {
  protected:
    Draw_Volume volume;
    Kelvra_Class *study = nullptr;
    Kelvra_Oblique *org = nullptr, *obl = nullptr;
    Vexa_Image header;
    HWND window = nullptr;
    Boxs box;

    void SetUp() override;
    void TearDown() override;

    /* A study of w x h x n voxels of the given size (mm): one image holding
     * every slice, answered by draw_volume; both directions sized like it,
     * mapping identity.  Grey levels x*5 + y*10 + z, tags 0. */
    void Make_Study(int w, int h, int n, float vx = 1.0f, float vy = 1.0f, float vz = 1.0f);
    /* The preview window, w x h pixels. */
    void Make_Window(int w, int h);

    /* Builds both images of slice k of a class and draws the preview. */
    void Preview(Kelvra_Oblique *cls, int k);

    uint32_t Pixel(int x, int y);
    int Window_W();
    int Window_H();
    /* Pixels whose RGB equals a colour, within a rectangle (inclusive). */
    int Count(uint32_t rgb, int x0, int y0, int x1, int y1);
    /* Saves the window under the build folder. */
    void Save(const char *name);
};

/* Console lines as (level, text) for comparison with literal expectations. */
std::vector<Console_Line> Lines(std::initializer_list<Console_Line> lines);

#endif
