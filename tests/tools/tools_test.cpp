/* The widget toolkit on its own: hit testing, values along tracks, lists,
 * disabled widgets, painting into a window's pixels and the wait cursor. */
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <tuple>
#include <vector>

#include "hostlib/tools/az_tools.h"
#include "hostlib/win32/az_win.h"
#include "tests/support/panel_state.h"

namespace {

const float HALF_PI = 1.5707964f;
const uint32_t TEAL = 120 | (170 << 8) | (170 << 16);

class ToolsTest : public ::testing::Test {
  protected:
    HWND window = nullptr;
    int w = 0, h = 0;

    void SetUp() override
    {
        window = CreateWindowExA(0, "ToolsTestPanel", "panel", WS_VISIBLE, 0, 0, 200, 300, nullptr, nullptr,
                                 nullptr, nullptr);
        ASSERT_NE(AzWin_Pixels(window, &w, &h), nullptr);
    }
    void TearDown() override
    {
        AzTools_Pointer_Clear(window);
        DestroyWindow(window);
    }
    /* Pixel at toolkit coordinates (x right, y up from the bottom row). */
    uint32_t At(int x, int y) { return AzWin_Pixels(window, nullptr, nullptr)[(size_t)(h - 1 - y) * w + x] & 0xFFFFFFu; }
    void Point(int x, int y, int state = 0) { AzTools_Pointer_Set(window, x, y, state); }
    template <typename T> T &Place(T &tool, int x, int y, int width, int height)
    {
        tool.x = (short)x;
        tool.y = (short)y;
        tool.width = (short)width;
        tool.height = (short)height;
        tool.Init(window);
        return tool;
    }
    template <typename T> int Press(T &tool, int x, int y, int state = AZ_POINTER_LEFT)
    {
        Point(x, y, state);
        return tool.Select(state);
    }
    void Track(Valuators &v, int vertical, int x, int y, int length)
    {
        v.bound_0 = HALF_PI;
        v.bound_1 = -HALF_PI;
        v.style = vertical ? 0x0C000004 : 0x0C000000;
        Place(v, x, y, vertical ? 15 : length, vertical ? length : 15);
    }
};

} // namespace

TEST_F(ToolsTest, HitTestEdgesAndOneBeyond)
{
    Buttons button;
    Place(button, 10, 20, 30, 15);
    EXPECT_EQ(button.Select(TOOLS_SELECT_TEST), 0) << "no pointer recorded yet";
    const int cases[][3] = {{10, 20, 1}, {39, 20, 1}, {10, 34, 1}, {39, 34, 1}, {9, 20, 0},
                            {40, 20, 0}, {10, 19, 0}, {10, 35, 0}, {40, 35, 0}};
    for (const auto &c : cases) {
        EXPECT_EQ(Press(button, c[0], c[1], 0) != 0, c[2] != 0) << c[0] << "," << c[1];
        EXPECT_EQ(button.Inside(c[0], c[1]) != 0, c[2] != 0) << c[0] << "," << c[1];
    }
    /* The pointer over another window does not count for this one. */
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
    Tools *widgets[] = {&Place(box, 0, 0, 50, 50), &Place(button, 0, 0, 50, 50), &Place(slider, 0, 0, 50, 50),
                        &Place(valuator, 0, 0, 50, 50), &Place(list, 0, 0, 50, 50)};
    auto select = [&](int i, int x, int state) {
        Point(x, 25, state);
        int got[] = {box.Select(state), button.Select(state), slider.Select(state), valuator.Select(state),
                     list.Select(state)};
        return got[i];
    };
    /* The position test (help, wheel) finds a disabled widget too; hovering and pressing do not. */
    const unsigned table[][3] = {  // style, pointer state, found
        {0, TOOLS_SELECT_TEST, 1},       {0, AZ_POINTER_NONE, 1},    {0, AZ_POINTER_LEFT, 1},
        {0x23, TOOLS_SELECT_TEST, 1},    {0x23, AZ_POINTER_NONE, 0}, {0x23, AZ_POINTER_LEFT, 0},
        {0x8000023, AZ_POINTER_LEFT, 0}, {0x21, AZ_POINTER_LEFT, 1},  // only all three bits disable
    };
    slider.maximum = 10.0f;
    for (const auto &row : table)
        for (int i = 0; i < 5; i++) {
            for (Tools *t : widgets)
                t->style = row[0];
            EXPECT_EQ(select(i, 25, (int)row[1]) != 0, row[2] != 0) << i << " style " << row[0] << " state " << row[1];
            EXPECT_EQ(select(i, 60, (int)row[1]), 0) << i << " beside it";
        }
    slider.style = valuator.style = 0x23;
    slider.value = 2.0f;
    valuator.value = 0.75f;
    select(2, 49, AZ_POINTER_LEFT);
    EXPECT_FLOAT_EQ(slider.Read(), 2.0f) << "a disabled slider takes no drag";
    EXPECT_FLOAT_EQ(valuator.Read(), 0.75f) << "a disabled valuator takes no drag";
    EXPECT_FLOAT_EQ(slider.Scroll(-1), 2.0f) << "nor the wheel";
}

/* A valuator track: vertical or not, and its length in pixels. */
class ValuatorTrack : public ToolsTest, public testing::WithParamInterface<std::tuple<int, int>> {};

TEST_P(ValuatorTrack, EndsGiveTheBoundsOnePixelGivesZeroAndTheHostFindsAngles)
{
    /* The values fall steadily along the track; exactly one pixel gives 0, as a straight cut must be
     * reachable (a two-pixel track has no middle). */
    const int vertical = std::get<0>(GetParam()), length = std::get<1>(GetParam());
    Valuators v;
    Track(v, vertical, 0, 0, length);
    float previous = 2.0f;
    int zeros = 0;
    for (int p = 0; p < length; p++) {
        ASSERT_NE(Press(v, vertical ? 7 : p, vertical ? p : 7), 0);
        EXPECT_LT(v.Read(), previous) << "pixel " << p;
        previous = v.Read();
        zeros += v.Read() == 0.0f;
        EXPECT_TRUE((p != 0 || v.Read() == HALF_PI) && (p != length - 1 || v.Read() == -HALF_PI)) << p;
    }
    EXPECT_EQ(zeros, length > 2 ? 1 : 0);
    for (float wanted : {0.0f, HALF_PI, -HALF_PI, 0.5f}) {
        int x = -1, y = -1;
        ASSERT_EQ(AzTools_Valuator_Point(&v, wanted, &x, &y), 1);
        ASSERT_NE(Press(v, x, y), 0);
        EXPECT_NEAR(v.Read(), wanted, wanted == 0.5f || length == 2 ? 1.6f / (length - 1) : 0.0f);
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, ValuatorTrack,
                         testing::Combine(testing::Values(0, 1), testing::Values(2, 3, 15, 16, 150, 151, 250, 257, 1801)));

TEST_F(ToolsTest, ValuatorTakesAnyButtonAndKeepsTheModulesValueInBounds)
{
    Valuators vert;
    Track(vert, 1, 0, 60, 101);
    EXPECT_NE(Press(vert, 7, 100, TOOLS_SELECT_TEST), 0);
    EXPECT_NE(Press(vert, 7, 100, 0), 0);
    EXPECT_EQ(vert.Read(), 0.0f) << "a test or a motion without a button moves nothing";
    Press(vert, 14, 85, AZ_POINTER_RIGHT);
    EXPECT_NEAR(vert.Read(), HALF_PI / 2, 1e-6) << "a quarter up";
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
    EXPECT_NE(Press(slider, 5, 15), 0);
    EXPECT_FLOAT_EQ(slider.Read(), 0.0f);
    Press(slider, 194, 15);
    EXPECT_FLOAT_EQ(slider.Read(), 39.999f) << "the far end gives the maximum, whatever the step";
    EXPECT_EQ(Press(slider, 195, 15), 0);
    Press(slider, 100, 15, 0);
    EXPECT_FLOAT_EQ(slider.Read(), 39.999f) << "hovering does not move the slider";
    Press(slider, 100, 15);
    EXPECT_FLOAT_EQ(slider.Read(), 20.0f) << "95/189 of the way: 20.1, to the step";
    slider.value = 5.0f;
    const float scrolls[][2] = {{-1, 4}, {3, 7}, {-100, 0}, {100, 39.999f}};
    for (const auto &s : scrolls)
        EXPECT_FLOAT_EQ(slider.Scroll((int)s[0]), s[1]) << s[0];
    /* A new range leaves the value to its owner; moving the slider keeps within it. */
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
    char buffer[16];
    for (int i = 0; i < 3; i++)
        list.entries[i].Set_Name(strcpy(buffer, i == 0 ? "Head" : i == 1 ? "Chest" : "Knee"));
    strcpy(buffer, "changed");
    EXPECT_STREQ(list.entries[2].label, "Knee") << "Set_Name copies the text";
    list.Init(nullptr);
    EXPECT_EQ(list.current, 0) << "a filled list has a current entry";
    const int scrolls[][2] = {{1, 1}, {5, 2}, {1, -1}, {-1, 1}, {-9, 0}, {-1, -1}};  // -1: nothing moved
    for (const auto &s : scrolls)
        EXPECT_EQ(list.Scroll(s[0]) < 0 ? -1 : list.current, s[1]) << s[0];
    /* Growing keeps the labels that remain; a failed growth changes nothing. */
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
    ASSERT_EQ(list.Grow(0, 0), 1);
    EXPECT_EQ(list.current, -1);
    EXPECT_EQ(list.entries, nullptr);
    AzTools_Fail_Grow(0);
}

TEST_F(ToolsTest, ListArrowsRowsAndPresses)
{
    Selects list, tall;
    list.arrow = tall.arrow = 12;
    list.border = tall.border = 1;
    list.label = "Current Oblique";
    Place(list, 5, 200, 190, 20);
    ASSERT_EQ(list.Grow(3, 0), 1);
    list.Init(nullptr);
    EXPECT_LT(list.Read(), 0) << "nothing chosen before a press";
    /* Right arrow, again (the last entry stays), left arrow, the shown entry, tests and hovering;
     * then one held press steps once, even dragged onto the other arrow, until released. */
    const struct {
        int x, state, select, current;
    } presses[] = {
        {190, 0, AZ_POINTER_LEFT, 1},         {190, 0, AZ_POINTER_LEFT, 2}, {190, 0, AZ_POINTER_LEFT, 2},
        {7, 0, AZ_POINTER_LEFT, 1},           {100, 0, AZ_POINTER_LEFT, 1}, {100, 0, TOOLS_SELECT_TEST, 1},
        {100, 0, 0, 1},                       {190, AZ_POINTER_LEFT, AZ_POINTER_LEFT, 2},
        {191, AZ_POINTER_LEFT, AZ_POINTER_LEFT, 2}, {7, AZ_POINTER_LEFT, AZ_POINTER_LEFT, 2},
        {7, 0, -1, 2},                        {7, AZ_POINTER_LEFT, AZ_POINTER_LEFT, 1},
    };
    for (const auto &p : presses) {
        Point(p.x, 210, p.state);
        if (p.select >= 0)
            list.Select(p.select);
        EXPECT_EQ(list.current, p.current) << p.x << " " << p.state << " " << p.select;
    }
    EXPECT_EQ(list.Read(), 1);

    /* A tall list: rows run downward from the caption; the caption and an empty row are no entry. */
    tall.label = "Studies";
    Place(tall, 0, 0, 150, 120);
    ASSERT_EQ(tall.Grow(3, 0), 1);
    tall.Init(nullptr);
    int ascent = 0, descent = 0;
    AzFont_Measure(AzFont_Get("arial", 9), "Ag", 2, &ascent, &descent);
    const int row = ascent + descent + 4, caption_bottom = 120 - 1 - row;
    const int rows[][3] = {{caption_bottom + row / 2, -1, 0},
                           {caption_bottom - 2 * row + row / 2, 1, 1},
                           {caption_bottom - 3 * row, 2, 2},  // lowest pixel of the third row
                           {caption_bottom - 3 * row - 1, -1, 2}};
    for (const auto &r : rows) {
        Press(tall, 40, r[0], 0);
        tall.Select(AZ_POINTER_LEFT);
        EXPECT_EQ(tall.Read() < 0 ? -1 : tall.Read(), r[1]) << r[0];
        EXPECT_EQ(tall.current, r[2]) << r[0];
    }
}

TEST_F(ToolsTest, PaintingLandsBottomUpAndShowsState)
{
    Window_Fill(window, 0x000000);
    Boxs box;
    Buttons inner, button;
    box.color = Colors{120, 170, 170, 0};
    box.border = 0;
    Place(box, 10, 0, 20, 5);
    ASSERT_EQ(box.Draw(), 1);
    EXPECT_TRUE(At(10, 0) == TEAL && At(29, 4) == TEAL) << "y = 0 is the bottom row";
    EXPECT_EQ(At(30, 0) | At(9, 0) | At(10, 5), 0u);
    /* Clearing a widget paints the colour of the box that holds it. */
    Place(inner, 12, 1, 4, 2);
    Window_Fill(window, 0x000000);
    inner.Clear();
    EXPECT_TRUE(At(12, 1) == TEAL && At(11, 1) == 0u);
    inner.Clear(Colors{255, 0, 0, 0});
    EXPECT_EQ(At(13, 2), 0x0000FFu);
    /* A lit lamp shows along the button; never on a disabled one. */
    button.style = 0x500000;
    button.border = 1;
    Place(button, 0, 100, 90, 20);
    auto amber = [&] {
        int n = 0;
        for (int i = 0; i < 90 * 20; i++)
            n += At(i % 90, 100 + i / 90) == (255 | (196 << 8));
        return n;
    };
    button.Draw();
    EXPECT_EQ(amber(), 0);
    button.lamp = 1;
    button.Draw();
    EXPECT_GT(amber(), 80);
    button.style = 0x23;
    button.Draw();
    EXPECT_EQ(amber(), 0);
}

TEST_F(ToolsTest, TextsWidgetListsAndCursor)
{
    Texts status;
    EXPECT_STREQ(status.Read(), "");
    EXPECT_EQ(status.Write("RUD Azozude:"), 1) << "writing without a window only stores";
    EXPECT_STREQ(status.Read(), "RUD Azozude:");
    status.Write(std::string(400, 'x').c_str());
    EXPECT_EQ(strlen(status.Read()), 255u);

    /* The wait cursor counts, never below zero. */
    const int steps[][2] = {{1, 1}, {1, 2}, {-1, 1}, {-1, 0}, {-1, 0}, {1, 1}, {-1, 0}};
    EXPECT_EQ(AzTools_Wait_Cursor(), 0);
    for (const auto &s : steps) {
        s[0] > 0 ? Set_Curs_Wait(nullptr) : Reset_Curs_Wait(nullptr);
        EXPECT_EQ(AzTools_Wait_Cursor(), s[1]);
    }

    /* Widgets are listed per window, once, until destroyed. */
    {
        Buttons a, b;
        b.label = "On/Off";
        Place(a, 0, 0, 10, 10);
        Place(b, 0, 20, 10, 10);
        a.Init(window);
        EXPECT_TRUE(AzTools_Widget(window, 0) == &a && AzTools_Widget(window, 1) == &b);
        EXPECT_EQ(AzTools_Widget(window, 3), nullptr);
        EXPECT_EQ(AzTools_Find(window, "On/Off"), &b);
        EXPECT_EQ(AzTools_Find(window, "Missing"), nullptr);
    }
    EXPECT_EQ(AzTools_Widget(window, 0), nullptr);
}
