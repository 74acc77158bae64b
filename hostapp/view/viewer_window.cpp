/*
 * The viewer's window.  GLFW makes the window and delivers the input; the
 * window has no OpenGL context (the module's preview already renders off
 * screen into its own pixels, and a second OpenGL library in the process
 * would clash with that one), so the composed screen is put up with
 * XPutImage in the format of the window's visual.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "az_viewer.h"

#define GLFW_EXPOSE_NATIVE_X11
#include <GLFW/glfw3.h>
#include <GLFW/glfw3native.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>

struct AzViewer_Window {
    AzViewer *viewer;
    GLFWwindow *window;
    Display *display;
    ::Window xwindow;
    GC gc;
    Visual *visual;
    int depth;
    int shift[3];                 /* where red, green and blue go in a pixel of the visual */
    std::vector<uint32_t> pixels; /* the screen in the visual's format */
    XImage *image;
    Cursor wait_cursor;
    int cursor_wait;
};

namespace {

int Mask_Shift(unsigned long mask)
{
    int shift = 0;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        shift++;
    }
    // Channels wider than 8 bits take our 8 bits at their top.
    int bits = 0;
    while (mask & 1) {
        mask >>= 1;
        bits++;
    }
    return shift + (bits > 8 ? bits - 8 : 0);
}

void Image_Free(AzViewer_Window *w)
{
    if (!w->image)
        return;
    w->image->data = nullptr; // the pixels are ours
    XDestroyImage(w->image);
    w->image = nullptr;
}

void Image_Make(AzViewer_Window *w)
{
    Image_Free(w);
    AzViewer *viewer = w->viewer;
    w->pixels.assign(static_cast<size_t>(viewer->width) * viewer->height, 0);
    w->image = XCreateImage(w->display, w->visual, static_cast<unsigned int>(w->depth), ZPixmap, 0,
                            reinterpret_cast<char *>(w->pixels.data()), static_cast<unsigned int>(viewer->width),
                            static_cast<unsigned int>(viewer->height), 32, 0);
}

void Present(AzViewer_Window *w)
{
    AzViewer *viewer = w->viewer;
    if (!w->image || w->pixels.size() != viewer->screen.size())
        Image_Make(w);
    if (!w->image)
        return;
    for (size_t i = 0; i < viewer->screen.size(); i++) {
        uint32_t p = viewer->screen[i];
        w->pixels[i] = (p & 0xff) << w->shift[0] | ((p >> 8) & 0xff) << w->shift[1] | ((p >> 16) & 0xff)
                                                                                          << w->shift[2];
    }
    XPutImage(w->display, w->xwindow, w->gc, w->image, 0, 0, 0, 0, static_cast<unsigned int>(viewer->width),
              static_cast<unsigned int>(viewer->height));
    XFlush(w->display);
}

void Cursor_Update(AzViewer_Window *w)
{
    int wait = AzViewer_Wait_Cursor(w->viewer);
    if (wait == w->cursor_wait)
        return;
    w->cursor_wait = wait;
    if (wait)
        XDefineCursor(w->display, w->xwindow, w->wait_cursor);
    else
        XUndefineCursor(w->display, w->xwindow);
    XFlush(w->display);
}

AzViewer_Window *Of(GLFWwindow *window) { return static_cast<AzViewer_Window *>(glfwGetWindowUserPointer(window)); }

int Control_Down(GLFWwindow *window)
{
    return glfwGetKey(window, GLFW_KEY_LEFT_CONTROL) == GLFW_PRESS ||
           glfwGetKey(window, GLFW_KEY_RIGHT_CONTROL) == GLFW_PRESS;
}

void On_Cursor(GLFWwindow *window, double x, double y)
{
    AzViewer_Pointer_Move(Of(window)->viewer, static_cast<int>(x), static_cast<int>(y));
}

void On_Button(GLFWwindow *window, int button, int action, int mods)
{
    AzViewer_Button(Of(window)->viewer, button, action == GLFW_PRESS, mods);
}

void On_Scroll(GLFWwindow *window, double, double y)
{
    AzViewer_Wheel(Of(window)->viewer, y, Control_Down(window) ? GLFW_MOD_CONTROL : 0);
}

void On_Key(GLFWwindow *window, int key, int, int action, int mods)
{
    if (action == GLFW_PRESS || action == GLFW_REPEAT)
        AzViewer_Key(Of(window)->viewer, key, mods);
}

void On_Char(GLFWwindow *window, unsigned int codepoint) { AzViewer_Char(Of(window)->viewer, codepoint); }

void On_Enter(GLFWwindow *window, int entered)
{
    if (!entered)
        AzViewer_Leave(Of(window)->viewer);
}

void On_Size(GLFWwindow *window, int width, int height)
{
    AzViewer_Window *w = Of(window);
    if (width == w->viewer->width && height == w->viewer->height)
        return;
    AzViewer_Resize(w->viewer, width, height);
    AzViewer_Compose(w->viewer);
    Present(w);
}

void On_Refresh(GLFWwindow *window) { Present(Of(window)); }

void On_Error(int code, const char *text) { AzError(AZ_EXIT_INPUT, "window system: %s (0x%x)", text, code); }

} // namespace

AzViewer_Window *AzViewer_Window_Open(AzViewer *viewer, const char *title)
{
    glfwSetErrorCallback(On_Error);
    if (!glfwInit())
        return nullptr;
    glfwWindowHint(GLFW_CLIENT_API, GLFW_NO_API);
    GLFWwindow *window = glfwCreateWindow(viewer->width, viewer->height, title, nullptr, nullptr);
    if (!window)
        return nullptr;
    AzViewer_Window *w = new AzViewer_Window;
    w->viewer = viewer;
    w->window = window;
    w->display = glfwGetX11Display();
    w->xwindow = glfwGetX11Window(window);
    XWindowAttributes attributes;
    XGetWindowAttributes(w->display, w->xwindow, &attributes);
    w->visual = attributes.visual;
    w->depth = attributes.depth;
    w->shift[0] = Mask_Shift(w->visual->red_mask);
    w->shift[1] = Mask_Shift(w->visual->green_mask);
    w->shift[2] = Mask_Shift(w->visual->blue_mask);
    w->gc = XCreateGC(w->display, w->xwindow, 0, nullptr);
    w->image = nullptr;
    w->wait_cursor = XCreateFontCursor(w->display, XC_watch);
    w->cursor_wait = 0;
    glfwSetWindowUserPointer(window, w);
    glfwSetCursorPosCallback(window, On_Cursor);
    glfwSetMouseButtonCallback(window, On_Button);
    glfwSetScrollCallback(window, On_Scroll);
    glfwSetKeyCallback(window, On_Key);
    glfwSetCharCallback(window, On_Char);
    glfwSetCursorEnterCallback(window, On_Enter);
    glfwSetWindowSizeCallback(window, On_Size);
    glfwSetWindowRefreshCallback(window, On_Refresh);
    // The user cannot shrink the window below what shows the panel whole.
    int min_w = 0, min_h = 0;
    AzViewer_Min_Size(viewer->app->panel_width, viewer->app->panel_height, &min_w, &min_h);
    glfwSetWindowSizeLimits(window, min_w, min_h, AZ_VIEWER_WIDTH_MAX, AZ_VIEWER_HEIGHT_MAX);
    int width = 0, height = 0;
    glfwGetWindowSize(window, &width, &height);
    if (width != viewer->width || height != viewer->height)
        AzViewer_Resize(viewer, width, height);
    AzViewer_Step(viewer);
    AzViewer_Compose(viewer);
    Present(w);
    return w;
}

int AzViewer_Window_Pass(AzViewer_Window *w, double timeout)
{
    glfwWaitEventsTimeout(timeout);
    if (glfwWindowShouldClose(w->window)) {
        // Closing the window is quitting: unsaved strokes ask first.
        glfwSetWindowShouldClose(w->window, GLFW_FALSE);
        AzViewer_Quit_Ask(w->viewer);
    }
    if (AzViewer_Step(w->viewer))
        Present(w);
    Cursor_Update(w);
    return !w->viewer->quit;
}

int AzViewer_Window_Read(AzViewer_Window *w, std::vector<uint32_t> *pixels, int *width, int *height)
{
    XSync(w->display, False);
    XWindowAttributes attributes;
    XGetWindowAttributes(w->display, w->xwindow, &attributes);
    XImage *image = XGetImage(w->display, w->xwindow, 0, 0, static_cast<unsigned int>(attributes.width),
                              static_cast<unsigned int>(attributes.height), AllPlanes, ZPixmap);
    if (!image)
        return 0;
    *width = attributes.width;
    *height = attributes.height;
    pixels->assign(static_cast<size_t>(*width) * *height, 0);
    for (int y = 0; y < *height; y++)
        for (int x = 0; x < *width; x++) {
            unsigned long p = XGetPixel(image, x, y);
            (*pixels)[static_cast<size_t>(y) * *width + x] = 0xff000000u | ((p >> w->shift[0]) & 0xff) |
                                                             ((p >> w->shift[1]) & 0xff) << 8 |
                                                             ((p >> w->shift[2]) & 0xff) << 16;
        }
    XDestroyImage(image);
    return 1;
}

int AzViewer_Window_Cursor_Wait(const AzViewer_Window *w) { return w->cursor_wait; }

void AzViewer_Window_Close(AzViewer_Window *w)
{
    if (!w)
        return;
    Image_Free(w);
    XFreeCursor(w->display, w->wait_cursor);
    XFreeGC(w->display, w->gc);
    glfwDestroyWindow(w->window);
    delete w;
    glfwTerminate();
}

int AzViewer_Run(AzViewer *viewer)
{
    AzViewer_Window *w = AzViewer_Window_Open(viewer, "RUD Azozude");
    if (!w)
        return AzError(AZ_EXIT_INPUT, "cannot open a window (is DISPLAY set to a running X server?)");
    while (AzViewer_Window_Pass(w, 0.02)) {
    }
    AzViewer_Window_Close(w);
    return AZ_EXIT_OK;
}
