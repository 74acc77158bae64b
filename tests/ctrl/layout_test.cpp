/* The panel's height, layout and lifecycle entry points. */
#include <stdio.h>

#include "panel_fixture.h"

namespace {

Console_Line Entry_Line(const std::string &call) { return {15, "Class Kelvra_Oblique: " + call}; }

} // namespace

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

/* Every widget's box and label in four panels (tests/data/traces/panel_layout.trace):
 * 200 x 600; 24 x 300 and 40 x 300, where the direction row's unit,
 * (width - 14) / 11, is 0 and 2; 300 x 600 laid out again with no window and
 * 24-pixel buttons. */
TEST_F(Panel_Test, Layout)
{
    std::vector<std::string> layout;
    for (const int width : {200, 24, 40, 300}) {
        const int height = width < 200 ? 300 : 600, again = width == 300;
        Make_Panel(width, height);
        valuator_vert[1].value = 0.5f;
        console.Clear();
        if (again)
            AzVar_Set("$INTERFACE_BUTTON_DIM_BIG", 24);
        ASSERT_EQ(Ctrl_Resize(again ? nullptr : panel, again ? 10 : width, again ? 10 : height), 1);
        std::string entry = Panel_Named(console.Lines()[0].text);
        EXPECT_FLOAT_EQ(valuator_vert[1].value, 0.5f) << "values stay across layouts";
        RECT client;
        ASSERT_TRUE(GetClientRect(image_window, &client));
        char line[160];
        snprintf(line, sizeof line, "%dx%d: %s, preview window %dx%d", width, height, entry.c_str(),
                 (int)client.right, (int)client.bottom);
        layout.push_back(line);
        for (const auto &widget : Widgets()) {
            const Tools &t = *widget.second;
            snprintf(line, sizeof line, "  %s %d %d %d %d %s", widget.first.c_str(), t.x, t.y, t.width, t.height,
                     t.label ? t.label : "(none)");
            layout.push_back(line);
            EXPECT_EQ(t.window, panel) << widget.first;
        }
    }
    EXPECT_TRUE(Trace_Is("panel_layout", layout));
}

TEST_F(Panel_Test, DrawOnlyWhileOpenAndShown)
{
    const uint32_t black = 0xFF000000u;
    auto drawn = [this, black] {   // pixels a draw changed on a black panel
        Window_Fill(panel, black);
        EXPECT_EQ(Ctrl_Draw(), 1);
        return Window_Other(panel, black);
    };
    console.Clear();
    EXPECT_EQ(drawn(), 0) << "not open: nothing drawn";
    EXPECT_EQ(console.Lines()[0], Entry_Line("Ctrl_Draw()"));
    ASSERT_EQ(Ctrl_Open(0), 1);
    EXPECT_EQ(drawn(), 0) << "open but not shown: nothing drawn";
    Ctrl_Show();
    EXPECT_GT(drawn(), 0);
    int w = 0, h = 0;
    uint32_t *p = AzWin_Pixels(panel, &w, &h);
    EXPECT_EQ(p[(size_t)(h / 2) * w + 3] & 0xFFFFFF, 120u | (170u << 8) | (170u << 16)) << "the frame's colour";
    Ctrl_Close();
    EXPECT_EQ(drawn(), 0) << "closed: nothing drawn";
}
