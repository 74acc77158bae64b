/*
 * Creating frames: "Update DB" to the last frame for a 1,000-frame study,
 * and the memory an Oblique direction holds against a resampled copy.
 */
#include <malloc.h>

#include <chrono>

#include <benchmark/benchmark.h>

#include "bench_world.h"

namespace {

/* Heap bytes in use, every arena and mapped block counted. */
int64_t Heap_In_Use(void)
{
    struct mallinfo2 info = mallinfo2();
    return (int64_t)info.uordblks + (int64_t)info.hblkhd;
}

/* One apply of one direction (0 Original, 1 Oblique) from no frames, timed
 * from "Update DB" until the worker is done and the host has taken every
 * update it posted. */
void BM_Apply(benchmark::State &state)
{
    Bench_World *world = Bench_World_For(state, BENCH_THOUSAND);
    if (!world)
        return;
    int direction = (int)state.range(0);
    Kelvra_Oblique *cls = direction ? world->oblique : world->original;
    int frames = 0;
    for (auto _ : state) {
        Bench_Apply(world, 0, 0);
        auto start = std::chrono::steady_clock::now();
        Ctrl_Apply(direction == 0, world->original, direction == 1, world->oblique);
        Bench_Idle(world);
        auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        frames = cls->Child_Get_Nb();
    }
    state.SetLabel(direction ? "Oblique direction" : "Original direction");
    state.counters["frames"] = benchmark::Counter((double)frames);
    state.counters["frames_per_s"] = benchmark::Counter((double)frames, benchmark::Counter::kIsIterationInvariantRate);
    // Leave the world as it was made: the Oblique direction with frames.
    Bench_Apply(world, 0, 1);
}

/* Heap held by the Oblique direction's frames (measured), plus the class,
 * its header and file record (their sizes), against the bytes of a 16-bit
 * resampled copy of the same grid. */
void BM_Memory(benchmark::State &state)
{
    Bench_World *world = Bench_World_For(state, (int)state.range(0));
    if (!world)
        return;
    Kelvra_Oblique *cls = world->oblique;
    int64_t frames_bytes = 0;
    for (auto _ : state) {
        Bench_Apply(world, 0, 0);
        int64_t before = Heap_In_Use();
        Bench_Apply(world, 0, 1);
        frames_bytes = Heap_In_Use() - before;
    }
    int64_t own = (int64_t)sizeof(Kelvra_Oblique) + (int64_t)sizeof(Vexa_Image) + (int64_t)sizeof(Kelvra_File) +
                  2 * (int64_t)sizeof(Vexa_Image *) + 2 * (int64_t)sizeof(Matrix_4x4);
    int64_t copy = (int64_t)cls->dim.x * cls->dim.y * cls->dim.z * 2;
    int frames = cls->Child_Get_Nb();
    state.counters["frames"] = benchmark::Counter(frames);
    state.counters["frames_bytes"] = benchmark::Counter((double)frames_bytes, benchmark::Counter::kDefaults,
                                                        benchmark::Counter::kIs1024);
    state.counters["bytes_per_frame"] = benchmark::Counter(frames ? (double)frames_bytes / frames : 0.0);
    state.counters["class_bytes"] = benchmark::Counter((double)own);
    state.counters["total_bytes"] = benchmark::Counter((double)(own + frames_bytes), benchmark::Counter::kDefaults,
                                                       benchmark::Counter::kIs1024);
    state.counters["copy_bytes"] = benchmark::Counter((double)copy, benchmark::Counter::kDefaults,
                                                      benchmark::Counter::kIs1024);
    state.counters["total_to_copy"] = benchmark::Counter(copy ? (double)(own + frames_bytes) / copy : 0.0);
}

} // namespace

BENCHMARK(BM_Apply)->ArgName("direction")->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(BM_Memory)->ArgName("volume")->Arg(BENCH_COLIN27)->Arg(BENCH_CH2BETTER)->Iterations(1);
