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
    if (panel) {
        Ctrl_Close();
        AzTools_Pointer_Clear(panel);
        if (image_window)
            DestroyWindow(image_window);
        image_window = nullptr;
        DestroyWindow(panel);
        panel = nullptr;
        free(Instance_Pt);
        Instance_Pt = nullptr;
        Instance_Nb = 0;
        Instance_Cur = 0;
        Dir_Cur = 0;
    }
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
    AzStudy_Spec spec;
    spec.width = width;
    spec.height = height;
    spec.slices = slices;
    spec.name = name;
    AzStudy *study = AzStudy_Build(spec);
    EXPECT_NE(study, nullptr);
    if (!study)
        return nullptr;
    studies.push_back(study);
    EXPECT_EQ(AzStudy_Insert(study, AZ_ORDER_ASCENDING, 0), slices);
    Pump();
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
    panel = CreateWindowExA(0, "StressPanel", "panel", WS_VISIBLE, 0, 0, 200, 600, nullptr, nullptr, nullptr,
                            nullptr);
    ASSERT_NE(panel, nullptr);
    ASSERT_EQ(Ctrl_Create(panel, 200, 600), 1);
    ASSERT_EQ(Ctrl_Resize(panel, 200, 600), 1);
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

int Stress_Test::Wait_Worker()
{
    for (int i = 0; i < 6000 && AzTools_Wait_Cursor() > 0; i++) {
        AzWin_Pump();
        AzWin_Wait(10);
    }
    Pump();
    return AzTools_Wait_Cursor() == 0;
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

std::vector<AzFrame *> Frames_Of(Kelvra_Class *cls)
{
    std::vector<AzFrame *> frames;
    for (int i = 0; i < cls->Child_Get_Nb(); i++)
        frames.push_back(AzFrame_Cast(cls->Child_Get_Pt(i)));
    return frames;
}

Matrix_4x4 Swap_Matrix(int last, int reversed)
{
    Matrix_4x4 m;
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++)
            m[i][j] = 0.0f;
    m[2][0] = 1.0f;
    m[1][1] = 1.0f;
    m[0][2] = reversed ? -1.0f : 1.0f;
    m[3][2] = reversed ? (float)last : 0.0f;
    m[3][3] = 1.0f;
    return m;
}
