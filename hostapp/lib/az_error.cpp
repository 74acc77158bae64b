/*
 * The host program's errors, all one way.
 */
#include "az_error.h"

#include <stdarg.h>
#include <stdio.h>

#include "../../host/corvantis_util.h"

namespace {

/* Set once by main before any thread starts; read by the console's sink. */
std::string &Command()
{
    static std::string *command = new std::string;
    return *command;
}

} // namespace

int AzError(int code, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int length = vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    va_start(args, format);
    vsnprintf(&text[0], text.size() + 1, format, args);
    va_end(args);
    Error_Fct(hwnd, AZ_ERROR_LEVEL, "%s", text.c_str());
    return code;
}

void AzError_Command_Set(const std::string &command) { Command() = command; }

std::string AzError_Prefix(void) { return Command().empty() ? "azozude" : "azozude " + Command(); }
