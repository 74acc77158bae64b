/*
 * The host the benchmarks run in: the host program's own set-up (console,
 * module, database, panel), one study loaded, the Oblique direction turned
 * by the panel and its frames created by the worker, exactly as a user's
 * session would leave them.  One world at a time: asking for another
 * study tears the current one down first.
 */
#ifndef BENCH_WORLD_H
#define BENCH_WORLD_H

#include <string>

#include <benchmark/benchmark.h>

#include "hostapp/lib/az_app.h"
#include "oblique/oblique.h"

enum Bench_Volume {
    BENCH_COLIN27 = 0,     /* 181 x 217 x 181 */
    BENCH_CH2BETTER = 1,   /* 301 x 370 x 316 */
    BENCH_THOUSAND = 2,    /* synthetic, 1,000 frames of 64 x 64 */
    BENCH_VOLUME_NB = 3
};

/* The angles the benchmarks cut at. */
#define BENCH_ALPHA_DEG 20.0
#define BENCH_BETA_DEG (-15.0)

struct Bench_World {
    AzApp app;
    int volume;
    int synthetic;            /* 1: the file was missing, an equally sized phantom stands in */
    std::string source;       /* file read, or the phantom's description */
    Kelvra_Oblique *original; /* the study's two directions */
    Kelvra_Oblique *oblique;
};

/* The world for a volume, set up on first use (null with the reason on
 * standard error when it cannot be).  The Oblique direction has its
 * frames; the panel is open on it. */
Bench_World *Bench_World_Get(int volume);
/* The same for a benchmark: skips it with an error when there is none. */
Bench_World *Bench_World_For(benchmark::State &state, int volume);
/* Tears the current world down (nothing when none). */
void Bench_World_End(void);

/* Name of a volume ("colin27", "ch2better", "thousand"). */
const char *Bench_Volume_Name(int volume);

/* Turns the panel to the angles (degrees) as its valuators do, rebuilding
 * the current direction's size, voxel and mapping and the preview. */
void Bench_Rotate(double alpha_deg, double beta_deg);

/* Runs "Update DB" with the given directions switched on and pumps until
 * the worker is done; the number of frames the two directions then hold. */
int Bench_Apply(Bench_World *world, int original_on, int oblique_on);

/* Pumps the host until no apply runs and no update waits. */
void Bench_Idle(Bench_World *world);

#endif
