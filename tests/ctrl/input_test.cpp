/* Clicks, drags, wheel, keys and help over the panel. */
#include "panel_fixture.h"

namespace {

/* One event over the panel, or a change made by hand between events. */
struct Event {
    const Tools *over; /* the pointer over the widget's centre, or at (x, y) when null */
    int x, y;
    char kind; /* c click, m motion (arg: buttons), w wheel, k key (arg: value or key); D Dir_Cur;
                  G group_valid then a select update; L the list's and the panel's current entry;
                  P the second study's Oblique class gone (0) or back; R Rot_X in hundredths; S the slider */
    int arg;
};

/* The panel's state in a line: direction, lamps, selected buttons, greyed
 * valuators and Oblique button, the panel's angles (and whether its
 * valuators show them), the current class's angles, slider and slice,
 * pointer inside, frames of the Oblique direction. */
std::string Panel_Now()
{
    Kelvra_Oblique *cur = Dir_Cur ? Obl_Of(0) : Org_Of(0);
    auto grey = [](const Tools &t) { return (t.style & 0x23u) == 0x23u; };
    bool agree = valuator_vert[0].value == Rot_X && valuator_vert[1].value == Rot_X &&
                 valuator_horiz[0].value == Rot_Y && valuator_horiz[1].value == Rot_Y;
    char text[200];
    snprintf(text, sizeof text, "  dir %d lamps %d%d selected %d%d grey %d%d%d%d%d rot %.5f %.5f%s", Dir_Cur,
             button_dir[0].lamp, button_dir[1].lamp, button_dir[0].selected, button_dir[1].selected,
             grey(valuator_vert[0]), grey(valuator_vert[1]), grey(valuator_horiz[0]), grey(valuator_horiz[1]),
             button_dir[1].style == 0x23u, Rot_X, Rot_Y, agree ? "" : " apart");
    snprintf(text + strlen(text), sizeof text - strlen(text), " class %.5f %.5f slice %g %g in %d frames %d list %d %d",
             cur->alpha, cur->beta, slider_frame.value, cur->slice_cur, Ctrl_Inside, Obl_Of(0)->Child_Get_Nb(),
             select_instance.current, Instance_Cur);
    return text;
}

} // namespace

/* Runs the events, each followed in the transcript by its answer, the
 * panel's entry lines, the host's flag calls and the panel's state. */
class Panel_Input : public Panel_Test {
  protected:
    std::vector<std::string> Run(const std::vector<Event> &events)
    {
        std::vector<std::string> transcript;
        Kelvra_Oblique *saved = Instance_Pt && Instance_Nb > 3 ? Instance_Pt[3] : nullptr;   // the second study's Oblique class
        AzHost_Trace_Start();
        for (const Event &e : events) {
            if (e.over)
                Over(*e.over);
            else
                Over_Point(e.x, e.y);
            console.Clear();
            int result = -1;
            switch (e.kind) {
            case 'c': result = Ctrl_Click(nullptr, e.arg); break;
            case 'm': result = Ctrl_Motion(nullptr, e.arg, 10, 20); break;
            case 'w': result = Ctrl_Scroll(nullptr, e.arg); break;
            case 'k': result = Ctrl_Key(nullptr, e.arg, 3, 4); break;
            case 'D': Dir_Cur = e.arg; break;
            case 'G': Org_Of(0)->group_valid = e.arg; Ctrl_Update(UPDATE_SELECT); break;
            case 'L': select_instance.current = Instance_Cur = e.arg; break;
            case 'P': Instance_Pt[3] = e.arg ? saved : nullptr; break;
            case 'R': Rot_X = e.arg / 100.0f; break;
            case 'S': slider_frame.value = (float)e.arg; break;
            }
            transcript.push_back(std::string(1, e.kind) + " " + std::to_string(e.arg) + " -> " + std::to_string(result));
            for (const std::string &line : Golden_Console(console.Lines(15)))
                transcript.push_back("  " + line);
            for (const std::string &line : Lines_Starting(AzHost_Trace_Take(), {"Flag_Set_"}))
                transcript.push_back("  " + line);
            transcript.push_back(Panel_Now());
        }
        AzHost_Trace_Stop();
        return transcript;
    }
};

/* Clicks, drags, hovering, wheel and keys over the widgets of a shown panel
 * of an 8-slice study, in one run. */
TEST_F(Panel_Input, EventsOverTheWidgets)
{
    const std::vector<Event> events{
        {&button_on_off, 0, 0, 'c', 0},   // no button: not taken
        {&button_on_off, 0, 0, 'c', AZ_POINTER_LEFT},
        {&button_on_off, 0, 0, 'c', AZ_POINTER_LEFT},   // two clicks give the lamp back
        // The direction buttons choose, redraw the panel and enable the valuators for the Oblique direction.
        {&button_dir[1], 0, 0, 'c', AZ_POINTER_LEFT},
        {&button_on_off, 0, 0, 'c', AZ_POINTER_LEFT},   // only the current direction's lamp
        {nullptr, 2, 300, 'c', AZ_POINTER_LEFT},   // inside the frame, over no widget
        {nullptr, 2, 300, 'k', 0x41},   // keys are never taken
        {nullptr, 2, 300, 'k', 0x0D},
        {nullptr, 2, 300, 'k', 0x1B},
        {nullptr, 2, 300, 'k', 0x25},
        {nullptr, 2, 300, 'k', 0x70},
        {nullptr, 2, 300, 'k', 0},
        {nullptr, 2, 300, 'k', 0xFFFF},
        // Right valuator, 51 pixels up its track of 150: its first half, 74 steps from +90 to 0 degrees.
        {nullptr, valuator_vert[1].x + 7, valuator_vert[1].y + 51, 'c', AZ_POINTER_LEFT},
        // Dragging the bottom valuator, 86 pixels along: 12 of the 75 steps from 0 to -90 degrees.
        {nullptr, valuator_horiz[0].x + 86, valuator_horiz[0].y + 7, 'm', AZ_POINTER_LEFT},
        // Hovering over a valuator rebuilds with the same angles.
        {nullptr, valuator_horiz[1].x + 3, valuator_horiz[1].y + 7, 'm', AZ_POINTER_NONE},
        {&button_dir[0], 0, 0, 'c', AZ_POINTER_LEFT},
        // The slider: a click at its end, hovering does not move it, a drag does.
        {nullptr, slider_frame.x + slider_frame.width - 1, slider_frame.y + 5, 'c', AZ_POINTER_LEFT},
        {nullptr, slider_frame.x, slider_frame.y + 5, 'm', AZ_POINTER_NONE},
        {nullptr, slider_frame.x, slider_frame.y + 5, 'm', AZ_POINTER_LEFT},
        {nullptr, 2, 300, 'm', AZ_POINTER_LEFT},
        {nullptr, 2, 300, 'w', 1},   // nor the wheel, away from the widgets
        // The wheel over the preview steps the slider against it and rebuilds
        // the geometry with the panel's angles; over the slider, with it.
        {nullptr, 0, 0, 'R', 25},
        {nullptr, 0, 0, 'S', 5},
        {&box_preview, 0, 0, 'w', 1},
        {&slider_frame, 0, 0, 'w', -2},
        // A study that is no 3D group greys both buttons out: they take no click.
        {nullptr, 0, 0, 'G', 0},
        {&button_dir[1], 0, 0, 'c', AZ_POINTER_LEFT},
    };
    Load("Head", 16, 16, 8);
    Open_Shown();
    Ctrl_Draw();
    ASSERT_FLOAT_EQ(slider_frame.maximum, 7.999f);
    EXPECT_TRUE(Trace_Is("panel_events", Run(events)));
}

TEST_F(Panel_Input, ListClickAndWheelChooseTheStudy)
{
    Load("Head", 16, 16, 8);
    Load("Knee", 16, 16, 8);
    ASSERT_EQ(Ctrl_Open(0), 1);
    const int arrow_y = select_instance.y + 10, next_x = select_instance.x + select_instance.width - 4;
    const std::vector<Event> events{
        {nullptr, next_x, arrow_y, 'c', AZ_POINTER_LEFT},
        // With no current class the list moves but the panel keeps its study.
        {nullptr, 0, 0, 'D', 1},
        {nullptr, 0, 0, 'P', 0},
        {nullptr, select_instance.x + 3, arrow_y, 'c', AZ_POINTER_LEFT},   // previous arrow
        {nullptr, 0, 0, 'P', 1},
        // The wheel: a value of -1 moves the list by +1; at the end nothing
        // moves, the wheel is still taken.
        {nullptr, 0, 0, 'D', 0},
        {nullptr, 0, 0, 'L', 0},
        {&select_instance, 0, 0, 'w', -1},
        {&select_instance, 0, 0, 'w', -1},
        {&select_instance, 0, 0, 'w', 1},
    };
    EXPECT_TRUE(Trace_Is("panel_list_events", Run(events)));
}

TEST_F(Panel_Test, HelpKeywordUnderThePointer)
{
    // Help finds every control, greyed or not: first a study of 8 slices in the Oblique direction
    // (everything enabled), then a one-slice study in the Original direction (valuators, direction
    // buttons and slider disabled), where the wheel over the slider is still taken and clicks are not.
    struct {
        const Tools *tool;
        const char *keyword;
        int disabled_flat; /* disabled for the one-slice study */
    } spots[] = {
        {&select_instance, "instance", 0},   {&valuator_horiz[1], "rot_alpha", 1}, {&valuator_horiz[0], "rot_alpha", 1},
        {&valuator_vert[0], "rot_beta", 1},  {&valuator_vert[1], "rot_beta", 1},   {&button_update, "update", 0},
        {&box_preview, "preview", 0},        {&slider_frame, "preview", 1},        {&button_on_off, "on_off", 0},
        {&button_dir[0], "dir_original", 1}, {&button_dir[1], "dir_oblique", 1},
    };
    for (int flat = 0; flat < 2; flat++) {
        Load(flat ? "Flat" : "Head", 16, 16, flat ? 1 : 8);
        Open_Shown();
        if (flat) {
            select_instance.current = 1;
            select_instance.Adjust();
            Instance_Cur = 2;
        }
        Dir_Cur = !flat;
        Ctrl_Update(UPDATE_SELECT);
        Ctrl_Draw();
        AzHost_Trace_Start();
        for (const auto &spot : spots) {
            ASSERT_EQ(spot.tool->Disabled() != 0, flat && spot.disabled_flat) << spot.keyword;
            Over(*spot.tool);
            EXPECT_EQ(Ctrl_Help(nullptr, 0x70, 5, 6), 1);
            EXPECT_EQ(Lines_Starting(AzHost_Trace_Take(), {"Fct_Help"}),
                      std::vector<std::string>{std::string("Fct_Help class_oblique ") + spot.keyword});
            EXPECT_FALSE(AzHost_Help_Last().empty()) << spot.keyword;
            if (flat && spot.disabled_flat) {
                EXPECT_EQ(Ctrl_Click(nullptr, AZ_POINTER_LEFT), 0) << spot.keyword << ": a greyed control takes no click";
                EXPECT_EQ(Ctrl_Motion(nullptr, AZ_POINTER_LEFT, 0, 0), 0) << spot.keyword << ": nor a drag";
            }
        }
        AzHost_Trace_Stop();
    }
    Over(slider_frame);
    EXPECT_EQ(Ctrl_Scroll(nullptr, -1), 1) << "the wheel over a greyed slider is taken";
    EXPECT_FLOAT_EQ(slider_frame.value, 0.0f);
    AzHost_Trace_Start();
    const std::pair<const Tools *, const char *> pages[2] = {{&valuator_horiz[1], "vertical axis"},
                                                             {&valuator_vert[0], "horizontal axis"}};
    for (const auto &page : pages) {
        Over(*page.first);
        Ctrl_Help(nullptr, 0x70, 5, 6);
        EXPECT_NE(AzHost_Help_Last().find(page.second), std::string::npos) << AzHost_Help_Last();
    }
    AzHost_Trace_Take();
    Over_Point(2, 300);
    console.Clear();
    EXPECT_EQ(Ctrl_Help(nullptr, 0x70, 5, 6), 1);
    EXPECT_EQ(console.Lines()[0], (Console_Line{15, "Class Kelvra_Oblique: Ctrl_Help(key:0070 pos:5x6)"}));
    EXPECT_EQ(Lines_Starting(AzHost_Trace_Take(), {"Fct_Help"}), std::vector<std::string>{"Fct_Help class_oblique (null)"});
    EXPECT_NE(AzHost_Help_Last().find("Oblique reslice"), std::string::npos) << "the topic's own text";
}

TEST_F(Panel_Test, UpdateDbCreatesAndRemovesFrames)
{
    Over(button_update);
    AzHost_Trace_Start();
    EXPECT_EQ(Ctrl_Click(nullptr, AZ_POINTER_LEFT), 1) << "no study: the click is taken, nothing happens";
    EXPECT_TRUE(Lines_Starting(AzHost_Trace_Take(), {"Iterator_Init 4"}).empty());
    Load("Head", 16, 16, 8);
    ASSERT_EQ(Ctrl_Open(0), 1);
    Kelvra_Oblique *org = Org_Of(0), *obl = Obl_Of(0);
    Dir_Cur = 1;
    ASSERT_EQ(Ctrl_Update(UPDATE_ROTATE), 1);
    button_dir[0].lamp = button_dir[1].lamp = 1;
    Over(button_update);
    EXPECT_EQ(Ctrl_Click(nullptr, AZ_POINTER_LEFT), 1);
    ASSERT_EQ(Wait(), 1);
    EXPECT_EQ(obl->Child_Get_Nb(), obl->dim.z) << "the Oblique frames were made";
    EXPECT_EQ(org->Child_Get_Nb(), 8);
    // Lamps (1, 0): keep the Original frames, remove the Oblique ones.
    Over(button_on_off);
    Ctrl_Click(nullptr, AZ_POINTER_LEFT);
    ASSERT_EQ(button_dir[1].lamp, 0);
    Over(button_update);
    EXPECT_EQ(Ctrl_Click(nullptr, AZ_POINTER_LEFT), 1);
    ASSERT_EQ(Wait(), 1);
    EXPECT_EQ(obl->Child_Get_Nb(), 0);
    EXPECT_EQ(org->Child_Get_Nb(), 8);
}
