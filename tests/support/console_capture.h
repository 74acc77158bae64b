/* Captures the console lines written while it lives, with their levels. */
#ifndef CONSOLE_CAPTURE_H
#define CONSOLE_CAPTURE_H

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
    Console_Capture();
    ~Console_Capture();
    std::vector<Console_Line> Lines();
    /* Lines written at that level, in order. */
    std::vector<Console_Line> Lines(int level);
    void Clear();
    /* Lines whose text contains the fragment. */
    size_t Count(const std::string &fragment);

  private:
    static void Sink(void *user, HWND window, int level, const char *text);
    std::mutex lock;
    std::vector<Console_Line> lines;
    AzConsole_Sink previous;
    void *previous_user;
};

/* Prints a line list for failure messages. */
std::string Console_Dump(const std::vector<Console_Line> &lines);

#endif
