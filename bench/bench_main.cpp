/*
 * The benchmarks' program.  Besides Google Benchmark's own options:
 *   --geometry VOLUME   prints, as JSON, the Oblique direction's output grid
 *                       and its voxel mapping for a volume (colin27,
 *                       ch2better), for side-by-side runs with other tools.
 *   --hash VOLUME       paints a fixed tag pattern into the study, then prints
 *                       a hash of every grey level and every tag of every
 *                       frame of both directions, read pixel by pixel and
 *                       with the frame reader on one thread and on every
 *                       core: the figures every speed-up must leave
 *                       unchanged.  Exit 1 when the ways differ.
 */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench_world.h"
#include "hostlib/structures/az_db.h"

namespace {

void Json_String(FILE *out, const char *key, const std::string &value, const char *after)
{
    fprintf(out, "  \"%s\": \"", key);
    for (char c : value)
        fprintf(out, c == '"' || c == '\\' ? "\\%c" : "%c", c);
    fprintf(out, "\"%s\n", after);
}

/* The benchmark volume of that name, built on first use; nullptr (said on
 * standard error, naming what was asked for) when there is none. */
Bench_World *World_Named(const char *name, const char *what)
{
    for (int v = 0; v < BENCH_VOLUME_NB; v++)
        if (strcmp(name, Bench_Volume_Name(v)) == 0)
            if (Bench_World *world = Bench_World_Get(v))
                return world;
    fprintf(stderr, "bench: no %s for \"%s\"\n", what, name);
    return nullptr;
}

/* The Oblique direction's output grid and frame-to-study voxel transform
 * (row vectors: source = (x, y, z, 1) * matrix). */
int Geometry_Print(const char *name)
{
    Bench_World *world = World_Named(name, "geometry");
    if (!world)
        return 1;
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

/* FNV-1a, 64 bits. */
struct Hash {
    uint64_t value = 0xcbf29ce484222325ull;
    void Add(const void *data, size_t size)
    {
        const unsigned char *p = (const unsigned char *)data;
        for (size_t i = 0; i < size; i++)
            value = (value ^ p[i]) * 0x100000001b3ull;
    }
};

/* Tags that change from pixel to pixel, plane to plane: nearest-pixel
 * reads that pick a neighbour show in the hash. */
void Tags_Paint(Kelvra_Oblique *org)
{
    for (int f = 0; f < org->real_files_nb; f++) {
        Vexa_Image *image = (Vexa_Image *)Oblique_Frame_Key(org, f);
        uint8_t *tag = AzImage_TAG_Plane(image, org->real_files_z[f], org->real_files_t[f]);
        for (int y = 0; y < image->height; y++)
            for (int x = 0; x < image->width; x++)
                tag[y * image->width + x] = (uint8_t)(x * 7 + y * 13 + f * 29);
    }
}

/* Grey levels and tags of frames of one size: pixel by pixel (threads <
 * 0), with the host's frame reader one frame at a time on one thread
 * (threads 1), or as the export reads them, eight frames at a time on
 * every core (threads 0). */
void Frames_Hash(AzFrame *const *frames, int count, int threads, Hash *gli, Hash *tag)
{
    int width = 0, height = 0;
    if (count == 0 || !AzFrame_Get_Dim(frames[0], &width, &height))
        return;
    size_t plane = (size_t)width * height;
    std::vector<int32_t> g(plane * count);
    std::vector<uint8_t> t(plane * count);
    if (threads == 0) {
        AzFrame_Read_Many(frames, count, width, height, g.data(), t.data(), 0);
    } else {
        for (int i = 0; i < count; i++) {
            int32_t *gi = &g[plane * i];
            uint8_t *ti = &t[plane * i];
            if (threads > 0) {
                AzFrame_Read(frames[i], width, height, gi, ti, threads);
                continue;
            }
            for (int y = 0; y < height; y++)
                for (int x = 0; x < width; x++) {
                    gi[(size_t)y * width + x] = AzFrame_Get_GLI(frames[i], (float)x, (float)y);
                    ti[(size_t)y * width + x] = (uint8_t)AzFrame_Get_TAG(frames[i], (float)x, (float)y);
                }
        }
    }
    gli->Add(g.data(), g.size() * sizeof(int32_t));
    tag->Add(t.data(), t.size());
}

/* Every frame of a direction, in blocks of eight.  The Original
 * direction's frames are gone once only the Oblique one is on: its source
 * frames then stand in, read through the Original class's callbacks as its
 * frames would be. */
void Direction_Hash(Kelvra_Oblique *cls, int threads, Hash *gli, Hash *tag)
{
    std::vector<AzFrame *> frames;
    std::vector<AzFrame *> stand_ins;
    if (cls->Child_Get_Nb() == 0 && !cls->matrix_pt) {
        for (int f = 0; f < cls->real_files_nb; f++) {
            AzFrame *frame = new AzFrame((Vexa_Image *)Oblique_Frame_Key(cls, f), cls->real_files_z[f],
                                         cls->real_files_t[f]);
            frame->Parent_Set_Pt(cls);
            stand_ins.push_back(frame);
        }
        frames = stand_ins;
    } else {
        for (int k = 0; k < cls->Child_Get_Nb(); k++)
            if (AzFrame *frame = AzFrame_Cast(cls->Child_Get_Pt(k)))
                frames.push_back(frame);
    }
    const int block = 8;
    for (size_t k = 0; k < frames.size(); k += block)
        Frames_Hash(&frames[k], (int)std::min<size_t>(block, frames.size() - k), threads, gli, tag);
    for (AzFrame *frame : stand_ins) {
        frame->Parent_Set_Pt(nullptr);
        delete frame;
    }
}

int Hash_Print(const char *name)
{
    Bench_World *world = World_Named(name, "world");
    if (!world)
        return 1;
    Tags_Paint(world->original);
    Kelvra_Oblique *directions[2] = {world->original, world->oblique};
    const char *labels[2] = {"original", "oblique"};
    const char *ways[3] = {"pixels", "frames-1", "frames-all"};
    int differ = 0;
    for (int d = 0; d < 2; d++) {
        Hash first[2];
        for (int way = 0; way < 3; way++) {
            Hash gli, tag;
            Direction_Hash(directions[d], way == 0 ? -1 : way == 1 ? 1 : 0, &gli, &tag);
            printf("%s %s %s gli %016llx tag %016llx\n", name, labels[d], ways[way], (unsigned long long)gli.value,
                   (unsigned long long)tag.value);
            if (way == 0) {
                first[0] = gli;
                first[1] = tag;
            }
            differ |= gli.value != first[0].value || tag.value != first[1].value;
        }
    }
    if (differ)
        fprintf(stderr, "bench: the frame reader and the single-pixel reads differ\n");
    Bench_World_End();
    return differ;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && strcmp(argv[1], "--geometry") == 0)
        return Geometry_Print(argv[2]);
    if (argc == 3 && strcmp(argv[1], "--hash") == 0)
        return Hash_Print(argv[2]);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Bench_World_End();
    return 0;
}
