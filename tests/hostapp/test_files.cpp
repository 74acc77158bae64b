/*
 * Helpers of the host program's tests.
 */
#include "test_files.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <arpa/inet.h>
#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

Temp_Folder::Temp_Folder()
{
    char pattern[] = "/tmp/az_hostapp_XXXXXX";
    char *made = mkdtemp(pattern);
    path = made ? made : "/tmp";
}

Temp_Folder::~Temp_Folder()
{
    if (path != "/tmp") {
        if (Shell("rm -rf '" + path + "'") != 0)
            fprintf(stderr, "cannot remove %s\n", path.c_str());
    }
}

bool Bytes_Write(const std::string &path, const std::string &bytes)
{
    std::ofstream file(path, std::ios::binary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

namespace {

std::string Expand(std::string text)
{
    const char *names[][2] = {{"{build}", AZ_BUILD_DIR}, {"{fuzz}", AZ_SOURCE_DIR "/fuzz/regressions"}, {"\\n", "\n"}};
    for (const auto &name : names)
        for (size_t at; (at = text.find(name[0])) != std::string::npos;)
            text.replace(at, strlen(name[0]), name[1]);
    return text;
}

} // namespace

std::vector<std::vector<std::string>> Rows(const std::string &path, size_t columns)
{
    std::vector<std::vector<std::string>> rows;
    std::ifstream file(path);
    EXPECT_TRUE(file.good()) << path;
    for (std::string text; std::getline(file, text);) {
        if (text.empty() || text[0] == '#')
            continue;
        rows.emplace_back();
        for (size_t at = 0, tab;; at = tab + 1) {
            rows.back().push_back(Expand(text.substr(at, (tab = text.find('\t', at)) - at)));
            if (tab == std::string::npos)
                break;
        }
        rows.back().resize(columns);
    }
    return rows;
}

std::string Input(const std::string &name) { return AZ_SOURCE_DIR "/tests/data/inputs/" + name; }

bool Contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

bool Matches(const std::string &text, std::string pattern)
{
    bool head = !pattern.empty() && pattern[0] == '^';
    bool tail = pattern.size() > (head ? 1u : 0u) && pattern.back() == '$';
    pattern = pattern.substr(head, pattern.size() - head - tail);
    for (size_t at = 0, from = 0;;) {
        size_t star = pattern.find('*', from);
        std::string part = pattern.substr(from, star == std::string::npos ? std::string::npos : star - from);
        size_t found = text.find(part, at);
        if (star == std::string::npos && tail)
            found = text.size() >= at + part.size() && text.compare(text.size() - part.size(), part.size(), part) == 0
                        ? text.size() - part.size()
                        : std::string::npos;
        if (found == std::string::npos || (head && from == 0 && found != 0))
            return false;
        if (star == std::string::npos)
            return true;
        at = found + part.size();
        from = star + 1;
    }
}

std::string Text_Of(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::string> Names_In(const std::string &folder)
{
    std::vector<std::string> names;
    if (DIR *dir = opendir(folder.c_str())) {
        while (struct dirent *entry = readdir(dir))
            if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
                names.push_back(entry->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

int Shell(const std::string &line) { return system(line.c_str()); }

std::string Shell_Output(const std::string &line)
{
    std::string text;
    char buffer[4096];
    FILE *pipe = popen((line + " 2>&1").c_str(), "r");
    for (size_t length; pipe && (length = fread(buffer, 1, sizeof(buffer), pipe)) > 0;)
        text.append(buffer, length);
    if (pipe)
        pclose(pipe);
    return text;
}

AzSeries Series_Read(const std::string &path)
{
    std::vector<AzSeries> series;
    AzLoad_Report report;
    EXPECT_EQ(1, AzSeries_Read(path, &series, &report)) << path;
    return series.empty() ? AzSeries() : series[0];
}

std::string Png_Size(const std::string &path)
{
    std::string bytes = Text_Of(path);
    if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0)
        return "";
    return std::to_string(ntohl(Field<uint32_t>(bytes, 16))) + "x" + std::to_string(ntohl(Field<uint32_t>(bytes, 20)));
}

void Inputs_Make(const std::string &make, const Temp_Folder &folder)
{
    for (size_t at = 0, bar; at <= make.size(); at = bar + 1) {
        std::string input = make.substr(at, (bar = std::min(make.find('|', at), make.size())) - at);
        size_t is = input.find('=');
        if (is != std::string::npos && Shell("mkdir -p \"$(dirname '" + folder.File(input.substr(0, is)) + "')\"") == 0)
            Bytes_Write(folder.File(input.substr(0, is)), input.substr(is + 1));
        else if (input == "module-copy")
            Shell("cp '" AZ_MODULE_PATH "' '" + folder.File("mine.so") + "'");
        else if (!input.empty() && input.back() == '/')
            Shell("mkdir -p '" + folder.File(input) + "'");
        else if (!input.empty() && input != "-" &&
                 Shell("cp -r '" AZ_SOURCE_DIR "/tests/data/inputs/" + input + "/.' '" + folder.Path() + "'") != 0)
            ADD_FAILURE() << "no input folder " << input;
    }
}

Outcome Program(const std::string &arguments, const std::string &cwd)
{
    Temp_Folder folder;
    std::string command = (cwd.empty() ? "" : "cd '" + cwd + "' && ") + "'" + AZ_BUILD_DIR + "/azozude' " +
                          arguments + " >'" + folder.File("out") + "' 2>'" + folder.File("err") + "' </dev/null";
    int status = system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Text_Of(folder.File("out")), Text_Of(folder.File("err"))};
}
