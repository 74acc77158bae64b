/*
 * The interactive host under a private X server (Xvfb): the host started
 * with the module, a phantom study, the viewer and its window.  Input is
 * given through the handlers the window's callbacks call.
 */
#ifndef VIEW_FIXTURE_H
#define VIEW_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostapp/view/az_viewer.h"

/* Starts an X server of our own for this test program (once) and points
 * DISPLAY at it.  1 when it runs. */
int Xvfb_Start(void);
void Xvfb_Stop(void);

class ViewTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    /* Window passes until no apply runs and no update waits. */
    void Idle();
    /* Screen point of a widget of the panel at fractions of its size. */
    void Widget_Point(const Tools *widget, double fx, double fy, int *sx, int *sy);
    Tools *Widget(const char *label);
    /* A vertical or horizontal valuator, the leftmost or lowest first. */
    Valuators *Valuator(int vertical, int index);
    void Click(int sx, int sy, int button = 0);
    void Click_Label(const char *label);
    void Drag(int x0, int y0, int x1, int y1, int button = 0, int steps = 8);
    /* The screen point over frame pixel (fx, fy) of a view. */
    void Frame_Screen(int view, int fx, int fy, int *sx, int *sy);
    uint32_t Screen(int sx, int sy) const;
    std::vector<uint32_t> Crop(const AzRect &r) const;
    /* Writes the screen under the build folder's view-shots/. */
    void Shot(const char *name);
    /* Where the panel's preview child window lies on the screen. */
    AzRect Preview_Rect();

    AzApp app;
    AzViewer viewer;
    AzViewer_Window *window = nullptr;
    int started = 0;
    AzStudy_Plan plan;
};

#endif
