/* Makes the module's heap calls fail ("malloc", "calloc", "realloc",
 * "new"; null: any): the nth matching call from now (1 = the next), until
 * Fault_Disarm. */
#ifndef FAULT_H
#define FAULT_H

void Fault_Arm(const char *what, int nth);
void Fault_Disarm();
/* Calls made to fail so far. */
int Fault_Hits();

/* Disarms on scope exit. */
struct Fault_Scope {
    ~Fault_Scope() { Fault_Disarm(); }
};

#endif
