#include "console_capture.h"

Console_Capture::Console_Capture() { previous = AzConsole_Sink_Set(&Console_Capture::Sink, this, &previous_user); }

Console_Capture::~Console_Capture() { AzConsole_Sink_Set(previous, previous_user, nullptr); }

void Console_Capture::Sink(void *user, HWND, int level, const char *text)
{
    Console_Capture *self = static_cast<Console_Capture *>(user);
    std::lock_guard<std::mutex> hold(self->lock);
    self->lines.push_back(Console_Line{level, text});
}

std::vector<Console_Line> Console_Capture::Lines()
{
    std::lock_guard<std::mutex> hold(lock);
    return lines;
}

std::vector<Console_Line> Console_Capture::Lines(int level)
{
    std::lock_guard<std::mutex> hold(lock);
    std::vector<Console_Line> kept;
    for (const Console_Line &l : lines)
        if (l.level == level)
            kept.push_back(l);
    return kept;
}

void Console_Capture::Clear()
{
    std::lock_guard<std::mutex> hold(lock);
    lines.clear();
}

size_t Console_Capture::Count(const std::string &fragment)
{
    std::lock_guard<std::mutex> hold(lock);
    size_t n = 0;
    for (const Console_Line &l : lines)
        n += l.text.find(fragment) != std::string::npos;
    return n;
}

std::string Console_Dump(const std::vector<Console_Line> &lines)
{
    std::string out;
    for (const Console_Line &l : lines)
        out += "  [" + std::to_string(l.level) + "] " + l.text + "\n";
    return out;
}
