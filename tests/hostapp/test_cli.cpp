/*
 * The host program as a user runs it: what it prints and its exit codes,
 * one command line a row, each run in a fresh folder holding the inputs
 * its row asks for.  The fuzz regressions' manifest joins the table.
 */
#include <math.h>
#include <stdio.h>
#include <unistd.h>

#include <array>
#include <fstream>

#include <gtest/gtest.h>

#include "test_files.h"

namespace {

Nifti_Plan Small(double value = 7.0, double shift_x = 0.0, int nx = 4)
{
    Nifti_Plan plan;
    plan.dim[0] = nx;
    plan.sform[0][3] = shift_x;
    plan.values.assign(nx * 3 * 2, value);
    return plan;
}

void Mkdir(const std::string &f, const char *name) { EXPECT_EQ(0, Shell("mkdir -p '" + f + "/" + name + "'")); }

void Module_Files(const std::string &f)
{
    Bytes_Write(f + "/fake.so", "not an ELF file");
    Shell("cp '" + std::string(AZ_MODULE_PATH) + "' '" + f + "/mine.so'");
}

/* Studies that cannot be loaded, and label volumes beside and away from a study. */
void Bad_Files(const std::string &f)
{
    Mkdir(f, "docs");
    Mkdir(f, "nothing");
    Bytes_Write(f + "/docs/notes.txt", "hello");
    Dicom_Plan dicom;
    dicom.with_pixels = 0;
    Dicom_Write(f + "/noimage.dcm", dicom);
    Nifti_Plan cut = Small();
    cut.truncate_to = 352 + 10;
    Nifti_Write(f + "/cut.nii", cut);
    Bytes_Write(f + "/junk.nii", std::string(400, 'x'));
    Nifti_Write(f + "/study.nii", Small());
    Nifti_Write(f + "/away.nii", Small(1, 40, 5));
    Nifti_Write(f + "/near.nii", Small(1, 2, 5));
}

void Known_By_Content(const std::string &f)
{
    Nifti_Plan plan = Small();
    double sform[3][4] = {{0.5, 0, 0, 10}, {0, 0.75, 0, 0}, {0, 0, 2, 0}};
    memcpy(plan.sform, sform, sizeof(sform));
    Nifti_Write(f + "/small.nii", plan);
    Mkdir(f, "set");
    Shell("cd '" + f + "' && gzip -c small.nii >set/first && cp small.nii set/second.nii");
    plan.dim[2] = 1;
    Nifti_Write(f + "/flat.nii", plan);
}

/* Each slice moves 2 mm along the normal and 0.8 mm along the columns: a gantry tilt. */
void Tilted(const std::string &f)
{
    Mkdir(f, "tilted");
    for (int k = 0; k < 4; k++) {
        Dicom_Plan plan;
        plan.position[1] = 0.8 * k;
        plan.position[2] = 2.0 * k;
        plan.sop_instance += "." + std::to_string(k);
        Dicom_Write(f + "/tilted/s" + std::to_string(k) + ".dcm", plan);
    }
}

/* 6 x 5 x 4 voxels at 3 time points, grey 1000 t + 100 k + 10 j + i. */
void Four_D(const std::string &f)
{
    Nifti_Plan plan;
    int dim[4] = {6, 5, 4, 3};
    memcpy(plan.dim, dim, sizeof(dim));
    for (int n = 0; n < 6 * 5 * 4 * 3; n++)
        plan.values.push_back(1000 * (n / 120) + 100 * (n / 30 % 4) + 10 * (n / 6 % 5) + n % 6);
    Nifti_Write(f + "/run.nii", plan);
    Nifti_Write(f + "/study.nii", Small());
}

/* Three good slices, a text file, and a file on which the DICOM library ends the process. */
void Some_Bad(const std::string &f)
{
    Mkdir(f, "series");
    for (int k = 0; k < 3; k++) {
        Dicom_Plan plan;
        plan.position[2] = 1.5 * k;
        plan.sop_instance += "." + std::to_string(k);
        Dicom_Write(f + "/series/s" + std::to_string(k) + ".dcm", plan);
    }
    Bytes_Write(f + "/series/notes.txt", "not an image");
    Shell("cp '" AZ_SOURCE_DIR "/fuzz/regressions/dicom/rtdose_frames_assert.dcm' '" + f + "/series/dose.dcm'");
}

/* A series of single-slice files at the given depths: identity axes, 1 mm
 * pixels, pixel (0, 0) at (10, -20, depth), stored 100 + 10 x + 3 y. */
std::string Series_At(const std::string &folder, const std::string &name, const std::vector<double> &depths,
                      double slope)
{
    std::string path = folder + "/" + name;
    Shell("mkdir -p '" + path + "'");
    for (size_t k = 0; k < depths.size(); k++) {
        Dicom_Plan plan;
        plan.width = 16;
        plan.height = 12;
        plan.has_window = 0;
        plan.slope = slope;
        plan.description = name;
        plan.series_uid = "1.2.826.0.1.3680043.2.1125.5." + std::to_string(name.size());
        plan.sop_instance = plan.series_uid + "." + std::to_string(k + 1);
        double position[3] = {10, -20, depths[k]};
        memcpy(plan.position, position, sizeof(position));
        for (int n = 0; n < 16 * 12; n++)
            plan.stored.push_back(static_cast<uint16_t>(100 + 10 * (n % 16) + 3 * (n / 16)));
        Dicom_Write(path + "/s" + std::to_string(k) + ".dcm", plan);
    }
    return path;
}

void Gap(const std::string &f)
{
    Series_At(f, "gap", {0, 1, 2, 3, 5, 6}, 1.0);
    Bytes_Write(f + "/dump.session", "open\ndump dump\n");
}

/* NIfTI headers whose dimension count (dim[0]) is count, of both versions. */
void Dims(const std::string &f)
{
    for (int version = 1; version <= 2; version++) {
        Nifti_Plan plan = Small();
        plan.version = version;
        std::string v = std::to_string(version), whole = f + "/v" + v + ".nii";
        Nifti_Write(whole, plan);
        std::string bytes = Text_Of(whole);
        for (int count : {0, -1, 8, 768, 3587, 7}) {
            std::string b = bytes;
            for (int i : {0, 4, 5, 6, 7})  // seven: the extra sizes are 1
                for (int n = 0; n < (version == 2 ? 8 : 2) && (i == 0 || count == 7); n++)
                    b[(version == 2 ? 16 + 8 * i : 40 + 2 * i) + n] =
                        static_cast<char>(i ? (n ? 0 : 1) : (static_cast<int64_t>(count) >> (8 * n)) & 0xff);
            Bytes_Write(f + "/dims" + v + "_" + std::to_string(count) + ".nii", b);
        }
    }
}

/* 30000 x 30000 x 3 voxels asked of a file of 400 bytes, plain and compressed;
 * and the most compressible volume there is, which is no such case. */
void Huge(const std::string &f)
{
    std::string bytes = Text_Of((Nifti_Write(f + "/small.nii", Small()), f + "/small.nii"));
    for (int i = 1; i <= 3; i++) {
        int value = i < 3 ? 30000 : 3;
        bytes[40 + 2 * i] = static_cast<char>(value & 0xff);
        bytes[41 + 2 * i] = static_cast<char>(value >> 8);
    }
    Bytes_Write(f + "/huge.nii", bytes);
    Nifti_Plan zeros;
    int dim[4] = {256, 256, 64, 1};
    memcpy(zeros.dim, dim, sizeof(dim));
    Nifti_Write(f + "/zeros.nii", zeros);
    Shell("cd '" + f + "' && gzip -9 -c huge.nii >huge.nii.gz && gzip -9 zeros.nii");
}

void Sessions(const std::string &f)
{
    Nifti_Write(f + "/study.nii", Small());
    Bytes_Write(f + "/nope.txt", "open\necho first\nclick Nope\necho never\n");
    Bytes_Write(f + "/closed.txt", "click 10 10\n");
    Bytes_Write(f + "/sideways.txt", "open\nsave-frame sideways 0 x.png\n");
    Bytes_Write(f + "/empty.txt", "open\nsave-frame oblique 0 x.png\n");
    Bytes_Write(f + "/frob.txt", "echo first\nfrob\n");
    Bytes_Write(f + "/dicom.txt", "dicom none\n");
    Mkdir(f, "pet");
    Dicom_Plan pet;
    pet.modality = "PT";
    for (int k = 0; k < 3; k++, pet.position[2] += 1, pet.sop_instance += "1")
        Dicom_Write(f + "/pet/" + std::to_string(k) + ".dcm", pet);
}

/* A label volume with each table of the fuzz regressions beside it. */
void Label_Tables(const std::string &f)
{
    Nifti_Write(f + "/study.nii", Small());
    for (const char *table : {"bad_lines.txt", "bad_rows.lut", "short_binary.lut"}) {
        std::string stem = f + "/" + std::string(table).substr(0, strlen(table) - 4);
        Nifti_Write(stem + ".nii", Small(12));
        Shell("cp '" AZ_SOURCE_DIR "/fuzz/regressions/labels/" + std::string(table) + "' '" + stem + ".nii" +
              strrchr(table, '.') + "'");
    }
}

/* One command line: its inputs, exit code, what standard error and output
 * hold (patterns of Matches) and a file it leaves (one it must not leave
 * when text is null).  '#' stands for the build folder, '@' for the fuzz
 * regressions.  Usage errors and module problems print nothing on the
 * standard output. */
struct Line {
    void (*make)(const std::string &folder);
    std::string args;
    int code;
    std::string err = "", out = "";
    const char *file = nullptr, *text = "";
};

void PrintTo(const Line &line, std::ostream *os) { *os << line.args; }

std::string Expand(std::string text)
{
    for (size_t at; (at = text.find_first_of("#@")) != std::string::npos;)
        text.replace(at, 1, text[at] == '#' ? AZ_BUILD_DIR : AZ_SOURCE_DIR "/fuzz/regressions");
    return text;
}

class Command : public ::testing::TestWithParam<Line> {};

TEST_P(Command, ExitsAndSays)
{
    const Line &line = GetParam();
    Temp_Folder folder;
    if (line.make)
        line.make(folder.Path());
    Outcome run = Program(Expand(line.args), folder.Path());
    EXPECT_EQ(line.code, run.code) << run.err;
    EXPECT_TRUE(Matches(run.err, Expand(line.err))) << run.err;
    EXPECT_TRUE(Matches(run.out, line.out)) << run.out;
    if (line.code == 1 || line.code == 3) {
        EXPECT_EQ("", run.out);
    }
    if (line.file && line.text) {
        EXPECT_TRUE(Matches(Text_Of(folder.File(line.file)), line.text)) << line.file;
    } else if (line.file) {
        EXPECT_NE(0, access(folder.File(line.file).c_str(), F_OK)) << line.file << " is left";
    }
}

const char identity[] = "^version: 1.0 rev-a  (Nov 22 2013)\nclass key: class Oblique\nname: RUD Azozude\n"
                        "class type: 13\n$";
const char number[] = "--alpha must be a decimal number of degrees from -90 to 90, not ";

INSTANTIATE_TEST_SUITE_P(
    Module, Command,
    ::testing::Values(
        Line{nullptr, "info", 0, "", identity},
        Line{nullptr, "info --module '" AZ_MODULE_PATH "'", 0, "", identity},
        Line{nullptr, "info --module /nonexistent/class_oblique.so", 3,
             "azozude: cannot load module /nonexistent/class_oblique.so: *No such file or directory"},
        // A real library that is not a module: the first entry point it lacks is named.
        Line{nullptr, "--module #/libazwin32.so info", 3,
             "azozude: module #/libazwin32.so has no entry point Version: *undefined symbol: Version"},
        Line{Module_Files, "info --module fake.so", 3, "azozude: cannot load module fake.so"},
        // A name without a slash is a file of the current folder, not a search of the loader's path.
        Line{Module_Files, "info --module mine.so", 0, "", identity},
        Line{Module_Files, "info --module missing.so", 3,
             "azozude: cannot load module missing.so: *No such file or directory"}));

INSTANTIATE_TEST_SUITE_P(
    Usage, Command,
    ::testing::Values(
        Line{nullptr, "--help", 0, "",
             "--series N|UID*--original*--pictures*--montage*--summary*--force*exit codes: 0 done, 1 usage, 2 bad "
             "input or output, 3 module problem"},
        Line{nullptr, "", 1, "usage: azozude"}, Line{nullptr, "frobnicate", 1, "azozude: unknown command \"frobnicate\""},
        Line{nullptr, "info --module", 1, "azozude: --module needs a path"},
        Line{nullptr, "info --bogus", 1, "azozude info: unknown option --bogus"},
        Line{nullptr, "run", 1, "usage: azozude run SESSION"},
        Line{nullptr, "reslice", 1, "azozude reslice: --alpha is missing (degrees from -90 to 90)\nusage: azozude reslice STUDY"},
        Line{nullptr, "reslice s.nii --alpha 10 -o out", 1, "azozude reslice: --beta is missing (degrees from -90 to 90)"},
        Line{nullptr, "reslice s.nii --alpha 10 --beta 0", 1, "azozude reslice: -o is missing (the output folder)"},
        Line{nullptr, "reslice --alpha 10 --beta 0 -o out", 1, "azozude reslice: a STUDY is missing"},
        Line{nullptr, "reslice a.nii b.nii --alpha 10 --beta 0 -o out", 1, "azozude reslice: one STUDY only"},
        Line{nullptr, "reslice s.nii --alpha -90 --beta 90 -o out", 2, "s.nii: no such file or folder"},
        Line{nullptr, "reslice s.nii --alpha 91 --beta 0 -o out", 1, std::string("azozude reslice: ") + number + "\"91\""},
        Line{nullptr, "reslice s.nii --alpha 0 --beta -90.5 -o out", 1,
             "--beta must be a decimal number of degrees from -90 to 90, not \"-90.5\""},
        Line{nullptr, "reslice s.nii --alpha nan --beta 0 -o out", 1, number + std::string("\"nan\"")},
        Line{nullptr, "reslice s.nii --alpha inf --beta 0 -o out", 1, number + std::string("\"inf\"")},
        Line{nullptr, "reslice s.nii --alpha 0x10 --beta 0 -o out", 1, number + std::string("\"0x10\"")},
        Line{nullptr, "reslice s.nii --alpha 1e1 --beta 0 -o out", 1, number + std::string("\"1e1\"")},
        Line{nullptr, "reslice s.nii --alpha 1.2.3 --beta 0 -o out", 1, number + std::string("\"1.2.3\"")},
        Line{nullptr, "reslice s.nii --alpha . --beta 0 -o out", 1, number + std::string("\".\"")},
        Line{nullptr, "reslice s.nii --alpha= --beta 0 -o out", 1, number + std::string("\"\"")},
        Line{nullptr, "reslice s.nii --alpha ' 5' --beta 0 -o out", 1, number + std::string("\" 5\"")},
        Line{nullptr, "reslice s.nii --alpha 10 --alpha 20 --beta 0 -o out", 1, "azozude reslice: --alpha is given twice"},
        Line{nullptr, "reslice s.nii --alpha 10 --beta 0 -o a -o b", 1, "azozude reslice: -o is given twice"},
        Line{nullptr, "reslice s.nii --alpha 10 --beta 0 -o out --pictures --pictures", 1,
             "azozude reslice: --pictures is given twice"},
        Line{nullptr, "reslice s.nii --alpha 10 --beta 0 -o out --pictures=yes", 1,
             "azozude reslice: --pictures takes no value"},
        Line{nullptr, "reslice s.nii --beta 0 -o out --alpha", 1,
             "azozude reslice: --alpha needs a value (degrees from -90 to 90)"},
        Line{nullptr, "reslice s.nii --alpha 1 --beta 0 -o out --frob", 1, "azozude reslice: unknown option --frob"},
        Line{nullptr, "demo extra", 1, "usage: azozude demo"}, Line{nullptr, "demo -o ''", 1, "azozude demo: -o needs a folder"},
        Line{nullptr, "run s.txt --labels a --labels b", 1, "azozude run: --labels is given twice"},
        Line{nullptr, "info --time x run.nii", 1, "azozude: --time needs a time point (a whole number from 0), not \"x\""},
        Line{nullptr, "info --time -1 run.nii", 1, "azozude: --time needs a time point (a whole number from 0), not \"-1\""},
        Line{nullptr, "--time=65536 info run.nii", 1, "azozude: --time needs a time point (a whole number from 0), not \"65536\""},
        Line{nullptr, "--time= info run.nii", 1, "azozude: --time needs a time point (a whole number from 0), not \"\""},
        Line{nullptr, "info run.nii --time", 1, "azozude: --time needs a time point (a whole number from 0)\n"},
        // The viewer's window: at most an 8K screen, at least what shows its 300-pixel panel whole.
        Line{nullptr, "view --size 100000x100000", 1, "--size is WIDTHxHEIGHT, at most 7680x4320, not \"100000x100000\""},
        Line{nullptr, "view --size 7681x800", 1, "not \"7681x800\""}, Line{nullptr, "view --size 0x10", 1, "not \"0x10\""},
        Line{nullptr, "view --size 12x", 1, "not \"12x\""},
        Line{nullptr, "view --size 640x480 --screenshot never.png", 1,
             "--size 640x480 is too small for a panel 300 pixels wide: at least 632x618"}));

INSTANTIATE_TEST_SUITE_P(
    Studies, Command,
    ::testing::Values(
        Line{Bad_Files, "info missing.nii", 2, "missing.nii: no such file or folder*missing.nii: nothing could be loaded", ""},
        Line{Bad_Files, "info docs", 2, "docs/notes.txt: not a DICOM file, or unreadable*docs: no usable DICOM image among 1 files", ""},
        Line{Bad_Files, "info nothing", 2, "nothing: folder holds no files", ""},
        Line{Bad_Files, "info noimage.dcm", 2, "noimage.dcm: DICOM file without an image", ""},
        Line{Bad_Files, "info cut.nii", 2, "cut.nii: image data truncated or unreadable (4x3x2)", ""},
        Line{Bad_Files, "info junk.nii", 2, "junk.nii: not a NIfTI file, or its header is malformed", ""},
        Line{Bad_Files, "info study.nii --labels away.nii", 2,
             "away.nii: the label volume does not overlap the study at all (size 5x3x2 against the study's 4x3x2; "
             "centres 40.5 mm apart)", ""},
        Line{Bad_Files, "info study.nii --labels near.nii", 0,
             "near.nii: the label grid differs from the study's (size 5x3x2 against the study's 4x3x2; centres 2.5 mm "
             "apart): labels resampled onto \"study\" by world position, nearest label; 50.0 % of the study's voxels "
             "lie inside the label volume",
             "\nlabels: near.nii\n  values: 1 distinct besides 0, 1 .. 1 (each value is its own tag)\n  names: 0; "
             "colour table: no\n  grid: 5 x 3 x 2 voxels of 1 x 1 x 1 mm\n  against study 1: size 5x3x2 against the "
             "study's 4x3x2; centres 2.5 mm apart; 50.0 % of the study's voxels inside the label volume\n"},
        Line{Known_By_Content, "info small.nii", 0, "",
             "\nstudy 1: small\n*  size: 4 x 3 pixels, 2 frames, 1 time point(s)\n  spacing: 0.5 x 0.75 x 2 mm\n  "
             "orientation: row (-1.0000, 0.0000, 0.0000) column (0.0000, -1.0000, 0.0000) normal (0.0000, 0.0000, "
             "1.0000)\n  first frame at (-10.00, 0.00, 0.00) mm; locations 0.00 .. 2.00 mm\n*  3D group: valid 3D group\n"},
        // Known by content: a NIfTI file without its extension, gzip-compressed; a folder of NIfTI files, numbered.
        Line{Known_By_Content, "info set/first", 0, "",
             "\nstudy 1: first\n  series number: 1 (--series 1 picks it)\n  source: set/first\n"},
        Line{Known_By_Content, "info set", 0, "", "\nstudy 2: second\n  series number: 2 (--series 2 picks it)\n"},
        Line{Known_By_Content, "reslice set --alpha 1 --beta 1 -o out", 1,
             "azozude reslice: set holds 2 series; choose one with --series N or --series UID (azozude info set "
             "numbers them)\n"},
        Line{Known_By_Content, "reslice set --series 3 --alpha 1 --beta 1 -o out", 2,
             "set: no series \"3\" (it holds 2: 1 set/first, 2 set/second.nii)", ""},
        Line{Known_By_Content, "-q reslice set --series 2 --alpha 1 --beta 1 --summary -o out", 0, "", "",
             "out/summary.txt", "^study: second\n"},
        Line{Known_By_Content, "info flat.nii", 0, "", "  3D group: not a 3D group: one frame only (0x40000000)\n"},
        Line{Tilted, "info tilted", 0, "",
             "  size: 6 x 5 pixels, 4 frames, 1 time point(s)\n*  3D group: not a 3D group: positions not along the "
             "normal (tilted) (0x10000000)\n"},
        Line{Four_D, "info run.nii", 0, "",
             "  size: 6 x 5 pixels, 4 frames, 3 time point(s)\n*  database frames: time point 0 of 3 (--time T chooses; "
             "the images keep every time point)\n*  3D group: valid 3D group\n"},
        Line{Four_D, "info --time 2 run.nii", 0, "", "  database frames: time point 2 of 3 ("},
        Line{Four_D, "info run.nii --time=1", 0, "", "  database frames: time point 1 of 3 ("},
        Line{Four_D, "info --time 3 run.nii", 2, "run.nii: no time point 3: the study has 3 time point(s)", ""},
        // Both directions show the chosen time point only.
        Line{Four_D, "-q reslice run.nii --time 1 --alpha 30 --beta 10 --original --summary -o out", 0, "", "",
             "out/summary.txt", "^study: run, time point 1 of 3\n*\noriginal: 4 frames of 6 x 5 pixels, spacing 1 x 1 x 1 mm\n"},
        Line{Four_D, "--time=65535 info study.nii", 2, "study.nii: no time point 65535: the study has 1 time point(s)", ""},
        // Only the files that cannot be read are lost, even one the DICOM library gives up on.
        Line{Some_Bad, "info series", 0,
             "series/dose.dcm: the DICOM reader fails on this file (malformed)*series/notes.txt: not a DICOM file, or "
             "unreadable*series: 2 of 5 files skipped",
             "  size: 6 x 5 pixels, 3 frames, 1 time point(s)\n  spacing: 1 x 1 x 1.5 mm\n"},
        Line{Gap, "info gap", 0,
             "gap: uneven slice spacing: 2 mm between frames 3 and 4 (3.00 and 5.00 mm from the first frame) where the "
             "usual step is 1 mm; 1 of 5 steps differ by more than 1%: not a 3D group",
             "\n  3D group: not a 3D group: slices not evenly spaced (0x80000100)\n"},
        Line{Gap, "-q reslice gap --alpha 10 --beta 0 -o out", 2,
             "\"Dir. Oblique\" is disabled: the current study is not a valid 3D group", ""},
        // Written anyway (a session's dump), its geometry is said to be a best fit.
        Line{Gap, "run dump.session gap", 0,
             "\"gap (dir:Original)\": its frames do not lie on one grid (up to 0.45 mm off): the geometry written is "
             "their best fit", ""}));

/* Headers that ask for what the libraries would trust: a dimension count
 * the NIfTI library overruns its arrays with, gigabytes of voxels from a
 * few hundred bytes.  Refused before any library call that would crash or
 * allocate. */
INSTANTIATE_TEST_SUITE_P(
    Headers, Command,
    ::testing::Values(
        Line{Dims, "info dims1_0.nii", 2, "dims1_0.nii: not a NIfTI file, or its header is malformed", ""},
        Line{Dims, "info dims1_-1.nii", 2, "dims1_-1.nii: not a NIfTI file, or its header is malformed", ""},
        Line{Dims, "info dims1_8.nii", 2, "dims1_8.nii: not a NIfTI file, or its header is malformed", ""},
        Line{Dims, "info dims1_768.nii", 2, "dims1_768.nii: not a NIfTI file, or its header is malformed", ""},
        Line{Dims, "info dims2_0.nii", 2, "dims2_0.nii: not a NIfTI file, or its header is malformed", ""},
        Line{Dims, "info dims2_-1.nii", 2, "dims2_-1.nii: not a NIfTI file, or its header is malformed", ""},
        Line{Dims, "info dims2_8.nii", 2, "dims2_8.nii: not a NIfTI file, or its header is malformed", ""},
        Line{Dims, "info dims2_3587.nii", 2, "dims2_3587.nii: not a NIfTI file, or its header is malformed", ""},
        // Seven is the most there is: the extra sizes of one change nothing.
        Line{Dims, "info dims1_7.nii", 0, "", "  size: 4 x 3 pixels, 2 frames, 1 time point(s)\n"},
        Line{Dims, "info dims2_7.nii", 0, "", "  size: 4 x 3 pixels, 2 frames, 1 time point(s)\n"},
        // 30000 x 30000 x 3 voxels of 2 bytes; 400 bytes less the 348 of the header.
        Line{Huge, "info huge.nii", 2,
             "huge.nii: image data truncated or unreadable (30000x30000x3): 5400000000 bytes of voxels asked, the file "
             "can hold 52\n", ""},
        // Compressed, the bound is what deflate can pack into the file's size.
        Line{Huge, "info huge.nii.gz", 2,
             "huge.nii.gz: image data truncated or unreadable (30000x30000x3): 5400000000 bytes of voxels asked, the "
             "file can hold ", ""},
        Line{Huge, "info zeros.nii.gz", 0, "", "  size: 256 x 256 pixels, 64 frames, 1 time point(s)\n"}));

INSTANTIATE_TEST_SUITE_P(
    Sessions, Command,
    ::testing::Values(
        // A step that cannot be carried out stops the session with its line.
        Line{Sessions, "run nope.txt study.nii", 2, "azozude: nope.txt:3: no widget \"Nope\" on the panel", "^first\n$"},
        Line{Sessions, "run closed.txt study.nii", 2,
             "closed.txt:1: the panel is not open (a session starts with \"open\")", ""},
        Line{Sessions, "run sideways.txt study.nii", 2,
             "sideways.txt:2: a direction is original or oblique, not \"sideways\"", ""},
        Line{Sessions, "run empty.txt study.nii", 2, "empty.txt:2: \"study (dir:Oblique)\" has no frames", ""},
        // A parse error runs nothing.
        Line{Sessions, "-q run frob.txt study.nii", 2, "frob.txt:2: unknown step \"frob\"", "^$"},
        Line{Sessions, "run dicom.txt study.nii", 2,
             "none: the Oblique direction has no frames (switch it on and click \"Update DB\")", ""},
        // Other modalities would be misstated as CT or MR.
        Line{Sessions, "reslice pet --alpha 10 --beta 5 -o out --dicom", 2,
             "DICOM output is written for CT and MR studies only, not for modality \"PT\"", "", "out/dicom", nullptr}));

/* Inputs that once made a reader misbehave (fuzz/regressions/<reader>/),
 * each with the exit code and message its manifest gives: NIfTI files are
 * read as a study and as its labels, DICOM files as a study, label tables
 * beside a label volume. */
std::vector<Line> Manifest()
{
    std::vector<Line> lines;
    std::ifstream file(AZ_SOURCE_DIR "/fuzz/regressions/manifest.tsv");
    std::string text;
    while (std::getline(file, text)) {
        size_t tab = text.find('\t'), tab2 = text.find('\t', tab + 1);
        if (text.empty() || text[0] == '#' || tab2 == std::string::npos)
            continue;
        std::string input = text.substr(0, tab), reader = input.substr(0, input.find('/'));
        int code = atoi(text.substr(tab + 1).c_str());
        std::string message = text.substr(tab2 + 1);
        for (size_t at; (at = message.find("\\n")) != std::string::npos;)
            message.replace(at, 2, "\n");
        if (reader == "labels") {
            std::string stem = input.substr(7, input.rfind('.') - 7);
            lines.push_back(Line{Label_Tables, "info study.nii --labels " + stem + ".nii", code, "", message});
        } else {
            std::string path = "@/" + input;
            lines.push_back(Line{nullptr, "info " + path + (reader == "nifti" ? " --labels " + path : ""), code,
                                 code ? path + ": " + message : "", code ? "" : message});
        }
    }
    return lines;
}

INSTANTIATE_TEST_SUITE_P(FuzzRegressions, Command, ::testing::ValuesIn(Manifest()));

} // namespace

TEST(FuzzRegressions, EveryInputHasItsManifestRow)
{
    std::string manifest = Text_Of(AZ_SOURCE_DIR "/fuzz/regressions/manifest.tsv");
    for (const char *reader : {"dicom", "labels", "nifti"})
        for (const std::string &name : Names_In(AZ_SOURCE_DIR "/fuzz/regressions/" + std::string(reader)))
            EXPECT_TRUE(Contains(manifest, "\n" + std::string(reader) + "/" + name + "\t")) << reader << "/" << name;
}

TEST(HostProgram, DemoWithThePhantom)
{
    Temp_Folder folder;
    Outcome run = Program("-q demo --phantom --original --pictures --montage --summary -o demo", folder.Path());
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_TRUE(Contains(run.out, "demo: using the built-in phantom\n")) << run.out;
    std::string summary = Text_Of(folder.File("demo/summary.txt"));
    EXPECT_TRUE(Contains(run.out, summary)) << "the summary is printed too:\n" << run.out;
    double load = -1, apply = -1, export_s = -1;
    // The box of 95 x 95 x 47 voxel steps turned about x by 25 and y by -20 degrees; the times end the summary.
    EXPECT_TRUE(Matches(summary, "^study: Phantom\npanel angles: alpha 25.00 degrees, beta -20.00 degrees\noriginal: 48 "
                                 "frames of 96 x 96 pixels, spacing 1 x 1 x 2 mm, tags\n  orientation: row (1.0000, "
                                 "0.0000, 0.0000), column (0.0000, 1.0000, 0.0000), normal (0.0000, 0.0000, 1.0000)\n"
                                 "oblique: 111 frames of 118 x 106 pixels, spacing *\ntimes: load * s\n$"))
        << summary;
    ASSERT_EQ(3, sscanf(summary.c_str() + summary.find("\ntimes: "), "\ntimes: load %lf s, apply %lf s (\"Update DB\" "
                                                                      "to the last frame), export %lf s\n",
                        &load, &apply, &export_s))
        << summary;
    EXPECT_TRUE(load >= 0.0 && apply > 0.0 && export_s > 0.0) << summary;
    for (const char *name : {"oblique.nii.gz", "oblique_tags.nii.gz"})
        EXPECT_GT(Text_Of(folder.File(std::string("demo/") + name)).size(), 352u) << name;
    // 36 of the 111 frames, six a row, at their own size.
    int size[3][2] = {};
    EXPECT_TRUE(Png_Size(folder.File("demo/oblique_montage.png"), &size[0][0], &size[0][1]));
    EXPECT_TRUE(Png_Size(folder.File("demo/oblique_middle.png"), &size[1][0], &size[1][1]));
    EXPECT_TRUE(Png_Size(folder.File("demo/panel.png"), &size[2][0], &size[2][1]));
    EXPECT_EQ(6 * 118, size[0][0]);
    EXPECT_EQ(6 * 106, size[0][1]);
    EXPECT_EQ(118, size[1][0]);
}

namespace {

/* The RAS position of voxel (i, j, k) by a header's sform or its qform. */
void Ras_Of(const std::string &h, bool by_qform, double i, double j, double k, double out[3])
{
    if (!by_qform) {
        for (int r = 0; r < 3; r++)
            out[r] = Field<float>(h, 280 + 16 * r) * i + Field<float>(h, 284 + 16 * r) * j +
                     Field<float>(h, 288 + 16 * r) * k + Field<float>(h, 292 + 16 * r);
        return;
    }
    double b = Field<float>(h, 256), c = Field<float>(h, 260), d = Field<float>(h, 264);
    double a = sqrt(std::max(0.0, 1.0 - b * b - c * c - d * d));
    double rotation[3][3] = {{a * a + b * b - c * c - d * d, 2 * (b * c - a * d), 2 * (b * d + a * c)},
                             {2 * (b * c + a * d), a * a + c * c - b * b - d * d, 2 * (c * d - a * b)},
                             {2 * (b * d - a * c), 2 * (c * d + a * b), a * a + d * d - c * c - b * b}};
    double qfac = Field<float>(h, 76) < 0 ? -1.0 : 1.0;
    double scaled[3] = {i * Field<float>(h, 80), j * Field<float>(h, 84), k * Field<float>(h, 88) * qfac};
    for (int r = 0; r < 3; r++)
        out[r] = Field<float>(h, 268 + 4 * r) + rotation[r][0] * scaled[0] + rotation[r][1] * scaled[1] +
                 rotation[r][2] * scaled[2];
}

/* Alpha, beta and how many voxels lie beyond the slices at least (at right angles every voxel reads the first
 * slice: its axis is found although every position along it is the same). */
class ObliqueExport : public ::testing::TestWithParam<std::array<int, 3>> {};

} // namespace

TEST_P(ObliqueExport, IsOrthogonalKeepsRealValuesAndFillsWithZero)
{
    // Two slices 2.5 mm apart, values 0.1 + 0.01 x + 0.003 y.  A re-sliced voxel reads the slice below it (slice
    // indices are cut toward zero: the first slice from -2.5 to 2.5 mm, the second from 2.5 to 5 mm); the file
    // places it half a slice back, so that the slice it reads is the nearest: -3.75 .. 3.75 mm hold values.
    Temp_Folder folder;
    Series_At(folder.Path(), "two", {0, 2.5}, 0.001);
    const std::array<int, 3> angle = GetParam();
    Outcome run = Program("-q reslice two --alpha " + std::to_string(angle[0]) + " --beta " + std::to_string(angle[1]) +
                          " -o out", folder.Path());
    ASSERT_EQ(0, run.code) << run.err;
    ASSERT_EQ(0, Shell("gzip -dc '" + folder.File("out/oblique.nii.gz") + "' >'" + folder.File("o.nii") + "'"));
    std::string nii = Text_Of(folder.File("o.nii"));
    int dim[3] = {Field<int16_t>(nii, 42), Field<int16_t>(nii, 44), Field<int16_t>(nii, 46)};
    ASSERT_EQ(nii.size(), 352u + 2u * dim[0] * dim[1] * dim[2]);
    EXPECT_FLOAT_EQ(0.001f, Field<float>(nii, 112)); // scl_slope
    EXPECT_EQ(0.0f, Field<float>(nii, 116));         // scl_inter
    EXPECT_EQ(1, Field<int16_t>(nii, 252));          // qform_code
    // Axes at right angles, and qform and sform within a tenth of a voxel at every corner.
    for (int a = 0; a < 3; a++)
        for (int b = a + 1; b < 3; b++) {
            double dot = 0;
            for (int r = 0; r < 3; r++)
                dot += Field<float>(nii, 280 + 16 * r + 4 * a) * Field<float>(nii, 280 + 16 * r + 4 * b);
            EXPECT_NEAR(0.0, dot, 1e-4) << a << b;
        }
    for (int corner = 0; corner < 8; corner++) {
        double s[3], q[3];
        double i = corner & 1 ? dim[0] - 1 : 0, j = corner & 2 ? dim[1] - 1 : 0, k = corner & 4 ? dim[2] - 1 : 0;
        Ras_Of(nii, false, i, j, k, s);
        Ras_Of(nii, true, i, j, k, q);
        EXPECT_LT(sqrt((s[0] - q[0]) * (s[0] - q[0]) + (s[1] - q[1]) * (s[1] - q[1]) + (s[2] - q[2]) * (s[2] - q[2])),
                  0.1 * Field<float>(nii, 80)) << corner;
    }
    // Every voxel where the sform places it: inside the slices the study's value there, beyond them 0.
    int inside = 0, beyond = 0;
    for (int k = 0; k < dim[2]; k++)
        for (int j = 0; j < dim[1]; j++)
            for (int i = 0; i < dim[0]; i++) {
                double ras[3];
                Ras_Of(nii, false, i, j, k, ras);
                double x = -ras[0] - 10, y = -ras[1] + 20, depth = ras[2];
                double value = 0.001 * Field<int16_t>(nii, 352 + 2 * ((static_cast<size_t>(k) * dim[1] + j) * dim[0] + i));
                ASSERT_TRUE(value == 0.0 || value > 0.0995) << value;
                if (x < 0.5 || x > 14.5 || y < 0.5 || y > 10.5 || fabs(fabs(depth) - 3.75) < 0.05)
                    continue;
                if (depth > -3.75 && depth < 3.75) {
                    inside++;
                    ASSERT_NEAR(0.1 + 0.01 * x + 0.003 * y, value, 6e-4) << i << " " << j << " " << k;
                } else {
                    beyond++;
                    ASSERT_EQ(0.0, value) << i << " " << j << " " << k;
                }
            }
    EXPECT_GT(inside, 250);
    EXPECT_GE(beyond, angle[2]);
}

INSTANTIATE_TEST_SUITE_P(HostProgram, ObliqueExport,
                         ::testing::Values(std::array<int, 3>{30, 20, 200}, std::array<int, 3>{-60, 45, 200},
                                           std::array<int, 3>{90, 0, 0}, std::array<int, 3>{0, 0, 0}));
