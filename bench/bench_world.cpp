/*
 * Setting up the benchmarks' host.
 */
#include "bench_world.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <vector>

#include "hostlib/structures/az_db.h"
#include "hostlib/win32/az_win.h"

/* The panel's angles (radians) and its state update, from the open module. */
extern float Rot_X, Rot_Y;
/* The panel's request to rebuild the current direction from its angles. */
static const uint64_t panel_rotate_request = 0x40000000000000ull;

namespace {

Bench_World *current = nullptr;

const char *const volume_names[BENCH_VOLUME_NB] = {"colin27", "ch2better", "thousand"};
const char *const volume_files[BENCH_VOLUME_NB] = {"/usr/share/mricron/templates/ch2.nii.gz",
                                                   "/usr/share/mricron/templates/ch2better.nii.gz", nullptr};
/* Sizes of the phantoms standing in for missing files (and the synthetic study). */
const int volume_sizes[BENCH_VOLUME_NB][3] = {{181, 217, 181}, {301, 370, 316}, {64, 64, 1000}};

/* A phantom of the volume's size, loaded as the host loads one. */
int Phantom_Load(Bench_World *world)
{
    AzPhantom_Plan plan;
    plan.width = volume_sizes[world->volume][0];
    plan.height = volume_sizes[world->volume][1];
    plan.slices = volume_sizes[world->volume][2];
    plan.name = volume_names[world->volume];
    char text[128];
    snprintf(text, sizeof(text), "phantom %dx%dx%d", plan.width, plan.height, plan.slices);
    world->source = text;
    world->synthetic = world->volume != BENCH_THOUSAND;
    return AzApp_Load_Built(&world->app, plan, text) == AZ_EXIT_OK;
}

int Volume_Load(Bench_World *world)
{
    const char *file = volume_files[world->volume];
    if (file && access(file, R_OK) == 0) {
        world->source = file;
        world->synthetic = 0;
        return AzApp_Load(&world->app, {file}, "") == AZ_EXIT_OK;
    }
    return Phantom_Load(world);
}

int Session(Bench_World *world, const char *text)
{
    std::string error;
    if (AzApp_Session(&world->app, text, "bench", &error) == AZ_EXIT_OK)
        return 1;
    fprintf(stderr, "bench: %s\n", error.c_str());
    return 0;
}

Kelvra_Oblique *Direction(Bench_World *world, int direction)
{
    return static_cast<Kelvra_Oblique *>(AzApp_Direction(&world->app, 0, direction));
}

int World_Start(Bench_World *world)
{
    AzApp_Options options;
    options.module_path = AZ_BENCH_MODULE;
    // AZ_BENCH_VERBOSE=1 shows the host's details while setting up.
    options.console_level = getenv("AZ_BENCH_VERBOSE") ? 11 : 2;
    if (AzApp_Start(&world->app, options) != AZ_EXIT_OK)
        return 0;
    // Script mode: the worker runs without a progress window.
    AzHost_Script_Flag_Set(0x20);
    if (!Volume_Load(world)) {
        fprintf(stderr, "bench: %s cannot be loaded\n", volume_names[world->volume]);
        return 0;
    }
    if (!Session(world, "open\ndirection oblique on\n"))
        return 0;
    world->original = Direction(world, 0);
    world->oblique = Direction(world, 1);
    if (!world->original || !world->oblique)
        return 0;
    // The 1,000-frame study is cut straight so that both directions hold 1,000 frames.
    if (world->volume == BENCH_THOUSAND)
        Bench_Rotate(0.0, 0.0);
    else
        Bench_Rotate(BENCH_ALPHA_DEG, BENCH_BETA_DEG);
    if (Bench_Apply(world, 0, 1) > 0)
        return 1;
    fprintf(stderr, "bench: the Oblique direction of %s got no frames\n", volume_names[world->volume]);
    return 0;
}

} // namespace

const char *Bench_Volume_Name(int volume)
{
    return volume >= 0 && volume < BENCH_VOLUME_NB ? volume_names[volume] : "?";
}

void Bench_Rotate(double alpha_deg, double beta_deg)
{
    Rot_X = (float)(alpha_deg * M_PI / 180.0);
    Rot_Y = (float)(beta_deg * M_PI / 180.0);
    Ctrl_Update(panel_rotate_request);
}

void Bench_Idle(Bench_World *world)
{
    if (!AzApp_Wait(&world->app, AZ_APP_WAIT_MS))
        fprintf(stderr, "bench: the host is not idle after %d ms\n", AZ_APP_WAIT_MS);
}

int Bench_Apply(Bench_World *world, int original_on, int oblique_on)
{
    Ctrl_Apply(original_on, world->original, oblique_on, world->oblique);
    Bench_Idle(world);
    return world->original->Child_Get_Nb() + world->oblique->Child_Get_Nb();
}

Bench_World *Bench_World_For(benchmark::State &state, int volume)
{
    Bench_World *world = Bench_World_Get(volume);
    if (!world)
        state.SkipWithError("no world");
    return world;
}

Bench_World *Bench_World_Get(int volume)
{
    if (current && current->volume == volume)
        return current;
    Bench_World_End();
    Bench_World *world = new Bench_World();
    world->volume = volume;
    world->synthetic = 0;
    world->original = world->oblique = nullptr;
    if (!World_Start(world)) {
        fprintf(stderr, "bench: the %s world cannot be set up\n", Bench_Volume_Name(volume));
        AzApp_Stop(&world->app);
        delete world;
        return nullptr;
    }
    current = world;
    return world;
}

void Bench_World_End(void)
{
    if (!current)
        return;
    AzApp_Stop(&current->app);
    delete current;
    current = nullptr;
}
