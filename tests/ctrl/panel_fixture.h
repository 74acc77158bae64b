/* The module's panel in a host window of its own, on the shared host
 * fixture, with the toolkit's pointer record. */
#ifndef PANEL_FIXTURE_H
#define PANEL_FIXTURE_H

#include <algorithm>
#include <string>
#include <vector>

#include "hostlib/structures/az_db.h"
#include "hostlib/tools/az_tools.h"
#include "hostlib/win32/az_win.h"
#include "module/entry.h"
#include "tests/support/golden.h"
#include "tests/support/host_steps.h"
#include "tests/support/host_test.h"
#include "tests/support/panel_state.h"

/* Panel flags of Ctrl_Update, as the panel's entry points raise them. */
const uint64_t UPDATE_DRAW = 0x10000000000000ull;
const uint64_t UPDATE_SELECT = 0x20000000000000ull;
const uint64_t UPDATE_ROTATE = 0x40000000000000ull;
const uint64_t UPDATE_SLICE = 0x80000000000000ull;

inline std::string Hex8(const void *handle)
{
    char text[16];
    snprintf(text, sizeof text, "%08x", (unsigned int)(uintptr_t)handle);
    return text;
}

class Panel_Test : public Host_Test {
  protected:
    void SetUp() override
    {
        Host_Test::SetUp();
        AzHost_Script_Flag_Set(0x20);   // no dialogs from a frame-creation run
        AzHost_Help_Dir_Set(AZ_BUILD_DIR);
        Make_Panel(200, 600);
    }
    void TearDown() override
    {
        EXPECT_EQ(Wait(), 1);
        Panel_Destroy(panel);
        Host_Test::TearDown();
    }
    /* Creates and lays out the panel in a new window of that size. */
    void Make_Panel(int width, int height)
    {
        if (image_window)
            DestroyWindow(image_window);
        if (panel)
            DestroyWindow(panel);
        ASSERT_NE(panel = Panel_Make("PanelTestWindow", width, height), nullptr);
    }
    /* Open (mode 0) and shown. */
    void Open_Shown()
    {
        ASSERT_EQ(Ctrl_Open(0), 1);
        Ctrl_Show();
    }
    /* Pointer over a widget's centre, or a point, with no button down. */
    void Over(const Tools &tool) { Over_Point(tool.x + tool.width / 2, tool.y + tool.height / 2); }
    void Over_Point(int x, int y) { AzTools_Pointer_Set(panel, x, y, AZ_POINTER_NONE); }

    /* The text with the panel window's handle as "{panel}". */
    std::string Panel_Named(std::string text)
    {
        size_t at = text.find(Hex8(panel));
        return at == std::string::npos ? text : text.replace(at, 8, "{panel}");
    }

    HWND panel = nullptr;
};

/* The panel's widgets by name, as event scripts and golden files write them. */
inline const std::vector<std::pair<std::string, const Tools *>> &Widgets()
{
    static const std::vector<std::pair<std::string, const Tools *>> all{
        {"box_main", &box_main},         {"button_update", &button_update},         {"slider_frame", &slider_frame},
        {"box_preview", &box_preview},   {"valuator_vert[0]", &valuator_vert[0]},   {"valuator_vert[1]", &valuator_vert[1]},
        {"valuator_horiz[0]", &valuator_horiz[0]}, {"valuator_horiz[1]", &valuator_horiz[1]},
        {"button_on_off", &button_on_off}, {"button_dir[0]", &button_dir[0]},     {"button_dir[1]", &button_dir[1]},
        {"select_instance", &select_instance}, {"box_image", &box_image}};
    return all;
}
inline bool Is_Widget(const std::string &place)
{
    const std::string name = place.substr(0, place.find('+'));
    for (const auto &widget : Widgets())
        if (widget.first == name)
            return true;
    return false;
}
inline const Tools *Widget(const std::string &name)
{
    for (const auto &widget : Widgets())
        if (widget.first == name)
            return widget.second;
    ADD_FAILURE() << "no widget named " << name;
    return nullptr;
}

/* The Original and Oblique directions of the root's study class number `study`. */
inline Kelvra_Oblique *Org_Of(int study)
{
    return static_cast<Kelvra_Oblique *>(AzDb_Root()->Child_Get_Pt(study)->Child_Get_Pt(0));
}
inline Kelvra_Oblique *Obl_Of(int study)
{
    return static_cast<Kelvra_Oblique *>(AzDb_Root()->Child_Get_Pt(study)->Child_Get_Pt(1));
}

#endif
