/*
 * The panel's preview: building the slice images, drawing them, and the
 * latency of one valuator drag event from Ctrl_Motion to the drawn preview.
 */
#include <math.h>

#include <string>

#include <benchmark/benchmark.h>

#include "bench_world.h"
#include "hostlib/tools/az_tools.h"

/* The panel's preview window and box, and its left vertical valuator. */
extern HWND image_window;
extern Boxs box_image;
extern Valuators valuator_vert[2];

namespace {

/* The middle slice of the Oblique direction. */
int Middle(const Kelvra_Oblique *cls) { return cls->dim.z / 2; }

void Pixels_Counter(benchmark::State &state, int64_t pixels)
{
    state.counters["pixels"] = benchmark::Counter((double)pixels);
    state.counters["pixels_per_s"] = benchmark::Counter((double)pixels, benchmark::Counter::kIsIterationInvariantRate);
}

/* One of the two slice-image builders at the asked side. */
void Preview_Build(benchmark::State &state, int (*build)(Kelvra_Oblique *, Vexa_Image *, int, int, int))
{
    Bench_World *world = Bench_World_For(state, BENCH_COLIN27);
    if (!world)
        return;
    Kelvra_Oblique *cls = world->oblique;
    int side = (int)state.range(0);
    for (auto _ : state)
        benchmark::DoNotOptimize(build(cls, cls->dir_image, side, side, Middle(cls)));
    Pixels_Counter(state, (int64_t)side * side);
}

void BM_Preview_GLI_Build(benchmark::State &state) { Preview_Build(state, Oblique_GLI_Build); }
void BM_Preview_TAG_Build(benchmark::State &state) { Preview_Build(state, Oblique_TAG_Build); }

/* The drawing takes the slice size from the class: the class is given the
 * asked size for the run and its own back afterwards. */
void BM_Preview_Image(benchmark::State &state)
{
    Bench_World *world = Bench_World_For(state, BENCH_COLIN27);
    if (!world)
        return;
    Kelvra_Oblique *cls = world->oblique;
    int side = (int)state.range(0);
    Oblique_Dim kept = cls->dim;
    cls->dim.x = cls->dim.y = side;
    Oblique_GLI_Build(cls, cls->dir_image, side, side, Middle(cls));
    Oblique_TAG_Build(cls, cls->dir_image, side, side, Middle(cls));
    for (auto _ : state)
        Oblique_Image(image_window, &box_image, cls);
    cls->dim = kept;
    Pixels_Counter(state, (int64_t)side * side);
}

/* Press on the left vertical valuator where it reads the benchmark's
 * alpha, then one motion event per iteration, a pixel up or down: each
 * turns the direction, rebuilds both slice images and draws the preview. */
void BM_Drag_Latency(benchmark::State &state)
{
    Bench_World *world = Bench_World_For(state, (int)state.range(0));
    if (!world)
        return;
    AzApp *app = &world->app;
    Valuators &v = valuator_vert[0];
    if (v.bound_1 == v.bound_0) {
        state.SkipWithError("the valuator has no range");
        return;
    }
    double fraction = (BENCH_ALPHA_DEG * M_PI / 180.0 - v.bound_0) / (v.bound_1 - v.bound_0);
    int x = v.x + v.width / 2;
    int y = v.y + (int)lround(fraction * (v.height - 1));
    AzTools_Pointer_Set(app->panel_window, x, y, AZ_POINTER_LEFT);
    app->module.Ctrl_Click(nullptr, AZ_POINTER_LEFT);
    AzApp_Pump(app);
    int step = 0;
    for (auto _ : state) {
        int at = y + (step++ & 1);
        AzTools_Pointer_Set(app->panel_window, x, at, AZ_POINTER_LEFT);
        app->module.Ctrl_Motion(nullptr, AZ_POINTER_LEFT, (short)x, (short)at);
        AzApp_Pump(app);
    }
    AzTools_Pointer_Set(app->panel_window, x, y, AZ_POINTER_NONE);
    app->module.Ctrl_Motion(nullptr, AZ_POINTER_NONE, (short)x, (short)y);
    AzApp_Pump(app);
    const Kelvra_Oblique *cls = world->oblique;
    state.SetLabel(std::to_string(cls->dim.x) + "x" + std::to_string(cls->dim.y) + " preview");
    state.counters["preview_pixels"] = benchmark::Counter((double)cls->dim.x * cls->dim.y);
    // Back to the benchmark's exact angles for whatever runs next.
    Bench_Rotate(BENCH_ALPHA_DEG, BENCH_BETA_DEG);
}

} // namespace

BENCHMARK(BM_Preview_GLI_Build)->ArgName("side")->Arg(256)->Arg(512)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Preview_TAG_Build)->ArgName("side")->Arg(256)->Arg(512)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Preview_Image)->ArgName("side")->Arg(256)->Arg(512)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Drag_Latency)->ArgName("volume")->Arg(BENCH_COLIN27)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Drag_Latency)->ArgName("volume")->Arg(BENCH_CH2BETTER)->Unit(benchmark::kMillisecond);
