/* The panel's height, layout and lifecycle entry points. */
#include <stdio.h>
#include <string.h>

#include "panel_fixture.h"

namespace {

std::string Hex8(const void *handle)
{
    char text[16];
    snprintf(text, sizeof text, "%08x", (unsigned int)(uintptr_t)handle);
    return text;
}

void Expect_Box(const Tools &tool, int x, int y, int width, int height, const char *what)
{
    EXPECT_EQ(tool.x, x) << what;
    EXPECT_EQ(tool.y, y) << what;
    EXPECT_EQ(tool.width, width) << what;
    EXPECT_EQ(tool.height, height) << what;
}

void Expect_Colour(const Colors &c, int r, int g, int b, int a, const char *what)
{
    EXPECT_EQ(c.red, r) << what;
    EXPECT_EQ(c.green, g) << what;
    EXPECT_EQ(c.blue, b) << what;
    EXPECT_EQ(c.alpha, a) << what;
}

} // namespace

TEST_F(Panel_Test, RegisterHeightFromSettings)
{
    console.Clear();
    EXPECT_EQ(Ctrl_Register(), 304);   // 200 + 2 * (2 * 4 + 20) + 20 + 16 + 12
    std::vector<Console_Line> lines = console.Lines();
    ASSERT_EQ(lines.size(), 1u) << Console_Dump(lines);
    EXPECT_EQ(lines[0], (Console_Line{15, "Class Kelvra_Oblique: Ctrl_Register()"}));

    AzVar_Set("$INTERFACE_SPACE_DIM", 6);
    AzVar_Set("$INTERFACE_VAL_DIM_MID", 30);
    EXPECT_EQ(Ctrl_Register(), 200 + 2 * (12 + 20) + 20 + 30 + 12) << "settings are read at every call";
    // The sum is kept in 16 bits and widened with its sign.
    AzVar_Set("$INTERFACE_TOOL_WIDTH", 32767);
    EXPECT_EQ(Ctrl_Register(), 32767 + 64 + 20 + 30 + 12 - 65536);
}

TEST_F(Panel_Test, CreateMakesFrameAndPreviewWindow)
{
    console.Clear();
    HWND window = CreateWindowExA(0, "PanelTestWindow", "second", WS_VISIBLE, 0, 0, 200, 304, nullptr, nullptr,
                                  nullptr, nullptr);
    DestroyWindow(image_window);
    ASSERT_EQ(Ctrl_Create(window, 200, 304), 1);
    std::vector<Console_Line> lines = console.Lines();
    ASSERT_EQ(lines.size(), 1u) << Console_Dump(lines);
    EXPECT_EQ(lines[0],
              (Console_Line{15, "Class Kelvra_Oblique: Ctrl_Create(wind=" + Hex8(window) + ",dim=200x304)"}));
    EXPECT_EQ(box_main.window, window);
    Expect_Box(box_main, 1, 1, 198, 302, "box_main");
    EXPECT_STREQ(box_main.label, "------- Oblique Reslice -------");
    EXPECT_EQ(box_main.style, 0x42u);
    EXPECT_EQ(box_main.border, 1);
    Expect_Colour(box_main.color, 120, 170, 170, 0, "box_main");
    EXPECT_EQ(box_main.font_name, Fct_Variable_Value("$INTERFACE_TITLE_FONT_NAME", nullptr, nullptr, nullptr));
    EXPECT_EQ(box_main.font_weight, 700);
    EXPECT_EQ(box_main.font_scale, 10);

    ASSERT_NE(image_window, nullptr);
    EXPECT_STREQ(AzWin_Class_Name(image_window), "TOOL");
    EXPECT_EQ(GetParent(image_window), window);
    EXPECT_EQ(AzWin_Style(image_window), 0x58000000u);
    EXPECT_FALSE(IsWindowEnabled(image_window)) << "disabled until laid out";
    RECT r;
    GetClientRect(image_window, &r);
    EXPECT_EQ(r.right, 10);
    EXPECT_EQ(r.bottom, 10);
    ASSERT_EQ(Ctrl_Resize(window, 200, 304), 1);
    EXPECT_TRUE(IsWindowEnabled(image_window));
    DestroyWindow(image_window);

    // Without the preview window the panel still comes up.
    AzWin_Fail_Create("TOOL");
    EXPECT_EQ(Ctrl_Create(window, 200, 304), 1);
    EXPECT_EQ(image_window, nullptr);
    EXPECT_EQ(Ctrl_Resize(window, 200, 304), 1);
    AzWin_Fail_Create(nullptr);
    DestroyWindow(window);
    image_window = nullptr;
}

TEST_F(Panel_Test, LayoutOfA200PixelPanel)
{
    console.Clear();
    ASSERT_EQ(Ctrl_Resize(panel, 200, 600), 1);
    EXPECT_EQ(console.Lines()[0],
              (Console_Line{15, "Class Kelvra_Oblique: Ctrl_Resize(wind=" + Hex8(panel) + ",dim=200x600)"}));
    Expect_Box(box_main, 1, 1, 198, 598, "box_main");
    // X0 5, WI 190, Y1 5, Y2 29, YP 45, YR 239, YL 263, U 16.
    Expect_Box(button_update, 5, 5, 190, 20, "button_update");
    Expect_Box(slider_frame, 5, 29, 190, 12, "slider_frame");
    Expect_Box(box_preview, 25, 65, 150, 150, "box_preview");
    Expect_Box(valuator_vert[0], 5, 65, 15, 150, "valuator_vert[0]");
    Expect_Box(valuator_vert[1], 180, 65, 15, 150, "valuator_vert[1]");
    Expect_Box(valuator_horiz[0], 25, 45, 150, 15, "valuator_horiz[0]");
    Expect_Box(valuator_horiz[1], 25, 220, 150, 15, "valuator_horiz[1]");
    Expect_Box(button_on_off, 5, 239, 48, 20, "button_on_off");
    Expect_Box(button_dir[0], 54, 239, 65, 20, "button_dir[0]");
    Expect_Box(button_dir[1], 119, 239, 75, 20, "button_dir[1]");
    EXPECT_EQ(button_dir[1].x + button_dir[1].width, 194) << "one pixel left of X0 + WI";
    Expect_Box(select_instance, 5, 263, 190, 20, "select_instance");
    // The preview window: inside the preview box, counted from the top.
    Expect_Box(box_image, 28, 598 + 4 - 65 - 150, 145, 145, "box_image");
    EXPECT_EQ(box_preview.width - box_image.width, 5);
    EXPECT_EQ(box_preview.height - box_image.height, 5);
    RECT r;
    ASSERT_TRUE(GetClientRect(image_window, &r));
    EXPECT_EQ(r.right, 145);
    EXPECT_EQ(r.bottom, 145);
    EXPECT_TRUE(IsWindowEnabled(image_window));

    EXPECT_STREQ(button_update.label, "Update DB");
    EXPECT_STREQ(slider_frame.label, "Demo Frame");
    EXPECT_STREQ(button_on_off.label, "On/Off");
    EXPECT_STREQ(button_dir[0].label, "Dir. Original");
    EXPECT_STREQ(button_dir[1].label, "Dir. Oblique");
    EXPECT_STREQ(select_instance.label, "Current Oblique");
    EXPECT_EQ(box_preview.label, nullptr);
    EXPECT_EQ(button_dir[0].style, 0x500000u);
    EXPECT_EQ(button_dir[1].style, 0x500000u);
    EXPECT_EQ(select_instance.style, 0x2100u);
    EXPECT_EQ(select_instance.arrow, 12);
    EXPECT_EQ(box_preview.style, 0x12u);
    EXPECT_EQ(box_image.style, 0x12u);
    EXPECT_EQ(box_preview.border, 2);
    EXPECT_EQ(valuator_vert[0].style, 0x0C000004u);
    EXPECT_EQ(valuator_vert[1].style, 0x0C000004u);
    EXPECT_EQ(valuator_horiz[0].style, 0x0C000000u);
    EXPECT_EQ(valuator_horiz[1].style, 0x0C000000u);
    const Valuators *all[] = {&valuator_vert[0], &valuator_vert[1], &valuator_horiz[0], &valuator_horiz[1]};
    for (const Valuators *v : all) {
        EXPECT_FLOAT_EQ(v->bound_0, 1.5707964f);
        EXPECT_FLOAT_EQ(v->bound_1, -1.5707964f);
        EXPECT_EQ(v->border, 1);
        Expect_Colour(v->color, 120, 170, 170, 0, "valuator");
        EXPECT_EQ(v->window, panel);
    }
    Expect_Colour(box_preview.color, 120, 170, 170, 0, "box_preview");
    Expect_Colour(box_image.color, 120, 170, 170, 0, "box_image");
    EXPECT_FLOAT_EQ(slider_frame.minimum, 0.0f);
    EXPECT_FLOAT_EQ(slider_frame.maximum, 1.0f);
    EXPECT_FLOAT_EQ(slider_frame.step, 1.0f);
    intptr_t tool_font = Fct_Variable_Value("$INTERFACE_TOOL_FONT_NAME", nullptr, nullptr, nullptr);
    const Tools *texts[] = {&button_update, &slider_frame, &button_on_off, &button_dir[0], &button_dir[1],
                            &select_instance};
    for (const Tools *t : texts) {
        EXPECT_EQ(t->font_name, tool_font) << t->label;
        EXPECT_EQ(t->font_weight, 400) << t->label;
        EXPECT_EQ(t->font_scale, 9) << t->label;
        EXPECT_EQ(t->border, 1) << t->label;
        EXPECT_EQ(t->window, panel) << t->label;
    }
    // The valuators keep their values across layouts.
    valuator_vert[1].value = 0.5f;
    ASSERT_EQ(Ctrl_Resize(panel, 200, 600), 1);
    EXPECT_FLOAT_EQ(valuator_vert[1].value, 0.5f);
}

TEST_F(Panel_Test, NarrowPanelRow)
{
    Make_Panel(24, 300);   // WI = 14: U = 10 / 11 = 0
    Expect_Box(button_on_off, 5, button_on_off.y, 0, 20, "button_on_off");
    Expect_Box(button_dir[0], 6, button_on_off.y, 1, 20, "button_dir[0]");
    Expect_Box(button_dir[1], 7, button_on_off.y, 11, 20, "button_dir[1]");
    Make_Panel(40, 300);   // WI = 30: U = 26 / 11 = 2
    EXPECT_EQ(button_on_off.width, 6);
    EXPECT_EQ(button_dir[0].x, 12);
    EXPECT_EQ(button_dir[0].width, 9);
    EXPECT_EQ(button_dir[1].x, 21);
    EXPECT_EQ(button_dir[1].width, 30 - 14 - 3);
}

TEST_F(Panel_Test, NullWindowLaysOutInTheExistingFrame)
{
    Make_Panel(300, 600);
    console.Clear();
    AzVar_Set("$INTERFACE_BUTTON_DIM_BIG", 24);
    ASSERT_EQ(Ctrl_Resize(nullptr, 10, 10), 1);
    EXPECT_EQ(console.Lines()[0],
              (Console_Line{15, "Class Kelvra_Oblique: Ctrl_Resize(wind=00000000,dim=10x10)"}));
    Expect_Box(box_main, 1, 1, 298, 598, "box_main keeps its geometry");
    EXPECT_EQ(box_main.window, panel);
    // X0 5, WI 290: the widgets follow the 300 x 600 frame and the new setting.
    Expect_Box(button_update, 5, 5, 290, 24, "button_update");
    Expect_Box(slider_frame, 5, 33, 290, 12, "slider_frame");
    Expect_Box(box_preview, 25, 69, 250, 250, "box_preview");
    Expect_Box(button_on_off, 5, 49 + 290 + 4, 3 * 26, 24, "button_on_off");
    EXPECT_EQ(select_instance.y, 343 + 24 + 4);
    EXPECT_EQ(button_update.window, panel);
    RECT r;
    GetClientRect(image_window, &r);
    EXPECT_EQ(r.right, 245);
}

TEST_F(Panel_Test, DrawOnlyWhileOpenAndShown)
{
    Window_Fill(panel, 0xFF000000u);
    console.Clear();
    EXPECT_EQ(Ctrl_Draw(), 1);
    EXPECT_EQ(Window_Other(panel, 0xFF000000u), 0) << "not open: nothing drawn";
    EXPECT_EQ(console.Lines()[0], (Console_Line{15, "Class Kelvra_Oblique: Ctrl_Draw()"}));
    ASSERT_EQ(Ctrl_Open(0), 1);
    Window_Fill(panel, 0xFF000000u);
    EXPECT_EQ(Ctrl_Draw(), 1);
    EXPECT_EQ(Window_Other(panel, 0xFF000000u), 0) << "open but not shown: nothing drawn";
    Ctrl_Show();
    EXPECT_EQ(Ctrl_Draw(), 1);
    EXPECT_GT(Window_Other(panel, 0xFF000000u), 0);
    int w = 0, h = 0;
    uint32_t *p = AzWin_Pixels(panel, &w, &h);
    EXPECT_EQ(p[(size_t)(h / 2) * w + 3] & 0xFFFFFF, 120u | (170u << 8) | (170u << 16)) << "the frame's colour";
    Ctrl_Close();
    Window_Fill(panel, 0xFF000000u);
    EXPECT_EQ(Ctrl_Draw(), 1);
    EXPECT_EQ(Window_Other(panel, 0xFF000000u), 0) << "closed: nothing drawn";
}

TEST_F(Panel_Test, OpenQueryCloseAndTheCurrentWindow)
{
    console.Clear();
    EXPECT_EQ(Ctrl_Query(), 0u);
    ASSERT_EQ(Ctrl_Open(0), 1);
    std::vector<Console_Line> lines = console.Lines();
    ASSERT_GE(lines.size(), 4u) << Console_Dump(lines);
    EXPECT_EQ(lines[0], (Console_Line{15, "Class Kelvra_Oblique: Ctrl_Query()"}));
    EXPECT_EQ(lines[1], (Console_Line{15, "Class Kelvra_Oblique: Ctrl_Open(" + Hex8(panel) + ")"}));
    EXPECT_EQ(lines[2], (Console_Line{4, "\xF1 --- Entering Oblique Class Mode (#1) ---"}));
    EXPECT_EQ(lines[3], (Console_Line{15, "Class Kelvra_Oblique: Ctrl_Update(flag=00200000)"}));
    EXPECT_EQ(Ctrl_Query(), 1u) << "no current window: active";
    EXPECT_EQ(Ctrl_Mode, 0);

    console.Clear();
    EXPECT_EQ(Ctrl_Close(), 1);
    EXPECT_EQ(console.Lines()[0], (Console_Line{15, "Class Kelvra_Oblique: Ctrl_Close()"}));
    EXPECT_EQ(Ctrl_Query(), 0u);

    Kelvra_Window *view = AzView_Create("View 1", 0);
    AzVar_Set("$WINDOW_CUR", (intptr_t)view);
    view->Module_Set(0);
    console.Clear();
    Ctrl_Open(2);
    EXPECT_EQ(console.Count("(#3)"), 1u);
    EXPECT_EQ(Ctrl_Mode, 2);
    EXPECT_EQ(Ctrl_Query(), 0u) << "the window has no module: inactive";
    view->Module_Set(7);
    Ctrl_Open(0);
    EXPECT_EQ(Ctrl_Query(), 7u);
    AzVar_Set("$WINDOW_CUR", 0);
}

TEST_F(Panel_Test, ShowHideAndLeave)
{
    ShowWindow(panel, SW_HIDE);
    EnableWindow(panel, FALSE);
    console.Clear();
    Ctrl_Show();
    EXPECT_EQ(console.Lines()[0], (Console_Line{15, "Class Kelvra_Oblique: Ctrl_Show()"}));
    EXPECT_EQ(Ctrl_Shown, 1);
    EXPECT_TRUE(IsWindowVisible(panel));
    EXPECT_TRUE(IsWindowEnabled(panel));
    EXPECT_GT(AzWin_Z_Order(panel), 0u);
    console.Clear();
    Ctrl_Hide();
    EXPECT_EQ(console.Lines()[0], (Console_Line{15, "Class Kelvra_Oblique: Ctrl_Hide()"}));
    EXPECT_EQ(Ctrl_Shown, 0);
    EXPECT_TRUE(IsWindowVisible(panel)) << "hiding disables, the window stays";
    EXPECT_FALSE(IsWindowEnabled(panel));

    Ctrl_Open(0);
    Ctrl_Show();
    console.Clear();
    EXPECT_EQ(Ctrl_Leave(), 1);
    EXPECT_EQ(console.Count("Ctrl_Leave"), 0u) << "no motion since: nothing to leave";

    // Motion over the panel, then the pointer leaves it.
    Over(valuator_vert[0]);
    Ctrl_Motion(nullptr, AZ_POINTER_NONE, 10, 100);
    EXPECT_EQ(Ctrl_Inside, 1);
    console.Clear();
    EXPECT_EQ(Ctrl_Leave(), 1);
    EXPECT_EQ(console.Lines(), (std::vector<Console_Line>{{15, "Class Kelvra_Oblique: Ctrl_Leave()"}}));
    EXPECT_EQ(Ctrl_Inside, 0);
    console.Clear();
    Ctrl_Leave();
    EXPECT_EQ(console.Count("Ctrl_Leave"), 0u);

    Ctrl_Motion(nullptr, AZ_POINTER_NONE, 10, 100);
    Ctrl_Hide();
    console.Clear();
    Ctrl_Leave();
    EXPECT_EQ(console.Count("Ctrl_Leave"), 0u) << "a hidden panel does not act";
    EXPECT_EQ(Ctrl_Inside, 1);
}

TEST_F(Panel_Test, CloseClearsMarksAndKeepsTheList)
{
    Load("Head", 16, 16, 8);
    Open_Shown();
    ASSERT_EQ(Instance_Nb, 2);
    AzHost_Trace_Start();
    ASSERT_EQ(Ctrl_Close(), 1);
    std::vector<std::string> trace = AzHost_Trace_Take();
    std::vector<std::string> expected = {"Flag_Set_Off " + std::string(AzDb_Root()->Name_Get()) + " 0x30 0x4000",
                                         "Fct_Redraw 0x400000"};
    EXPECT_EQ(trace, expected);
    EXPECT_EQ(Instance_Nb, 2) << "the list stays until the next open";
    EXPECT_NE(Instance_Pt, nullptr);
    ASSERT_EQ(Ctrl_Open(0), 1);
    EXPECT_EQ(Instance_Nb, 2);
}
