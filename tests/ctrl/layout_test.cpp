/* The panel's height, layout and lifecycle entry points. */
#include <stdio.h>

#include "panel_fixture.h"

namespace {

std::string Hex8(const void *handle)
{
    char text[16];
    snprintf(text, sizeof text, "%08x", (unsigned int)(uintptr_t)handle);
    return text;
}

Console_Line Entry_Line(const std::string &call) { return {15, "Class Kelvra_Oblique: " + call}; }

} // namespace

TEST_F(Panel_Test, RegisterHeightFromSettings)
{
    console.Clear();
    EXPECT_EQ(Ctrl_Register(), 304);   // 200 + 2 * (2 * 4 + 20) + 20 + 16 + 12
    EXPECT_EQ(console.Lines(), std::vector<Console_Line>{Entry_Line("Ctrl_Register()")});
    AzVar_Set("$INTERFACE_SPACE_DIM", 6);
    AzVar_Set("$INTERFACE_VAL_DIM_MID", 30);
    EXPECT_EQ(Ctrl_Register(), 200 + 2 * (12 + 20) + 20 + 30 + 12) << "settings are read at every call";
    AzVar_Set("$INTERFACE_TOOL_WIDTH", 32767);
    EXPECT_EQ(Ctrl_Register(), 32767 + 64 + 20 + 30 + 12 - 65536) << "kept in 16 bits, widened with its sign";
}

TEST_F(Panel_Test, CreateMakesFrameAndPreviewWindow)
{
    console.Clear();
    HWND window = CreateWindowExA(0, "PanelTestWindow", "second", WS_VISIBLE, 0, 0, 200, 304, nullptr, nullptr,
                                  nullptr, nullptr);
    DestroyWindow(image_window);
    ASSERT_EQ(Ctrl_Create(window, 200, 304), 1);
    EXPECT_EQ(console.Lines(),
              std::vector<Console_Line>{Entry_Line("Ctrl_Create(wind=" + Hex8(window) + ",dim=200x304)")});
    EXPECT_EQ(box_main.window, window);
    EXPECT_EQ(box_main.width * 1000 + box_main.height, 198302);
    ASSERT_NE(image_window, nullptr);
    EXPECT_STREQ(AzWin_Class_Name(image_window), "TOOL");
    EXPECT_EQ(GetParent(image_window), window);
    EXPECT_FALSE(IsWindowEnabled(image_window)) << "disabled until laid out";
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
}

/* Every widget's box (x, y, width, height) in four panels: 200 x 600;
 * 24 x 300 and 40 x 300, where the direction row's unit, (width - 14) / 11,
 * is 0 and 2; 300 x 600 laid out again with no window and 24-pixel buttons. */
TEST_F(Panel_Test, LayoutTable)
{
    struct Row {
        int panel;
        const Tools *tool;
        int x, y, width, height;
        const char *label;
    };
    const Row rows[] = {
        {0, &box_main, 1, 1, 198, 598, "------- Oblique Reslice -------"},
        {0, &button_update, 5, 5, 190, 20, "Update DB"},
        {0, &slider_frame, 5, 29, 190, 12, "Demo Frame"},
        {0, &box_preview, 25, 65, 150, 150, nullptr},
        {0, &valuator_vert[0], 5, 65, 15, 150, nullptr},
        {0, &valuator_vert[1], 180, 65, 15, 150, nullptr},
        {0, &valuator_horiz[0], 25, 45, 150, 15, nullptr},
        {0, &valuator_horiz[1], 25, 220, 150, 15, nullptr},
        {0, &button_on_off, 5, 239, 48, 20, "On/Off"},
        {0, &button_dir[0], 54, 239, 65, 20, "Dir. Original"},
        {0, &button_dir[1], 119, 239, 75, 20, "Dir. Oblique"},   // ends a pixel left of the frame's inside
        {0, &select_instance, 5, 263, 190, 20, "Current Oblique"},
        {0, &box_image, 28, 598 + 4 - 65 - 150, 145, 145, nullptr},   // counted from the top
        {1, &button_on_off, 5, 63, 0, 20, nullptr},
        {1, &button_dir[0], 6, 63, 1, 20, nullptr},
        {1, &button_dir[1], 7, 63, 11, 20, nullptr},
        {2, &button_on_off, 5, 79, 6, 20, nullptr},
        {2, &button_dir[0], 12, 79, 9, 20, nullptr},
        {2, &button_dir[1], 21, 79, 13, 20, nullptr},
        {3, &box_main, 1, 1, 298, 598, nullptr},
        {3, &button_update, 5, 5, 290, 24, nullptr},
        {3, &slider_frame, 5, 33, 290, 12, nullptr},
        {3, &box_preview, 25, 69, 250, 250, nullptr},
        {3, &button_on_off, 5, 343, 78, 24, nullptr},
        {3, &select_instance, 5, 371, 290, 20, nullptr},
        {3, &box_image, 28, 283, 245, 245, nullptr},
    };
    const int sizes[4][2] = {{200, 600}, {24, 300}, {40, 300}, {300, 600}};
    for (int c = 0; c < 4; c++) {
        const int w = sizes[c][0], h = sizes[c][1];
        Make_Panel(w, h);
        valuator_vert[1].value = 0.5f;
        console.Clear();
        if (c == 3) {
            AzVar_Set("$INTERFACE_BUTTON_DIM_BIG", 24);
            ASSERT_EQ(Ctrl_Resize(nullptr, 10, 10), 1);
            EXPECT_EQ(console.Lines()[0], Entry_Line("Ctrl_Resize(wind=00000000,dim=10x10)"));
        } else {
            ASSERT_EQ(Ctrl_Resize(panel, w, h), 1);
            EXPECT_EQ(console.Lines()[0], Entry_Line("Ctrl_Resize(wind=" + Hex8(panel) + ",dim=" +
                                                     std::to_string(w) + "x" + std::to_string(h) + ")"));
        }
        EXPECT_FLOAT_EQ(valuator_vert[1].value, 0.5f) << "values stay across layouts";
        for (const Row &r : rows) {
            if (r.panel != c)
                continue;
            const Tools &t = *r.tool;
            const int got[4] = {t.x, t.y, t.width, t.height}, want[4] = {r.x, r.y, r.width, r.height};
            EXPECT_TRUE(std::equal(got, got + 4, want))
                << "panel " << c << " " << (r.label ? r.label : "") << ": " << t.x << "," << t.y << " " << t.width
                << "x" << t.height;
            if (r.label) {
                EXPECT_STREQ(t.label, r.label);
            }
            EXPECT_EQ(t.window, panel);
        }
        RECT client;
        ASSERT_TRUE(GetClientRect(image_window, &client));
        if (box_image.width > 0) {   // the preview window follows its box
            EXPECT_EQ(client.right * 1000 + client.bottom, box_image.width * 1000 + box_image.height) << c;
        }
    }
}

TEST_F(Panel_Test, DrawOnlyWhileOpenAndShown)
{
    const uint32_t black = 0xFF000000u;
    console.Clear();
    Window_Fill(panel, black);
    EXPECT_EQ(Ctrl_Draw(), 1);
    EXPECT_EQ(Window_Other(panel, black), 0) << "not open: nothing drawn";
    EXPECT_EQ(console.Lines()[0], Entry_Line("Ctrl_Draw()"));
    ASSERT_EQ(Ctrl_Open(0), 1);
    Window_Fill(panel, black);
    EXPECT_EQ(Ctrl_Draw(), 1);
    EXPECT_EQ(Window_Other(panel, black), 0) << "open but not shown: nothing drawn";
    Ctrl_Show();
    EXPECT_EQ(Ctrl_Draw(), 1);
    int w = 0, h = 0;
    uint32_t *p = AzWin_Pixels(panel, &w, &h);
    EXPECT_EQ(p[(size_t)(h / 2) * w + 3] & 0xFFFFFF, 120u | (170u << 8) | (170u << 16)) << "the frame's colour";
    Ctrl_Close();
    Window_Fill(panel, black);
    EXPECT_EQ(Ctrl_Draw(), 1);
    EXPECT_EQ(Window_Other(panel, black), 0) << "closed: nothing drawn";
}

TEST_F(Panel_Test, OpenQueryCloseAndTheCurrentWindow)
{
    console.Clear();
    EXPECT_EQ(Ctrl_Query(), 0u);
    ASSERT_EQ(Ctrl_Open(0), 1);
    const std::vector<Console_Line> open{Entry_Line("Ctrl_Query()"), Entry_Line("Ctrl_Open(" + Hex8(panel) + ")"),
                                         {4, "\xF1 --- Entering Oblique Class Mode (#1) ---"},
                                         Entry_Line("Ctrl_Update(flag=00200000)")};
    std::vector<Console_Line> lines = console.Lines();
    lines.resize(4);
    EXPECT_EQ(lines, open) << Console_Dump(console.Lines());
    EXPECT_EQ(Ctrl_Query(), 1u) << "no current window: active";
    console.Clear();
    EXPECT_EQ(Ctrl_Close(), 1);
    EXPECT_EQ(console.Lines()[0], Entry_Line("Ctrl_Close()"));
    EXPECT_EQ(Ctrl_Query(), 0u);
    Kelvra_Window *view = AzView_Create("View 1", 0);
    AzVar_Set("$WINDOW_CUR", (intptr_t)view);
    view->Module_Set(0);
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
    EXPECT_TRUE(Ctrl_Shown == 1 && IsWindowVisible(panel) && IsWindowEnabled(panel) && AzWin_Z_Order(panel) > 0);
    Ctrl_Hide();
    EXPECT_EQ(Ctrl_Shown, 0);
    EXPECT_TRUE(IsWindowVisible(panel) && !IsWindowEnabled(panel)) << "hiding disables, the window stays";
    EXPECT_EQ(console.Lines(), (std::vector<Console_Line>{Entry_Line("Ctrl_Show()"), Entry_Line("Ctrl_Hide()")}));
    Open_Shown();
    console.Clear();
    EXPECT_EQ(Ctrl_Leave(), 1);
    EXPECT_EQ(console.Count("Ctrl_Leave"), 0u) << "no motion since: nothing to leave";
    Over(valuator_vert[0]);
    Ctrl_Motion(nullptr, AZ_POINTER_NONE, 10, 100);
    EXPECT_EQ(Ctrl_Inside, 1);
    console.Clear();
    EXPECT_EQ(Ctrl_Leave(), 1);
    Ctrl_Leave();
    EXPECT_EQ(console.Lines(), std::vector<Console_Line>{Entry_Line("Ctrl_Leave()")}) << "left once";
    EXPECT_EQ(Ctrl_Inside, 0);
    Ctrl_Motion(nullptr, AZ_POINTER_NONE, 10, 100);
    Ctrl_Hide();
    Ctrl_Leave();
    EXPECT_EQ(console.Count("Ctrl_Leave"), 1u) << "a hidden panel does not act";
    EXPECT_EQ(Ctrl_Inside, 1);
}

TEST_F(Panel_Test, CloseClearsMarksAndKeepsTheList)
{
    Load("Head", 16, 16, 8);
    Open_Shown();
    ASSERT_EQ(Instance_Nb, 2);
    AzHost_Trace_Start();
    ASSERT_EQ(Ctrl_Close(), 1);
    EXPECT_TRUE(Trace_Is("panel_close", AzHost_Trace_Take(), {{"root", AzDb_Root()->Name_Get()}}));
    EXPECT_EQ(Instance_Nb, 2) << "the list stays until the next open";
    EXPECT_NE(Instance_Pt, nullptr);
    ASSERT_EQ(Ctrl_Open(0), 1);
    EXPECT_EQ(Instance_Nb, 2);
}
