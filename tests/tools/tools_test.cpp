/* The widget toolkit on its own: hit testing, values along tracks, lists,
 * disabled widgets, painting into a window's pixels, fonts, the wait
 * cursor and the "TOOL" window class. */
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <string>
#include <vector>

#include "hostlib/tools/az_tools.h"
#include "hostlib/win32/az_win.h"
#include "tests/support/panel_state.h"

namespace {

class ToolsTest : public ::testing::Test {
  protected:
    HWND window = nullptr;
    int w = 0, h = 0;

    void SetUp() override
    {
        window = CreateWindowExA(0, "ToolsTestPanel", "panel", WS_VISIBLE, 0, 0, 200, 300, nullptr, nullptr,
                                 nullptr, nullptr);
        ASSERT_NE(window, nullptr);
        ASSERT_NE(AzWin_Pixels(window, &w, &h), nullptr);
        ASSERT_EQ(w, 200);
        ASSERT_EQ(h, 300);
    }
    void TearDown() override
    {
        AzTools_Pointer_Clear(window);
        DestroyWindow(window);
    }
    /* Pixel at toolkit coordinates (x right, y up from the bottom row). */
    uint32_t At(int x, int y)
    {
        uint32_t *p = AzWin_Pixels(window, nullptr, nullptr);
        return p[(size_t)(h - 1 - y) * w + x] & 0xFFFFFFu;
    }
    void Point(int x, int y, int state = 0) { AzTools_Pointer_Set(window, x, y, state); }
    template <typename T> void Place(T &tool, int x, int y, int width, int height)
    {
        tool.x = (short)x;
        tool.y = (short)y;
        tool.width = (short)width;
        tool.height = (short)height;
        tool.Init(window);
    }
};

const float HALF_PI = 1.5707964f;

} // namespace

TEST_F(ToolsTest, HitTestEdgesAndOneBeyond)
{
    Buttons button;
    Place(button, 10, 20, 30, 15);
    EXPECT_EQ(button.Select(TOOLS_SELECT_TEST), 0) << "no pointer recorded yet";
    struct {
        int x, y, inside;
    } cases[] = {
        {10, 20, 1}, {39, 20, 1}, {10, 34, 1}, {39, 34, 1}, {25, 27, 1},
        {9, 20, 0},  {40, 20, 0}, {10, 19, 0}, {10, 35, 0}, {40, 35, 0},
    };
    for (const auto &c : cases) {
        Point(c.x, c.y);
        EXPECT_EQ(button.Select(TOOLS_SELECT_TEST) != 0, c.inside != 0) << c.x << "," << c.y;
        EXPECT_EQ(button.Inside(c.x, c.y) != 0, c.inside != 0) << c.x << "," << c.y;
    }
    // The pointer over another window does not count for this one.
    HWND other = CreateWindowExA(0, "ToolsTestPanel", "other", 0, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
    AzTools_Pointer_Clear(window);
    AzTools_Pointer_Set(other, 25, 27, 0);
    EXPECT_EQ(button.Select(TOOLS_SELECT_TEST), 0);
    AzTools_Pointer_Clear(other);
    DestroyWindow(other);
}

TEST_F(ToolsTest, DisabledWidgetsAnswerThePositionTestOnly)
{
    Boxs box;
    Buttons button;
    Sliders slider;
    Valuators valuator;
    Selects list;
    Place(box, 0, 0, 50, 50);
    Place(button, 0, 0, 50, 50);
    Place(slider, 0, 0, 50, 50);
    Place(valuator, 0, 0, 50, 50);
    Place(list, 0, 0, 50, 50);
    Tools *widgets[] = {&box, &button, &slider, &valuator, &list};
    const char *names[] = {"box", "button", "slider", "valuator", "list"};
    auto select = [&](int i, int state) {
        switch (i) {
        case 0: return box.Select(state);
        case 1: return button.Select(state);
        case 2: return slider.Select(state);
        case 3: return valuator.Select(state);
        default: return list.Select(state);
        }
    };
    // Whether Select finds the widget under the pointer: the position test (help, wheel) reaches a
    // disabled widget too; hovering and pressing do not.
    const struct {
        unsigned int style;
        int state, found;
    } table[] = {
        {0, TOOLS_SELECT_TEST, 1},    {0, AZ_POINTER_NONE, 1},    {0, AZ_POINTER_LEFT, 1},
        {0x23, TOOLS_SELECT_TEST, 1}, {0x23, AZ_POINTER_NONE, 0}, {0x23, AZ_POINTER_LEFT, 0},
        {0x8000023, AZ_POINTER_LEFT, 0}, {0x21, AZ_POINTER_LEFT, 1},   // only all three bits disable
    };
    slider.maximum = 10.0f;
    for (const auto &row : table)
        for (int i = 0; i < 5; i++) {
            widgets[i]->style = row.style;
            slider.value = 2.0f;
            valuator.value = 0.75f;
            Point(25, 25, row.state);
            EXPECT_EQ(select(i, row.state) != 0, row.found != 0)
                << names[i] << " style " << std::hex << row.style << " state " << row.state;
            Point(60, 25, row.state);
            EXPECT_EQ(select(i, row.state), 0) << names[i] << " beside it";
        }
    slider.style = valuator.style = 0x23;
    slider.value = 2.0f;
    valuator.value = 0.75f;
    Point(49, 25, AZ_POINTER_LEFT);
    slider.Select(AZ_POINTER_LEFT);
    valuator.Select(AZ_POINTER_LEFT);
    EXPECT_FLOAT_EQ(slider.Read(), 2.0f) << "a disabled slider takes no drag";
    EXPECT_FLOAT_EQ(valuator.Read(), 0.75f) << "a disabled valuator takes no drag";
    EXPECT_FLOAT_EQ(slider.Scroll(-1), 2.0f) << "nor the wheel";
}

TEST_F(ToolsTest, ValuatorValueAlongTrack)
{
    // At every length, vertical or not, the ends give the bounds and some pixel gives exactly 0: a
    // straight cut must be reachable.  The values fall steadily along the track.
    for (int vertical = 0; vertical < 2; vertical++)
        for (int length : {2, 3, 15, 16, 150, 151, 250, 257, 1801}) {
            Valuators v;
            v.bound_0 = HALF_PI;
            v.bound_1 = -HALF_PI;
            v.style = vertical ? 0x0C000004 : 0x0C000000;
            Place(v, 0, 0, vertical ? 15 : length, vertical ? length : 15);
            float previous = 2.0f;
            int zeros = 0;
            for (int p = 0; p < length; p++) {
                Point(vertical ? 7 : p, vertical ? p : 7, AZ_POINTER_LEFT);
                ASSERT_NE(v.Select(AZ_POINTER_LEFT), 0);
                EXPECT_LT(v.Read(), previous) << length << " pixel " << p;
                previous = v.Read();
                zeros += v.Read() == 0.0f;
                if (p == 0 || p == length - 1) {
                    EXPECT_EQ(v.Read(), p == 0 ? HALF_PI : -HALF_PI) << length;
                }
            }
            EXPECT_EQ(zeros, length > 2 ? 1 : 0) << length;
            // The host finds where to click for an angle: 0 and both ends exactly.
            for (float wanted : {0.0f, HALF_PI, -HALF_PI, 0.5f}) {
                int x = -1, y = -1;
                ASSERT_EQ(AzTools_Valuator_Point(&v, wanted, &x, &y), 1);
                Point(x, y, AZ_POINTER_LEFT);
                ASSERT_NE(v.Select(AZ_POINTER_LEFT), 0) << length;
                // A two-pixel track has no middle: 0 is then out of reach.
                float tolerance = wanted == 0.5f || length == 2 ? 1.6f / (length - 1) : 0.0f;
                EXPECT_NEAR(v.Read(), wanted, tolerance) << length;
            }
        }

    Valuators horiz;
    horiz.bound_0 = HALF_PI;
    horiz.bound_1 = -HALF_PI;
    horiz.style = 0x0C000000;
    Place(horiz, 20, 40, 151, 15);
    Point(95, 45, AZ_POINTER_LEFT);   // middle pixel of 151
    horiz.Select(AZ_POINTER_LEFT);
    EXPECT_EQ(horiz.Read(), 0.0f);
    Point(171, 45, AZ_POINTER_LEFT);   // one beyond: not taken, value kept
    EXPECT_EQ(horiz.Select(AZ_POINTER_LEFT), 0);
    EXPECT_EQ(horiz.Read(), 0.0f);
    // A test or a motion without a button moves nothing.
    Point(20, 45, 0);
    EXPECT_NE(horiz.Select(TOOLS_SELECT_TEST), 0);
    EXPECT_NE(horiz.Select(0), 0);
    EXPECT_EQ(horiz.Read(), 0.0f);

    Valuators vert;
    vert.bound_0 = HALF_PI;
    vert.bound_1 = -HALF_PI;
    vert.style = 0x0C000004;
    Place(vert, 0, 60, 15, 101);
    Point(14, 85, AZ_POINTER_RIGHT);   // a quarter up, any pressed button drags
    vert.Select(AZ_POINTER_RIGHT);
    EXPECT_NEAR(vert.Read(), HALF_PI / 2, 1e-6);
    Point(7, 161, AZ_POINTER_LEFT);
    EXPECT_EQ(vert.Select(AZ_POINTER_LEFT), 0);

    // Adjust keeps a value the module set between the bounds.
    vert.value = 3.0f;
    vert.Adjust();
    EXPECT_FLOAT_EQ(vert.Read(), HALF_PI);
    vert.value = -3.0f;
    vert.Adjust();
    EXPECT_FLOAT_EQ(vert.Read(), -HALF_PI);
}

TEST_F(ToolsTest, SliderDragScrollAndBounds)
{
    Sliders slider;
    slider.minimum = 0.0f;
    slider.maximum = 39.999f;
    slider.step = 1.0f;
    Place(slider, 5, 10, 190, 12);
    Point(5, 15, AZ_POINTER_LEFT);
    EXPECT_NE(slider.Select(AZ_POINTER_LEFT), 0);
    EXPECT_FLOAT_EQ(slider.Read(), 0.0f);
    Point(194, 15, AZ_POINTER_LEFT);
    slider.Select(AZ_POINTER_LEFT);
    EXPECT_FLOAT_EQ(slider.Read(), 39.999f) << "the far end gives the maximum, whatever the step";
    EXPECT_EQ((int)slider.Read(), 39);
    Point(195, 15, AZ_POINTER_LEFT);
    EXPECT_EQ(slider.Select(AZ_POINTER_LEFT), 0);
    Point(100, 15, 0);
    slider.Select(0);
    EXPECT_FLOAT_EQ(slider.Read(), 39.999f) << "hovering does not move the slider";
    Point(100, 15, AZ_POINTER_LEFT);   // 95/189 of the way: 20.1 -> the step 20
    slider.Select(AZ_POINTER_LEFT);
    EXPECT_FLOAT_EQ(slider.Read(), 20.0f);

    slider.value = 5.0f;
    EXPECT_FLOAT_EQ(slider.Scroll(-1), 4.0f);
    EXPECT_FLOAT_EQ(slider.Scroll(3), 7.0f);
    EXPECT_FLOAT_EQ(slider.Scroll(-100), 0.0f);
    EXPECT_FLOAT_EQ(slider.Scroll(100), 39.999f);

    // A new range leaves the value to its owner; moving the slider keeps within it.
    slider.maximum = 9.999f;
    slider.Init(nullptr);
    EXPECT_EQ(slider.window, window) << "a null window keeps the stored one";
    EXPECT_FLOAT_EQ(slider.Read(), 39.999f);
    EXPECT_FLOAT_EQ(slider.Scroll(-1), 9.999f);
    slider.value = 12.0f;
    slider.Adjust();
    EXPECT_FLOAT_EQ(slider.Read(), 9.999f);
}

TEST_F(ToolsTest, ListEntriesGrowScrollAndFailure)
{
    Selects list;
    Place(list, 5, 200, 190, 20);
    EXPECT_EQ(list.current, -1);
    EXPECT_LT(list.Scroll(1), 0) << "nothing to move in an empty list";
    ASSERT_EQ(list.Grow(3, 0), 1);
    ASSERT_EQ(list.entries_nb, 3);
    const char *names[] = {"Head", "Chest", "Knee"};
    char buffer[16];
    for (int i = 0; i < 3; i++) {
        strcpy(buffer, names[i]);
        list.entries[i].Set_Name(buffer);
    }
    strcpy(buffer, "changed");
    EXPECT_STREQ(list.entries[2].label, "Knee") << "Set_Name copies the text";
    list.Init(nullptr);
    EXPECT_EQ(list.current, 0) << "a filled list has a current entry";

    EXPECT_EQ(list.Scroll(1), 1);
    EXPECT_EQ(list.Scroll(5), 2);
    EXPECT_LT(list.Scroll(1), 0) << "at the last entry nothing moves";
    EXPECT_EQ(list.current, 2);
    EXPECT_EQ(list.Scroll(-1), 1);
    EXPECT_EQ(list.Scroll(-9), 0);
    EXPECT_LT(list.Scroll(-1), 0);

    // Growing keeps the labels that remain; a failed growth changes nothing.
    list.current = 2;
    AzTools_Fail_Grow(1);
    EXPECT_EQ(list.Grow(5, 0), 0);
    EXPECT_EQ(list.entries_nb, 3);
    EXPECT_STREQ(list.entries[1].label, "Chest");
    EXPECT_EQ(list.Grow(5, 0), 1) << "only the armed growth fails";
    EXPECT_EQ(list.entries_nb, 5);
    EXPECT_STREQ(list.entries[0].label, "Head");
    EXPECT_EQ(list.entries[4].label, nullptr);
    ASSERT_EQ(list.Grow(2, 0), 1);
    EXPECT_EQ(list.current, 1) << "a shrunk list keeps its current entry on an entry";
    EXPECT_STREQ(list.entries[1].label, "Chest");
    ASSERT_EQ(list.Grow(0, 0), 1);
    EXPECT_EQ(list.current, -1);
    EXPECT_EQ(list.entries, nullptr);
    AzTools_Fail_Grow(0);
}

TEST_F(ToolsTest, OneRowListArrowsAndPress)
{
    Selects list;
    list.arrow = 12;
    list.border = 1;
    list.label = "Current Oblique";
    Place(list, 5, 200, 190, 20);
    ASSERT_EQ(list.Grow(3, 0), 1);
    list.Init(nullptr);
    EXPECT_LT(list.Read(), 0) << "nothing chosen before a press";
    // Each arrow points outward: one ink pixel at its tip, its widest column at its base.
    list.Draw();
    for (int right = 0; right < 2; right++) {
        std::vector<int> heights;
        for (int x = right ? 183 : 6; x < (right ? 195 : 18); x++) {
            int ink = 0;
            for (int y = 201; y < 219; y++)
                ink += At(x, y) == 0;
            if (ink)
                heights.push_back(ink);
        }
        ASSERT_GE(heights.size(), 3u);
        int tip = right ? heights.back() : heights.front(), base = right ? heights.front() : heights.back();
        EXPECT_EQ(tip, 1) << (right ? "right" : "left") << " arrow";
        EXPECT_GT(base, 2) << (right ? "right" : "left") << " arrow";
    }

    Point(190, 210, 0);   // right arrow (inside the border, within 12 pixels of the edge)
    EXPECT_NE(list.Select(AZ_POINTER_LEFT), 0);
    EXPECT_EQ(list.current, 1);
    EXPECT_EQ(list.Read(), 1);
    list.Select(AZ_POINTER_LEFT);
    EXPECT_EQ(list.current, 2);
    list.Select(AZ_POINTER_LEFT);
    EXPECT_EQ(list.current, 2) << "the last entry stays";
    EXPECT_EQ(list.Read(), 2);
    Point(7, 210, 0);   // left arrow
    list.Select(AZ_POINTER_LEFT);
    EXPECT_EQ(list.current, 1);
    Point(100, 210, 0);   // the shown entry
    list.Select(AZ_POINTER_LEFT);
    EXPECT_EQ(list.current, 1);
    EXPECT_EQ(list.Read(), 1);
    list.Select(TOOLS_SELECT_TEST);
    list.Select(0);
    EXPECT_EQ(list.current, 1) << "tests and hovering choose nothing";

    // While the host reports one held press, the list steps once.
    Point(190, 210, AZ_POINTER_LEFT);
    list.Select(AZ_POINTER_LEFT);
    Point(191, 210, AZ_POINTER_LEFT);
    list.Select(AZ_POINTER_LEFT);
    EXPECT_EQ(list.current, 2);
    Point(7, 210, AZ_POINTER_LEFT);
    list.Select(AZ_POINTER_LEFT);
    EXPECT_EQ(list.current, 2) << "dragging onto the other arrow is the same press";
    Point(7, 210, 0);
    Point(7, 210, AZ_POINTER_LEFT);   // released and pressed again
    list.Select(AZ_POINTER_LEFT);
    EXPECT_EQ(list.current, 1);
}

TEST_F(ToolsTest, TallListRowsChooseEntries)
{
    Selects list;
    list.arrow = 12;
    list.border = 1;
    list.label = "Studies";
    Place(list, 0, 0, 150, 120);
    ASSERT_EQ(list.Grow(3, 0), 1);
    list.entries[0].Set_Name("A");
    list.entries[1].Set_Name("B");
    list.entries[2].Set_Name("C");
    list.Init(nullptr);
    int ascent = 0, descent = 0;
    AzFont_Measure(AzFont_Get("arial", 9), "Ag", 2, &ascent, &descent);
    int row = ascent + descent + 4;
    int caption_bottom = 120 - 1 - row;   // rows run downward from the caption
    Point(40, caption_bottom + row / 2);
    list.Select(AZ_POINTER_LEFT);
    EXPECT_LT(list.Read(), 0) << "the caption is no entry";
    EXPECT_EQ(list.current, 0);
    Point(40, caption_bottom - 2 * row + row / 2);   // second row
    list.Select(AZ_POINTER_LEFT);
    EXPECT_EQ(list.Read(), 1);
    EXPECT_EQ(list.current, 1);
    Point(40, caption_bottom - 3 * row);   // lowest pixel of the third row
    list.Select(AZ_POINTER_LEFT);
    EXPECT_EQ(list.Read(), 2);
    Point(40, caption_bottom - 3 * row - 1);   // top pixel of the empty fourth row
    list.Select(AZ_POINTER_LEFT);
    EXPECT_LT(list.Read(), 0);
    EXPECT_EQ(list.current, 2) << "an empty row keeps the current entry";
}

TEST_F(ToolsTest, PaintingLandsBottomUp)
{
    Window_Fill(window, 0x000000);
    Boxs box;
    box.color = Colors{120, 170, 170, 0};
    box.border = 0;
    Place(box, 10, 0, 20, 5);
    ASSERT_EQ(box.Draw(), 1);
    uint32_t teal = 120 | (170 << 8) | (170 << 16);
    EXPECT_EQ(At(10, 0), teal) << "y = 0 is the bottom row";
    EXPECT_EQ(At(29, 4), teal);
    EXPECT_EQ(At(30, 0), 0u);
    EXPECT_EQ(At(9, 0), 0u);
    EXPECT_EQ(At(10, 5), 0u);
    EXPECT_EQ(AzWin_Pixels(window, nullptr, nullptr)[(size_t)(h - 1) * w + 10] & 0xFFFFFF, teal);

    // A box with a border shades its edges; style 0x42 adds a darker title bar with the label.
    Boxs frame;
    frame.color = Colors{120, 170, 170, 0};
    frame.border = 1;
    frame.style = 0x42;
    frame.label = "Title";
    Place(frame, 50, 50, 100, 100);
    frame.Draw();
    EXPECT_NE(At(50, 100), teal) << "left edge";
    EXPECT_EQ(At(100, 60), teal) << "body";
    uint32_t bar = At(52, 147);
    EXPECT_NE(bar, teal);
    EXPECT_LT(bar & 0xFF, 120u) << "the title bar is darker than the body";
    int light = 0;
    for (int x = 51; x < 149; x++)
        for (int y = 135; y < 149; y++)
            light += At(x, y) == 0xFFFFFF;
    EXPECT_GT(light, 5) << "the title is written in white on the bar";
    // A control just below where the bar would reach keeps a row of the box between them.
    int ascent = 0, descent = 0;
    AzFont_Measure(AzFont_Get("arial", 9), "Ag", 2, &ascent, &descent);
    int reach = 150 - 1 - (ascent + descent + 4);   // lowest row of a bar as high as its font asks
    Buttons control;
    Place(control, 60, reach - 10, 20, 10);
    frame.Draw();
    EXPECT_EQ(At(100, reach), teal) << "the row above the control stays free";
    EXPECT_EQ(At(100, reach + 1), bar);

    // Clearing a widget paints the colour of the box that holds it.
    Buttons inner;
    Place(inner, 60, 60, 10, 10);
    Window_Fill(window, 0x000000);
    inner.Clear();
    EXPECT_EQ(At(60, 60), teal);
    EXPECT_EQ(At(59, 60), 0u);
    inner.Clear(Colors{255, 0, 0, 0});
    EXPECT_EQ(At(65, 65), 0x0000FFu);
}

TEST_F(ToolsTest, ButtonLampAndSelectedState)
{
    Buttons button;
    button.style = 0x500000;
    button.label = "Dir. Oblique";
    button.border = 1;
    Place(button, 0, 0, 90, 20);
    auto count = [&](uint32_t colour) {
        int n = 0;
        for (int x = 0; x < 90; x++)
            for (int y = 0; y < 20; y++)
                n += At(x, y) == colour;
        return n;
    };
    const uint32_t amber = 255 | (196 << 8);
    button.lamp = 0;
    button.Draw();
    EXPECT_EQ(count(amber), 0);
    button.lamp = 1;
    button.Draw();
    EXPECT_GT(count(amber), 80) << "a lit lamp shows along the button";
    uint32_t face = At(86, 16);
    button.selected = 1;
    button.Draw();
    EXPECT_NE(At(86, 16), face) << "the chosen button looks pressed in";
    // Disabled: greyed, never shown as chosen nor lit.
    button.style = 0x23;
    button.Draw();
    uint32_t disabled_selected = At(86, 16);
    EXPECT_EQ(count(amber), 0);
    button.selected = 0;
    button.Draw();
    EXPECT_EQ(At(86, 16), disabled_selected);
}

TEST_F(ToolsTest, ValuatorKnobFollowsValue)
{
    Valuators v;
    v.color = Colors{120, 170, 170, 0};
    v.bound_0 = HALF_PI;
    v.bound_1 = -HALF_PI;
    v.border = 1;
    Place(v, 0, 0, 150, 15);
    const uint32_t face = 212 | (208 << 8) | (200 << 16);
    v.value = HALF_PI;
    v.Draw();
    EXPECT_EQ(At(3, 7), face) << "knob at the start for bound_0";
    EXPECT_NE(At(146, 7), face);
    v.value = -HALF_PI;
    v.Draw();
    EXPECT_EQ(At(146, 7), face) << "knob at the end for bound_1";
    EXPECT_NE(At(3, 7), face);
    v.style = 0x0C000023;
    v.Draw();
    EXPECT_NE(At(146, 7), face) << "a disabled valuator shows no knob";
}

TEST_F(ToolsTest, TextsFontsCursorAndClass)
{
    Texts status;
    EXPECT_STREQ(status.Read(), "");
    EXPECT_EQ(status.Write("RUD Azozude:"), 1) << "writing without a window only stores";
    EXPECT_STREQ(status.Read(), "RUD Azozude:");
    std::string longer(400, 'x');
    status.Write(longer.c_str());
    EXPECT_EQ(strlen(status.Read()), 255u);
    status.x = 0;
    status.y = 0;
    status.width = 120;
    status.height = 20;
    status.window = window;
    Window_Fill(window, 0x000000);
    status.Write("RUD Azozude:");
    int dark = 0;
    for (int x = 0; x < 120; x++)
        for (int y = 0; y < 20; y++)
            dark += (At(x, y) & 0xFF) < 0x60;
    EXPECT_GT(dark, 10) << "the label is painted";

    HFONT font = Y_Create_Font(window, "arial", "font", nullptr, 10);
    EXPECT_NE(font, nullptr);
    EXPECT_EQ(font, AzFont_Get("arial", 10));

    EXPECT_EQ(AzTools_Wait_Cursor(), 0);
    Set_Curs_Wait(nullptr);
    Set_Curs_Wait(nullptr);
    EXPECT_EQ(AzTools_Wait_Cursor(), 2);
    Reset_Curs_Wait(nullptr);
    EXPECT_EQ(AzTools_Wait_Cursor(), 1);
    Reset_Curs_Wait(nullptr);
    Reset_Curs_Wait(nullptr);
    EXPECT_EQ(AzTools_Wait_Cursor(), 0) << "never below zero";
    Set_Curs_Wait(nullptr);
    EXPECT_EQ(AzTools_Wait_Cursor(), 1);
    Reset_Curs_Wait(nullptr);

    ASSERT_EQ(AzTools_Register(), 1);
    EXPECT_EQ(AzTools_Register(), 1);
    HWND child = CreateWindowExA(0, "TOOL", nullptr, 0x58000000, 0, 0, 10, 10, window, nullptr, nullptr, nullptr);
    ASSERT_NE(child, nullptr);
    EXPECT_STREQ(AzWin_Class_Name(child), "TOOL");
    EXPECT_EQ(GetParent(child), window);
    DestroyWindow(child);
}

TEST_F(ToolsTest, WidgetsListedPerWindow)
{
    {
        Buttons a, b;
        a.label = "Update DB";
        b.label = "On/Off";
        Place(a, 0, 0, 10, 10);
        Place(b, 0, 20, 10, 10);
        a.Init(window);   // listed once
        EXPECT_EQ(AzTools_Widget(window, 0), &a);
        EXPECT_EQ(AzTools_Widget(window, 1), &b);
        EXPECT_EQ(AzTools_Widget(window, 2), nullptr);
        EXPECT_EQ(AzTools_Find(window, "On/Off"), &b);
        EXPECT_EQ(AzTools_Find(window, "Missing"), nullptr);
    }
    EXPECT_EQ(AzTools_Widget(window, 0), nullptr) << "a destroyed widget leaves the list";
}
