/*
 * Sessions of panel events: the language (words, verbs, places) and the
 * steps that are a user's input to the panel.  The steps that write files
 * are in az_session_export.cpp.
 */
#include "az_session.h"

#include <errno.h>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "../../hostlib/tools/az_tools.h"
#include "az_labels.h"
#include "az_session_private.h"

using namespace azsession;

namespace {

/* Key code of a help request (F1). */
const int help_key = 0x70;
const int drag_steps_default = 8;

struct Verb {
    const char *name;
    int min_words, max_words;   /* after the verb */
};

const Verb verbs[] = {
    {"open", 0, 2},       {"resize", 0, 1},    {"close", 0, 0},     {"click", 1, 3},      {"drag", 2, 7},  {"move", 1, 3},
    {"wheel", 1, 4},      {"key", 1, 4},       {"help", 0, 3},       {"leave", 0, 0}, {"rotate", 2, 2},
    {"direction", 1, 2},
    {"slice", 1, 1},      {"wait", 0, 1},      {"save-panel", 1, 1}, {"save-frame", 3, 3},
    {"dump", 1, 6},       {"echo", 0, 1000},     {"dicom", 1, 1},
    {"paint", 6, 6},      {"save-tags", 1, 2},
};

const Verb *Verb_Find(const std::string &name)
{
    for (const Verb &verb : verbs)
        if (name == verb.name)
            return &verb;
    return nullptr;
}

std::string Located(const std::string &name, int line, const std::string &reason)
{
    // A script of the program's own has no name: its lines mean nothing to the user.
    if (name.empty())
        return reason;
    return name + ":" + std::to_string(line) + ": " + reason;
}

/* Words of one line: blanks separate, quotes group, '#' ends the line. */
int Line_Split(const std::string &line, std::vector<std::string> *words, std::string *reason)
{
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            i++;
        } else if (c == '#') {
            break;
        } else if (c == '"') {
            size_t end = line.find('"', i + 1);
            if (end == std::string::npos) {
                *reason = "unclosed quote";
                return 0;
            }
            words->push_back(line.substr(i + 1, end - i - 1));
            i = end + 1;
        } else {
            size_t end = line.find_first_of(" \t\r#\"", i);
            if (end == std::string::npos)
                end = line.size();
            words->push_back(line.substr(i, end - i));
            i = end;
        }
    }
    return 1;
}

int Number_Parse(const std::string &word, double *value)
{
    if (word.empty())
        return 0;
    char *end = nullptr;
    *value = strtod(word.c_str(), &end);
    return *end == '\0' && isfinite(*value);
}

} // namespace

namespace azsession {

int Integer_Parse(const std::string &word, long *value)
{
    if (word.empty())
        return 0;
    char *end = nullptr;
    *value = strtol(word.c_str(), &end, 0);
    return *end == '\0';
}

int Fail(Runner *runner, const char *format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    runner->failure = text;
    return 0;
}

int Panel_Needed(Runner *runner)
{
    if (runner->app->panel_window)
        return 1;
    return Fail(runner, "the panel is not open (a session starts with \"open\")");
}

int Direction_Parse(Runner *runner, const std::string &word, int *direction)
{
    if (word == "original" || word == "0")
        *direction = 0;
    else if (word == "oblique" || word == "1")
        *direction = 1;
    else
        return Fail(runner, "a direction is original or oblique, not \"%s\"", word.c_str());
    return 1;
}

} // namespace azsession

int AzSession_Parse(const std::string &text, const std::string &name, std::vector<AzSession_Step> *steps,
                    std::string *error)
{
    steps->clear();
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); number++) {
        AzSession_Step step;
        step.line = number;
        std::string reason;
        if (!Line_Split(line, &step.words, &reason)) {
            *error = Located(name, number, reason);
            return 0;
        }
        if (step.words.empty())
            continue;
        const Verb *verb = Verb_Find(step.words[0]);
        if (!verb) {
            *error = Located(name, number, "unknown step \"" + step.words[0] + "\"");
            return 0;
        }
        int count = static_cast<int>(step.words.size()) - 1;
        if (count < verb->min_words || count > verb->max_words) {
            *error = Located(name, number, "wrong number of words for \"" + step.words[0] + "\"");
            return 0;
        }
        steps->push_back(step);
    }
    return 1;
}

int AzSession_Load(const std::string &path, std::vector<AzSession_Step> *steps, std::string *error)
{
    std::ifstream file(path);
    if (!file) {
        *error = path + ": cannot open: " + strerror(errno);
        return 0;
    }
    std::stringstream text;
    text << file.rdbuf();
    return AzSession_Parse(text.str(), path, steps, error);
}

namespace {


/* The valuators of the panel, by orientation, in position order. */
std::vector<Valuators *> Valuators_Of(HWND panel, int vertical)
{
    std::vector<Valuators *> found;
    for (int i = 0; Tools *tool = AzTools_Widget(panel, i); i++) {
        Valuators *valuator = dynamic_cast<Valuators *>(tool);
        if (valuator && ((valuator->style & 0x4u) != 0) == (vertical != 0))
            found.push_back(valuator);
    }
    std::sort(found.begin(), found.end(), [vertical](Valuators *a, Valuators *b) {
        return vertical ? a->x < b->x : a->y < b->y;
    });
    return found;
}

Tools *Widget_Find(HWND panel, const std::string &name)
{
    static const struct {
        const char *name;
        int vertical, index;
    } valuator_names[] = {
        {"rot-x-left", 1, 0}, {"rot-x-right", 1, 1}, {"rot-y-bottom", 0, 0}, {"rot-y-top", 0, 1}};
    for (const auto &entry : valuator_names)
        if (name == entry.name) {
            std::vector<Valuators *> found = Valuators_Of(panel, entry.vertical);
            return entry.index < static_cast<int>(found.size()) ? found[entry.index] : nullptr;
        }
    if (name == "preview") {
        // The preview box is the first unlabelled box of the panel.
        for (int i = 0; Tools *tool = AzTools_Widget(panel, i); i++)
            if (dynamic_cast<Boxs *>(tool) && !tool->label && tool->width > 0)
                return tool;
        return nullptr;
    }
    return AzTools_Find(panel, name.c_str());
}

/* A place from words[*at]: "X Y" or "NAME [FX FY]"; advances *at. */
int Place_Parse(Runner *runner, const std::vector<std::string> &words, size_t *at, int *x, int *y)
{
    long ix, iy;
    if (*at + 1 < words.size() && Integer_Parse(words[*at], &ix) && Integer_Parse(words[*at + 1], &iy)) {
        *x = static_cast<int>(ix);
        *y = static_cast<int>(iy);
        *at += 2;
        return 1;
    }
    if (*at >= words.size())
        return Fail(runner, "a place is missing");
    Tools *widget = Widget_Find(runner->app->panel_window, words[*at]);
    if (!widget)
        return Fail(runner, "no widget \"%s\" on the panel", words[*at].c_str());
    (*at)++;
    double fx = 0.5, fy = 0.5;
    if (*at + 1 < words.size() && Number_Parse(words[*at], &fx) && Number_Parse(words[*at + 1], &fy))
        *at += 2;
    else
        fx = fy = 0.5;
    *x = widget->x + static_cast<int>(lround(fx * (widget->width - 1)));
    *y = widget->y + static_cast<int>(lround(fy * (widget->height - 1)));
    return 1;
}

/* An optional place at the end of a step; the pointer stays where it is without one. */
int Place_Optional(Runner *runner, const std::vector<std::string> &words, size_t at)
{
    if (at >= words.size())
        return 1;
    if (!Place_Parse(runner, words, &at, &runner->x, &runner->y))
        return 0;
    if (at != words.size())
        return Fail(runner, "unexpected \"%s\"", words[at].c_str());
    return 1;
}

void Pointer(Runner *runner, int x, int y, int state)
{
    runner->x = x;
    runner->y = y;
    AzTools_Pointer_Set(runner->app->panel_window, x, y, state);
}

/* Whether (x, y) falls on the widget. */
int Widget_Holds(const Tools *widget, int x, int y)
{
    return widget && x >= widget->x && x < widget->x + widget->width && y >= widget->y &&
           y < widget->y + widget->height;
}

/* A host refuses panel input while the interface is locked (an apply's
 * worker runs behind the wait cursor): the next event waits for it to end,
 * as a user would. */
int Input_Ready(Runner *runner)
{
    if (AzApp_Input_Wait(runner->app, AZ_SESSION_WAIT_S * 1000))
        return 1;
    return Fail(runner, "the interface stayed locked for %d seconds", AZ_SESSION_WAIT_S);
}

int Click_At(Runner *runner, int x, int y)
{
    if (!Input_Ready(runner))
        return 0;
    AzModule &module = runner->app->module;
    // An apply is timed from the click that asks for it; the next wait that finds the host idle ends it.
    if (Widget_Holds(AzTools_Find(runner->app->panel_window, "Update DB"), x, y))
        runner->app->apply_start_ms = AzApp_Clock_Ms();
    Pointer(runner, x, y, AZ_POINTER_LEFT);
    module.Ctrl_Click(nullptr, AZ_POINTER_LEFT);
    AzApp_Pump(runner->app);
    Pointer(runner, x, y, AZ_POINTER_NONE);
    return 1;
}

int Step_Open(Runner *runner, const std::vector<std::string> &words)
{
    long mode = 0, width = 0;
    if (words.size() > 1 && (!Integer_Parse(words[1], &mode) || mode < 0 || mode > 0xffff))
        return Fail(runner, "a mode is a number from 0 to 65535");
    if (words.size() > 2 && (!Integer_Parse(words[2], &width) || width < 100 || width > 4000))
        return Fail(runner, "a panel width is a number of pixels from 100 to 4000");
    if (!AzApp_Panel_Open(runner->app, static_cast<unsigned short>(mode), static_cast<int>(width)))
        return Fail(runner, "the panel cannot be opened");
    return 1;
}

int Step_Resize(Runner *runner, const std::vector<std::string> &words)
{
    long width = 0;
    if (words.size() > 1 && (!Integer_Parse(words[1], &width) || width < 100 || width > 4000))
        return Fail(runner, "a panel width is a number of pixels from 100 to 4000");
    if (!Panel_Needed(runner))
        return 0;
    AzApp_Panel_Resize(runner->app, static_cast<int>(width));
    return 1;
}

int Step_Click(Runner *runner, const std::vector<std::string> &words)
{
    size_t at = 1;
    int x, y;
    if (!Panel_Needed(runner) || !Place_Parse(runner, words, &at, &x, &y))
        return 0;
    if (at != words.size())
        return Fail(runner, "unexpected \"%s\"", words[at].c_str());
    return Click_At(runner, x, y);
}

int Step_Drag(Runner *runner, const std::vector<std::string> &words)
{
    size_t at = 1;
    int x0, y0, x1, y1;
    if (!Panel_Needed(runner) || !Place_Parse(runner, words, &at, &x0, &y0) ||
        !Place_Parse(runner, words, &at, &x1, &y1))
        return 0;
    long steps = drag_steps_default;
    if (at < words.size() && (!Integer_Parse(words[at++], &steps) || steps < 1 || steps > 10000))
        return Fail(runner, "drag steps are a number from 1 to 10000");
    if (at != words.size())
        return Fail(runner, "unexpected \"%s\"", words[at].c_str());
    AzModule &module = runner->app->module;
    if (!Input_Ready(runner))
        return 0;
    Pointer(runner, x0, y0, AZ_POINTER_LEFT);
    module.Ctrl_Click(nullptr, AZ_POINTER_LEFT);
    for (long i = 1; i <= steps; i++) {
        int x = x0 + static_cast<int>(lround(static_cast<double>(x1 - x0) * i / steps));
        int y = y0 + static_cast<int>(lround(static_cast<double>(y1 - y0) * i / steps));
        if (!Input_Ready(runner))
            return 0;
        Pointer(runner, x, y, AZ_POINTER_LEFT);
        module.Ctrl_Motion(nullptr, AZ_POINTER_LEFT, static_cast<short>(x), static_cast<short>(y));
        AzApp_Pump(runner->app);
    }
    Pointer(runner, x1, y1, AZ_POINTER_NONE);
    return 1;
}

int Step_Move(Runner *runner, const std::vector<std::string> &words)
{
    if (!Panel_Needed(runner) || !Place_Optional(runner, words, 1))
        return 0;
    Pointer(runner, runner->x, runner->y, AZ_POINTER_NONE);
    runner->app->module.Ctrl_Motion(nullptr, AZ_POINTER_NONE, static_cast<short>(runner->x),
                                    static_cast<short>(runner->y));
    return 1;
}

int Step_Wheel(Runner *runner, const std::vector<std::string> &words)
{
    long turn;
    if (!Integer_Parse(words[1], &turn))
        return Fail(runner, "a wheel turn is a whole number");
    if (!Panel_Needed(runner) || !Place_Optional(runner, words, 2))
        return 0;
    Pointer(runner, runner->x, runner->y, AZ_POINTER_NONE);
    runner->app->module.Ctrl_Scroll(nullptr, static_cast<int>(turn));
    return 1;
}

int Step_Key(Runner *runner, const std::vector<std::string> &words)
{
    long key;
    if (!Integer_Parse(words[1], &key))
        return Fail(runner, "a key is a number");
    if (!Panel_Needed(runner) || !Place_Optional(runner, words, 2))
        return 0;
    int taken = runner->app->module.Ctrl_Key(nullptr, static_cast<int>(key), static_cast<short>(runner->x),
                                             static_cast<short>(runner->y));
    Error_Fct(hwnd, 11, "key 0x%lx %s", key, taken ? "taken" : "not taken");
    return 1;
}

int Step_Help(Runner *runner, const std::vector<std::string> &words)
{
    if (!Panel_Needed(runner) || !Place_Optional(runner, words, 1))
        return 0;
    Pointer(runner, runner->x, runner->y, AZ_POINTER_NONE);
    // The host's help shows the text on the console.
    runner->app->module.Ctrl_Help(nullptr, help_key, static_cast<short>(runner->x), static_cast<short>(runner->y));
    return 1;
}

int Step_Leave(Runner *runner)
{
    if (!Panel_Needed(runner))
        return 0;
    runner->app->module.Ctrl_Leave();
    AzTools_Pointer_Clear(runner->app->panel_window);
    return 1;
}

int Step_Direction(Runner *runner, const std::vector<std::string> &words)
{
    static const char *labels[2] = {"Dir. Original", "Dir. Oblique"};
    int direction;
    if (!Direction_Parse(runner, words[1], &direction))
        return 0;
    int want = -1;
    if (words.size() > 2) {
        if (words[2] != "on" && words[2] != "off")
            return Fail(runner, "a direction is switched on or off, not \"%s\"", words[2].c_str());
        want = words[2] == "on";
    }
    if (!Panel_Needed(runner))
        return 0;
    Buttons *button = dynamic_cast<Buttons *>(Widget_Find(runner->app->panel_window, labels[direction]));
    if (!button)
        return Fail(runner, "the panel has no button \"%s\"", labels[direction]);
    if (button->Disabled())
        return Fail(runner, "\"%s\" is disabled: the current study is not a valid 3D group", labels[direction]);
    if (!Click_At(runner, button->x + button->width / 2, button->y + button->height / 2))
        return 0;
    if (!button->selected)
        return Fail(runner, "the panel did not take the click on \"%s\"", labels[direction]);
    if (want >= 0 && (button->lamp != 0) != (want != 0)) {
        Tools *on_off = Widget_Find(runner->app->panel_window, "On/Off");
        if (!on_off)
            return Fail(runner, "the panel has no button \"On/Off\"");
        if (!Click_At(runner, on_off->x + on_off->width / 2, on_off->y + on_off->height / 2))
            return 0;
        if ((button->lamp != 0) != (want != 0))
            return Fail(runner, "\"On/Off\" did not switch \"%s\" %s", labels[direction], words[2].c_str());
    }
    return 1;
}

/* Clicks a valuator where it reads the value nearest to radians. */
int Valuator_Drive(Runner *runner, const char *name, double radians, double *reached)
{
    Valuators *valuator = dynamic_cast<Valuators *>(Widget_Find(runner->app->panel_window, name));
    if (!valuator)
        return Fail(runner, "the panel has no valuator \"%s\"", name);
    if (valuator->bound_1 == valuator->bound_0)
        return Fail(runner, "the valuator \"%s\" has no range", name);
    double fraction = (radians - valuator->bound_0) / (valuator->bound_1 - valuator->bound_0);
    if (fraction < -1e-6 || fraction > 1.0 + 1e-6)
        return Fail(runner, "%.2f degrees lies outside the valuator's range", radians * degrees_per_radian);
    int x = 0, y = 0;
    AzTools_Valuator_Point(valuator, static_cast<float>(radians), &x, &y);
    if (!Click_At(runner, x, y))
        return 0;
    *reached = valuator->Read();
    return 1;
}

int Step_Rotate(Runner *runner, const std::vector<std::string> &words)
{
    double alpha, beta;
    if (!Number_Parse(words[1], &alpha) || !Number_Parse(words[2], &beta))
        return Fail(runner, "angles are numbers (degrees)");
    if (!Panel_Needed(runner))
        return 0;
    double alpha_reached = 0.0, beta_reached = 0.0;
    if (!Valuator_Drive(runner, "rot-x-left", alpha / degrees_per_radian, &alpha_reached) ||
        !Valuator_Drive(runner, "rot-y-bottom", beta / degrees_per_radian, &beta_reached))
        return 0;
    Error_Fct(hwnd, 4, "rotation: alpha %.2f degrees, beta %.2f degrees (asked %.2f, %.2f)",
              alpha_reached * degrees_per_radian, beta_reached * degrees_per_radian, alpha, beta);
    return 1;
}

int Step_Slice(Runner *runner, const std::vector<std::string> &words)
{
    long wanted = 0;
    int middle = words[1] == "middle";
    if (!middle && (!Integer_Parse(words[1], &wanted) || wanted < 0))
        return Fail(runner, "a slice is a number from 0, or middle");
    if (!Panel_Needed(runner))
        return 0;
    Sliders *slider = dynamic_cast<Sliders *>(Widget_Find(runner->app->panel_window, "Demo Frame"));
    if (!slider)
        return Fail(runner, "the panel has no slider \"Demo Frame\"");
    if (slider->Disabled())
        return Fail(runner, "the slider \"Demo Frame\" is disabled (one slice only, or no study)");
    if (middle)
        wanted = static_cast<long>((slider->minimum + slider->maximum) / 2.0f);
    if (wanted > slider->maximum)
        return Fail(runner, "slice %ld is beyond the last slice (%d)", wanted, static_cast<int>(slider->maximum));
    double range = slider->maximum - slider->minimum;
    int x = slider->x + static_cast<int>(lround((wanted - slider->minimum) / range * (slider->width - 1)));
    if (!Click_At(runner, x, slider->y + slider->height / 2))
        return 0;
    // A slider shorter than its range of slices cannot reach every slice by a click: the wheel over it then
    // steps one slice at a time, as a user would finish.
    Pointer(runner, x, slider->y + slider->height / 2, AZ_POINTER_NONE);
    for (long turns = labs(wanted - static_cast<long>(slider->Read())) + 1; turns > 0; turns--) {
        long reached = static_cast<long>(slider->Read());
        if (reached == wanted)
            return 1;
        if (!Input_Ready(runner))
            return 0;
        runner->app->module.Ctrl_Scroll(nullptr, reached < wanted ? -1 : 1);
        AzApp_Pump(runner->app);
    }
    return Fail(runner, "the slider cannot reach slice %ld (it reads %d)", wanted, static_cast<int>(slider->Read()));
}

int Step_Wait(Runner *runner, const std::vector<std::string> &words)
{
    double seconds = AZ_SESSION_WAIT_S;
    if (words.size() > 1 && (!Number_Parse(words[1], &seconds) || seconds < 0))
        return Fail(runner, "a wait is a number of seconds");
    if (!AzApp_Wait(runner->app, static_cast<int>(seconds * 1000.0)))
        return Fail(runner, "still busy after %g seconds", seconds);
    return 1;
}



int Step_Paint(Runner *runner, const std::vector<std::string> &words)
{
    int direction, tag;
    long frame, x, y;
    double radius;
    std::string error;
    if (!Direction_Parse(runner, words[1], &direction))
        return 0;
    if (!Integer_Parse(words[2], &frame) || frame < 0)
        return Fail(runner, "a frame is a number from 0");
    if (!Integer_Parse(words[3], &x) || !Integer_Parse(words[4], &y))
        return Fail(runner, "a point is two whole numbers (frame pixels)");
    if (!Number_Parse(words[5], &radius) || radius < 0 || radius > 1000)
        return Fail(runner, "a radius is a number of frame pixels from 0 to 1000");
    if (!AzTags_Parse(words[6], &tag, &error) ||
        AzTags_Paint(runner->app, direction, static_cast<int>(frame), static_cast<int>(x), static_cast<int>(y),
                     static_cast<float>(radius), tag, &error) < 0)
        return Fail(runner, "%s", error.c_str());
    return 1;
}


int Step_Echo(const std::vector<std::string> &words)
{
    std::string text;
    for (size_t i = 1; i < words.size(); i++)
        text += (i > 1 ? " " : "") + words[i];
    printf("%s\n", text.c_str());
    return 1;
}

int Step_Run(Runner *runner, const std::vector<std::string> &words)
{
    const std::string &verb = words[0];
    if (verb == "open")
        return Step_Open(runner, words);
    if (verb == "resize")
        return Step_Resize(runner, words);
    if (verb == "close") {
        AzApp_Panel_Close(runner->app);
        return 1;
    }
    if (verb == "click")
        return Step_Click(runner, words);
    if (verb == "drag")
        return Step_Drag(runner, words);
    if (verb == "move")
        return Step_Move(runner, words);
    if (verb == "wheel")
        return Step_Wheel(runner, words);
    if (verb == "key")
        return Step_Key(runner, words);
    if (verb == "help")
        return Step_Help(runner, words);
    if (verb == "leave")
        return Step_Leave(runner);
    if (verb == "rotate")
        return Step_Rotate(runner, words);
    if (verb == "direction")
        return Step_Direction(runner, words);
    if (verb == "slice")
        return Step_Slice(runner, words);
    if (verb == "wait")
        return Step_Wait(runner, words);
    if (verb == "save-panel")
        return Step_Save_Panel(runner, words);
    if (verb == "save-frame")
        return Step_Save_Frame(runner, words);
    if (verb == "dump")
        return Step_Dump(runner, words);
    if (verb == "paint")
        return Step_Paint(runner, words);
    if (verb == "save-tags")
        return Step_Save_Tags(runner, words);
    if (verb == "dicom")
        return Step_Dicom(runner, words);
    return Step_Echo(words);
}

} // namespace

int AzSession_Run(AzApp *app, const std::vector<AzSession_Step> &steps, const std::string &name, std::string *error)
{
    Runner runner;
    runner.app = app;
    runner.x = runner.y = 0;
    for (const AzSession_Step &step : steps) {
        Error_Fct(hwnd, 11, "%s:%d: %s", name.c_str(), step.line, step.words[0].c_str());
        // Every step but a wait and an echo is input to the host or reads what the worker writes.
        int input = step.words[0] != "wait" && step.words[0] != "echo";
        int done = (!input || Input_Ready(&runner)) && Step_Run(&runner, step.words);
        AzApp_Pump(app);
        if (!done) {
            *error = Located(name, step.line, AzOutput_Message(&runner.output, runner.failure));
            return AZ_EXIT_INPUT;
        }
    }
    if (!AzOutput_Commit(&runner.output, error))
        return AZ_EXIT_INPUT;
    return AZ_EXIT_OK;
}

/* With the host's default spacing the valuators of a panel this wide are
 * 1801 pixels long: 1800 steps for their 180 degrees, so that angles in
 * tenths of a degree are met exactly. */
static const int reslice_panel_width = 1851;

std::string AzSession_Reslice(double alpha, double beta, int panel_picture)
{
    char text[1024];
    snprintf(text, sizeof(text),
             "open 0 %d\n"
             "direction oblique on\n"
             "rotate %.17g %.17g\n"
             "click \"Update DB\"\n"
             "wait\n",
             reslice_panel_width, alpha, beta);
    std::string script = text;
    // The panel picture shows the panel at its usual width, turned to the middle slice.
    if (panel_picture)
        script += "resize\nslice middle\n";
    return script;
}

Tools *AzSession_Widget(HWND panel, const std::string &name) { return Widget_Find(panel, name); }
