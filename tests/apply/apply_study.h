/* A loaded study with the module's directions, and the wait for the
 * frame-creation worker. */
#ifndef APPLY_STUDY_H
#define APPLY_STUDY_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apply/oblique_apply.h"
#include "hostlib/structures/az_db.h"
#include "hostlib/structures/az_progress.h"
#include "oblique/oblique.h"
#include "tests/support/console_capture.h"
#include "tests/support/host_steps.h"

class Study_Test : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    /* Builds a study and feeds it through the insert chain in location order. */
    void Load(const AzStudy_Plan &plan);
    /* Set-up, then the Oblique direction's frames through `matrix`. */
    void Build_Oblique(const Matrix_4x4 &matrix, int dim_x, int dim_y, int dim_z);

    AzStudy *study = nullptr;
    Kelvra_Class *study_class = nullptr;
    Kelvra_Oblique *org = nullptr;  /* Original direction, child 0 */
    Kelvra_Oblique *obl = nullptr;  /* Oblique direction, child 1 */
    Console_Capture console;
};

#endif
