#include "stress_fixture.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>

Watchdog::Watchdog(const std::string &case_name, int seconds) : name(case_name), step("start")
{
    thread = std::thread([this, seconds] { Run(seconds); });
}

Watchdog::~Watchdog()
{
    {
        std::lock_guard<std::mutex> hold(lock);
        done = true;
    }
    wake.notify_all();
    thread.join();
}

void Watchdog::Step(const std::string &what)
{
    std::lock_guard<std::mutex> hold(lock);
    step = what;
}

void Watchdog::Run(int seconds)
{
    std::unique_lock<std::mutex> hold(lock);
    if (wake.wait_for(hold, std::chrono::seconds(seconds), [this] { return done; }))
        return;
    fprintf(stderr, "\nFAILED: %s hung: still running after %d s, at step \"%s\"\n", name.c_str(), seconds,
            step.c_str());
    fflush(stderr);
    /* The hung threads hold locks: leave without running destructors. */
    _exit(3);
}

void Stress_Test::SetUp()
{
    AzDb_Init();
    AzHost_Interface_Thread_Set();
    ASSERT_EQ(AzProgress_Register(), 1);
    ASSERT_EQ(AzTools_Register(), 1);
    AzDb_Tree_Default(Class_Insert);
    AzProgress_Forget();
    AzHost_Script_Flag_Set(0);
    windows_before = AzWin_Count();
}

void Stress_Test::TearDown()
{
    EXPECT_EQ(Wait_Worker(), 1);
    if (panel)
        Panel_Destroy(panel);
    panel = nullptr;
    AzWin_Pump();
    EXPECT_EQ(AzWin_Count(), windows_before) << "every window made during the case is gone";
    AzHost_Script_Flag_Set(0);
    AzDb_Reset();
    for (AzStudy *study : studies)
        AzStudy_Free(study);
    studies.clear();
    AzWin_Pump();
}

AzStudy *Stress_Test::Load(const char *name, int width, int height, int slices)
{
    AzStudy *study = Study_Load(name, width, height, slices);
    if (study)
        studies.push_back(study);
    return study;
}

/* The study class whose Original direction holds this study's images. */
static Kelvra_Class *Study_Class_Of(AzStudy *study)
{
    Kelvra_Class *root = AzDb_Root();
    for (int i = 0; i < root->Child_Get_Nb(); i++) {
        Kelvra_Class *cls = root->Child_Get_Pt(i);
        Kelvra_Class *org = cls->Child_Get_Pt(0);
        if (org && org->Child_Get_Nb() > 0) {
            AzFrame *frame = AzFrame_Cast(org->Child_Get_Pt(0));
            for (int b = 0; frame && b < study->file->images_nb; b++)
                if (frame->key == study->file->images[b])
                    return cls;
        }
    }
    return nullptr;
}

Kelvra_Oblique *Stress_Test::Org_Of(AzStudy *study)
{
    Kelvra_Class *cls = Study_Class_Of(study);
    return cls ? (Kelvra_Oblique *)cls->Child_Get_Pt(0) : nullptr;
}

Kelvra_Oblique *Stress_Test::Obl_Of(AzStudy *study)
{
    Kelvra_Class *cls = Study_Class_Of(study);
    return cls ? (Kelvra_Oblique *)cls->Child_Get_Pt(1) : nullptr;
}

void Stress_Test::Make_Panel()
{
    panel = Panel_Make("StressPanel", 200, 600);
    ASSERT_NE(panel, nullptr);
    ASSERT_EQ(Ctrl_Open(0), 1);
    Ctrl_Show();
}

void Stress_Test::Pointer(int x, int y)
{
    AzTools_Pointer_Set(panel, x, y, AZ_POINTER_NONE);
}

void Stress_Test::Pump()
{
    AzWin_Pump();
    AzHost_Pump();
}

static void Expect_Unlocked(Kelvra_Class *cls, int *checked)
{
    (*checked)++;
    EXPECT_EQ(cls->Lock_Get(), 0) << cls->Name_Get();
    for (int i = 0; i < cls->Child_Get_Nb(); i++)
        Expect_Unlocked(cls->Child_Get_Pt(i), checked);
}

void Stress_Test::Expect_Quiet()
{
    int checked = 0;
    Access_Init("stress");
    Expect_Unlocked(AzDb_Root(), &checked);
    Access_End("stress");
    EXPECT_GT(checked, 1);
    EXPECT_EQ(*AzDb_Lock_Focus(), 0) << "the interface lock byte is clear";
    EXPECT_EQ(AzTools_Wait_Cursor(), 0);
    EXPECT_EQ(AzHost_Pending(), 0);
}
