#include "host_test.h"

#include "hostlib/tools/az_tools.h"
#include "hostlib/win32/az_win.h"
#include "module/entry.h"
#include "tests/support/fault.h"
#include "tests/support/host_steps.h"
#include "tests/support/panel_state.h"

void Host_Test::SetUp()
{
    ASSERT_EQ(AzApp_Reset(module_level ? Class_Insert : nullptr), 1) << "a worker of an earlier test still runs";
    Panel_Reset();
    Fault_Disarm();
    windows_before = AzWin_Count();
}

static void Expect_Unlocked(Kelvra_Class *cls)
{
    EXPECT_EQ(cls->Lock_Get(), 0) << "lock count of " << cls->Name_Get();
    for (int i = 0; i < cls->Child_Get_Nb(); i++)
        Expect_Unlocked(cls->Child_Get_Pt(i));
}

void Host_Test::TearDown()
{
    Fault_Disarm();
    EXPECT_EQ(Wait(), 1) << "the host became idle";
    EXPECT_EQ(*AzDb_Lock_Focus(), 0) << "the interface lock byte is clear";
    EXPECT_EQ(AzTools_Wait_Cursor(), 0) << "the wait cursor is back";
    EXPECT_EQ(AzWin_Threads_Alive(), 0) << "no worker thread is alive";
    EXPECT_EQ(AzWin_Count(), windows_before) << "every window made during the test is gone";
    if (AzDb_Root())
        Expect_Unlocked(AzDb_Root());
    AzHost_Trace_Stop();
    if (AzWin_Threads_Alive() == 0)
        AzDb_Reset(); // the module's classes go while no worker can reach them
    for (AzPhantom *study : studies)
        AzPhantom_Free(study);
    studies.clear();
    AzWin_Pump();
}

AzPhantom *Host_Test::Load(const AzPhantom_Plan &plan, int order, unsigned int seed)
{
    AzLoaded_Series loaded;
    AzPhantom *study = AzApp_Study_Enter(plan, plan.name ? plan.name : "", order, seed, -1, &loaded);
    EXPECT_NE(study, nullptr) << "the phantom " << (plan.name ? plan.name : "") << " is built";
    if (!study)
        return nullptr;
    studies.push_back(study);
    EXPECT_EQ(loaded.inserted_nb, loaded.frames_nb) << "the database took every frame of " << loaded.name;
    return study;
}

AzPhantom *Host_Test::Load(const char *name, int width, int height, int slices, float sx, float sy, float sz)
{
    return Load(Plan_Of(name, width, height, slices, sx, sy, sz));
}

Kelvra_Oblique *Host_Test::Direction(const AzPhantom *study, int direction)
{
    return static_cast<Kelvra_Oblique *>(AzApp_Study_Direction(AzApp_Study_Class(study), direction));
}
