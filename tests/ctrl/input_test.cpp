/* Clicks, drags, wheel, keys, help and Update DB over the panel, as event
 * scripts: each script is a golden file whose unindented lines are the
 * events and whose indented lines are what each event must give. */
#include <stdlib.h>

#include <sstream>

#include "panel_fixture.h"

namespace {

/* The panel's state in a line: direction, lamps, selected buttons, greyed
 * valuators and Oblique button, the panel's angles (and whether its
 * valuators show them), the current class's angles, slider and slice,
 * pointer inside, frames of both directions, list entry and current pair. */
std::string Panel_Now()
{
    if (AzDb_Root()->Child_Get_Nb() == 0)
        return "  no study";
    Kelvra_Oblique *cur = Dir_Cur ? Obl_Of(0) : Org_Of(0);
    auto grey = [](const Tools &t) { return (t.style & 0x23u) == 0x23u; };
    bool agree = valuator_vert[0].value == Rot_X && valuator_vert[1].value == Rot_X &&
                 valuator_horiz[0].value == Rot_Y && valuator_horiz[1].value == Rot_Y;
    char text[240];
    snprintf(text, sizeof text, "  dir %d lamps %d%d selected %d%d grey %d%d%d%d%d rot %.5f %.5f%s", Dir_Cur,
             button_dir[0].lamp, button_dir[1].lamp, button_dir[0].selected, button_dir[1].selected,
             grey(valuator_vert[0]), grey(valuator_vert[1]), grey(valuator_horiz[0]), grey(valuator_horiz[1]),
             button_dir[1].style == 0x23u, Rot_X, Rot_Y, agree ? "" : " apart");
    snprintf(text + strlen(text), sizeof text - strlen(text),
             " class %.5f %.5f slice %g %g in %d frames %d %d list %d %d", cur->alpha, cur->beta, slider_frame.value,
             cur->slice_cur, Ctrl_Inside, Org_Of(0)->Child_Get_Nb(), Obl_Of(0)->Child_Get_Nb(),
             select_instance.current, Instance_Cur);
    return text;
}

} // namespace

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
    /* One event: a call of the panel's entry points (answer returned) or a
     * change made by hand (-1); see the scripts' header comments. */
    int Act(const std::string &kind, const std::string &place, const std::string &word)
    {
        const long long arg = strtoll(word.c_str(), nullptr, 0);
        const std::pair<const char *, uint64_t> steps[4] = {
            {"select", UPDATE_SELECT}, {"rotate", UPDATE_ROTATE}, {"slice", UPDATE_SLICE}, {"draw", UPDATE_DRAW}};
        if (kind == "c")
            return Ctrl_Click(nullptr, (int)arg);
        if (kind == "u")   // a click that starts work, then the wait for it
            return Ctrl_Click(nullptr, (int)arg) * 10 + Wait();
        if (kind == "m")
            return Ctrl_Motion(nullptr, (int)arg, 10, 20);
        if (kind == "w")
            return Ctrl_Scroll(nullptr, (int)arg);
        if (kind == "k")
            return Ctrl_Key(nullptr, (int)arg, 3, 4);
        if (kind == "h")
            return Ctrl_Help(nullptr, (int)arg, 5, 6);
        if (kind == "load")
            return Load(place.c_str(), 16, 16, (int)arg) != nullptr;
        if (kind == "open")
            return Ctrl_Open((int)arg);
        if (kind == "show")
            Ctrl_Show();
        else if (kind == "draw")
            return Ctrl_Draw();
        else if (kind == "update")
            for (const auto &step : steps)
                if (word == step.first)
                    return Ctrl_Update(step.second);
        if (kind == "D")
            Dir_Cur = (int)arg;
        else if (kind == "G")
            Org_Of(0)->group_valid = (int)arg, Ctrl_Update(UPDATE_SELECT);
        else if (kind == "L")   // the list's entry and the panel's pair
            select_instance.current = (int)arg, select_instance.Adjust(), Instance_Cur = 2 * (int)arg;
        else if (kind == "lamps")
            button_dir[0].lamp = (int)arg / 10, button_dir[1].lamp = (int)arg % 10;
        else if (kind == "P")   // the second study's Oblique class gone (0) or back
            std::swap(Instance_Pt[3], saved);
        else if (kind == "R")
            Rot_X = arg / 100.0f;
        else if (kind == "S")
            slider_frame.value = (float)arg;
        return -1;
    }
    /* Runs a script: each event followed by its answer, the panel's entry
     * lines, the host's flag and help calls, the help page's title, whether
     * the widget under the pointer is greyed, then the panel's state. */
    std::vector<std::string> Run(const std::string &script)
    {
        std::vector<std::string> transcript;
        AzHost_Trace_Start();
        for (const std::string &line : Golden_Lines(script, {})) {
            if (line[0] == ' ')
                continue;
            std::string event = line.substr(0, line.find(" -> ")), kind, place, word;
            std::istringstream(event) >> kind >> place >> word;
            const Tools *tool = kind == "load" ? nullptr : Place(place);
            console.Clear();
            int result = Act(kind, place, word);
            transcript.push_back(event + " -> " + std::to_string(result));
            for (const std::string &text : Golden_Console(console.Lines(15)))
                transcript.push_back("  " + Panel_Named(text));
            for (const std::string &call : Lines_Starting(AzHost_Trace_Take(), {"Flag_Set_", "Fct_Help"}))
                transcript.push_back("  " + call);
            if (kind == "h")
                transcript.push_back("  page " + AzHost_Help_Last().substr(0, AzHost_Help_Last().find('\n')));
            if (tool && tool->Disabled())
                transcript.push_back("  greyed");
            transcript.push_back(Panel_Now());
        }
        AzHost_Trace_Stop();
        return transcript;
    }
    Kelvra_Oblique *saved = nullptr;
};

TEST_P(Panel_Input, Script) { EXPECT_TRUE(Trace_Is(GetParam(), Run(GetParam()))); }

INSTANTIATE_TEST_SUITE_P(Events, Panel_Input, ::testing::Values("panel_events", "panel_list_events", "panel_help"));
