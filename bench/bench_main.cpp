/*
 * The benchmarks' program.  Besides Google Benchmark's own options:
 *   --geometry VOLUME   prints, as JSON, the Oblique direction's output grid
 *                       and its voxel mapping for a volume (colin27,
 *                       ch2better), for side-by-side runs with other tools.
 */
#include <stdio.h>
#include <string.h>

#include <benchmark/benchmark.h>

#include "bench_world.h"

namespace {

void Json_String(FILE *out, const char *key, const std::string &value, const char *after)
{
    fprintf(out, "  \"%s\": \"", key);
    for (char c : value)
        fprintf(out, c == '"' || c == '\\' ? "\\%c" : "%c", c);
    fprintf(out, "\"%s\n", after);
}

/* The Oblique direction's output grid and frame-to-study voxel transform
 * (row vectors: source = (x, y, z, 1) * matrix). */
int Geometry_Print(const char *name)
{
    int volume = -1;
    for (int v = 0; v < BENCH_VOLUME_NB; v++)
        if (strcmp(name, Bench_Volume_Name(v)) == 0)
            volume = v;
    Bench_World *world = volume >= 0 ? Bench_World_Get(volume) : nullptr;
    if (!world) {
        fprintf(stderr, "bench: no geometry for \"%s\"\n", name);
        return 1;
    }
    const Kelvra_Oblique *org = world->original, *obl = world->oblique;
    const Matrix_4x4 &m = obl->matrix_pt ? *obl->matrix_pt : obl->matrix;
    FILE *out = stdout;
    fprintf(out, "{\n");
    Json_String(out, "volume", name, ",");
    Json_String(out, "source", world->source, ",");
    fprintf(out, "  \"synthetic\": %d,\n", world->synthetic);
    fprintf(out, "  \"alpha_deg\": %.17g,\n  \"beta_deg\": %.17g,\n", BENCH_ALPHA_DEG, BENCH_BETA_DEG);
    fprintf(out, "  \"source_dim\": [%d, %d, %d],\n", org->dim.x, org->dim.y, (int)org->real_files_nb);
    fprintf(out, "  \"dim\": [%d, %d, %d],\n", obl->dim.x, obl->dim.y, obl->dim.z);
    fprintf(out, "  \"frames\": %d,\n", obl->Child_Get_Nb());
    fprintf(out, "  \"matrix\": [");
    for (int i = 0; i < 16; i++)
        fprintf(out, "%s%.9g", i ? ", " : "", m.m[i / 4][i % 4]);
    fprintf(out, "]\n}\n");
    Bench_World_End();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && strcmp(argv[1], "--geometry") == 0)
        return Geometry_Print(argv[2]);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Bench_World_End();
    return 0;
}
