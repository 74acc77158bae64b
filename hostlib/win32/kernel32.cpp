/*
 * kernel32 and the C runtime's thread calls over POSIX threads.
 */
#include <atomic>
#include <errno.h>
#include <new>
#include <pthread.h>
#include <stdlib.h>
#include <time.h>

#include "az_win.h"

namespace {

thread_local DWORD last_error = 0;
thread_local unsigned long dos_errno = 0;
thread_local DWORD thread_id = 0;
std::atomic<DWORD> thread_id_next{1};
std::atomic<int> fail_thread{0};

const uint32_t thread_magic = 0x54485244; /* "THRD" */

/* What CloseHandle receives: the thread to let go of. */
struct Thread_Handle {
    uint32_t magic;
    pthread_t thread;
    DWORD id;
};

/* Handed to the new thread, which frees it: the handle may be closed
 * before the thread has even started. */
struct Thread_Start {
    unsigned (*start)(void *);
    void *arg;
    DWORD id;
};

void *Thread_Run(void *raw)
{
    Thread_Start *start = static_cast<Thread_Start *>(raw);
    thread_id = start->id;
    unsigned (*routine)(void *) = start->start;
    void *arg = start->arg;
    delete start;
    routine(arg);
    return nullptr;
}

} // namespace

void InitializeCriticalSection(CRITICAL_SECTION *section)
{
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&section->mutex, &attr);
    pthread_mutexattr_destroy(&attr);
}

void EnterCriticalSection(CRITICAL_SECTION *section) { pthread_mutex_lock(&section->mutex); }

void LeaveCriticalSection(CRITICAL_SECTION *section) { pthread_mutex_unlock(&section->mutex); }

void DeleteCriticalSection(CRITICAL_SECTION *section) { pthread_mutex_destroy(&section->mutex); }

void Sleep(DWORD milliseconds)
{
    struct timespec wait = {(time_t)(milliseconds / 1000), (long)(milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

/* Threads here get no attach or detach notifications at all. */
BOOL DisableThreadLibraryCalls(HMODULE) { return TRUE; }

DWORD GetLastError(void) { return last_error; }

void SetLastError(DWORD code) { last_error = code; }

DWORD GetCurrentThreadId(void)
{
    /* Threads not started by _beginthreadex get their number on first ask. */
    if (!thread_id)
        thread_id = thread_id_next++;
    return thread_id;
}

unsigned long *__doserrno(void) { return &dos_errno; }

uintptr_t _beginthreadex(void *, unsigned stack_size, unsigned (*start)(void *), void *arg, unsigned,
                         unsigned *id_out)
{
    if (fail_thread || !start) {
        errno = fail_thread ? EAGAIN : EINVAL;
        dos_errno = fail_thread ? AZ_ERROR_NOT_ENOUGH_MEMORY : AZ_ERROR_INVALID_PARAMETER;
        return 0;
    }
    Thread_Handle *handle = new (std::nothrow) Thread_Handle;
    Thread_Start *record = new (std::nothrow) Thread_Start;
    if (!handle || !record) {
        delete handle;
        delete record;
        errno = ENOMEM;
        dos_errno = AZ_ERROR_NOT_ENOUGH_MEMORY;
        return 0;
    }
    handle->magic = thread_magic;
    handle->id = thread_id_next++;
    *record = Thread_Start{start, arg, handle->id};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    if (stack_size)
        pthread_attr_setstacksize(&attr, stack_size < 65536 ? 65536 : stack_size);
    int failed = pthread_create(&handle->thread, &attr, Thread_Run, record);
    pthread_attr_destroy(&attr);
    if (failed) {
        delete handle;
        delete record;
        errno = failed;
        dos_errno = AZ_ERROR_NOT_ENOUGH_MEMORY;
        return 0;
    }
    if (id_out)
        *id_out = handle->id;
    return (uintptr_t)handle;
}

void _endthreadex(unsigned code) { pthread_exit((void *)(uintptr_t)code); }

/* Thread handles are the only handles: closing one lets the thread run on
 * by itself and clean up when it ends. */
BOOL CloseHandle(HANDLE raw)
{
    Thread_Handle *handle = static_cast<Thread_Handle *>(raw);
    if (!handle || handle->magic != thread_magic) {
        last_error = 6; /* ERROR_INVALID_HANDLE */
        return FALSE;
    }
    handle->magic = 0;
    pthread_detach(handle->thread);
    delete handle;
    return TRUE;
}

void AzWin_Fail_Thread(int on) { fail_thread = on != 0; }
