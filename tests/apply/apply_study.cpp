#include "apply_study.h"

#include "hostlib/tools/az_tools.h"
#include "hostlib/win32/az_win.h"
#include "module/entry.h"

void Study_Test::SetUp()
{
    AzDb_Init();
    AzHost_Interface_Thread_Set();
    ASSERT_EQ(AzProgress_Register(), 1);
    AzDb_Tree_Default(Class_Insert);
    AzProgress_Forget();
    AzHost_Script_Flag_Set(0);
}

void Study_Test::TearDown()
{
    EXPECT_EQ(Worker_Wait(), 1);
    AzWin_Fail_Thread(0);
    AzHost_Script_Flag_Set(0);
    AzHost_Trace_Stop();
    AzDb_Reset();
    if (study)
        AzStudy_Free(study);
    study = nullptr;
    AzWin_Pump();
}

void Study_Test::Load(const AzStudy_Plan &plan)
{
    study = AzStudy_Build(plan);
    ASSERT_NE(study, nullptr);
    int frames = plan.slices * plan.times;
    ASSERT_EQ(AzStudy_Insert(study, AZ_ORDER_ASCENDING, 0), frames);
    ASSERT_EQ(AzDb_Root()->Child_Get_Nb(), 1);
    study_class = AzDb_Root()->Child_Get_Pt(0);
    ASSERT_EQ(study_class->Child_Get_Nb(), 2);
    org = (Kelvra_Oblique *)study_class->Child_Get_Pt(0);
    obl = (Kelvra_Oblique *)study_class->Child_Get_Pt(1);
    ASSERT_EQ(org->Class_A_Get(), 13);
    ASSERT_EQ(obl->Class_A_Get(), 14);
    ASSERT_EQ(org->Child_Get_Nb(), frames);
    AzHost_Pump();
}

void Study_Test::Build_Oblique(const Matrix_4x4 &matrix, int dim_x, int dim_y, int dim_z)
{
    Oblique_Setup(org, obl);
    obl->matrix = matrix;
    obl->dim.x = dim_x;
    obl->dim.y = dim_y;
    obl->dim.z = dim_z;
    ASSERT_EQ(Ctrl_Apply(1, org, 1, obl), 1);
    ASSERT_EQ(Worker_Wait(), 1);
    ASSERT_EQ(obl->Child_Get_Nb(), dim_z);
}
