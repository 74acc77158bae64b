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

class Study_Test : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    /* Builds a study and feeds it through the insert chain in location order. */
    void Load(const AzStudy_Spec &spec);
    /* Pumps window messages until the worker has given the wait cursor
     * back, then carries out the host's queued updates.  0 when the worker
     * did not finish in a long while. */
    int Wait_Worker();
    /* Set-up, then the Oblique direction's frames through `matrix`. */
    void Build_Oblique(const Matrix_4x4 &matrix, int dim_x, int dim_y, int dim_z);

    AzStudy *study = nullptr;
    Kelvra_Class *study_class = nullptr;
    Kelvra_Oblique *org = nullptr;  /* Original direction, child 0 */
    Kelvra_Oblique *obl = nullptr;  /* Oblique direction, child 1 */
    Console_Capture console;
};

/* Host frames under a class, in child order. */
std::vector<AzFrame *> Frames_Of(Kelvra_Class *cls);

/* Transform of a point p of the Oblique direction to the Original one:
 * q = (p.z, p.y, last - p.x): frame index from the column, reversed. */
Matrix_4x4 Swap_Matrix(int last);

/* Trace lines that start with one of the prefixes. */
std::vector<std::string> Trace_Only(const std::vector<std::string> &lines, const std::vector<std::string> &prefixes);

#endif
