/* A study loaded through the module's insert level, its two directions,
 * and the wait for the frame-creation worker. */
#ifndef APPLY_FIXTURE_H
#define APPLY_FIXTURE_H

#include <gtest/gtest.h>

#include "apply/oblique_apply.h"
#include "hostlib/structures/az_db.h"
#include "hostlib/structures/az_progress.h"
#include "hostlib/tools/az_tools.h"
#include "hostlib/win32/az_win.h"
#include "module/entry.h"
#include "tests/support/console_capture.h"
#include "tests/support/fault.h"
#include "tests/support/golden.h"
#include "tests/support/host_steps.h"

class Study_Test : public ::testing::Test {
  protected:
    void SetUp() override
    {
        AzDb_Init();
        AzHost_Interface_Thread_Set();
        ASSERT_EQ(AzProgress_Register(), 1);
        AzDb_Tree_Default(Class_Insert);
        AzProgress_Forget();
        AzHost_Script_Flag_Set(0);
    }
    void TearDown() override
    {
        EXPECT_EQ(Worker_Wait(), 1);
        EXPECT_EQ(*AzDb_Lock_Focus(), 0);
        EXPECT_EQ(AzTools_Wait_Cursor(), 0);
        Fault_Disarm();
        AzWin_Fail_Thread(0);
        AzHost_Script_Flag_Set(0);
        AzHost_Trace_Stop();
        AzDb_Reset();
        AzStudy_Free(study);
        AzWin_Pump();
    }
    /* Builds a study and feeds it through the insert chain in location order. */
    void Load(const AzStudy_Plan &plan)
    {
        study = AzStudy_Build(plan);
        ASSERT_NE(study, nullptr);
        int frames = plan.slices * plan.times;
        ASSERT_EQ(AzStudy_Insert(study, AZ_ORDER_ASCENDING, 0), frames);
        study_class = AzDb_Root()->Child_Get_Pt(0);
        org = (Kelvra_Oblique *)study_class->Child_Get_Pt(0);
        obl = (Kelvra_Oblique *)study_class->Child_Get_Pt(1);
        ASSERT_EQ(org->Child_Get_Nb(), frames);
        AzHost_Pump();
    }
    /* Set-up, then the Oblique direction's frames through `matrix`. */
    void Build_Oblique(const Matrix_4x4 &matrix, int dim_x, int dim_y, int dim_z)
    {
        Oblique_Setup(org, obl);
        obl->matrix = matrix;
        obl->dim = Oblique_Dim{dim_x, dim_y, dim_z};
        ASSERT_EQ(Ctrl_Apply(1, org, 1, obl), 1);
        ASSERT_EQ(Worker_Wait(), 1);
        ASSERT_EQ(obl->Child_Get_Nb(), dim_z);
    }
    Golden_Names Names() { return {{"org", org->Name_Get()}, {"obl", obl->Name_Get()}}; }

    AzStudy *study = nullptr;
    Kelvra_Class *study_class = nullptr;
    Kelvra_Oblique *org = nullptr; /* Original direction, child 0 */
    Kelvra_Oblique *obl = nullptr; /* Oblique direction, child 1 */
    Console_Capture console;
};

#endif
