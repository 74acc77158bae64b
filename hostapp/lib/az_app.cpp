/*
 * The host program's set-up.
 */
#include "az_app.h"
#include "az_labels.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <random>

#include "../../hostlib/structures/az_progress.h"
#include "../../hostlib/tools/az_tools.h"
#include "../../hostlib/util/az_console.h"
#include "../../hostlib/win32/az_win.h"
#include "az_dicom_write.h"
#include "az_error.h"
#include "az_session.h"

namespace {

const char main_class[] = "AzozudeMain";
const int main_width = 640, main_height = 480;
/* Pumping waits this long for a message before looking again: a worker's
 * end posts nothing, and the benchmarks time an apply to its end. */
const DWORD idle_wait_ms = 1;

int Main_Window_Create(AzApp *app)
{
    WNDCLASSA window_class;
    memset(&window_class, 0, sizeof(window_class));
    window_class.lpfnWndProc = DefWindowProcA;
    window_class.lpszClassName = main_class;
    RegisterClassA(&window_class); // already registered by an earlier start: fine
    app->main_window = CreateWindowExA(0, main_class, "RUD Azozude", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                       main_width, main_height, nullptr, nullptr, nullptr, nullptr);
    if (!app->main_window)
        return 0;
    hwnd = app->main_window;
    SetActiveWindow(app->main_window);
    return 1;
}

int Tool_Width(void)
{
    int width = static_cast<int>(Fct_Variable_Value("$INTERFACE_TOOL_WIDTH", nullptr, nullptr, nullptr));
    return width > 0 ? width : AZ_APP_PANEL_WIDTH;
}

/* The panel lays itself out for the host's tool width: a panel of another
 * width changes the setting (0 leaves it). */
void Tool_Width_Set(int width)
{
    if (width > 0)
        AzVar_Set("$INTERFACE_TOOL_WIDTH", width);
}

/* A time point: a whole number from 0. */
int Time_Point_Parse(const char *text, int *time_point)
{
    char *end = nullptr;
    long value = strtol(text, &end, 10);
    if (!*text || *end != '\0' || value < 0 || value > 65535)
        return 0;
    *time_point = static_cast<int>(value);
    return 1;
}

/* "--time T" or "--time=T" at argv[*i]; 0 with the reason in error. */
int Time_Option(int argc, char **argv, int *i, AzApp_Options *options, std::string *error)
{
    const char *word = argv[*i];
    const char *value = strncmp(word, "--time=", 7) == 0 ? word + 7 : (*i + 1 < argc ? argv[++*i] : nullptr);
    if (value && Time_Point_Parse(value, &options->time_point))
        return 1;
    *error = "--time needs a time point (a whole number from 0)";
    if (value)
        *error += std::string(", not \"") + value + "\"";
    return 0;
}

/* Keeps only the series asked for (by number from 1, or by UID) and
 * numbers the kept one as it was; 0 (reported) when there is no such
 * series. */
int Series_Choose(const std::string &wanted, const std::string &path, std::vector<AzSeries> *series, int *first)
{
    *first = 1;
    if (wanted.empty())
        return 1;
    int index = -1;
    for (size_t i = 0; i < series->size(); i++)
        if ((*series)[i].uid == wanted || std::to_string(i + 1) == wanted)
            index = static_cast<int>(i);
    if (index < 0) {
        std::string list;
        for (size_t i = 0; i < series->size(); i++)
            list += (i ? ", " : "") + std::to_string(i + 1) + " " + (*series)[i].uid;
        AzError(AZ_EXIT_INPUT, "%s: no series \"%s\" (it holds %d: %s)", path.c_str(), wanted.c_str(),
                  static_cast<int>(series->size()), list.c_str());
        return 0;
    }
    AzSeries kept = std::move((*series)[index]);
    series->clear();
    series->push_back(std::move(kept));
    *first = index + 1;
    return 1;
}

/* The series of each path into the database (AzApp_Load without the clock). */
int Studies_Load(AzApp *app, const std::vector<std::string> &paths, const std::string &labels_path)
{
    AzLabels labels;
    AzLoad_Report label_report;
    int has_labels = !labels_path.empty();
    // A segmentation is placed by its frames' positions: it is read once the study's grid is known.
    int is_segmentation = has_labels && AzDicom_Is_Segmentation(labels_path);
    if (has_labels && !is_segmentation && !AzNifti_Read_Labels(labels_path, &labels, &label_report))
        return AZ_EXIT_INPUT;
    for (const std::string &path : paths) {
        std::vector<AzSeries> series;
        AzLoad_Report report;
        if (AzSeries_Read(path, &series, &report) == 0) {
            AzError(AZ_EXIT_INPUT, "%s: nothing could be loaded", path.c_str());
            return AZ_EXIT_INPUT;
        }
        if (report.files_bad > 0)
            AzError(AZ_EXIT_INPUT, "%s: %d of %d files skipped", path.c_str(), report.files_bad, report.files_seen);
        int first = 1;
        if (!Series_Choose(app->options.series, path, &series, &first))
            return AZ_EXIT_INPUT;
        for (size_t i = 0; i < series.size(); i++) {
            const AzSeries &one = series[i];
            const AzLabels *tags = has_labels && app->studies.empty() ? &labels : nullptr;
            if (tags && is_segmentation && !AzDicom_Read_Segmentation(labels_path, one, &labels, &label_report))
                return AZ_EXIT_INPUT;
            AzLoaded_Series loaded;
            std::string error;
            if (!AzSeries_Insert(one, tags, &loaded, &error, app->options.time_point)) {
                AzError(AZ_EXIT_INPUT, "%s: %s", path.c_str(), error.c_str());
                return AZ_EXIT_INPUT;
            }
            loaded.series_index = first + static_cast<int>(i);
            app->studies.push_back(loaded);
            AzApp_Pump(app);
        }
    }
    if (has_labels) {
        AzTags_Map_Set(labels); // the tags now stand for the labels' values, names and colours
        if (app->studies.empty())
            AzError(AZ_EXIT_INPUT, "%s: no study to put the labels on", labels_path.c_str());
    }
    return AZ_EXIT_OK;
}

double Seconds_Since(long start_ms) { return (AzApp_Clock_Ms() - start_ms) / 1000.0; }

} // namespace

AzApp::AzApp()
    : module{}, main_window(nullptr), panel_window(nullptr), panel_width(0), panel_height(0), tool_width_default(0),
      panel_open(0), load_s(0.0), apply_start_ms(0), apply_s(-1.0), study_current(0)
{
}

int AzApp_Options_Parse(int argc, char **argv, AzApp_Options *options, std::string *error)
{
    char default_path[1024];
    options->module_path = AzModule_Default_Path(default_path, sizeof(default_path));
    options->console_level = 4;
    options->command.clear();
    options->words.clear();
    options->time_point = 0;
    // Global options may stand anywhere, so that they can be added at the end of a command line.
    for (int i = 1; i < argc; i++) {
        const char *word = argv[i];
        if (strcmp(word, "--module") == 0) {
            if (i + 1 >= argc) {
                *error = "--module needs a path";
                return 0;
            }
            options->module_path = argv[++i];
        } else if (strncmp(word, "--module=", 9) == 0) {
            options->module_path = word + 9;
        } else if (strcmp(word, "--time") == 0 || strncmp(word, "--time=", 7) == 0) {
            if (!Time_Option(argc, argv, &i, options, error))
                return 0;
        } else if (strcmp(word, "-q") == 0 || strcmp(word, "--quiet") == 0) {
            options->console_level = 2;
        } else if (strcmp(word, "-v") == 0 || strcmp(word, "--verbose") == 0) {
            options->console_level = 11;
        } else if (strcmp(word, "-vv") == 0) {
            options->console_level = 15;
        } else if (options->command.empty()) {
            options->command = word;
        } else {
            options->words.push_back(word);
        }
    }
    return 1;
}

int AzApp_Start(AzApp *app, const AzApp_Options &options)
{
    app->options = options;
    AzConsole_Level_Set(options.console_level);
    char error[2048];
    if (!AzModule_Load(&app->module, options.module_path.c_str(), error, sizeof(error)))
        return AzError(AZ_EXIT_MODULE, "%s", error);
    if (!Main_Window_Create(app)) {
        AzError(AZ_EXIT_MODULE, "cannot create the main window: %s", Error_Windows(0));
        AzModule_Unload(&app->module);
        return AZ_EXIT_MODULE;
    }
    AzApp_Reset(app->module.Class_Insert);
    AzHost_Module_Set(app->module.Update_A, app->module.Update_Register());
    return AZ_EXIT_OK;
}

int AzApp_Load(AzApp *app, const std::vector<std::string> &paths, const std::string &labels_path)
{
    long start = AzApp_Clock_Ms();
    int code = Studies_Load(app, paths, labels_path);
    app->load_s += Seconds_Since(start);
    return code;
}

AzPhantom *AzApp_Study_Enter(const AzPhantom_Plan &plan, const std::string &source, int order, unsigned int seed,
                           int time_point, AzLoaded_Series *loaded)
{
    AzPhantom *study = AzPhantom_Build(plan);
    if (!study)
        return nullptr;
    AzLoaded_Series entered;
    entered.name = plan.name ? plan.name : "";
    entered.source = source;
    entered.series_key = study->file->images[0]->series_uid;
    entered.file = study->file;
    entered.time_point = time_point < 0 ? 0 : time_point;
    std::vector<size_t> feed(study->frame_bunch.size());
    for (size_t i = 0; i < feed.size(); i++)
        feed[i] = order == AZ_ORDER_DESCENDING ? feed.size() - 1 - i : i;
    if (order == AZ_ORDER_SHUFFLED) {
        // The builder's own shuffle (AzPhantom_Insert): one seed, one order.
        std::mt19937 random(seed);
        for (size_t i = feed.size(); i > 1; i--)
            std::swap(feed[i - 1], feed[random() % i]);
    }
    // The frames of one time point, as for a study read from disk.
    int per_image = plan.slices_per_image > 0 ? plan.slices_per_image : plan.slices;
    for (size_t i : feed) {
        if (time_point >= 0 && study->frame_slice[i] / per_image != time_point)
            continue;
        entered.frames_nb++;
        entered.inserted_nb += AzDb_Insert(study->file, study->frame_bunch[i], study->frame_slice[i]) != 0;
    }
    AzApp_Pump(nullptr);
    if (loaded)
        *loaded = entered;
    return study;
}

int AzApp_Load_Built(AzApp *app, const AzPhantom_Plan &plan, const std::string &source)
{
    long start = AzApp_Clock_Ms();
    int time_point = app->options.time_point;
    if (time_point >= plan.times) {
        AzError(AZ_EXIT_INPUT, "%s: no time point %d: the study has %d time point(s)", source.c_str(), time_point,
                  plan.times);
        return AZ_EXIT_INPUT;
    }
    AzLoaded_Series loaded;
    AzPhantom *study = AzApp_Study_Enter(plan, source, AZ_ORDER_ASCENDING, 0, time_point, &loaded);
    if (!study) {
        AzError(AZ_EXIT_INPUT, "%s: the study cannot be built", source.c_str());
        return AZ_EXIT_INPUT;
    }
    AzPhantom_Free(study);
    app->studies.push_back(loaded);
    app->load_s += Seconds_Since(start);
    if (loaded.inserted_nb == loaded.frames_nb)
        return AZ_EXIT_OK;
    AzError(AZ_EXIT_INPUT, "%s: the database took %d of %d frames", source.c_str(), loaded.inserted_nb,
              loaded.frames_nb);
    return AZ_EXIT_INPUT;
}

int AzApp_Load_Phantom(AzApp *app)
{
    AzPhantom_Plan plan;
    plan.width = 96;
    plan.height = 96;
    plan.slices = 48;
    plan.spacing[2] = 2.0f;
    plan.name = "Phantom";
    return AzApp_Load_Built(app, plan, "built-in phantom");
}

int AzApp_Panel_Open(AzApp *app, unsigned short mode, int width)
{
    if (!app->panel_window) {
        app->tool_width_default = Tool_Width();
        Tool_Width_Set(width);
        app->panel_width = Tool_Width();
        app->panel_height = app->module.Ctrl_Register();
        app->panel_window = CreateWindowExA(0, AZ_TOOLS_CLASS, "RUD Azozude", WS_CHILD | WS_VISIBLE, 0, 0,
                                            app->panel_width, app->panel_height, app->main_window, nullptr,
                                            nullptr, nullptr);
        if (!app->panel_window) {
            AzError(AZ_EXIT_MODULE, "cannot create the panel window: %s", Error_Windows(0));
            return 0;
        }
        app->module.Ctrl_Create(app->panel_window, app->panel_width, app->panel_height);
        app->module.Ctrl_Resize(app->panel_window, app->panel_width, app->panel_height);
    }
    app->module.Ctrl_Open(mode);
    app->panel_open = 1;
    app->module.Ctrl_Show();
    app->module.Ctrl_Draw();
    AzApp_Pump(app);
    return 1;
}

int AzApp_Panel_Resize(AzApp *app, int width)
{
    if (!app->panel_window)
        return 0;
    Tool_Width_Set(width > 0 ? width : app->tool_width_default);
    app->panel_width = Tool_Width();
    app->panel_height = app->module.Ctrl_Register();
    MoveWindow(app->panel_window, 0, 0, app->panel_width, app->panel_height, FALSE);
    app->module.Ctrl_Resize(app->panel_window, app->panel_width, app->panel_height);
    app->module.Ctrl_Draw();
    AzApp_Pump(app);
    return 1;
}

void AzApp_Panel_Close(AzApp *app)
{
    if (!app->panel_open)
        return;
    app->module.Ctrl_Close();
    app->panel_open = 0;
    AzApp_Pump(app);
}

int AzApp_Reset(Kelvra_Insert_Fct module_insert)
{
    if (AzWin_Threads_Alive() != 0)
        return 0;
    AzHost_Trace_Stop();
    AzDb_Init(); // classes, views, files, variables, queue, hooks, help, script flag; tag colours
    AzDb_Tree_Default(module_insert);
    AzHost_Interface_Thread_Set();
    AzTools_Register();
    AzProgress_Register();
    AzProgress_Forget();
    while (AzTools_Wait_Cursor() > 0)
        Reset_Curs_Wait(nullptr);
    AzTags_Map_Reset();
    AzWin_Fail_Create(nullptr);
    AzWin_Fail_Thread(0);
    AzWin_Delay_Off();
    AzTools_Fail_Grow(0);
    AzProgress_Fail_Record(0);
    return 1;
}

int AzApp_Pump(AzApp *app)
{
    (void)app;
    int total = 0;
    for (;;) {
        int done = AzWin_Pump() + AzHost_Pump();
        if (done == 0)
            return total;
        total += done;
    }
}

int AzApp_Interface_Locked(void)
{
    unsigned char *lock = AzDb_Lock_Focus();
    if (lock && __atomic_load_n(lock, __ATOMIC_ACQUIRE) != 0)
        return 1;
    // The worker clears the byte before its last calls: it is over only when its thread has ended.
    return AzWin_Threads_Alive() != 0;
}

int AzApp_Idle(AzApp *app)
{
    AzApp_Pump(app);
    if (AzApp_Interface_Locked() || AzTools_Wait_Cursor() != 0 || AzHost_Pending() != 0)
        return 0;
    // The worker may have posted or queued between the first pass and its end: one more pass finds nothing.
    return AzApp_Pump(app) == 0;
}

namespace {

/* An apply whose start was noted ends when the host is found idle. */
void Apply_Time_End(AzApp *app)
{
    if (app && app->apply_start_ms) {
        app->apply_s = Seconds_Since(app->apply_start_ms);
        app->apply_start_ms = 0;
    }
}

} // namespace

int AzApp_Input_Wait(AzApp *app, int timeout_ms)
{
    long deadline = AzApp_Clock_Ms() + timeout_ms;
    for (;;) {
        AzApp_Pump(app);
        if (!AzApp_Interface_Locked()) {
            // What the worker queued before it let go is shown before the next input.
            AzApp_Pump(app);
            Apply_Time_End(app);
            return 1;
        }
        if (AzApp_Clock_Ms() >= deadline)
            return 0;
        AzWin_Wait(idle_wait_ms);
    }
}

int AzApp_Wait(AzApp *app, int timeout_ms)
{
    long deadline = AzApp_Clock_Ms() + timeout_ms;
    for (;;) {
        if (AzApp_Idle(app)) {
            Apply_Time_End(app);
            return 1;
        }
        if (AzApp_Clock_Ms() >= deadline)
            return 0;
        AzWin_Wait(idle_wait_ms);
    }
}

int AzApp_Session(AzApp *app, const std::string &text, const std::string &name, std::string *error)
{
    std::vector<AzSession_Step> steps;
    if (!AzSession_Parse(text, name, &steps, error))
        return AZ_EXIT_INPUT;
    return AzSession_Run(app, steps, name, error);
}

void AzApp_Stop(AzApp *app)
{
    if (app->module.handle) {
        // Not even the panel's close runs beside a worker.
        int idle = AzApp_Wait(app, 60000);
        if (idle) {
            AzApp_Panel_Close(app);
            idle = AzApp_Wait(app, 60000);
        }
        if (!idle) {
            // A worker still runs the module's code on its classes and windows: all stay until the process ends.
            AzError(AZ_EXIT_MODULE, "the module's worker has not ended: the module stays loaded");
            return;
        }
        // The module's classes must go while their code is still loaded.
        AzDb_Reset();
        AzModule_Unload(&app->module);
    }
    if (app->panel_window)
        DestroyWindow(app->panel_window);
    if (app->main_window)
        DestroyWindow(app->main_window);
    app->panel_window = app->main_window = nullptr;
    app->studies.clear();
}

Kelvra_Class *AzApp_Study(AzApp *app, int index)
{
    if (index < 0 || index >= static_cast<int>(app->studies.size()))
        return nullptr;
    return AzLoaded_Series_Class(app->studies[index]);
}

Kelvra_Class *AzApp_Study_Direction(Kelvra_Class *study, int direction)
{
    if (!study || direction < 0 || direction >= study->Child_Get_Nb())
        return nullptr;
    return study->Child_Get_Pt(direction);
}

Kelvra_Class *AzApp_Study_Class(const AzPhantom *study)
{
    if (!study || !study->file || study->file->images_nb < 1)
        return nullptr;
    return AzStudy_Find(study->file->images[0]->series_uid);
}

Kelvra_Class *AzApp_Direction(AzApp *app, int study, int direction)
{
    return AzApp_Study_Direction(AzApp_Study(app, study), direction);
}

int AzApp_Study_Current(AzApp *app)
{
    // The panel marks its current class (a direction) in the class's own flag word.
    const uint64_t panel_current = AZ_FLAG_PANEL_CURRENT;
    for (int i = 0; i < static_cast<int>(app->studies.size()); i++)
        for (int d = 0; d < 2; d++) {
            Kelvra_Class *direction = AzApp_Direction(app, i, d);
            if (direction && direction->Flag_Get_Bit(0x10, nullptr, panel_current)) {
                app->study_current = i;
                return i;
            }
        }
    // The panel is closed (its close clears every mark): the study it showed last.
    return app->study_current < static_cast<int>(app->studies.size()) ? app->study_current : 0;
}

std::string AzApp_Group_Text(unsigned int bits)
{
    static const struct {
        unsigned int bit;
        const char *text;
    } conditions[] = {
        {0x80000000u, "no frames or unusable headers"},
        {0x40000000u, "one frame only"},
        {0x01000000u, "resolutions differ"},
        {0x02000000u, "pixel sizes differ"},
        {0x20000000u, "frames not parallel"},
        {0x10000000u, "positions not along the normal (tilted)"},
        {0x00020000u, "two frames at one position"},
        {0x00010000u, "frame order does not follow location"},
        {AZ_GROUP_UNEVEN, "slices not evenly spaced"},
    };
    if (bits == 0)
        return "valid 3D group";
    if (bits & AZ_GROUP_UNEVEN) // the host's own reason for the unusable bit
        bits &= ~0x80000000u;
    std::string text = "not a 3D group:";
    for (const auto &condition : conditions)
        if (bits & condition.bit)
            text += std::string(" ") + condition.text + ";";
    text.pop_back();
    char code[24];
    snprintf(code, sizeof(code), " (0x%08x)", bits | ((bits & AZ_GROUP_UNEVEN) ? 0x80000000u : 0u));
    return text + code;
}
