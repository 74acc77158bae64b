/*
 * Help: "<folder>/help/<topic>.txt", in sections that start with a line
 * "[keyword]"; the topic's own text stands before the first section or
 * under "[]".
 */
#include <dlfcn.h>
#include <stdio.h>
#include <strings.h>

#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "../../host/corvantis_util.h"
#include "az_db_private.h"

/* The module's folder: the default place of the help files. */

namespace {

std::mutex &Module_Mutex()
{
    static std::mutex *mutex = new std::mutex;
    return *mutex;
}

std::string &Module_Folder()
{
    static std::string *folder = new std::string;
    return *folder;
}

}  // namespace

namespace azdb {

void Module_Function_Note(const void *function)
{
    Dl_info info;
    if (!dladdr(function, &info) || !info.dli_fname)
        return;
    std::string path = info.dli_fname;
    size_t slash = path.rfind('/');
    std::lock_guard<std::mutex> hold(Module_Mutex());
    Module_Folder() = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string Module_Dir()
{
    std::lock_guard<std::mutex> hold(Module_Mutex());
    return Module_Folder();
}

}  // namespace azdb

namespace {

std::mutex &Help_Mutex()
{
    static std::mutex *mutex = new std::mutex;
    return *mutex;
}

struct Help_State {
    std::string dir;
    std::string last;
};

Help_State &Help()
{
    static Help_State *state = new Help_State;
    return *state;
}

std::string Help_Folder()
{
    {
        std::lock_guard<std::mutex> hold(Help_Mutex());
        if (!Help().dir.empty())
            return Help().dir;
    }
    std::string module = azdb::Module_Dir();
    return module.empty() ? std::string(".") : module;
}

/* The keyword of a section line "[keyword]" (trailing blanks allowed). */
bool Section_Line(const std::string &line, std::string &keyword)
{
    size_t end = line.find_last_not_of(" \t\r");
    if (line.empty() || line[0] != '[' || end == std::string::npos || line[end] != ']')
        return false;
    keyword = line.substr(1, end - 1);
    return true;
}

/* Lines of the section named keyword ("" for the topic's own text); false
 * when there is no such section. */
bool Section_Find(std::istream &in, const std::string &keyword, std::vector<std::string> &lines)
{
    std::string line, current;
    bool found = keyword.empty();
    bool inside = keyword.empty();
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::string name;
        if (Section_Line(line, name)) {
            if (inside && !lines.empty())
                break;  // the wanted section ends where the next begins
            inside = strcasecmp(name.c_str(), keyword.c_str()) == 0;
            found = found || inside;
            continue;
        }
        if (inside)
            lines.push_back(line);
    }
    while (!lines.empty() && lines.back().find_first_not_of(" \t") == std::string::npos)
        lines.pop_back();
    while (!lines.empty() && lines.front().find_first_not_of(" \t") == std::string::npos)
        lines.erase(lines.begin());
    return found;
}

}  // namespace

namespace azdb {

void Help_Clear()
{
    std::lock_guard<std::mutex> hold(Help_Mutex());
    Help().dir.clear();
    Help().last.clear();
}

}  // namespace azdb

void AzHost_Help_Dir_Set(const char *dir)
{
    std::lock_guard<std::mutex> hold(Help_Mutex());
    Help().dir = dir ? dir : "";
}

std::string AzHost_Help_Last(void)
{
    std::lock_guard<std::mutex> hold(Help_Mutex());
    return Help().last;
}

int Fct_Help(const char *topic, const char *keyword)
{
    if (azdb::Trace_Active())
        azdb::Trace("Fct_Help %s %s", topic ? topic : "(null)", keyword ? keyword : "(null)");
    std::string name = topic ? topic : "";
    std::ifstream in(Help_Folder() + "/help/" + name + ".txt");
    if (name.empty() || !in) {
        Error_Fct(hwnd, 2, "Help: no topic %s", name.c_str());
        return 0;
    }
    std::vector<std::string> lines;
    if (!Section_Find(in, keyword ? keyword : "", lines)) {
        Error_Fct(hwnd, 2, "Help: no entry %s in %s", keyword, name.c_str());
        return 0;
    }
    std::string text;
    for (size_t i = 0; i < lines.size(); i++) {
        Error_Fct(hwnd, 4, "%s", lines[i].c_str());
        text += (i ? "\n" : "") + lines[i];
    }
    std::lock_guard<std::mutex> hold(Help_Mutex());
    Help().last = text;
    return 1;
}
