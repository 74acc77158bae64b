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

void Module_Copy(const std::string &f) { Shell("cp '" AZ_MODULE_PATH "' '" + f + "/mine.so'"); }

/* Studies that cannot be loaded, and label volumes beside and away from a study. */
void Bad_Files(const std::string &f)
{
    Mkdir(f, "nothing");
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
    Nifti_Plan many;
    many.dim = {20, 15, 1, 1};
    for (int n = 0; n < 300; n++)
        many.values.push_back(1000 + n);
    many.datatype = 16;
    Nifti_Write(f + "/too_many.nii", many);
}

void Known_By_Content(const std::string &f)
{
    Nifti_Plan plan = Small();
    plan.sform = {{{0.5, 0, 0, 10}, {0, 0.75, 0, 0}, {0, 0, 2, 0}}};
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
    plan.dim = {6, 5, 4, 3};
    for (int n = 0; n < 6 * 5 * 4 * 3; n++)
        plan.values.push_back(1000 * (n / 120) + 100 * (n / 30 % 4) + 10 * (n / 6 % 5) + n % 6);
    Nifti_Write(f + "/run.nii", plan);
    Nifti_Write(f + "/study.nii", Small());
}

/* An oblique series, its files named in another order than their locations: rows along (cos 30, sin 30, 0),
 * columns along (0, 0, -1), 2.5 mm apart; as one multi-frame file, 3 mm apart.  NIfTI volumes of both
 * versions with an oblique affine and two time points, and one without transforms. */
void Geometry(const std::string &f)
{
    Mkdir(f, "series");
    const int order[5] = {2, 0, 3, 1, 0};
    for (int n = 0; n < 5; n++) {
        Dicom_Plan plan;
        int slice = order[n];
        double step = n < 4 ? 2.5 : 3.0, c = 0.86602540378, s = 0.5;
        plan.row = {c, s, 0};
        plan.col = {0, 0, -1};
        plan.position = {10.0 - s * step * slice, -20.0 + c * step * slice, 30};
        plan.row_spacing = 0.7;
        plan.col_spacing = 0.5;
        plan.slope = 2.0;
        plan.intercept = -100.0;
        plan.frames = n < 4 ? 1 : 3;
        plan.frame_step = step;
        plan.sop_instance += "." + std::to_string(slice + 1);
        Dicom_Write(n < 4 ? f + "/series/im" + std::to_string(n) + ".dcm" : f + "/multi.dcm", plan);
    }
    Nifti_Plan plan;
    plan.dim = {3, 2, 4, 2};
    // RAS columns: i along (0.6, 0.8, 0)*2, j along (-0.8, 0.6, 0)*1.5, k along z*3.
    plan.sform = {{{1.2, -1.2, 0, 5}, {1.6, 0.9, 0, -6}, {0, 0, 3, 7}}};
    plan.slope = 0.5;
    plan.intercept = 10.0;
    plan.datatype = 16;
    for (int n = 0; n < 48; n++)
        plan.values.push_back(n / 24 * 1000 + n / 6 % 4 * 100 + n / 3 % 2 * 10 + n % 3);
    Nifti_Write(f + "/v1.nii", plan);
    plan.version = 2;
    Nifti_Write(f + "/v2.nii", plan);
    plan = Nifti_Plan();
    plan.sform_code = 0; // only the voxel sizes are used
    plan.sform = {{{2, 0, 0, 99}, {0, 3, 0, 99}, {0, 0, 4, 99}}};
    Nifti_Write(f + "/plain.nii", plan);
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
        plan.position = {10, -20, depths[k]};
        for (int n = 0; n < 16 * 12; n++)
            plan.stored.push_back(static_cast<uint16_t>(100 + 10 * (n % 16) + 3 * (n / 16)));
        Dicom_Write(path + "/s" + std::to_string(k) + ".dcm", plan);
    }
    return path;
}

void Gap(const std::string &f)
{
    Series_At(f, "gap", {0, 1, 2, 3, 5, 6}, 1.0);
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
    zeros.dim = {256, 256, 64, 1};
    Nifti_Write(f + "/zeros.nii", zeros);
    Shell("cd '" + f + "' && gzip -9 -c huge.nii >huge.nii.gz && gzip -9 zeros.nii");
}

/* A study, and a PET series. */
void Sessions(const std::string &f)
{
    Nifti_Write(f + "/study.nii", Small());
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

const struct {
    const char *name;
    void (*make)(const std::string &folder);
} makers[] = {{"module-copy", Module_Copy}, {"bad", Bad_Files}, {"by-content", Known_By_Content}, {"tilted", Tilted},
              {"4d", Four_D}, {"some-bad", Some_Bad}, {"gap", Gap}, {"dims", Dims}, {"huge", Huge},
              {"sessions", Sessions}, {"labels", Label_Tables}, {"geometry", Geometry}};

/* One command line of a table: see commands.tsv. */
struct Line {
    std::string make, args;
    int code;
    std::string err, out, file, text;
};

void PrintTo(const Line &line, std::ostream *os) { *os << line.args; }

std::string Expand(std::string text)
{
    const char *names[][2] = {{"{build}", AZ_BUILD_DIR}, {"{fuzz}", AZ_SOURCE_DIR "/fuzz/regressions"}, {"\\n", "\n"}};
    for (const auto &name : names)
        for (size_t at; (at = text.find(name[0])) != std::string::npos;)
            text.replace(at, strlen(name[0]), name[1]);
    return text;
}

/* The rows of a tab-separated table, comments and blank lines left out. */
std::vector<std::vector<std::string>> Rows(const std::string &path)
{
    std::vector<std::vector<std::string>> rows;
    std::ifstream file(path);
    for (std::string text; std::getline(file, text);) {
        if (text.empty() || text[0] == '#')
            continue;
        rows.emplace_back();
        for (size_t at = 0, tab;; at = tab + 1) {
            rows.back().push_back(Expand(text.substr(at, (tab = text.find('\t', at)) - at)));
            if (tab == std::string::npos)
                break;
        }
        rows.back().resize(7);
    }
    return rows;
}

std::vector<Line> Commands()
{
    std::vector<Line> lines;
    for (const auto &r : Rows(AZ_SOURCE_DIR "/tests/hostapp/commands.tsv"))
        lines.push_back(Line{r[0], r[1], atoi(r[2].c_str()), r[3], r[4], r[5], r[6]});
    return lines;
}

/* Inputs that once made a reader misbehave (fuzz/regressions/<reader>/),
 * each with the exit code and message its manifest gives: NIfTI files are
 * read as a study and as its labels, DICOM files as a study, label tables
 * beside a label volume. */
std::vector<Line> Manifest()
{
    std::vector<Line> lines;
    for (const auto &r : Rows(AZ_SOURCE_DIR "/fuzz/regressions/manifest.tsv")) {
        std::string reader = r[0].substr(0, r[0].find('/')), path = AZ_SOURCE_DIR "/fuzz/regressions/" + r[0];
        int code = atoi(r[1].c_str());
        if (reader == "labels")
            lines.push_back(Line{"labels", "info study.nii --labels " + r[0].substr(7, r[0].rfind('.') - 7) + ".nii",
                                 code, "", r[2], "", ""});
        else
            lines.push_back(Line{"", "info " + path + (reader == "nifti" ? " --labels " + path : ""), code,
                                 code ? path + ": " + r[2] : "", code ? "" : r[2], "", ""});
    }
    return lines;
}

class Command : public ::testing::TestWithParam<Line> {};

TEST_P(Command, ExitsAndSays)
{
    const Line &line = GetParam();
    Temp_Folder folder;
    // The inputs: makers by name, and files given in the row as name=bytes, split by '|'.
    for (size_t at = 0, bar; at <= line.make.size(); at = bar + 1) {
        std::string input = line.make.substr(at, (bar = std::min(line.make.find('|', at), line.make.size())) - at);
        size_t is = input.find('=');
        if (is != std::string::npos && Shell("mkdir -p \"$(dirname '" + folder.File(input.substr(0, is)) + "')\"") == 0)
            Bytes_Write(folder.File(input.substr(0, is)), input.substr(is + 1));
        for (const auto &maker : makers)
            if (input == maker.name)
                maker.make(folder.Path());
    }
    Outcome run = Program(line.args, folder.Path());
    EXPECT_EQ(line.code, run.code) << run.err;
    EXPECT_TRUE(Matches(run.err, line.err)) << run.err;
    EXPECT_TRUE(Matches(run.out, line.out)) << run.out;
    EXPECT_TRUE((line.code != 1 && line.code != 3) || run.out.empty()) << run.out;
    if (!line.file.empty()) {
        EXPECT_TRUE(line.text == "!" ? access(folder.File(line.file).c_str(), F_OK) != 0
                                     : Matches(Text_Of(folder.File(line.file)), line.text)) << line.file;
    }
}

/* A row's name: its number, then the letters and digits of its command line, folders of the tree left out. */
std::string Row_Name(const ::testing::TestParamInfo<Line> &row)
{
    std::string args = row.param.args, name = std::to_string(row.index) + "_";
    for (const char *folder : {AZ_SOURCE_DIR "/fuzz/regressions/", AZ_BUILD_DIR "/"})
        for (size_t at; (at = args.find(folder)) != std::string::npos;)
            args.erase(at, strlen(folder));
    for (char c : args)
        name += isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name.substr(0, 72);
}

INSTANTIATE_TEST_SUITE_P(Table, Command, ::testing::ValuesIn(Commands()), Row_Name);
INSTANTIATE_TEST_SUITE_P(FuzzRegressions, Command, ::testing::ValuesIn(Manifest()), Row_Name);

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
