/*
 * The call recorder: one line per host call the module makes, in call
 * order across threads (az_db.h lists the lines).
 */
#include <stdarg.h>
#include <stdio.h>

#include <atomic>
#include <mutex>

#include "az_db_private.h"

namespace {

std::mutex &Trace_Mutex()
{
    static std::mutex *mutex = new std::mutex;
    return *mutex;
}

std::vector<std::string> &Trace_Lines()
{
    static std::vector<std::string> *lines = new std::vector<std::string>;
    return *lines;
}

std::atomic<bool> trace_on{false};
thread_local int trace_muted = 0;

}  // namespace

namespace azdb {

bool Trace_Active() { return trace_on.load(std::memory_order_relaxed) && !trace_muted; }

void Trace(const char *format, ...)
{
    char line[600];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::lock_guard<std::mutex> hold(Trace_Mutex());
    if (trace_on)
        Trace_Lines().push_back(line);
}

Trace_Mute::Trace_Mute() { trace_muted++; }
Trace_Mute::~Trace_Mute() { trace_muted--; }

}  // namespace azdb

void AzHost_Trace_Start(void)
{
    std::lock_guard<std::mutex> hold(Trace_Mutex());
    Trace_Lines().clear();
    trace_on = true;
}

void AzHost_Trace_Stop(void) { trace_on = false; }

std::vector<std::string> AzHost_Trace_Take(void)
{
    std::lock_guard<std::mutex> hold(Trace_Mutex());
    std::vector<std::string> lines;
    lines.swap(Trace_Lines());
    return lines;
}
