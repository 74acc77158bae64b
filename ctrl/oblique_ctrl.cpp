/*
 * The module's tool panel: its state and widgets, their layout, the panel's
 * lifecycle entry points, the single state-update routine Ctrl_Update with
 * the module's update hook, and the handling of pointer, wheel, key and
 * help events.
 *
 * Everything here runs on the host's interface thread, one call at a time;
 * the state is shared between the entry points without a lock.
 */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "../module/entry.h"
#include "../oblique/oblique.h"

#define CTRL_SOURCE ".\\oblique_ctrl"
#define CTRL_ITERATOR_SLOT 2
#define CTRL_ITERATOR_TAG "Class Oblique: Ctrl_Update"

/* Host update flags the panel follows. */
#define CTRL_HOST_REFRESH 0x200000ull    /* the database changed: refresh and rebuild the list */
#define CTRL_HOST_SLICE 0x7C00000ull     /* frames or tags changed: show the slice again */
#define CTRL_HOST_FLAGS 0x7E00000ull

/* The panel's own flags, bits 52 to 56. */
#define CTRL_UPDATE_DRAW 0x10000000000000ull
#define CTRL_UPDATE_SELECT 0x20000000000000ull
#define CTRL_UPDATE_ROTATE 0x40000000000000ull
#define CTRL_UPDATE_SLICE 0x80000000000000ull
#define CTRL_UPDATE_IMAGE 0x100000000000000ull

/* Class flags the panel marks: 0x10 the class itself, 0x20 its frames,
 * both at once 0x30; always with the mask 0x4000 and no window. */
#define CTRL_FLAG_MASK 0x4000ull
#define CTRL_REDRAW 0x400000ull

#define CTRL_STYLE_DISABLED 0x23u
#define CTRL_STYLE_SLIDER_ON 0x8000000u
#define CTRL_STYLE_DIR 0x500000u
#define CTRL_STYLE_VALUATOR 0x0C000000u
#define CTRL_STYLE_VERTICAL 0x4u
#define CTRL_HALF_PI 1.5707964f

/* ------------------------------------------------------------------------
 * Panel state and widgets
 * --------------------------------------------------------------------- */

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

static const Colors CTRL_COLOUR = {120, 170, 170, 0};

/* ------------------------------------------------------------------------
 * Small helpers
 * --------------------------------------------------------------------- */

/* A dimension setting, used as a 16-bit value. */
static short Ctrl_Setting(const char *name)
{
    return (short)Fct_Variable_Value(name, nullptr, nullptr, nullptr);
}

/* Trace lines show window handles as eight hex digits. */
static unsigned int Ctrl_Handle(HWND window)
{
    return (unsigned int)(uintptr_t)window;
}

/* The current study's pair starts at Instance_Cur when the table holds it. */
static int Ctrl_Pair_Valid(void)
{
    return Instance_Pt && Instance_Cur >= 0 && Instance_Cur + 1 < Instance_Nb;
}

static Kelvra_Oblique *Ctrl_Current(void)
{
    return Ctrl_Pair_Valid() ? Instance_Pt[Instance_Cur + Dir_Cur] : nullptr;
}

/* Frames exist for the direction of this class. */
static short Ctrl_Has_Frames(const Kelvra_Oblique *cls)
{
    return cls && cls->Child_Get_Nb() > 0 ? 1 : 0;
}

static void Ctrl_Place(Tools &tool, short x, short y, short width, short height)
{
    tool.x = x;
    tool.y = y;
    tool.width = width;
    tool.height = height;
}

struct Ctrl_Font {
    intptr_t name, weight;
    short scale;
};

static void Ctrl_Font_Set(Tools &tool, const Ctrl_Font &font)
{
    tool.font_name = font.name;
    tool.font_weight = font.weight;
    tool.font_scale = font.scale;
}

static Ctrl_Font Ctrl_Font_Read(const char *name, const char *weight, const char *scale)
{
    Ctrl_Font font;
    font.name = Fct_Variable_Value(name, nullptr, nullptr, nullptr);
    font.weight = Fct_Variable_Value(weight, nullptr, nullptr, nullptr);
    font.scale = Ctrl_Setting(scale);
    return font;
}

/* The frame of the panel, over the whole window less one pixel. */
static void Ctrl_Frame_Set(HWND window, int width, int height)
{
    Ctrl_Place(box_main, 1, 1, (short)(width - 2), (short)(height - 2));
    box_main.border = Ctrl_Setting("$INTERFACE_BORDER_DIM");
    Ctrl_Font_Set(box_main, Ctrl_Font_Read("$INTERFACE_TITLE_FONT_NAME", "$INTERFACE_TITLE_FONT_WEIGHT",
                                           "$INTERFACE_TITLE_FONT_SCALE"));
    box_main.Init(window);
}

/* ------------------------------------------------------------------------
 * Lifecycle
 * --------------------------------------------------------------------- */

extern "C" {

int Ctrl_Register(void)
{
    Error_Fct(hwnd, 15, "Class Kelvra_Oblique: Ctrl_Register()");
    short tool_width = Ctrl_Setting("$INTERFACE_TOOL_WIDTH");
    short space = Ctrl_Setting("$INTERFACE_SPACE_DIM");
    short button = Ctrl_Setting("$INTERFACE_BUTTON_DIM_BIG");
    short title = Ctrl_Setting("$INTERFACE_TITLE_DIM_BIG");
    short val_mid = Ctrl_Setting("$INTERFACE_VAL_DIM_MID");
    short val_small = Ctrl_Setting("$INTERFACE_VAL_DIM_SML");
    short height = (short)(tool_width + 2 * (2 * space + button) + title + val_mid + val_small);
    return height;
}

int Ctrl_Create(HWND window, int width, int height)
{
    Error_Fct(hwnd, 15, "Class Kelvra_Oblique: Ctrl_Create(wind=%08x,dim=%dx%d)", Ctrl_Handle(window), width,
              height);
    box_main.label = "------- Oblique Reslice -------";
    box_main.color = CTRL_COLOUR;
    box_main.style = 0x42;
    Ctrl_Frame_Set(window, width, height);
    // A failed creation leaves image_window null: the preview then reports
    // its own context error, the panel still works.
    HMENU id = (HMENU)(intptr_t)GetWindowLongA(window, GWL_ID);
    HINSTANCE instance = (HINSTANCE)(intptr_t)GetWindowLongA(GetActiveWindow(), GWLP_HINSTANCE);
    image_window = CreateWindowExA(0, "TOOL", nullptr, 0x58000000, 0, 0, 10, 10, window, id, instance, nullptr);
    return 1;
}

} // extern "C"

/* The layout figures derived from the frame and the settings. */
struct Ctrl_Layout {
    short x0, wi, y1, y2, yp, yr, yl;
    int unit;
    short button, val_small, list, arrow, border;
};

static Ctrl_Layout Ctrl_Layout_Get(void)
{
    Ctrl_Layout L;
    short space = Ctrl_Setting("$INTERFACE_SPACE_DIM");
    L.button = Ctrl_Setting("$INTERFACE_BUTTON_DIM_BIG");
    L.val_small = Ctrl_Setting("$INTERFACE_VAL_DIM_SML");
    L.list = Ctrl_Setting("$INTERFACE_LIST_DIM_SML");
    L.arrow = Ctrl_Setting("$INTERFACE_LIST_DIM_ARROW");
    L.border = Ctrl_Setting("$INTERFACE_BORDER_DIM");
    L.x0 = (short)(box_main.x + space);
    L.wi = (short)(box_main.width - 2 * space);
    L.y1 = (short)(box_main.y + space);
    L.y2 = (short)(L.y1 + space + L.button);
    L.yp = (short)(L.y2 + L.val_small + space);
    L.yr = (short)(L.yp + L.wi + space);
    L.yl = (short)(L.yr + L.button + space);
    L.unit = ((int)L.wi - 4) / 11;
    return L;
}

static void Ctrl_Valuator_Set(Valuators &v, short x, short y, short width, short height, unsigned int style,
                              HWND window)
{
    Ctrl_Place(v, x, y, width, height);
    v.style = style;
    v.bound_0 = CTRL_HALF_PI;
    v.bound_1 = -CTRL_HALF_PI;
    v.border = 1;
    v.color = box_main.color;
    v.Init(window);
}

static void Ctrl_Button_Set(Buttons &b, short x, short y, short width, short height, const char *label,
                            const Ctrl_Font &font, short border, HWND window)
{
    Ctrl_Place(b, x, y, width, height);
    b.label = label;
    Ctrl_Font_Set(b, font);
    b.border = border;
    b.Init(window);
}

/* The preview's child window covers the inside of the preview box; the
 * child counts y downward from the panel's top. */
static void Ctrl_Image_Place(HWND window)
{
    short b = box_preview.border;
    box_image.x = (short)(box_preview.x + b + 1);
    box_image.y = (short)(box_main.height + b + 2 - box_preview.y - box_preview.height);
    box_image.width = (short)(box_preview.width - 2 * b - 1);
    box_image.height = (short)(box_preview.height - 2 * b - 1);
    box_image.style = 0x12;
    box_image.color = box_main.color;
    box_image.Init(window);
    MoveWindow(image_window, box_image.x, box_image.y, box_image.width, box_image.height, FALSE);
    EnableWindow(image_window, TRUE);
}

static void Ctrl_Layout_Apply(HWND window)
{
    Ctrl_Layout L = Ctrl_Layout_Get();
    Ctrl_Font font = Ctrl_Font_Read("$INTERFACE_TOOL_FONT_NAME", "$INTERFACE_TOOL_FONT_WEIGHT",
                                    "$INTERFACE_TOOL_FONT_SCALE");
    short side = (short)(L.wi - 40), u = (short)L.unit;

    Ctrl_Button_Set(button_update, L.x0, L.y1, L.wi, L.button, "Update DB", font, L.border, window);

    Ctrl_Place(slider_frame, L.x0, L.y2, L.wi, L.val_small);
    slider_frame.label = "Demo Frame";
    slider_frame.minimum = 0.0f;
    slider_frame.maximum = 1.0f;
    slider_frame.step = 1.0f;
    Ctrl_Font_Set(slider_frame, font);
    slider_frame.border = L.border;
    slider_frame.Init(window);

    Ctrl_Place(box_preview, (short)(L.x0 + 20), (short)(L.yp + 20), side, side);
    box_preview.style = 0x12;
    box_preview.border = 2;
    box_preview.color = box_main.color;
    box_preview.Init(window);

    unsigned int vertical = CTRL_STYLE_VALUATOR | CTRL_STYLE_VERTICAL;
    Ctrl_Valuator_Set(valuator_vert[0], L.x0, (short)(L.yp + 20), 15, side, vertical, window);
    Ctrl_Valuator_Set(valuator_vert[1], (short)(L.x0 + L.wi - 15), (short)(L.yp + 20), 15, side, vertical, window);
    Ctrl_Valuator_Set(valuator_horiz[0], (short)(L.x0 + 20), L.yp, side, 15, CTRL_STYLE_VALUATOR, window);
    Ctrl_Valuator_Set(valuator_horiz[1], (short)(L.x0 + 20), (short)(L.yp + L.wi - 15), side, 15,
                      CTRL_STYLE_VALUATOR, window);

    // The direction row: 3 units, a gap, 4 units and a pixel, the rest less a pixel.
    Ctrl_Button_Set(button_on_off, L.x0, L.yr, (short)(3 * u), L.button, "On/Off", font, L.border, window);
    button_dir[0].style = CTRL_STYLE_DIR;
    Ctrl_Button_Set(button_dir[0], (short)(L.x0 + 3 * u + 1), L.yr, (short)(4 * u + 1), L.button, "Dir. Original",
                    font, L.border, window);
    button_dir[1].style = CTRL_STYLE_DIR;
    Ctrl_Button_Set(button_dir[1], (short)(L.x0 + 7 * u + 2), L.yr, (short)(L.wi - 7 * u - 3), L.button,
                    "Dir. Oblique", font, L.border, window);

    Ctrl_Place(select_instance, L.x0, L.yl, L.wi, L.list);
    select_instance.label = "Current Oblique";
    select_instance.style = 0x2100;
    select_instance.arrow = L.arrow;
    Ctrl_Font_Set(select_instance, font);
    select_instance.border = L.border;
    select_instance.Init(window);

    Ctrl_Image_Place(window);
}

extern "C" {

int Ctrl_Resize(HWND window, int width, int height)
{
    Error_Fct(hwnd, 15, "Class Kelvra_Oblique: Ctrl_Resize(wind=%08x,dim=%dx%d)", Ctrl_Handle(window), width,
              height);
    if (window)
        Ctrl_Frame_Set(window, width, height);
    else
        window = box_main.window;   // lay out again inside the existing frame
    Ctrl_Layout_Apply(window);
    return 1;
}

int Ctrl_Open(unsigned short mode)
{
    Error_Fct(hwnd, 15, "Class Kelvra_Oblique: Ctrl_Open(%08x)", Ctrl_Handle(box_main.window));
    Kelvra_Window *current = (Kelvra_Window *)Fct_Variable_Value("$WINDOW_CUR", nullptr, nullptr, nullptr);
    Ctrl_Active = current ? current->Module_Get() : 1;
    Ctrl_Mode = mode;
    Error_Fct(hwnd, 4, "\xF1 --- Entering Oblique Class Mode (#%d) ---", mode + 1);
    Ctrl_Update(CTRL_HOST_REFRESH);
    return 1;
}

void Ctrl_Show(void)
{
    Error_Fct(hwnd, 15, "Class Kelvra_Oblique: Ctrl_Show()");
    Ctrl_Shown = 1;
    EnableWindow(box_main.window, TRUE);
    ShowWindow(box_main.window, SW_SHOW);
    BringWindowToTop(box_main.window);
}

void Ctrl_Hide(void)
{
    Error_Fct(hwnd, 15, "Class Kelvra_Oblique: Ctrl_Hide()");
    Ctrl_Shown = 0;
    // Disabled, not hidden: the host's tool area keeps the panel in view.
    EnableWindow(box_main.window, FALSE);
}

int Ctrl_Draw(void)
{
    Error_Fct(hwnd, 15, "Class Kelvra_Oblique: Ctrl_Draw()");
    if (!Ctrl_Active || !Ctrl_Shown)
        return 1;
    box_main.Draw();
    button_update.Draw();
    button_dir[0].Draw();
    button_dir[1].Draw();
    button_on_off.Draw();
    slider_frame.Draw();
    select_instance.Draw();
    box_preview.Draw();
    Ctrl_Update(CTRL_UPDATE_DRAW);
    valuator_horiz[0].Draw();
    valuator_horiz[1].Draw();
    valuator_vert[0].Draw();
    valuator_vert[1].Draw();
    return 1;
}

int Ctrl_Leave(void)
{
    if (!Ctrl_Active || !Ctrl_Shown || !Ctrl_Inside)
        return 1;
    Ctrl_Inside = 0;
    Error_Fct(hwnd, 15, "Class Kelvra_Oblique: Ctrl_Leave()");
    button_update.Deselect();
    button_dir[0].Deselect();
    button_dir[1].Deselect();
    button_on_off.Deselect();
    slider_frame.Deselect();
    select_instance.Deselect();
    valuator_horiz[0].Deselect();
    valuator_horiz[1].Deselect();
    valuator_vert[0].Deselect();
    valuator_vert[1].Deselect();
    return 1;
}

unsigned int Ctrl_Query(void)
{
    Error_Fct(hwnd, 15, "Class Kelvra_Oblique: Ctrl_Query()");
    return Ctrl_Active;
}

int Ctrl_Close(void)
{
    Error_Fct(hwnd, 15, "Class Kelvra_Oblique: Ctrl_Close()");
    Ctrl_Active = 0;
    Kelvra_Class *root = (Kelvra_Class *)Fct_Variable_Value("$DB_ROOT_PT", nullptr, nullptr, nullptr);
    if (root)
        root->Flag_Set_Off(0x30, nullptr, CTRL_FLAG_MASK);
    Fct_Redraw(CTRL_REDRAW, nullptr, nullptr, nullptr);
    Oblique_Buffers_Release();
    return 1;
}

} // extern "C"

/* ------------------------------------------------------------------------
 * State update
 * --------------------------------------------------------------------- */

/* Sets up both directions of every study of every mode, panel open or not. */
static void Ctrl_Refresh_Pass(void)
{
    for (unsigned int mode = 0; mode < 4; mode++) {
        if (!Iterator_Init(CTRL_ITERATOR_SLOT, CTRL_ITERATOR_TAG, nullptr))
            continue;
        Kelvra_Class *cls;
        while ((cls = Iterator_Class(CTRL_ITERATOR_SLOT, 0xD0000u + mode, nullptr, 0)) != nullptr) {
            Kelvra_Class *study = cls->Parent_Get_Pt();
            Kelvra_Class *other = study ? study->Child_Get_Pt(1) : nullptr;
            Oblique_Setup(static_cast<Kelvra_Oblique *>(cls), static_cast<Kelvra_Oblique *>(other));
        }
        Iterator_End(CTRL_ITERATOR_SLOT);
    }
}

/* Collects the pairs of the panel's mode into Instance_Pt; 0 when the table
 * cannot grow (the table is then left empty). */
static int Ctrl_Table_Build(void)
{
    Instance_Nb = 0;
    free(Instance_Pt);
    Instance_Pt = nullptr;
    if (!Iterator_Init(CTRL_ITERATOR_SLOT, CTRL_ITERATOR_TAG, nullptr))
        return 1;
    Kelvra_Class *org;
    while ((org = Iterator_Class(CTRL_ITERATOR_SLOT, 0xD0000u + Ctrl_Mode, nullptr, 0)) != nullptr) {
        // One spare entry beyond the pair.
        Kelvra_Oblique **grown =
            (Kelvra_Oblique **)realloc(Instance_Pt, (size_t)(Instance_Nb + 3) * sizeof(Kelvra_Oblique *));
        if (!grown) {
            Error_Fct(hwnd, 1, OBLIQUE_MSG_REALLOC, 780, CTRL_SOURCE, "Instance_Pt", Instance_Nb + 3,
                      (int)sizeof(Kelvra_Oblique *));
            Iterator_End(CTRL_ITERATOR_SLOT);
            free(Instance_Pt);
            Instance_Pt = nullptr;
            Instance_Nb = 0;
            return 0;
        }
        Instance_Pt = grown;
        Kelvra_Class *study = org->Parent_Get_Pt();
        Instance_Pt[Instance_Nb] = static_cast<Kelvra_Oblique *>(org);
        Instance_Pt[Instance_Nb + 1] = static_cast<Kelvra_Oblique *>(study ? study->Child_Get_Pt(1) : nullptr);
        Instance_Nb += 2;
    }
    Iterator_End(CTRL_ITERATOR_SLOT);
    return 1;
}

/* The list shows each study by its name: the Original class's name less
 * the 15 characters of " (dir:Original)". */
static void Ctrl_List_Fill(void)
{
    select_instance.Grow(Instance_Nb / 2, 0);
    for (int i = 0; i < Instance_Nb / 2 && i < select_instance.entries_nb; i++) {
        char label[256];
        const char *name = Instance_Pt[2 * i]->Name_Get();
        int keep = (int)strlen(name) - 15;
        snprintf(label, sizeof(label), "%.*s", keep > 0 ? keep : 0, name);
        select_instance.entries[i].Set_Name(label);
    }
    select_instance.Init(nullptr);
    select_instance.Draw();
}

static int Ctrl_List_Rebuild(void)
{
    if (!Ctrl_Table_Build())
        return 0;
    Ctrl_List_Fill();
    Instance_Cur = 2 * select_instance.current;
    for (int b = 0; b < 2; b++)
        button_dir[b].lamp = Ctrl_Pair_Valid() ? Ctrl_Has_Frames(Instance_Pt[Instance_Cur + b]) : 0;
    return 1;
}

/* The slider's range follows the current class's slice count; its value
 * is kept on a slice. */
static void Ctrl_Slider_Range(const Kelvra_Oblique *cur)
{
    int k = (int)slider_frame.value;
    slider_frame.maximum = (float)cur->dim.z - 0.001f;
    if (k <= 0)
        k = 0;
    else if (k > cur->dim.z - 1)
        k = cur->dim.z - 1;
    slider_frame.value = (float)k;
    slider_frame.Init(nullptr);
}

static void Ctrl_Slider_Off(void)
{
    slider_frame.value = 0.0f;
    slider_frame.style = CTRL_STYLE_DISABLED;
    slider_frame.Clear();
}

static void Ctrl_Slider_Refresh(const Kelvra_Oblique *cur)
{
    Ctrl_Slider_Range(cur);
    if (cur->dim.z <= 1)
        Ctrl_Slider_Off();
    else
        slider_frame.style = CTRL_STYLE_SLIDER_ON;
    slider_frame.Draw();
}

/* The rotation valuators only mean something for the Oblique direction. */
static void Ctrl_Draw_Step(void)
{
    Valuators *all[4] = {&valuator_horiz[0], &valuator_horiz[1], &valuator_vert[0], &valuator_vert[1]};
    for (Valuators *v : all)
        v->style = Dir_Cur == 0 ? (v->style | CTRL_STYLE_DISABLED) : (v->style & ~CTRL_STYLE_DISABLED);
    Kelvra_Oblique *cur = Ctrl_Current();
    if (cur) {
        if (cur->dim.z > 1) {
            slider_frame.style = CTRL_STYLE_SLIDER_ON;
            Ctrl_Slider_Range(cur);
        } else {
            Ctrl_Slider_Off();
        }
    }
    slider_frame.Draw();
    if (Ctrl_Pair_Valid()) {
        for (int b = 0; b < 2; b++)
            if (Instance_Pt[Instance_Cur + b])
                Instance_Pt[Instance_Cur + b]->Flag_Set_Off(0x20, nullptr, CTRL_FLAG_MASK);
    }
}

static void Ctrl_Dir_Buttons(void)
{
    const Kelvra_Oblique *org = Instance_Pt[Instance_Cur];
    for (int b = 0; b < 2; b++) {
        if (org && org->group_valid > 0) {
            button_dir[b].style = CTRL_STYLE_DIR;
            button_dir[b].selected = (short)(b == Dir_Cur);
            button_dir[b].lamp = Ctrl_Has_Frames(Instance_Pt[Instance_Cur + b]);
        } else {
            // The study is no 3D group (or not yet tested): no direction to choose.
            button_dir[b].style = CTRL_STYLE_DISABLED;
            button_dir[b].Clear(box_main.color);
        }
        button_dir[b].Draw();
    }
}

/* 1 when it ran (there is a current class). */
static int Ctrl_Select_Step(void)
{
    Kelvra_Oblique *cur = Ctrl_Current();
    if (!cur)
        return 0;
    Ctrl_Slider_Refresh(cur);
    cur->Flag_Set_On(0x10, nullptr, CTRL_FLAG_MASK);
    Fct_Redraw(CTRL_REDRAW, nullptr, nullptr, nullptr);
    Ctrl_Dir_Buttons();
    return 1;
}

/* The box of the Original volume's voxel centres (each coordinate scaled
 * by `scale`), centred on the volume and turned by the panel's rotation. */
static Region_3D Ctrl_Rotated_Box(const Kelvra_Oblique *org, float sx, float sy, float sz)
{
    Region_3D box;
    box.kind = 2;
    for (int i = 0; i < 3; i++) {
        box.min[i] = 100000.0f;
        box.max[i] = -100000.0f;
    }
    box.Add((float)(org->ref_dim.x - 1) * 0.5f * sx, (float)(org->ref_dim.y - 1) * 0.5f * sy,
            (float)(org->ref_dim.z - 1) * 0.5f * sz);
    box.Add((float)(1 - org->ref_dim.x) * 0.5f * sx, (float)(1 - org->ref_dim.y) * 0.5f * sy,
            (float)(1 - org->ref_dim.z) * 0.5f * sz);
    box *= Rot_Matrix;
    return box;
}

/* Rebuilds the current class's size, voxel and voxel-to-volume mapping
 * from the panel's angles; 0 without a current pair. */
static int Ctrl_Rotate_Step(void)
{
    if (!Ctrl_Pair_Valid())
        return 0;
    Kelvra_Oblique *org = Instance_Pt[Instance_Cur];
    Kelvra_Oblique *cur = Ctrl_Current();
    if (!org || !cur)
        return 0;
    cur->alpha = Rot_X;
    cur->beta = Rot_Y;
    cur->theta = Rot_Z;
    Rot_Matrix.init();
    Rot_Matrix.rot_x(Rot_X, Matrix_4x4::post);
    Rot_Matrix.rot_y(Rot_Y, Matrix_4x4::post);
    Rot_Matrix.rot_z(Rot_Z, Matrix_4x4::post);

    Region_3D voxels = Ctrl_Rotated_Box(org, 1.0f, 1.0f, 1.0f);
    cur->dim.x = (int32_t)(voxels.max[0] - voxels.min[0] + 1.0f);
    cur->dim.y = (int32_t)(voxels.max[1] - voxels.min[1] + 1.0f);
    cur->dim.z = (int32_t)(voxels.max[2] - voxels.min[2] + 1.0f);

    Region_3D mm = Ctrl_Rotated_Box(org, org->voxel.x, org->voxel.y, org->voxel.z);
    cur->voxel.x = fabsf(mm.max[0] - mm.min[0]) / (float)cur->dim.x;
    cur->voxel.y = fabsf(mm.max[1] - mm.min[1]) / (float)cur->dim.y;
    cur->voxel.z = fabsf(mm.max[2] - mm.min[2]) / (float)cur->dim.z;
    if (cur->dir_image) {
        cur->dir_image->pixel_size = cur->voxel;
        cur->dir_image->pixel_size_2 = cur->voxel;
    }

    // Built from the current voxel to the Original voxel, then turned round:
    // the pixel callbacks go from a voxel of this direction to the volume.
    cur->matrix.init();
    cur->matrix.translate((float)(1 - org->ref_dim.x) * 0.5f, (float)(1 - org->ref_dim.y) * 0.5f,
                          (float)(1 - org->ref_dim.z) * 0.5f, Matrix_4x4::post);
    cur->matrix.scale(org->voxel.x, org->voxel.y, org->voxel.z, Matrix_4x4::post);
    cur->matrix *= Rot_Matrix;
    cur->matrix.scale(1.0f / cur->voxel.x, 1.0f / cur->voxel.y, 1.0f / cur->voxel.z, Matrix_4x4::post);
    cur->matrix.translate(voxels.max[0], voxels.max[1], voxels.max[2], Matrix_4x4::post);
    cur->matrix = !cur->matrix;

    Ctrl_Slider_Refresh(cur);
    return 1;
}

/* Shows the slider's slice: 1 when the preview images were rebuilt. */
static int Ctrl_Slice_Step(void)
{
    Kelvra_Oblique *cur = Ctrl_Current();
    if (!cur)
        return 0;
    int k = (int)slider_frame.value;
    if (k <= 0)
        k = 0;
    else if (k > cur->dim.z - 1)
        k = cur->dim.z - 1;
    cur->slice_cur = (float)k;
    int built = 0;
    if (cur->dir_image) {
        Oblique_GLI_Build(cur, cur->dir_image, cur->dim.x, cur->dim.y, k);
        Oblique_TAG_Build(cur, cur->dir_image, cur->dim.x, cur->dim.y, k);
        built = 1;
    }
    Kelvra_Class *frame = cur->Child_Get_Nb() > k ? cur->Child_Get_Pt(k) : nullptr;
    if (frame) {
        // Only the shown frame of the direction stays marked.
        cur->Flag_Set_Off(0x20, nullptr, CTRL_FLAG_MASK);
        frame->Flag_Set_On(0x30, nullptr, CTRL_FLAG_MASK);
        Fct_Redraw(CTRL_REDRAW, nullptr, nullptr, nullptr);
    }
    return built;
}

static void Ctrl_Image_Step(void)
{
    Kelvra_Oblique *cur = Ctrl_Current();
    if (cur)
        Oblique_Image(image_window, &box_image, cur);
}

int Ctrl_Update(uint64_t flags)
{
    Error_Fct(hwnd, 15, "Class Kelvra_Oblique: Ctrl_Update(flag=%08x)", (unsigned int)flags);
    if (flags & CTRL_HOST_REFRESH)
        Ctrl_Refresh_Pass();
    if (!Ctrl_Active)
        return 1;
    if (flags & CTRL_HOST_REFRESH) {
        if (!Ctrl_List_Rebuild())
            return 0;
        flags |= CTRL_UPDATE_SELECT;
    }
    if (flags & CTRL_HOST_SLICE)
        flags |= CTRL_UPDATE_SLICE;
    if (flags & CTRL_UPDATE_DRAW) {
        Ctrl_Draw_Step();
        flags |= CTRL_UPDATE_SLICE;
    }
    if ((flags & CTRL_UPDATE_SELECT) && Ctrl_Select_Step())
        flags |= CTRL_UPDATE_SLICE;
    if (flags & CTRL_UPDATE_ROTATE) {
        if (!Ctrl_Rotate_Step())
            return 0;
        flags |= CTRL_UPDATE_SLICE;
    }
    if ((flags & CTRL_UPDATE_SLICE) && Ctrl_Slice_Step())
        flags |= CTRL_UPDATE_IMAGE;
    if (flags & CTRL_UPDATE_IMAGE)
        Ctrl_Image_Step();
    return 1;
}

extern "C" {

uint64_t Update_Register(void)
{
    return CTRL_HOST_FLAGS;
}

int Update_A(uint64_t flags)
{
    Ctrl_Update(flags);
    return 1;
}

} // extern "C"

/* ------------------------------------------------------------------------
 * Input
 * --------------------------------------------------------------------- */

/* The list chose another study: unmark the old current class, follow the
 * list. */
static void Ctrl_Study_Change(Kelvra_Oblique *old)
{
    old->Flag_Set_Off(0x30, nullptr, CTRL_FLAG_MASK);
    select_instance.Adjust();
    Instance_Cur = 2 * select_instance.current;
    Ctrl_Update(CTRL_UPDATE_SELECT);
}

static void Ctrl_Slider_Take(void)
{
    slider_frame.value = slider_frame.Read();
    slider_frame.Adjust();
    Ctrl_Update(CTRL_UPDATE_SLICE);
}

/* Both valuators of a pair show the same angle. */
static void Ctrl_Angle_Take(Valuators *pair, Valuators &hit, float *angle)
{
    float v = hit.Read();
    *angle = v;
    pair[0].value = v;
    pair[1].value = v;
    pair[0].Adjust();
    pair[1].Adjust();
    Ctrl_Update(CTRL_UPDATE_ROTATE);
}

static void Ctrl_Update_DB(void)
{
    if (!Ctrl_Pair_Valid())
        return;
    Ctrl_Apply(button_dir[0].lamp, Instance_Pt[Instance_Cur], button_dir[1].lamp, Instance_Pt[Instance_Cur + 1]);
}

static void Ctrl_Dir_Choose(int b)
{
    Dir_Cur = b;
    button_dir[0].selected = 0;
    button_dir[1].selected = 0;
    button_dir[b].selected = 1;
    button_dir[0].Adjust();
    button_dir[1].Adjust();
    Ctrl_Draw();
}

/* The valuators under the pointer, in the order they are tested. */
static int Ctrl_Valuator_Event(int state)
{
    for (int i = 0; i < 2; i++) {
        if (valuator_vert[i].Select(state)) {
            Ctrl_Angle_Take(valuator_vert, valuator_vert[i], &Rot_X);
            return 1;
        }
    }
    for (int i = 0; i < 2; i++) {
        if (valuator_horiz[i].Select(state)) {
            Ctrl_Angle_Take(valuator_horiz, valuator_horiz[i], &Rot_Y);
            return 1;
        }
    }
    return 0;
}

/* The help keyword of the widget under the pointer, null over none. */
static const char *Ctrl_Help_Keyword(void)
{
    const int test = TOOLS_SELECT_TEST;
    if (select_instance.Select(test))
        return "instance";
    if (valuator_horiz[0].Select(test) || valuator_horiz[1].Select(test))
        return "rot_alpha";
    if (valuator_vert[0].Select(test) || valuator_vert[1].Select(test))
        return "rot_beta";
    if (button_update.Select(test))
        return "update";
    if (box_preview.Select(test) || slider_frame.Select(test))
        return "preview";
    if (button_on_off.Select(test))
        return "on_off";
    if (button_dir[0].Select(test))
        return "dir_original";
    if (button_dir[1].Select(test))
        return "dir_oblique";
    return nullptr;
}

extern "C" {

int Ctrl_Click(void *, int state)
{
    Error_Fct(hwnd, 15, "Class Kelvra_Oblique: Ctrl_Click()");
    if (state == 0)
        return 0;
    if (button_update.Select(state)) {
        Ctrl_Update_DB();
        return 1;
    }
    if (button_on_off.Select(state)) {
        Buttons &dir = button_dir[Dir_Cur];
        dir.lamp = dir.lamp == 0 ? 1 : 0;
        dir.Draw();
        return 1;
    }
    for (int b = 0; b < 2; b++) {
        if (button_dir[b].Select(state)) {
            Ctrl_Dir_Choose(b);
            return 1;
        }
    }
    if (select_instance.Select(state)) {
        Kelvra_Oblique *old = Ctrl_Current();
        if (select_instance.Read() >= 0 && old)
            Ctrl_Study_Change(old);
        return 1;
    }
    if (slider_frame.Select(state)) {
        Ctrl_Slider_Take();
        return 1;
    }
    return Ctrl_Valuator_Event(state);
}

int Ctrl_Motion(void *, int state, short x, short y)
{
    Error_Fct(hwnd, 15, "Class Kelvra_Oblique: Ctrl_Motion(up_down:%04X pos:%dx%d)", state, x, y);
    Ctrl_Inside = 1;
    // Hover and press feedback only.
    button_update.Select(state);
    button_dir[0].Select(state);
    button_dir[1].Select(state);
    button_on_off.Select(state);
    select_instance.Select(state);
    if (slider_frame.Select(state)) {
        if (state != 0)
            Ctrl_Slider_Take();
        return 1;
    }
    return Ctrl_Valuator_Event(state);
}

int Ctrl_Scroll(void *, int value)
{
    Error_Fct(hwnd, 15, "Class Kelvra_Oblique: Ctrl_Scroll(val=%d)", value);
    if (select_instance.Select(TOOLS_SELECT_TEST)) {
        Kelvra_Oblique *old = Ctrl_Current();
        if (select_instance.Scroll(-value) >= 0 && old)
            Ctrl_Study_Change(old);
        return 1;
    }
    if (box_preview.Select(TOOLS_SELECT_TEST) || slider_frame.Select(TOOLS_SELECT_TEST)) {
        slider_frame.Scroll(-value);
        Ctrl_Update(CTRL_UPDATE_ROTATE);
        return 1;
    }
    return 0;
}

int Ctrl_Key(void *, int key, short x, short y)
{
    Error_Fct(hwnd, 15, "Class Kelvra_Oblique: Ctrl_Key(key:%04X pos:%dx%d)", key, x, y);
    return 0;
}

int Ctrl_Help(void *, int key, short x, short y)
{
    Error_Fct(hwnd, 15, "Class Kelvra_Oblique: Ctrl_Help(key:%04X pos:%dx%d)", key, x, y);
    Fct_Help("class_oblique", Ctrl_Help_Keyword());
    return 1;
}

} // extern "C"
