/* Captures the console lines written while it lives, with their levels. */
#ifndef CONSOLE_CAPTURE_H
#define CONSOLE_CAPTURE_H

#include <algorithm>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "hostlib/util/az_console.h"

struct Console_Line {
    int level;
    std::string text;
    bool operator==(const Console_Line &o) const { return level == o.level && text == o.text; }
};

class Console_Capture {
  public:
    Console_Capture() { previous = AzConsole_Sink_Set(&Console_Capture::Sink, this, &previous_user); }
    ~Console_Capture() { AzConsole_Sink_Set(previous, previous_user, nullptr); }
    /* Lines written (at that level, when given), in order. */
    std::vector<Console_Line> Lines(int level = -1)
    {
        std::lock_guard<std::mutex> hold(lock);
        std::vector<Console_Line> kept;
        std::copy_if(lines.begin(), lines.end(), std::back_inserter(kept),
                     [level](const Console_Line &l) { return level < 0 || l.level == level; });
        return kept;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> hold(lock);
        lines.clear();
    }
    /* Lines whose text contains the fragment. */
    size_t Count(const std::string &fragment)
    {
        size_t n = 0;
        for (const Console_Line &l : Lines())
            n += l.text.find(fragment) != std::string::npos;
        return n;
    }

  private:
    static void Sink(void *user, HWND, int level, const char *text)
    {
        Console_Capture *self = static_cast<Console_Capture *>(user);
        std::lock_guard<std::mutex> hold(self->lock);
        self->lines.push_back(Console_Line{level, text});
    }
    std::mutex lock;
    std::vector<Console_Line> lines;
    AzConsole_Sink previous;
    void *previous_user;
};

/* A line list for failure messages. */
inline std::string Console_Dump(const std::vector<Console_Line> &lines)
{
    std::string out;
    for (const Console_Line &l : lines)
        out += "  [" + std::to_string(l.level) + "] " + l.text + "\n";
    return out;
}

#endif
