/* A fresh database for every test, and small helpers. */
#ifndef DB_FIXTURE_H
#define DB_FIXTURE_H

#include <gtest/gtest.h>
#include <math.h>

#include "hostlib/structures/az_db.h"
#include "tests/support/host_steps.h"

class Db : public ::testing::Test {
  protected:
    void SetUp() override { AzDb_Init(); }
    void TearDown() override
    {
        AzHost_Trace_Stop();
        AzDb_Reset();
    }
};

/* A plain class of given types, named. */
inline Kelvra_Class *Make_Class(const char *name, unsigned short a, unsigned short b)
{
    Kelvra_Class *cls = new Kelvra_Class;
    cls->Name_Set("%s", name);
    cls->Class_A_Set(a);
    cls->Class_B_Set(b);
    return cls;
}

/* Builds a study and feeds it through the insert chain in ascending order. */
inline AzStudy *Load_Study(const AzStudy_Plan &plan, int order = AZ_ORDER_ASCENDING, unsigned seed = 1)
{
    AzStudy *study = AzStudy_Build(plan);
    if (study)
        AzStudy_Insert(study, order, seed);
    return study;
}

/* A point equal to (x, y, z) to within a thousandth. */
inline testing::AssertionResult Near(const Vect &v, float x, float y, float z)
{
    if (fabsf(v.x - x) < 1e-3f && fabsf(v.y - y) < 1e-3f && fabsf(v.z - z) < 1e-3f)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << v.x << " " << v.y << " " << v.z;
}

#endif
