/* Texts for OpenGL and Windows error codes, one line each. */
#include <stdio.h>

#include "../../host/corvantis_util.h"

namespace {

/* Each thread formats into its own buffer: the worker reports errors too. */
thread_local char error_text[160];

const char *Windows_Meaning(unsigned code)
{
    switch (code) {
    case 0: return "The operation completed successfully.";
    case 2: return "The system cannot find the file specified.";
    case 5: return "Access is denied.";
    case 6: return "The handle is invalid.";
    case 8: return "Not enough memory resources are available to process this command.";
    case 87: return "The parameter is incorrect.";
    case 1400: return "Invalid window handle.";
    case 1407: return "Cannot find window class.";
    case 1410: return "Class already exists.";
    case 1411: return "Class does not exist.";
    default: return "Unknown error.";
    }
}

} // namespace

const char *Error_OpenGL(int code)
{
    static const char *const names[] = {"GL_INVALID_ENUM",  "GL_INVALID_VALUE",   "GL_INVALID_OPERATION",
                                        "GL_STACK_OVERFLOW", "GL_STACK_UNDERFLOW", "GL_OUT_OF_MEMORY",
                                        "GL_INVALID_FRAMEBUFFER_OPERATION", "GL_CONTEXT_LOST"};
    if (code == 0)
        return "GL_NO_ERROR";
    if (code >= 0x500 && code <= 0x507)
        return names[code - 0x500];
    snprintf(error_text, sizeof error_text, "GL error 0x%x", (unsigned)code);
    return error_text;
}

const char *Error_Windows(int code)
{
    unsigned value = code ? (unsigned)code : (unsigned)GetLastError();
    snprintf(error_text, sizeof error_text, "Windows error %u: %s", value, Windows_Meaning(value));
    return error_text;
}
