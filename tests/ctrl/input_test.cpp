/* Clicks, drags, wheel, keys and help over the panel. */
#include "panel_fixture.h"

namespace {

const float HALF_PI = 1.5707964f;

std::vector<std::string> Marks() { return Lines_Starting(AzHost_Trace_Take(), {"Flag_Set_"}); }

} // namespace

TEST_F(Panel_Test, ClickWithoutButtonAndOnOff)
{
    Load("Head", 16, 16, 8);
    Open_Shown();
    Over(button_on_off);
    console.Clear();
    EXPECT_EQ(Ctrl_Click(nullptr, 0), 0);
    EXPECT_EQ(console.Lines(), (std::vector<Console_Line>{{15, "Class Kelvra_Oblique: Ctrl_Click()"}}));
    EXPECT_EQ(button_dir[0].lamp, 1);
    EXPECT_EQ(Ctrl_Click(nullptr, AZ_POINTER_LEFT) + button_dir[0].lamp + button_dir[1].lamp, 1);
    EXPECT_EQ(Ctrl_Click(nullptr, AZ_POINTER_LEFT) + button_dir[0].lamp, 2) << "two clicks give the lamp back";
    Dir_Cur = 1;
    Ctrl_Click(nullptr, AZ_POINTER_LEFT);
    EXPECT_EQ(button_dir[0].lamp * 10 + button_dir[1].lamp, 11) << "only the current direction's lamp";
    EXPECT_EQ(Obl_Of(0)->Child_Get_Nb(), 0) << "nothing changes before Update DB";
    Over_Point(2, 300);   // inside the frame, over no widget
    EXPECT_EQ(Ctrl_Click(nullptr, AZ_POINTER_LEFT), 0);
    // Keys are never taken.
    console.Clear();
    EXPECT_EQ(Ctrl_Key(nullptr, 0x41, 3, 4), 0);
    EXPECT_EQ(console.Lines(), (std::vector<Console_Line>{{15, "Class Kelvra_Oblique: Ctrl_Key(key:0041 pos:3x4)"}}));
    for (int key : {0, 0x0D, 0x1B, 0x25, 0x70, 0xFFFF})
        EXPECT_EQ(Ctrl_Key(nullptr, key, 0, 0), 0) << key;
}

TEST_F(Panel_Test, DirectionButtonsChooseAndRedraw)
{
    Load("Head", 16, 16, 8);
    Open_Shown();
    Ctrl_Draw();
    ASSERT_EQ(valuator_vert[0].style & 0x23u, 0x23u);
    Over(button_dir[1]);
    console.Clear();
    EXPECT_EQ(Ctrl_Click(nullptr, AZ_POINTER_LEFT), 1);
    EXPECT_EQ(Dir_Cur, 1);
    EXPECT_EQ(button_dir[0].selected * 10 + button_dir[1].selected, 1);
    EXPECT_EQ(console.Count("Class Kelvra_Oblique: Ctrl_Draw()"), 1u) << "the click redraws the panel";
    for (const Valuators *v : {&valuator_vert[0], &valuator_vert[1], &valuator_horiz[0], &valuator_horiz[1]})
        EXPECT_EQ(v->style & 0x23u, 0u) << "enabled for the Oblique direction";
    Over(button_dir[0]);
    Ctrl_Click(nullptr, AZ_POINTER_LEFT);
    EXPECT_EQ(Dir_Cur, 0);
    EXPECT_EQ(button_dir[0].selected * 10 + button_dir[1].selected, 10);
    EXPECT_EQ(valuator_horiz[0].style & 0x23u, 0x23u);
    // A study that is no 3D group greys both buttons out: they take no click.
    Org_Of(0)->group_valid = 0;
    Ctrl_Update(UPDATE_SELECT);
    EXPECT_EQ(button_dir[1].style, 0x23u);
    Over(button_dir[1]);
    EXPECT_EQ(Ctrl_Click(nullptr, AZ_POINTER_LEFT), 0);
    EXPECT_EQ(Dir_Cur, 0);
}

TEST_F(Panel_Test, ValuatorsSetTheAngles)
{
    Load("Head", 16, 16, 8);
    ASSERT_EQ(Ctrl_Open(0), 1);
    Dir_Cur = 1;
    Kelvra_Oblique *obl = Obl_Of(0);
    // Right valuator, 51 pixels up its track of 150: its first half, 74 steps from +90 to 0 degrees.
    Over_Point(valuator_vert[1].x + 7, valuator_vert[1].y + 51);
    EXPECT_EQ(Ctrl_Click(nullptr, AZ_POINTER_LEFT), 1);
    EXPECT_NEAR(Rot_X, HALF_PI - 51.0f / 74.0f * HALF_PI, 1e-5f);
    EXPECT_FLOAT_EQ(valuator_vert[0].value, Rot_X);
    EXPECT_FLOAT_EQ(valuator_vert[1].value, Rot_X);
    EXPECT_FLOAT_EQ(obl->alpha, Rot_X);
    EXPECT_FLOAT_EQ(Rot_Y, 0.0f);
    // Dragging the bottom valuator, 86 pixels along: 12 of the 75 steps from 0 to -90 degrees.
    Over_Point(valuator_horiz[0].x + 86, valuator_horiz[0].y + 7);
    console.Clear();
    EXPECT_EQ(Ctrl_Motion(nullptr, AZ_POINTER_LEFT, 10, 20), 1);
    EXPECT_EQ(console.Lines()[0], (Console_Line{15, "Class Kelvra_Oblique: Ctrl_Motion(up_down:0001 pos:10x20)"}));
    EXPECT_NEAR(Rot_Y, 12.0f / 75.0f * -HALF_PI, 1e-5f);
    EXPECT_FLOAT_EQ(valuator_horiz[0].value, Rot_Y);
    EXPECT_FLOAT_EQ(valuator_horiz[1].value, Rot_Y);
    EXPECT_FLOAT_EQ(obl->beta, Rot_Y);
    EXPECT_FLOAT_EQ(obl->alpha, Rot_X) << "the other angle stays";
    EXPECT_EQ(Ctrl_Inside, 1);
    // Hovering over a valuator rebuilds with the same angles.
    float before = Rot_Y;
    Over_Point(valuator_horiz[1].x + 3, valuator_horiz[1].y + 7);
    EXPECT_EQ(Ctrl_Motion(nullptr, AZ_POINTER_NONE, 0, 0), 1);
    EXPECT_FLOAT_EQ(Rot_Y, before);
}

TEST_F(Panel_Test, SliderClickDragHoverAndWheel)
{
    Load("Head", 16, 16, 8);
    ASSERT_EQ(Ctrl_Open(0), 1);
    Kelvra_Oblique *org = Org_Of(0);
    ASSERT_FLOAT_EQ(slider_frame.maximum, 7.999f);
    Over_Point(slider_frame.x + slider_frame.width - 1, slider_frame.y + 5);
    EXPECT_EQ(Ctrl_Click(nullptr, AZ_POINTER_LEFT), 1);
    EXPECT_FLOAT_EQ(org->slice_cur, 7.0f);
    Over_Point(slider_frame.x, slider_frame.y + 5);
    EXPECT_EQ(Ctrl_Motion(nullptr, AZ_POINTER_NONE, 0, 0), 1);
    EXPECT_FLOAT_EQ(org->slice_cur, 7.0f) << "hovering does not move the slice";
    EXPECT_EQ(Ctrl_Motion(nullptr, AZ_POINTER_LEFT, 0, 0), 1);
    EXPECT_FLOAT_EQ(org->slice_cur, 0.0f);
    Over_Point(2, 300);
    EXPECT_EQ(Ctrl_Motion(nullptr, AZ_POINTER_LEFT, 0, 0), 0);
    EXPECT_EQ(Ctrl_Scroll(nullptr, 1), 0) << "nor the wheel, away from the widgets";
    // The wheel over the preview steps the slider against it and rebuilds
    // the geometry with the panel's angles; over the slider, with it.
    Rot_X = 0.25f;
    slider_frame.value = 5.0f;
    Over(box_preview);
    EXPECT_EQ(Ctrl_Scroll(nullptr, 1), 1);
    EXPECT_TRUE(slider_frame.value == 4.0f && org->slice_cur == 4.0f && org->alpha == 0.25f);
    Over(slider_frame);
    EXPECT_EQ(Ctrl_Scroll(nullptr, -2), 1);
    EXPECT_FLOAT_EQ(slider_frame.value, 6.0f);
}

TEST_F(Panel_Test, ListClickAndWheelChooseTheStudy)
{
    Load("Head", 16, 16, 8);
    Load("Knee", 16, 16, 8);
    ASSERT_EQ(Ctrl_Open(0), 1);
    std::string head = Org_Of(0)->Name_Get(), knee = Org_Of(1)->Name_Get();
    Over_Point(select_instance.x + select_instance.width - 4, select_instance.y + 10);   // next arrow
    AzHost_Trace_Start();
    EXPECT_EQ(Ctrl_Click(nullptr, AZ_POINTER_LEFT), 1);
    EXPECT_EQ(Instance_Cur, 2);
    std::vector<std::string> marks = Marks();
    ASSERT_GE(marks.size(), 2u);
    EXPECT_EQ(marks[0], "Flag_Set_Off " + head + " 0x30 0x4000");
    EXPECT_EQ(marks[1], "Flag_Set_On " + knee + " 0x10 0x4000");
    // With no current class the list moves but the panel keeps its study.
    Dir_Cur = 1;
    Kelvra_Oblique *saved = Instance_Pt[3];
    Instance_Pt[3] = nullptr;
    Over_Point(select_instance.x + 3, select_instance.y + 10);   // previous arrow
    EXPECT_EQ(Ctrl_Click(nullptr, AZ_POINTER_LEFT), 1);
    EXPECT_EQ(Instance_Cur, 2);
    EXPECT_TRUE(Marks().empty());
    Instance_Pt[3] = saved;

    // The wheel: a value of -1 moves the list by +1; at the end nothing
    // moves, the wheel is still taken.
    Dir_Cur = 0;
    select_instance.current = 0;
    Instance_Cur = 0;
    Over(select_instance);
    console.Clear();
    EXPECT_EQ(Ctrl_Scroll(nullptr, -1), 1);
    EXPECT_EQ(console.Lines()[0], (Console_Line{15, "Class Kelvra_Oblique: Ctrl_Scroll(val=-1)"}));
    EXPECT_EQ(select_instance.current * 10 + Instance_Cur, 12);
    EXPECT_EQ(Lines_Starting(Marks(), {"Flag_Set_Off"})[0], "Flag_Set_Off " + head + " 0x30 0x4000");
    EXPECT_EQ(Ctrl_Scroll(nullptr, -1), 1);
    EXPECT_EQ(Instance_Cur, 2);
    EXPECT_TRUE(Lines_Starting(Marks(), {"Flag_Set_Off"}).empty());
    EXPECT_EQ(Ctrl_Scroll(nullptr, 1), 1);
    EXPECT_EQ(Instance_Cur, 0);
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
