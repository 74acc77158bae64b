/* The host fixture with the host's own insert chain (study, frame), and small helpers. */
#ifndef DB_FIXTURE_H
#define DB_FIXTURE_H

#include <gtest/gtest.h>

#include "hostlib/structures/az_db.h"
#include "tests/support/host_steps.h"
#include "tests/support/host_test.h"

class Db : public Host_Test {
  protected:
    Db() { module_level = false; }
};

/* A plain class of given types, named, the last child of its parent when given. */
inline Kelvra_Class *Make_Class(const char *name, unsigned short a, unsigned short b, Kelvra_Class *parent = nullptr)
{
    Kelvra_Class *cls = new Kelvra_Class;
    cls->Name_Set("%s", name), cls->Class_A_Set(a), cls->Class_B_Set(b);
    if (parent)
        parent->Child_Add(cls);
    return cls;
}

#endif
