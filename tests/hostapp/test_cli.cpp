/*
 * The host program as a user runs it: what it prints and its exit codes,
 * one command line a row, each run in a fresh folder holding the inputs
 * its row asks for.  The fuzz regressions' manifest joins the table.
 */
#include <math.h>
#include <stdio.h>
#include <unistd.h>

#include <array>

#include <gtest/gtest.h>

#include "test_files.h"

namespace {

/* One command line of a table: see commands.tsv. */
struct Line {
    std::string make, args;
    int code;
    std::string err, out;
    std::vector<std::string> files; /* file, folder/ or picture, what it holds; again */
};

void PrintTo(const Line &line, std::ostream *os) { *os << line.args; }

std::vector<Line> Commands()
{
    std::vector<Line> lines;
    for (const auto &r : Rows(AZ_SOURCE_DIR "/tests/hostapp/commands.tsv", 11))
        lines.push_back(Line{r[0], r[1], atoi(r[2].c_str()), r[3], r[4], {r.begin() + 5, r.end()}});
    return lines;
}

/* Inputs that once made a reader misbehave (fuzz/regressions/<reader>/),
 * each with the exit code and message its manifest gives: NIfTI files are
 * read as a study and as its labels, DICOM files as a study, label tables
 * beside a label volume. */
std::vector<Line> Manifest()
{
    std::vector<Line> lines;
    for (const auto &r : Rows(AZ_SOURCE_DIR "/fuzz/regressions/manifest.tsv", 3)) {
        std::string reader = r[0].substr(0, r[0].find('/')), path = AZ_SOURCE_DIR "/fuzz/regressions/" + r[0];
        int code = atoi(r[1].c_str());
        if (reader == "labels")
            lines.push_back(Line{"labels", "info study.nii --labels " + r[0].substr(7, r[0].rfind('.') - 7) + ".nii",
                                 code, "", r[2], {}});
        else
            lines.push_back(Line{"", "info " + path + (reader == "nifti" ? " --labels " + path : ""), code,
                                 code ? path + ": " + r[2] : "", code ? "" : r[2], {}});
    }
    return lines;
}

class Command : public ::testing::TestWithParam<Line> {};

TEST_P(Command, ExitsAndSays)
{
    const Line &line = GetParam();
    Temp_Folder folder;
    Inputs_Make(line.make, folder);
    Outcome run = Program(line.args, folder.Path());
    EXPECT_EQ(line.code, run.code) << run.err;
    EXPECT_TRUE(Matches(run.err, line.err)) << run.err;
    EXPECT_TRUE(Matches(run.out, line.out)) << run.out;
    EXPECT_TRUE((line.code != 1 && line.code != 3) || run.out.empty()) << run.out;
    for (size_t i = 0; i + 1 < line.files.size() && !line.files[i].empty(); i += 2) {
        std::string path = folder.File(line.files[i]), held;
        for (const std::string &name : Names_In(path))
            held += (held.empty() ? "" : " ") + name;
        if (path.back() != '/')
            held = Contains(path, ".png") ? Png_Size(path) : Text_Of(path);
        EXPECT_TRUE(line.files[i + 1] == "!" ? access(path.c_str(), F_OK) != 0 : Matches(held, line.files[i + 1]))
            << line.files[i] << ": " << held;
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
    std::string summary = Text_Of(folder.File("demo/summary.txt"));
    EXPECT_TRUE(Contains(run.out, "demo: using the built-in phantom\n") && Contains(run.out, summary)) << run.out;
    // The box of 95 x 95 x 47 voxel steps turned about x by 25 and y by -20 degrees; the times end the summary.
    EXPECT_TRUE(Matches(summary, "^study: Phantom\npanel angles: alpha 25.00 degrees, beta -20.00 degrees\noriginal: 48 "
                                 "frames of 96 x 96 pixels, spacing 1 x 1 x 2 mm, tags\n  orientation: row (1.0000, "
                                 "0.0000, 0.0000), column (0.0000, 1.0000, 0.0000), normal (0.0000, 0.0000, 1.0000)\n"
                                 "oblique: 111 frames of 118 x 106 pixels, spacing *\ntimes: load * s\n$"))
        << summary;
    double load = -1, apply = -1, export_s = -1;
    sscanf(summary.c_str() + summary.find("\ntimes: "),
           "\ntimes: load %lf s, apply %lf s (\"Update DB\" to the last frame), export %lf s\n", &load, &apply, &export_s);
    EXPECT_TRUE(load >= 0.0 && apply > 0.0 && export_s > 0.0) << summary;
    for (const char *name : {"oblique.nii.gz", "oblique_tags.nii.gz"})
        EXPECT_GT(Text_Of(folder.File(std::string("demo/") + name)).size(), 352u) << name;
    // 36 of the 111 frames, six a row, at their own size.
    EXPECT_EQ("708x636", Png_Size(folder.File("demo/oblique_montage.png")));
    EXPECT_EQ("118x106", Png_Size(folder.File("demo/oblique_middle.png")));
    EXPECT_NE("", Png_Size(folder.File("demo/panel.png")));
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
    Inputs_Make("two", folder);
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
