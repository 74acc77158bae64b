/*
 * The module's identity entry points and its library start.
 */
#include "entry.h"

#include "../oblique/oblique.h"
#include "entry_fixed.h"

/* The module keeps no per-thread state: the platform need not tell it
 * about threads starting and ending. */
__attribute__((constructor)) static void Oblique_Library_Start(void)
{
    DisableThreadLibraryCalls(nullptr);
}

extern "C" const char *Version(void)
{
    return OBLIQUE_VERSION;
}

extern "C" const char *Register(unsigned int)
{
    return OBLIQUE_CLASS_KEY;
}

extern "C" const char *Class_Register(unsigned int *slot)
{
    if (slot)
        *slot = OBLIQUE_TYPE_ORIGINAL;
    return OBLIQUE_CLASS_NAME;
}

extern "C" void Class_Status(Texts *status)
{
    if (status)
        status->Write(OBLIQUE_STATUS_LABEL);
}
