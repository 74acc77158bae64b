/*
 * kernel32 and the C runtime's thread calls over POSIX threads.
 */
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <errno.h>
#include <mutex>
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

/* Threads started and not yet out of their routine. */
struct Thread_Census {
    std::mutex lock;
    std::condition_variable gone;
    int alive = 0;
};

/* Never destroyed: a thread may end while the program exits. */
Thread_Census &Census()
{
    static Thread_Census *census = new Thread_Census;
    return *census;
}

void Census_Add(int delta)
{
    Thread_Census &census = Census();
    std::lock_guard<std::mutex> hold(census.lock);
    census.alive += delta;
    if (census.alive == 0)
        census.gone.notify_all();
}

thread_local bool thread_started = false;

/* Counts the thread out when Thread_Run's frame unwinds, which also
 * happens when _endthreadex leaves the routine from the middle: by then no
 * frame of the routine's library is left on this thread's stack. */
struct Census_Leave {
    ~Census_Leave() { Census_Add(-1); }
};

void *Thread_Run(void *raw)
{
    Census_Leave leave;
    Thread_Start *start = static_cast<Thread_Start *>(raw);
    thread_id = start->id;
    thread_started = true;
    unsigned (*routine)(void *) = start->start;
    void *arg = start->arg;
    delete start;
    AzWin_Delay(AZ_DELAY_THREAD_START);
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
    /* Counted before it exists, so that whoever learns of the start also
     * finds the thread counted. */
    Census_Add(1);
    int failed = pthread_create(&handle->thread, &attr, Thread_Run, record);
    pthread_attr_destroy(&attr);
    if (failed) {
        Census_Add(-1);
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

int AzWin_Threads_Alive(void)
{
    Thread_Census &census = Census();
    std::lock_guard<std::mutex> hold(census.lock);
    return census.alive;
}

int AzWin_Threads_Wait(DWORD milliseconds)
{
    Thread_Census &census = Census();
    std::unique_lock<std::mutex> hold(census.lock);
    auto none = [&census] { return census.alive == 0; };
    if (milliseconds == INFINITE) {
        census.gone.wait(hold, none);
        return 1;
    }
    return census.gone.wait_for(hold, std::chrono::milliseconds(milliseconds), none) ? 1 : 0;
}

int AzWin_Thread_Is_Started(void) { return thread_started ? 1 : 0; }

/* ---- delay points --------------------------------------------------------- */

int AzWin_Delay_Armed = 0;

namespace {

std::atomic<unsigned> delay_ms[AZ_DELAY_POINTS];
std::atomic<unsigned> delay_passes[AZ_DELAY_POINTS];
std::atomic<unsigned> delay_random_max{0};
std::atomic<uint64_t> delay_random_state{0};

void Delay_Arm_Update()
{
    int on = delay_random_max.load() != 0;
    for (int i = 0; i < AZ_DELAY_POINTS; i++)
        on |= delay_ms[i].load() != 0;
    __atomic_store_n(&AzWin_Delay_Armed, on, __ATOMIC_RELAXED);
}

/* splitmix64: one draw per pass, from any thread.  One pass in eight
 * pauses (1..max ms): enough to turn orders round, few enough that a
 * case with thousands of passes stays short. */
unsigned Delay_Draw(unsigned max)
{
    uint64_t z = delay_random_state.fetch_add(0x9E3779B97F4A7C15ull) + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    if (z % 8 != 0)
        return 0;
    return 1 + (unsigned)((z >> 3) % (uint64_t)max);
}

} // namespace

void AzWin_Delay_Set(int point, unsigned milliseconds)
{
    if (point < 0 || point >= AZ_DELAY_POINTS)
        return;
    delay_passes[point] = 0;
    delay_ms[point] = milliseconds;
    Delay_Arm_Update();
}

void AzWin_Delay_Random(unsigned seed, unsigned max_milliseconds)
{
    delay_random_state = seed;
    delay_random_max = max_milliseconds;
    Delay_Arm_Update();
}

void AzWin_Delay_Off(void)
{
    delay_random_max = 0;
    for (int i = 0; i < AZ_DELAY_POINTS; i++) {
        delay_ms[i] = 0;
        delay_passes[i] = 0;
    }
    Delay_Arm_Update();
}

unsigned AzWin_Delay_Passes(int point)
{
    return point >= 0 && point < AZ_DELAY_POINTS ? delay_passes[point].load() : 0;
}

void AzWin_Delay_Pause(int point)
{
    if (point < 0 || point >= AZ_DELAY_POINTS)
        return;
    delay_passes[point]++;
    unsigned max = delay_random_max.load();
    unsigned pause = max ? Delay_Draw(max) : delay_ms[point].load();
    if (pause)
        Sleep(pause);
}
