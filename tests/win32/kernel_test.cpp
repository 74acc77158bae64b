#include <errno.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <thread>

#include "hostlib/win32/az_win.h"

namespace {

/* What a thread saw before it ended itself, and whether it ran on after. */
struct Thread_Report {
    void *arg_seen = nullptr;
    DWORD id_seen = 0;
    bool ran_past_end = false;
};

unsigned __stdcall Worker(void *arg)
{
    Thread_Report *report = static_cast<Thread_Report *>(arg);
    report->arg_seen = arg, report->id_seen = GetCurrentThreadId();
    _endthreadex(0);
    report->ran_past_end = true;
    return 5;
}

bool Held_Elsewhere(CRITICAL_SECTION *section)
{
    int r = 0;
    std::thread([&] { (r = pthread_mutex_trylock(&section->mutex)) == 0 && pthread_mutex_unlock(&section->mutex); })
        .join();
    return r == EBUSY;
}

} // namespace

TEST(Kernel, CriticalSectionIsRecursive)
{
    CRITICAL_SECTION section;
    EXPECT_EQ(sizeof section, 40u);
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);  // the owner enters again without blocking
    LeaveCriticalSection(&section);
    EXPECT_TRUE(Held_Elsewhere(&section)) << "still held once";
    LeaveCriticalSection(&section);
    EXPECT_FALSE(Held_Elsewhere(&section));
    DeleteCriticalSection(&section);
}

TEST(Kernel, ThreadStartsEndsItselfFailsOnDemandAndIsReleased)
{
    Thread_Report report;
    errno = 0;
    _doserrno = 0;
    AzWin_Fail_Thread(1);
    EXPECT_EQ(_beginthreadex(nullptr, 0, Worker, &report, 0, nullptr), 0u);
    AzWin_Fail_Thread(0);
    EXPECT_TRUE(errno == EAGAIN && _doserrno == 8u) << errno << " " << _doserrno;
    EXPECT_EQ(report.arg_seen, nullptr) << "the routine never ran";
    unsigned long other = 99;
    std::thread([&other] { other = _doserrno; }).join();
    EXPECT_EQ(other, 0u) << "_doserrno belongs to the thread";
    unsigned id = 0;
    uintptr_t handle = _beginthreadex(nullptr, 0, Worker, &report, 0, &id);
    ASSERT_NE(handle, 0u);
    EXPECT_TRUE(CloseHandle((HANDLE)handle)) << "closing does not wait for or stop the thread";
    ASSERT_EQ(AzWin_Threads_Wait(60000), 1) << "a thread that ended itself counts as gone";  // generous bound
    EXPECT_TRUE(report.arg_seen == &report && report.id_seen == id);
    EXPECT_TRUE(id != GetCurrentThreadId() && id != 0u);
    EXPECT_FALSE(report.ran_past_end) << "_endthreadex does not return";
    SetLastError(0);
    EXPECT_TRUE(!CloseHandle(nullptr) && GetLastError() == 6u);
}
