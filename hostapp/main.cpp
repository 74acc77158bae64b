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
    "  reslice STUDY --alpha DEG --beta DEG -o DIR [--labels FILE]\n"
    "                                        re-slices a study and writes the oblique frames\n"
    "  demo [-o DIR] [--phantom]             re-slices a sample brain with its atlas as tags\n"
    "                                        (or a built-in phantom)\n"
    "  run SESSION [STUDY...] [--labels FILE]\n"
    "                                        plays a session of panel events on the studies\n"
#if AZ_WITH_VIEW
    "  view [STUDY...] [--labels FILE] [--size WxH] [--panel-width N] [--session FILE] [--screenshot OUT.png]\n"
    "                                        the interactive host: panel, Original and Oblique views, painting\n"
#endif
    "\n"
    "A STUDY is a DICOM file or folder (searched recursively) or a NIfTI file (.nii, .nii.gz);\n"
    "--labels gives a NIfTI label volume for the first study, shown as tags: placed on the study by world\n"
    "position (nearest label) when its grid differs; values up to 65535, at most 255 distinct.\n"
    "options:\n"
    "  --module PATH   the module library (default: the build's class_oblique.so)\n"
    "  --time T        the time point of a 4-D study whose frames enter the database (default 0)\n"
    "  -v, -vv, -q     more console detail, all traces, errors only\n"
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
    AzApp_Options options;
    std::string error;
    if (!AzApp_Options_Parse(argc, argv, &options, &error)) {
        fprintf(stderr, "azozude: %s\n", error.c_str());
        return Usage(stderr, AZ_EXIT_USAGE);
    }
    if (options.command.empty())
        return Usage(stderr, AZ_EXIT_USAGE);
    for (const Command &command : commands)
        if (options.command == command.name)
            return command.run(&options);
    fprintf(stderr, "azozude: unknown command \"%s\"\n", options.command.c_str());
    return Usage(stderr, AZ_EXIT_USAGE);
}
