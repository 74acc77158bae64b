/* The module's panel in a host window of its own, with the database, the
 * module's insert level and the toolkit's pointer record. */
#ifndef PANEL_FIXTURE_H
#define PANEL_FIXTURE_H

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "hostlib/structures/az_db.h"
#include "hostlib/tools/az_tools.h"
#include "hostlib/win32/az_win.h"
#include "module/entry.h"
#include "oblique/oblique.h"
#include "tests/support/console_capture.h"
#include "tests/support/golden.h"
#include "tests/support/host_steps.h"
#include "tests/support/panel_state.h"

/* Panel flags of Ctrl_Update, as the panel's entry points raise them. */
const uint64_t UPDATE_DRAW = 0x10000000000000ull;
const uint64_t UPDATE_SELECT = 0x20000000000000ull;
const uint64_t UPDATE_ROTATE = 0x40000000000000ull;
const uint64_t UPDATE_SLICE = 0x80000000000000ull;
const uint64_t UPDATE_IMAGE = 0x100000000000000ull;

class Panel_Test : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    /* Creates and lays out the panel in a new window of that size. */
    void Make_Panel(int width, int height);
    /* A study of that size and spacing fed through the insert chain. */
    AzStudy *Load(const char *name, int width, int height, int slices, float sx = 1.0f, float sy = 1.0f,
                  float sz = 1.0f);
    /* Open (mode 0) and shown. */
    void Open_Shown();
    /* Pointer over a widget's centre, or a point, with no button down. */
    void Over(const Tools &tool);
    void Over_Point(int x, int y);

    HWND panel = nullptr;
    std::vector<AzStudy *> studies;
    Console_Capture console;
};

/* The Original and Oblique directions of the root's study class number `study`. */
inline Kelvra_Oblique *Org_Of(int study)
{
    return static_cast<Kelvra_Oblique *>(AzDb_Root()->Child_Get_Pt(study)->Child_Get_Pt(0));
}
inline Kelvra_Oblique *Obl_Of(int study)
{
    return static_cast<Kelvra_Oblique *>(AzDb_Root()->Child_Get_Pt(study)->Child_Get_Pt(1));
}

#endif
