/*
 * File names as the readers and writers take them apart.
 */
#ifndef AZ_PATH_H
#define AZ_PATH_H

#include <string>

#include "../../host/az_win32.h"

/* Whether a path ends with a suffix, ignoring case (".nii.gz"). */
AZ_EXPORT int AzPath_Ends_With(const std::string &path, const char *suffix);
/* The last part of a path, trailing slashes ignored, less a suffix when
 * it ends with one of them (null-terminated list, may be null). */
AZ_EXPORT std::string AzPath_Base_Name(const std::string &path, const char *const *suffixes);

#endif
