/*
 * The pixel path: every grey level (and every tag) of every frame of the
 * Oblique direction, read the way the host's views read a frame: frame ->
 * its class's callback -> mapping into the study -> the study's pixels.
 */
#include <vector>

#include <benchmark/benchmark.h>

#include "bench_world.h"
#include "hostlib/structures/az_db.h"

namespace {

/* Reads every frame whole with the host's frame reader (grey levels or
 * tags), frames_per_read frames at a time, on the given number of threads
 * (0: every core); the number of pixels read. */
int64_t Volume_Read(Kelvra_Oblique *cls, int tags, int threads, int frames_per_read, int64_t *sum)
{
    int64_t count = 0, total = 0;
    std::vector<int32_t> gli;
    std::vector<uint8_t> tag;
    std::vector<AzFrame *> frames;
    int frames_nb = cls->Child_Get_Nb();
    for (int k = 0; k < frames_nb; k += frames_per_read) {
        frames.clear();
        for (int i = k; i < k + frames_per_read && i < frames_nb; i++)
            frames.push_back(AzFrame_Cast(cls->Child_Get_Pt(i)));
        int width = 0, height = 0;
        if (!frames[0] || !AzFrame_Get_Dim(frames[0], &width, &height))
            continue;
        size_t n = (size_t)width * height * frames.size();
        if (tags) {
            tag.resize(n);
            AzFrame_Read_Many(frames.data(), (int)frames.size(), width, height, nullptr, tag.data(), threads);
            total += tag[n / 2];
        } else {
            gli.resize(n);
            AzFrame_Read_Many(frames.data(), (int)frames.size(), width, height, gli.data(), nullptr, threads);
            total += gli[n / 2];
        }
        count += (int64_t)n;
    }
    *sum = total;
    return count;
}

void Counters_Set(benchmark::State &state, int64_t voxels)
{
    state.counters["voxels"] = benchmark::Counter((double)voxels);
    state.counters["voxels_per_s"] = benchmark::Counter((double)voxels, benchmark::Counter::kIsIterationInvariantRate);
    // Inverted rate of a billionth of the voxels: nanoseconds per voxel.
    state.counters["ns_per_voxel"] = benchmark::Counter(
        (double)voxels * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

/* range(0): volume; range(1): threads (0 every core); range(2): frames
 * per read. */
void Pixel_Path(benchmark::State &state, int tags)
{
    Bench_World *world = Bench_World_For(state, (int)state.range(0));
    if (!world)
        return;
    state.SetLabel(world->synthetic ? "synthetic " + world->source : world->source);
    int threads = (int)state.range(1);
    int64_t voxels = 0, sum = 0;
    for (auto _ : state) {
        voxels = Volume_Read(world->oblique, tags, threads, (int)state.range(2), &sum);
        benchmark::DoNotOptimize(sum);
    }
    Counters_Set(state, voxels);
}

/* The same walk, stopping at each stage of the path, to see where the time
 * goes: the module's callback called directly, the mapping alone, and the
 * study's interpolation alone (in the study's own order: the memory walk
 * without the oblique jumps). */
int64_t Walk_Callback(Kelvra_Oblique *cls, int64_t *sum)
{
    int64_t count = 0, total = 0;
    for (int k = 0; k < cls->Child_Get_Nb(); k++) {
        AzFrame *frame = AzFrame_Cast(cls->Child_Get_Pt(k));
        for (int y = 0; y < cls->dim.y; y++)
            for (int x = 0; x < cls->dim.x; x++)
                total += Class_Oblique_Pixel_Get_GLI(cls, frame->key, Vect((float)x, (float)y, (float)k, 0.0f));
        count += (int64_t)cls->dim.x * cls->dim.y;
    }
    *sum = total;
    return count;
}

/* The mapping as the callbacks call it: on a point they received by
 * value, in registers. */
__attribute__((noinline)) int Map_Point(Kelvra_Oblique *cls, void **key, void **next, Vect point)
{
    return Oblique_Map(cls, key, next, &point);
}

int64_t Walk_Map(Kelvra_Oblique *cls, int64_t *sum)
{
    int64_t count = 0, total = 0;
    for (int k = 0; k < cls->Child_Get_Nb(); k++) {
        AzFrame *frame = AzFrame_Cast(cls->Child_Get_Pt(k));
        for (int y = 0; y < cls->dim.y; y++)
            for (int x = 0; x < cls->dim.x; x++) {
                void *key = frame->key, *next = nullptr;
                total += Map_Point(cls, &key, &next, Vect((float)x, (float)y, (float)k, 0.0f));
            }
        count += (int64_t)cls->dim.x * cls->dim.y;
    }
    *sum = total;
    return count;
}

int64_t Walk_Study(Kelvra_Oblique *cls, int64_t *sum)
{
    Kelvra_Oblique *org = static_cast<Kelvra_Oblique *>(AzApp_Study_Direction(cls->Parent_Get_Pt(), 0));
    Kelvra_Class *study = org->Parent_Get_Pt();
    int64_t count = 0, total = 0;
    for (int f = 0; f < org->real_files_nb; f++) {
        void *key = Oblique_Frame_Key(org, f);
        float z = (float)org->real_files_z[f], t = (float)org->real_files_t[f];
        // A new point each time: built in registers, as the module's mapping hands it on.
        for (int y = 0; y < org->dim.y; y++)
            for (int x = 0; x < org->dim.x; x++)
                total += Fct_GLI_Interpolate(study, key, key, Vect((float)x + 0.25f, (float)y + 0.5f, z, t));
        count += (int64_t)org->dim.x * org->dim.y;
    }
    *sum = total;
    return count;
}

void Stage(benchmark::State &state, int64_t (*walk)(Kelvra_Oblique *, int64_t *))
{
    Bench_World *world = Bench_World_For(state, (int)state.range(0));
    if (!world)
        return;
    int64_t voxels = 0, sum = 0;
    for (auto _ : state) {
        voxels = walk(world->oblique, &sum);
        benchmark::DoNotOptimize(sum);
    }
    Counters_Set(state, voxels);
}

void BM_Stage_Callback(benchmark::State &state) { Stage(state, Walk_Callback); }
void BM_Stage_Map(benchmark::State &state) { Stage(state, Walk_Map); }
void BM_Stage_Study_Interpolate(benchmark::State &state) { Stage(state, Walk_Study); }

void BM_Pixel_Path_GLI(benchmark::State &state) { Pixel_Path(state, 0); }
void BM_Pixel_Path_TAG(benchmark::State &state) { Pixel_Path(state, 1); }

} // namespace

/* One thread: CPU time; every core: wall-clock time. */
void Path_Args(benchmark::internal::Benchmark *b, int volume)
{
    b->ArgNames({"volume", "threads", "frames"})->Args({volume, 1, 1})->Args({volume, 1, 8});
    b->Unit(benchmark::kMillisecond)->MinTime(2.0);
}
void Path_Args_All(benchmark::internal::Benchmark *b, int volume)
{
    b->ArgNames({"volume", "threads", "frames"})->Args({volume, 0, 8});
    b->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
}

BENCHMARK(BM_Pixel_Path_GLI)->Apply([](benchmark::internal::Benchmark *b) { Path_Args(b, BENCH_COLIN27); });
BENCHMARK(BM_Pixel_Path_TAG)->Apply([](benchmark::internal::Benchmark *b) { Path_Args(b, BENCH_COLIN27); });
BENCHMARK(BM_Pixel_Path_GLI)->Apply([](benchmark::internal::Benchmark *b) { Path_Args_All(b, BENCH_COLIN27); });
BENCHMARK(BM_Pixel_Path_TAG)->Apply([](benchmark::internal::Benchmark *b) { Path_Args_All(b, BENCH_COLIN27); });
BENCHMARK(BM_Stage_Callback)->ArgName("volume")->Arg(BENCH_COLIN27)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stage_Map)->ArgName("volume")->Arg(BENCH_COLIN27)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stage_Study_Interpolate)->ArgName("volume")->Arg(BENCH_COLIN27)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pixel_Path_GLI)->Apply([](benchmark::internal::Benchmark *b) { Path_Args(b, BENCH_CH2BETTER); });
BENCHMARK(BM_Pixel_Path_TAG)->Apply([](benchmark::internal::Benchmark *b) { Path_Args(b, BENCH_CH2BETTER); });
BENCHMARK(BM_Pixel_Path_GLI)->Apply([](benchmark::internal::Benchmark *b) { Path_Args_All(b, BENCH_CH2BETTER); });
BENCHMARK(BM_Pixel_Path_TAG)->Apply([](benchmark::internal::Benchmark *b) { Path_Args_All(b, BENCH_CH2BETTER); });
