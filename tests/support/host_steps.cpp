#include "host_steps.h"

#include <float.h>
#include <math.h>

#include <algorithm>
#include <iterator>


AzPhantom_Plan Plan_Of(const char *name, int width, int height, int slices, float sx, float sy, float sz)
{
    AzPhantom_Plan plan{width, height, slices, 1, 1, {sx, sy, sz}}; // one time point, one image a slice
    plan.name = name;
    return plan;
}

std::vector<AzFrame *> Frames_Of(Kelvra_Class *cls)
{
    std::vector<AzFrame *> frames;
    for (int i = 0; i < cls->Child_Get_Nb(); i++)
        frames.push_back(AzFrame_Cast(cls->Child_Get_Pt(i)));
    return frames;
}

Matrix_4x4 Swap_Matrix(int last, int reversed)
{
    Matrix_4x4 m;
    for (int i = 0; i < 16; i++)
        m[i / 4][i % 4] = 0.0f;
    m[2][0] = m[1][1] = m[3][3] = 1.0f;
    m[0][2] = reversed ? -1.0f : 1.0f;
    m[3][2] = reversed ? (float)last : 0.0f;
    return m;
}

static bool Float_Near(float a, float b)
{
    return a == b || fabsf(a - b) <= 4 * FLT_EPSILON * fmaxf(fabsf(a), fabsf(b));
}

testing::AssertionResult Xyz_Is(float vx, float vy, float vz, float x, float y, float z)
{
    if (Float_Near(vx, x) && Float_Near(vy, y) && Float_Near(vz, z))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "(" << vx << ", " << vy << ", " << vz << ") is not (" << x << ", " << y
                                       << ", " << z << ")";
}

std::string Dim_Text(const Oblique_Dim &dim)
{
    return std::to_string(dim.x) + " " + std::to_string(dim.y) + " " + std::to_string(dim.z);
}

std::vector<std::string> Lines_Starting(const std::vector<std::string> &lines,
                                        const std::vector<std::string> &prefixes)
{
    std::vector<std::string> kept;
    for (const std::string &line : lines)
        if (std::any_of(prefixes.begin(), prefixes.end(),
                        [&line](const std::string &prefix) { return line.compare(0, prefix.size(), prefix) == 0; }))
            kept.push_back(line);
    return kept;
}

std::vector<std::string> Lines_With(const std::vector<std::string> &lines, const std::string &part)
{
    std::vector<std::string> kept;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(kept),
                 [&part](const std::string &line) { return line.find(part) != std::string::npos; });
    return kept;
}
