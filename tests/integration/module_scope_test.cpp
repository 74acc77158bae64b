/*
 * The module's own calls stay inside it: when the process already holds a
 * library exporting the same entry points (another copy of the module,
 * loaded for every library to see), a click that makes the module redraw
 * itself must still redraw the module the host loaded, or its panel keeps
 * showing the other copy's state.
 */
#include <dlfcn.h>
#include <stdlib.h>

#include <math.h>

#include <gtest/gtest.h>

#include "host/corvantis_tools.h"
#include "hostlib/tools/az_tools.h"
#include "host_run.h"

TEST(ModuleScope, ASecondCopyInTheProcessDoesNotTakeTheModulesOwnCalls)
{
    std::string folder = Output_Folder("module_scope");
    ASSERT_FALSE(folder.empty());
    std::string copy = folder + "/other_copy.so";
    ASSERT_EQ(0, system(("cp '" + std::string(AZ_MODULE_PATH) + "' '" + copy + "'").c_str()));
    void *other = dlopen(copy.c_str(), RTLD_NOW | RTLD_GLOBAL);
    ASSERT_NE(nullptr, other) << dlerror();
    ASSERT_NE(nullptr, dlsym(other, "Ctrl_Draw"));

    AzApp app;
    ASSERT_TRUE(Host_Start(&app));
    AzStudy_Plan plan;
    plan.width = 20;
    plan.height = 18;
    plan.slices = 8;
    plan.name = "Scope";
    ASSERT_EQ(AZ_EXIT_OK, AzApp_Load_Built(&app, plan, "scope phantom"));
    // Choosing the Oblique direction redraws the panel, which enables the valuators.
    std::string error = Host_Session(&app, "open\ndirection oblique on\nrotate 20 -15\n", "scope");
    double alpha = -1.0;
    for (int i = 0; Tools *tool = AzTools_Widget(app.panel_window, i); i++)
        if (Valuators *valuator = dynamic_cast<Valuators *>(tool))
            if (valuator->style & 0x4u)
                alpha = valuator->Read() * 180.0 / M_PI;
    AzApp_Stop(&app);
    dlclose(other);
    EXPECT_EQ("", error);
    EXPECT_NEAR(20.0, alpha, 0.62) << "half a step of a 150-pixel valuator";
}
