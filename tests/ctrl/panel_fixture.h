/* The module's panel in a host window of its own, with the database, the
 * module's insert level and the toolkit's pointer record. */
#ifndef PANEL_FIXTURE_H
#define PANEL_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostlib/structures/az_db.h"
#include "hostlib/tools/az_tools.h"
#include "hostlib/win32/az_win.h"
#include "module/entry.h"
#include "oblique/oblique.h"
#include "tests/support/console_capture.h"

/* The panel's module-wide state. */
extern unsigned int Ctrl_Active;
extern unsigned char Ctrl_Shown;
extern unsigned char Ctrl_Inside;
extern unsigned short Ctrl_Mode;
extern int Dir_Cur;
extern Kelvra_Oblique **Instance_Pt;
extern int Instance_Nb;
extern int Instance_Cur;
extern float Rot_X, Rot_Y, Rot_Z;
extern Matrix_4x4 Rot_Matrix;
extern HWND image_window;
extern Boxs box_main;
extern Selects select_instance;
extern Valuators valuator_horiz[2];
extern Valuators valuator_vert[2];
extern Buttons button_update;
extern Boxs box_preview;
extern Sliders slider_frame;
extern Buttons button_on_off;
extern Buttons button_dir[2];
extern Boxs box_image;

/* Panel flags of Ctrl_Update, as the panel's entry points raise them. */
const uint64_t UPDATE_DRAW = 0x10000000000000ull;
const uint64_t UPDATE_SELECT = 0x20000000000000ull;
const uint64_t UPDATE_ROTATE = 0x40000000000000ull;
const uint64_t UPDATE_SLICE = 0x80000000000000ull;
const uint64_t UPDATE_IMAGE = 0x100000000000000ull;

class Panel_Test : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    /* Creates and lays out the panel in a new window of that size. */
    void Make_Panel(int width, int height);
    /* A study of that size and spacing fed through the insert chain. */
    AzStudy *Load(const char *name, int width, int height, int slices, float sx = 1.0f, float sy = 1.0f,
                  float sz = 1.0f);
    /* Open (mode 0) and shown. */
    void Open_Shown();
    /* Pointer over a widget's centre, or a point, with no button down. */
    void Over(const Tools &tool);
    void Over_Point(int x, int y);
    /* Trace lines that start with the prefix. */
    static std::vector<std::string> Only(const std::vector<std::string> &lines, const std::string &prefix);
    /* Waits for a frame-creation worker and carries out the host's updates. */
    int Wait_Worker();

    HWND panel = nullptr;
    std::vector<AzStudy *> studies;
    Console_Capture console;
};

/* Sets the panel's state back to what a freshly loaded module has. */
void Panel_Reset();

#endif
