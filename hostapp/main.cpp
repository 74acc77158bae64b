/*
 * azozude: the reference host program.  It loads the module, reads studies
 * into the database and drives the module's panel from the command line.
 */
#include <stdio.h>
#include <string.h>

#include "az_commands.h"
#if AZ_WITH_VIEW
#include "view/az_viewer.h"
#endif

namespace {

struct Command {
    const char *name;
    int (*run)(AzApp_Options *options);
};

const Command commands[] = {
    {"info", Command_Info},
    {"reslice", Command_Reslice},
    {"demo", Command_Demo},
    {"run", Command_Run},
#if AZ_WITH_VIEW
    {"view", Command_View},
#endif
};

const char usage_text[] =
    "usage: azozude [--module PATH] [-v|-vv|-q] COMMAND [ARGS...]\n"
    "\n"
    "commands:\n"
    "  info [STUDY...] [--labels FILE]       the module's identity; with studies, their series and geometry\n"
    "  reslice STUDY --alpha DEG --beta DEG -o DIR [--series N|UID] [--labels FILE] [OUTPUTS]\n"
    "                                        re-slices a study and writes the oblique frames;\n"
    "                                        DEG: a decimal number from -90 to 90 (12.5, -3)\n"
    "  demo [-o DIR] [--phantom] [OUTPUTS]   re-slices a sample brain with its atlas as tags\n"
    "                                        (or a built-in phantom); DIR defaults to azozude-demo\n"
    "  run SESSION [STUDY...] [--labels FILE]\n"
    "                                        plays a session of panel events on the studies\n"
#if AZ_WITH_VIEW
    "  view [STUDY...] [--labels FILE] [--size WxH] [--panel-width N] [--session FILE] [--screenshot OUT.png]\n"
    "                                        the interactive host: panel, Original and Oblique views, painting\n"
#endif
    "\n"
    "A STUDY is a DICOM file or folder (searched recursively) or a NIfTI file, known by its content\n"
    "or its name (.nii, .nii.gz); --series picks one series of a folder that holds several (by the\n"
    "number info gives it, or its UID).\n"
    "--labels gives a NIfTI label volume for the first study, shown as tags: placed on the study by world\n"
    "position (nearest label) when its grid differs; values up to 65535, at most 255 distinct; or a DICOM\n"
    "segmentation on the study's grid.\n"
    "\n"
    "reslice and demo write oblique.nii.gz, and oblique_tags.nii.gz when a tag is set; OUTPUTS add:\n"
    "  --original      original.nii.gz (and original_tags.nii.gz): the study as the module shows it\n"
    "  --pictures      oblique_middle.png, original_middle.png (middle slices) and panel.png\n"
    "  --montage       oblique_montage.png, original_montage.png: up to 36 slices, at most 2048 pixels a side\n"
    "  --summary       summary.txt: geometry of both directions and the times taken (printed anyway)\n"
    "  --dicom         dicom/oblique/ (the oblique frames as a derived DICOM series) and dicom/tags_seg.dcm\n"
    "                  (the tags as a DICOM segmentation)\n"
    "  --force         write into a folder that holds other files (they are left alone)\n"
    "Files appear only when the whole run succeeds; an earlier run's files in DIR are replaced, never\n"
    "mixed with the new ones; Ctrl+C removes what is partial.\n"
    "options:\n"
    "  --module PATH   the module library (default: the build's class_oblique.so)\n"
    "  --time T        the time point of a 4-D study whose frames enter the database (default 0)\n"
    "  -v, -vv, -q     more console detail, all traces, errors only (progress shows at the default level:\n"
    "                  one line redrawn on a terminal, a line at each quarter otherwise)\n"
    "exit codes: 0 done, 1 usage, 2 bad input or output, 3 module problem\n";

int Usage(FILE *out, int code)
{
    fputs(usage_text, out);
    return code;
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; i++)
        if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0)
            return Usage(stdout, AZ_EXIT_OK);
    AzApp_Console_Install();
    AzApp_Options options;
    std::string error;
    if (!AzApp_Options_Parse(argc, argv, &options, &error))
        return Usage(stderr, AzError(AZ_EXIT_USAGE, "%s", error.c_str()));
    if (options.command.empty())
        return Usage(stderr, AzError(AZ_EXIT_USAGE, "a COMMAND is missing"));
    for (const Command &command : commands)
        if (options.command == command.name) {
            AzError_Command_Set(command.name);
            return command.run(&options);
        }
    return Usage(stderr, AzError(AZ_EXIT_USAGE, "unknown command \"%s\"", options.command.c_str()));
}
