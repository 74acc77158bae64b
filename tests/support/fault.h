/* Makes the module's heap calls fail: the n-th matching call from now
 * (1 = the next), or every matching call while `always` is set. */
#ifndef FAULT_H
#define FAULT_H

#include <stddef.h>

struct Fault_Plan {
    const char *what;   /* "malloc", "calloc", "realloc" or null for any */
    int countdown;      /* fail when it reaches 0 after decrement */
    bool always;
};

void Fault_Arm(const char *what, int nth);
void Fault_Always(const char *what);
void Fault_Disarm();
int Fault_Hits();

/* Disarms on scope exit. */
struct Fault_Scope {
    ~Fault_Scope() { Fault_Disarm(); }
};

#endif
