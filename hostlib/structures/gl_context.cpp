/*
 * One off-screen OpenGL context per thread, drawing into a window's own
 * pixel buffer.  The buffer is stored top row first; the context is told
 * so (OSMESA_Y_UP 0) and OpenGL keeps its usual bottom-up window
 * coordinates, so what OpenGL draws at the top of the viewport lands in
 * the buffer's first row.
 */
#include <GL/osmesa.h>

#include "../win32/az_win.h"
#include "az_gl.h"

namespace {

/* The calling thread's context: made on first use, destroyed with the thread. */
struct Thread_Context {
    OSMesaContext context = NULL;
    ~Thread_Context()
    {
        if (context)
            OSMesaDestroyContext(context);
    }
};

thread_local Thread_Context thread_context;

} // namespace

int OpenGL_Context_On(HWND window, int kind)
{
    (void)kind; /* every context is RGBA */
    int w = 0, h = 0;
    uint32_t *pixels = AzWin_Pixels(window, &w, &h);
    if (!pixels || w <= 0 || h <= 0)
        return 0;
    if (!thread_context.context) {
        thread_context.context = OSMesaCreateContextExt(OSMESA_RGBA, 16, 0, 0, NULL);
        if (!thread_context.context)
            return 0;
    }
    if (!OSMesaMakeCurrent(thread_context.context, pixels, GL_UNSIGNED_BYTE, w, h))
        return 0;
    OSMesaPixelStore(OSMESA_Y_UP, 0);
    return 1;
}

int OpenGL_Context_Off(HWND window, int kind)
{
    (void)window;
    (void)kind;
    if (!thread_context.context || OSMesaGetCurrentContext() != thread_context.context)
        return 0;
    /* The drawing reaches the window's buffer only when it is finished. */
    glFinish();
    OSMesaMakeCurrent(NULL, NULL, 0, 0, 0);
    return 1;
}
