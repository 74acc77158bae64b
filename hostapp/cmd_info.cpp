/*
 * azozude info: the module's identity, and with studies their series and
 * geometry and whether they form a 3D group.
 */
#include <stdio.h>

#include "az_commands.h"
#include "lib/az_labels.h"

namespace {

void Module_Print(AzModule *module)
{
    unsigned int class_type = 0;
    const char *display_name = module->Class_Register(&class_type);
    printf("version: %s\n", module->Version());
    printf("class key: %s\n", module->Register(0));
    printf("name: %s\n", display_name);
    printf("class type: %u\n", class_type);
}

void Vector_Print(const char *label, const Vect &v)
{
    printf("%s (%.4f, %.4f, %.4f)", label, v.x + 0.0f, v.y + 0.0f, v.z + 0.0f); // no "-0.0000"
}

void Study_Print(AzApp *app, int index)
{
    const AzLoaded_Series &loaded = app->studies[index];
    const Kelvra_File *file = loaded.file;
    const Vexa_Image *first = file->images[0];
    const Vexa_Image *last = file->images[file->images_nb - 1];
    printf("\nstudy %d: %s\n", index + 1, loaded.name.c_str());
    printf("  series number: %d (--series %d picks it)\n", loaded.series_index, loaded.series_index);
    printf("  source: %s\n", loaded.source.c_str());
    printf("  series: %s\n", first->series_uid);
    printf("  modality: %s, patient: %s\n", first->modality, first->patient_name);
    printf("  size: %u x %u pixels, %d frames, %u time point(s)\n", first->width, first->height, file->images_nb,
           first->times_nb);
    printf("  spacing: %.4g x %.4g x %.4g mm\n", first->pixel_size.x, first->pixel_size.y, first->pixel_size.z);
    printf("  orientation:");
    Vector_Print(" row", first->axis_row);
    Vector_Print(" column", first->axis_col);
    Vector_Print(" normal", first->axis_normal);
    // Adding zero turns -0 into 0 for the eye.
    printf("\n  first frame at (%.2f, %.2f, %.2f) mm; locations %.2f .. %.2f mm\n", first->position.x + 0.0f,
           first->position.y + 0.0f, first->position.z + 0.0f, first->location + 0.0f, last->location + 0.0f);
    printf("  values: grey level x %.9g + %.9g\n", first->rescale_slope, first->rescale_intercept + 0.0f);
    printf("  window: %.1f .. %.1f\n", first->display_low * first->rescale_slope + first->rescale_intercept,
           first->display_high * first->rescale_slope + first->rescale_intercept);
    if (first->times_nb > 1)
        printf("  database frames: time point %d of %u (--time T chooses; the images keep every time point)\n",
               loaded.time_point, first->times_nb);
    Kelvra_Class *original = AzApp_Direction(app, index, 0);
    if (original)
        printf("  3D group: %s\n", AzApp_Group_Text(Fct_Group_Test(original)).c_str());
    else
        printf("  3D group: the module made no direction classes for it\n");
}

} // namespace

int Command_Info(AzApp_Options *options)
{
    Option_Values values;
    std::vector<std::string> words;
    if (!Options_Parse(options->words, {{"--labels", 1, "a NIfTI label volume"}}, &values, &words))
        return AZ_EXIT_USAGE;
    std::string labels = values.count("--labels") ? values["--labels"] : std::string();
    AzApp app;
    int code = AzApp_Start(&app, *options);
    if (code != AZ_EXIT_OK)
        return code;
    Module_Print(&app.module);
    if (!words.empty()) {
        code = AzApp_Load(&app, words, labels);
        for (int i = 0; i < static_cast<int>(app.studies.size()); i++)
            Study_Print(&app, i);
    }
    if (!labels.empty() && code == AZ_EXIT_OK)
        printf("%s", AzLabels_Info(&app, labels).c_str());
    fflush(stdout);
    AzApp_Stop(&app);
    return code;
}
