/*
 * The panel's layout: its height, its frame and preview child window, and
 * the place of every widget, laid out from the host's interface settings.
 * The toolkit counts y upward from the panel's bottom edge.
 */
#include "oblique_ctrl.h"

static const Colors CTRL_COLOUR = {120, 170, 170, 0};

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

} // extern "C"
