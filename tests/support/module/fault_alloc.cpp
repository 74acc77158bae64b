/*
 * The heap calls of the module's test build.  That build is linked with
 * --wrap for malloc, calloc, realloc and the non-throwing operator new, so
 * that a test program can make any of them fail by defining
 * Az_Fault_Alloc; a program that does not define it leaves the pointer
 * null and every call goes straight to the C and C++ libraries.  The
 * shipped module has none of this.
 */
#include <stddef.h>

#include <new>

extern "C" {
void *__real_malloc(size_t size);
void *__real_calloc(size_t count, size_t size);
void *__real_realloc(void *block, size_t size);
void *__real__ZnwmRKSt9nothrow_t(size_t size, const std::nothrow_t &tag);

/* Non-zero: the allocation of `size` bytes by `what` is to fail. */
__attribute__((weak, visibility("default"))) int Az_Fault_Alloc(const char *what, size_t size);

static int Fails(const char *what, size_t size) { return Az_Fault_Alloc && Az_Fault_Alloc(what, size); }

void *__wrap_malloc(size_t size) { return Fails("malloc", size) ? NULL : __real_malloc(size); }
void *__wrap_calloc(size_t n, size_t size) { return Fails("calloc", n * size) ? NULL : __real_calloc(n, size); }
void *__wrap_realloc(void *block, size_t size) { return Fails("realloc", size) ? NULL : __real_realloc(block, size); }
/* operator new(size_t, const std::nothrow_t &) */
void *__wrap__ZnwmRKSt9nothrow_t(size_t size, const std::nothrow_t &tag)
{
    return Fails("new", size) ? NULL : __real__ZnwmRKSt9nothrow_t(size, tag);
}
}
