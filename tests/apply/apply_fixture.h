/* A study loaded through the module's insert level on the shared host
 * fixture, and its two directions. */
#ifndef APPLY_FIXTURE_H
#define APPLY_FIXTURE_H

#include "apply/oblique_apply.h"
#include "hostlib/structures/az_db.h"
#include "hostlib/structures/az_progress.h"
#include "hostlib/tools/az_tools.h"
#include "hostlib/win32/az_win.h"
#include "module/entry.h"
#include "tests/support/fault.h"
#include "tests/support/golden.h"
#include "tests/support/host_steps.h"
#include "tests/support/host_test.h"

class Study_Test : public Host_Test {
  protected:
    /* Feeds a phantom through the insert chain in location order. */
    void Enter(const AzPhantom_Plan &plan)
    {
        ASSERT_NE(study = Load(plan), nullptr);
        org = Direction(study, 0);
        obl = Direction(study, 1);
        ASSERT_EQ(org->Child_Get_Nb(), plan.slices * plan.times);
    }
    /* Set-up, then the Oblique direction's frames through `matrix`. */
    void Build_Oblique(const Matrix_4x4 &matrix, int dim_x, int dim_y, int dim_z)
    {
        Oblique_Setup(org, obl);
        obl->matrix = matrix;
        obl->dim = Oblique_Dim{dim_x, dim_y, dim_z};
        ASSERT_EQ(Ctrl_Apply(1, org, 1, obl), 1);
        ASSERT_EQ(Wait(), 1);
        ASSERT_EQ(obl->Child_Get_Nb(), dim_z);
    }
    Golden_Names Names() { return {{"org", org->Name_Get()}, {"obl", obl->Name_Get()}}; }
    /* The module's console lines (the progress window's own echo left out),
     * then the last progress window: its state and the lines it shows;
     * control bytes as \xNN.  Compared against a golden transcript. */
    std::vector<std::string> Transcript()
    {
        std::vector<std::string> out;
        for (const Console_Line &line : console.Lines())
            if (line.text.compare(0, 10, "Progress: ") != 0)
                out.push_back(std::to_string(line.level) + " " + Golden_Escaped(line.text));
        AzProgress_View view;
        if (AzProgress_Last(&view) != 1)
            return out;
        out.push_back("progress " + std::to_string(AzProgress_Count()) + ": " + view.title + " / " + view.subtitle +
                      ", " + std::to_string(view.pos) + " of " + std::to_string(view.max) + ", steps " +
                      std::to_string(view.received[0]) + ", created " + std::to_string(view.received[3]) +
                      ", cancel " + std::to_string(view.cancel) + ", closed " + std::to_string(view.closed));
        for (const std::string &line : view.lines)
            out.push_back("| " + Golden_Escaped(line));
        return out;
    }

    AzPhantom *study = nullptr;
    Kelvra_Oblique *org = nullptr; /* Original direction, child 0 */
    Kelvra_Oblique *obl = nullptr; /* Oblique direction, child 1 */
};

#endif
