/* Host-call traces against golden files in tests/data/traces: one call a
 * line; "{name}" stands for a text the test gives (class names), "@file"
 * for the lines of another golden file, "#" starts a comment line.  A
 * mismatch prints both sides as a diff, "-" golden and "+" traced. */
#ifndef GOLDEN_H
#define GOLDEN_H

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <string>
#include <vector>

typedef std::map<std::string, std::string> Golden_Names;

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

/* Longest common subsequence diff: short traces, so the table is small. */
inline std::string Golden_Diff(const std::vector<std::string> &a, const std::vector<std::string> &b)
{
    std::vector<std::vector<int>> l(a.size() + 1, std::vector<int>(b.size() + 1, 0));
    for (size_t i = a.size(); i-- > 0;)
        for (size_t j = b.size(); j-- > 0;)
            l[i][j] = a[i] == b[j] ? l[i + 1][j + 1] + 1 : std::max(l[i + 1][j], l[i][j + 1]);
    std::string out;
    size_t i = 0, j = 0;
    while (i < a.size() || j < b.size()) {
        if (i < a.size() && j < b.size() && a[i] == b[j])
            out += "  " + a[i++] + "\n", j++;
        else if (j < b.size() && (i == a.size() || l[i][j + 1] >= l[i + 1][j]))
            out += "+ " + b[j++] + "\n";
        else
            out += "- " + a[i++] + "\n";
    }
    return out;
}

inline testing::AssertionResult Trace_Is(const std::string &name, const std::vector<std::string> &trace,
                                         const Golden_Names &names = {})
{
    std::vector<std::string> want = Golden_Lines(name, names);
    if (want == trace)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "trace differs from tests/data/traces/" << name << ".trace:\n"
                                       << Golden_Diff(want, trace);
}

#endif
