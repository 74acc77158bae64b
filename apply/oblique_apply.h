/*
 * The apply job: the only channel from Ctrl_Apply to its worker thread.
 * Ctrl_Apply clears and refills it; the worker reads it until its last
 * window pass.  The host's interface lock byte and the wait cursor keep a
 * second apply from starting meanwhile.
 */
#ifndef OBLIQUE_APPLY_H
#define OBLIQUE_APPLY_H

#include "../host/progress_record.h"
#include "../oblique/oblique.h"

struct Apply_Job {
    uint32_t frames_nb;           /* frames the worker will create */
    Kelvra_Oblique *classes[2];   /* 0 Original, 1 Oblique; null: not scheduled */
    Progress_Record *progress;    /* null: no window */
};

/* The module's single job. */
extern Apply_Job Oblique_Apply_Job;

#endif
