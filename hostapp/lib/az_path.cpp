/*
 * File names as the readers and writers take them apart.
 */
#include "az_path.h"

#include <ctype.h>
#include <string.h>

int AzPath_Ends_With(const std::string &path, const char *suffix)
{
    size_t length = strlen(suffix);
    if (path.size() < length)
        return 0;
    for (size_t i = 0; i < length; i++)
        if (tolower(static_cast<unsigned char>(path[path.size() - length + i])) !=
            tolower(static_cast<unsigned char>(suffix[i])))
            return 0;
    return 1;
}

std::string AzPath_Base_Name(const std::string &path, const char *const *suffixes)
{
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    size_t slash = trimmed.find_last_of('/');
    std::string name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
    for (const char *const *suffix = suffixes; suffix && *suffix; suffix++)
        if (name.size() > strlen(*suffix) && AzPath_Ends_With(name, *suffix))
            return name.substr(0, name.size() - strlen(*suffix));
    return name;
}
