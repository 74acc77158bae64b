#include "draw_fixture.h"

Draw_Volume *DrawTest::volume_now = nullptr;

/* The off-screen OpenGL library keeps its buffer records for the life of
 * the process on purpose; a leak checker build must not count them. */
extern "C" __attribute__((visibility("default"), used)) const char *__lsan_default_suppressions()
{
    return "leak:libOSMesa.so\n";
}
