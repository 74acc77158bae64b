/* Host-call traces against golden files in tests/data/traces: one call a
 * line; "{name}" stands for a text the test gives (class names), "@file"
 * for the lines of another golden file, "#" starts a comment line.  A
 * mismatch prints both sides from the first differing line on, "-" golden
 * and "+" traced. */
#ifndef GOLDEN_H
#define GOLDEN_H

#include <gtest/gtest.h>

#include <stdarg.h>
#include <stdio.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <string>
#include <vector>

typedef std::map<std::string, std::string> Golden_Names;

/* printf into a string, for the lines a test adds to its trace. */
__attribute__((format(printf, 1, 2))) inline std::string Golden_Text(const char *format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

inline std::vector<std::string> Golden_Lines(const std::string &name, const Golden_Names &names)
{
    std::vector<std::string> lines;
    std::ifstream in(std::string(AZ_SOURCE_DIR) + "/tests/data/traces/" + name + ".trace");
    if (!in)
        ADD_FAILURE() << "no golden file tests/data/traces/" << name << ".trace";
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == '@') {
            std::vector<std::string> more = Golden_Lines(line.substr(1), names);
            lines.insert(lines.end(), more.begin(), more.end());
            continue;
        }
        for (const auto &n : names)
            for (size_t at; (at = line.find("{" + n.first + "}")) != std::string::npos;)
                line.replace(at, n.first.size() + 2, n.second);
        lines.push_back(line);
    }
    return lines;
}

/* A text with its control and high bytes as \xNN, as golden files hold it. */
inline std::string Golden_Escaped(const std::string &text)
{
    std::string out;
    for (unsigned char c : text) {
        char hex[8];
        snprintf(hex, sizeof hex, "\\x%02X", c);
        out += c < 0x20 || c >= 0x7F ? std::string(hex) : std::string(1, (char)c);
    }
    return out;
}

/* Console lines as a golden file holds them: "level text". */
template <class Line> std::vector<std::string> Golden_Console(const std::vector<Line> &lines)
{
    std::vector<std::string> out;
    for (const Line &line : lines)
        out.push_back(std::to_string(line.level) + " " + Golden_Escaped(line.text));
    return out;
}

inline testing::AssertionResult Trace_Is(const std::string &name, const std::vector<std::string> &trace,
                                         const Golden_Names &names = {})
{
    std::vector<std::string> want = Golden_Lines(name, names);
    if (want == trace)
        return testing::AssertionSuccess();
    size_t at = std::mismatch(want.begin(), want.end(), trace.begin(), trace.end()).first - want.begin();
    testing::AssertionResult failure = testing::AssertionFailure();
    failure << "trace differs from tests/data/traces/" << name << ".trace from line " << at + 1 << ":\n";
    for (size_t i = at; i < std::max(want.size(), trace.size()); i++)
        failure << "- " << (i < want.size() ? want[i] : "") << "\n+ " << (i < trace.size() ? trace[i] : "") << "\n";
    return failure;
}

#endif
