#include "fault.h"

#include <string.h>

#include <atomic>

static std::atomic<int> fault_countdown{0}, fault_hits{0};
static std::atomic<const char *> fault_what{nullptr};

void Fault_Arm(const char *what, int nth)
{
    fault_what = what;
    fault_countdown = nth;
}

void Fault_Disarm() { Fault_Arm(nullptr, 0); }

int Fault_Hits() { return fault_hits; }

/* The module's allocation wrappers ask this before every heap call. */
extern "C" __attribute__((visibility("default"))) int Az_Fault_Alloc(const char *what, size_t)
{
    const char *want = fault_what;
    if (want && strcmp(want, what) != 0)
        return 0;
    if (fault_countdown > 0 && --fault_countdown == 0) {
        fault_hits++;
        return 1;
    }
    return 0;
}
