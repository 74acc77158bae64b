/*
 * The panel's state and widgets.  All of it is module-wide and lives as
 * long as the library: the widgets are constructed when the module is
 * loaded and destroyed when it is unloaded.
 */
#include <stdlib.h>

#include "oblique_ctrl.h"

unsigned int Ctrl_Active;
unsigned char Ctrl_Shown;
unsigned char Ctrl_Inside;
unsigned short Ctrl_Mode;
int Dir_Cur;
Kelvra_Oblique **Instance_Pt;
int Instance_Nb;
int Instance_Cur;
/* The table outlives Ctrl_Close (the next Ctrl_Open rebuilds it) but not
 * the library: a host that unloads the module must not lose it. */
static struct Ctrl_Table_Release {
    ~Ctrl_Table_Release()
    {
        free(Instance_Pt);
        Instance_Pt = nullptr;
        Instance_Nb = 0;
    }
} ctrl_table_release;
float Rot_X, Rot_Y, Rot_Z;
Matrix_4x4 Rot_Matrix(1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f,
                      1.0f);
HWND image_window;

Boxs box_main;
Selects select_instance;
Valuators valuator_horiz[2];
Valuators valuator_vert[2];
Buttons button_update;
Boxs box_preview;
Sliders slider_frame;
Buttons button_on_off;
Buttons button_dir[2];
Boxs box_image;

