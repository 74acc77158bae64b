/* Clicks, drags, wheel, keys, help and Update DB over the panel, as event
 * scripts: each script is a golden file whose unindented lines are the
 * events and whose indented lines are what each event must give. */
#include <stdlib.h>

#include <algorithm>
#include <functional>
#include <list>
#include <map>
#include <sstream>

#include "panel_fixture.h"
#include "tests/support/fault.h"

class Panel_Input : public Panel_Test, public ::testing::WithParamInterface<const char *> {
  protected:
    /* Puts the pointer where an event names: "-" (0, 0), a widget's centre,
     * "widget+dx,dy" from its corner, or "x,y"; the widget or null. */
    const Tools *Place(const std::string &place)
    {
        int x = 0, y = 0;
        size_t plus = place.find('+');
        const Tools *tool = isalpha((unsigned char)place[0]) ? Widget(place.substr(0, plus)) : nullptr;
        if (tool && plus == std::string::npos)
            x = tool->x + tool->width / 2, y = tool->y + tool->height / 2;
        else if (place != "-" && sscanf(place.c_str() + (tool ? plus + 1 : 0), "%d,%d", &x, &y) == 2 && tool)
            x += tool->x, y += tool->y;
        Over_Point(x, y);
        return tool;
    }
    /* One event: a call of the panel's entry points (its answer) or a change
     * made by hand (-1); the kinds are listed in panel_events.trace. */
    int Act(const std::string &kind, const std::string &place, const std::string &word)
    {
        const int arg = (int)strtol(word.c_str(), nullptr, 0);
        const std::map<std::string, std::function<int()>> kinds = {
            {"c", [&] { return Ctrl_Click(nullptr, arg); }},
            {"u", [&] { return Ctrl_Click(nullptr, arg) * 10 + Wait(); }},   // a click that starts work, then the wait
            {"m", [&] { return Ctrl_Motion(nullptr, arg, 10, 20); }},
            {"w", [&] { return Ctrl_Scroll(nullptr, arg); }},
            {"k", [&] { return Ctrl_Key(nullptr, arg, 3, 4); }},
            {"h", [&] { return Ctrl_Help(nullptr, arg, 5, 6); }},
            {"load", [&] { return Load(Plan(place, arg, false)) != nullptr; }},
            {"twin", [&] { return Load(Plan(place, arg, true)) != nullptr; }},
            {"open", [&] { return Ctrl_Open(arg); }},
            {"show", [&] { return Ctrl_Show(), -1; }},
            {"hide", [&] { return Ctrl_Hide(), -1; }},
            {"draw", [&] { return Ctrl_Draw(); }},
            {"close", [&] { return Ctrl_Close(); }},
            {"leave", [&] { return Ctrl_Leave(); }},
            {"query", [&] { return (int)Ctrl_Query(); }},
            {"register", [&] { return Ctrl_Register(); }},
            {"update", [&] { return Ctrl_Update(Flags(word)); }},
            {"hook", [&] { return Update_A(Flags(word)); }},
            {"D", [&] { return Dir_Cur = arg, -1; }},
            {"G", [&] { return Org_Of(0)->group_valid = arg, Ctrl_Update(UPDATE_SELECT), -1; }},
            // The list's entry and the panel's pair.
            {"L", [&] { return select_instance.current = arg, select_instance.Adjust(), Instance_Cur = 2 * arg, -1; }},
            {"lamps", [&] { return button_dir[0].lamp = arg / 10, button_dir[1].lamp = arg % 10, -1; }},
            {"P", [&] { return std::swap(Instance_Pt[3], saved), -1; }},   // the second study's Oblique class
            {"R", [&] { return Rot_X = arg / 100.0f, -1; }},
            {"S", [&] { return slider_frame.value = (float)arg, -1; }},
            {"W", [&] { return ShowWindow(panel, SW_HIDE), EnableWindow(panel, FALSE), -1; }},
            {"view", [&] { return Current_View(arg), -1; }},
            {"var", [&] { return AzVar_Set(place.c_str(), arg), -1; }},
            {"name", [&] { return Org_Of(atoi(place.c_str()))->Name_Set("%s", Spaced(word).c_str()), -1; }},
            {"fault", [&] { return Fault(place, arg), -1; }},
        };
        auto found = kinds.find(kind);
        EXPECT_NE(found, kinds.end()) << "no event kind " << kind;
        return found == kinds.end() ? -1 : found->second();
    }
    static std::string Spaced(std::string text)   // "_" stands for a space in scripts
    {
        std::replace(text.begin(), text.end(), '_', ' ');
        return text;
    }
    AzPhantom_Plan Plan(const std::string &name, int slices, bool twin)
    {
        names.push_back(Spaced(name));   // the plan keeps a pointer to its name
        AzPhantom_Plan plan = Plan_Of(names.back().c_str(), 16, 16, slices);
        if (twin)   // another series of that name
            plan.series_uid = "1.2.826.0.1.3680043.2.1125.99";
        return plan;
    }
    /* An update step by name, or flags. */
    static uint64_t Flags(const std::string &word)
    {
        const std::map<std::string, uint64_t> steps = {
            {"select", UPDATE_SELECT}, {"rotate", UPDATE_ROTATE}, {"slice", UPDATE_SLICE}, {"draw", UPDATE_DRAW}};
        return steps.count(word) ? steps.at(word) : strtoull(word.c_str(), nullptr, 0);
    }
    /* The nth heap call of that kind from now fails, once. */
    static void Fault(const std::string &what, int nth)
    {
        for (const char *call : {"malloc", "calloc", "realloc", "new"})   // the fault keeps the pointer
            if (what == call)
                Fault_Arm(call, nth);
    }
    void Current_View(int module)
    {
        if (!view)
            view = AzView_Create("View 1", 0);
        AzVar_Set("$WINDOW_CUR", module < 0 ? 0 : (intptr_t)view);
        view->Module_Set(module < 0 ? 0 : module);
    }
    /* The panel's state in a line: shown (and its window visible, enabled,
     * raised), mode, direction, lamps, selected buttons, greyed valuators,
     * Oblique and Original buttons and slider, the panel's angles (and
     * whether its valuators show them), the current class's angles, slider
     * (value/maximum) and slice, pointer inside, frames of both directions,
     * list entry, current pair and pairs. */
    std::string Panel_Now()
    {
        char text[300];
        snprintf(text, sizeof text, "  shown %d %d%d%d mode %d", Ctrl_Shown, IsWindowVisible(panel) != 0,
                 IsWindowEnabled(panel) != 0, AzWin_Z_Order(panel) > 0, Ctrl_Mode);
        if (AzDb_Root()->Child_Get_Nb() == 0)
            return text + std::string(" no study");
        Kelvra_Oblique *cur = Dir_Cur ? Obl_Of(0) : Org_Of(0);
        auto grey = [](const Tools &t) { return (t.style & 0x23u) == 0x23u; };
        bool agree = valuator_vert[0].value == Rot_X && valuator_vert[1].value == Rot_X &&
                     valuator_horiz[0].value == Rot_Y && valuator_horiz[1].value == Rot_Y;
        snprintf(text + strlen(text), sizeof text - strlen(text),
                 " dir %d lamps %d%d selected %d%d grey %d%d%d%d%d%d%d rot %.5f %.5f%s", Dir_Cur, button_dir[0].lamp,
                 button_dir[1].lamp, button_dir[0].selected, button_dir[1].selected, grey(valuator_vert[0]),
                 grey(valuator_vert[1]), grey(valuator_horiz[0]), grey(valuator_horiz[1]),
                 button_dir[1].style == 0x23u, button_dir[0].style == 0x23u, slider_frame.style == 0x23u, Rot_X,
                 Rot_Y, agree ? "" : " apart");
        snprintf(text + strlen(text), sizeof text - strlen(text),
                 " class %.5f %.5f slice %g/%g %g in %d frames %d %d list %d %d of %d", cur->alpha, cur->beta,
                 slider_frame.value, slider_frame.maximum, cur->slice_cur, Ctrl_Inside, Org_Of(0)->Child_Get_Nb(),
                 Obl_Of(0)->Child_Get_Nb(), select_instance.current, Instance_Cur, Instance_Nb);
        return text;
    }
    /* Runs a script: each event followed by its answer, the console lines
     * (the insert level's aside), the host's flag, help and redraw calls,
     * the help page's title, whether the widget under the pointer is greyed,
     * the list's labels when they changed, then the panel's state. */
    std::vector<std::string> Run(const std::string &script)
    {
        std::vector<std::string> transcript;
        AzHost_Trace_Start();
        for (const std::string &line : Golden_Lines(script, {})) {
            if (line[0] == ' ')
                continue;
            std::string event = line.substr(0, line.find(" -> ")), kind, place, word;
            std::istringstream(event) >> kind >> place >> word;
            const Tools *tool = isalpha((unsigned char)place[0]) && !Is_Widget(place) ? nullptr : Place(place);
            console.Clear();
            int result = Act(kind, place, word);
            if (kind != "fault")
                Fault_Disarm();
            transcript.push_back(event + " -> " + std::to_string(result));
            for (const Console_Line &text : console.Lines())
                if (text.level != 11)   // the insert level's own lines
                    transcript.push_back("  " + std::to_string(text.level) + " " +
                                         Panel_Named(Golden_Escaped(text.text)));
            for (const std::string &call :
                 Lines_Starting(AzHost_Trace_Take(), {"Flag_Set_", "Fct_Help", "Fct_Redraw"}))
                transcript.push_back("  " + call);
            if (kind == "h")
                transcript.push_back("  page " + AzHost_Help_Last().substr(0, AzHost_Help_Last().find('\n')));
            if (tool && tool->Disabled())
                transcript.push_back("  greyed");
            std::string list = "  list:";
            for (int i = 0; i < select_instance.entries_nb; i++)
                list += (i ? " | " : " ") + std::string(select_instance.entries[i].label);
            if (list != shown_list)
                transcript.push_back(shown_list = list);
            transcript.push_back(Panel_Now());
        }
        AzHost_Trace_Stop();
        return transcript;
    }
    Kelvra_Oblique *saved = nullptr;
    Kelvra_Window *view = nullptr;
    std::string shown_list = "  list:";
    std::list<std::string> names;
};

TEST_P(Panel_Input, Script) { EXPECT_TRUE(Trace_Is(GetParam(), Run(GetParam()))); }

INSTANTIATE_TEST_SUITE_P(Events, Panel_Input, ::testing::Values("panel_events", "panel_list_events", "panel_help",
                                                                  "panel_lifecycle", "panel_update",
                                                                  "panel_slider", "panel_list"));
