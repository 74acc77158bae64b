/* The 3D-group verdict and its console explanation, fed with condition
 * words directly. */
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "oblique/oblique.h"
#include "tests/support/console_capture.h"

namespace {

std::atomic<bool> forced(false);
std::atomic<unsigned int> forced_word(0);
std::atomic<Kelvra_Class *> asked(nullptr);

const Console_Line Title{4, "\xF1\x02 Testing Group:\x01 Knee T1 (dir:Original)"};
const Console_Line Header{2, "\xF1\x05WARNING:\x02 Invalid Volume!"};
const Console_Line Valid{4, "    It is a valid 3D group."};
const Console_Line One_Frame{2, "\xF1\t You need more than 1 frame to make a 3D group..."};
const Console_Line Aligned{2, "\xF1\t All images must be aligned"};
const Console_Line Same_1{2, "\xF1\t 2 or more images have"}, Same_2{2, "\xF1\t the same position !"};
const Console_Line Sorted_1{2, "\xF1\t All images must be sorted"}, Sorted_2{2, "\xF1\t Sort the images in Admin mode"};

} // namespace

/* Stands in front of the host's group test (this program exports its
 * symbols, so the module's call lands here) to feed condition words that
 * real studies reach only with effort; passes through unless forced. */
extern "C" unsigned int Fct_Group_Test(Kelvra_Class *cls)
{
    typedef unsigned int (*Group_Test_Fct)(Kelvra_Class *);
    static Group_Test_Fct host = (Group_Test_Fct)dlsym(RTLD_NEXT, "Fct_Group_Test");
    asked = cls;
    if (forced)
        return forced_word;
    return host ? host(cls) : 0x80000000u;
}

namespace {

class Group : public ::testing::Test {
  protected:
    Group() : cls(nullptr, 0, (signed char)0) { cls.Name_Set("%s", "Knee T1 (dir:Original)"); }
    ~Group() override { forced = false; }
    int Test(unsigned int word)
    {
        console.Clear();
        forced_word = word;
        asked = nullptr;
        forced = true;
        return Oblique_Group_Test(&cls);
    }
    Kelvra_Oblique cls;
    Console_Capture console;
};

TEST_F(Group, VerdictAndLinesOfEachWord)
{
    struct Case {
        unsigned int word;
        std::vector<Console_Line> lines;
        int valid;
    };
    const Case cases[] = {
        {0, {Title, Valid}, 1},
        {~0xF3030000u, {Title, Valid}, 1},   // bits outside the eight conditions mean nothing
        {0x80000000u, {Title, Header}, 0},
        {0x40000000u, {Title, Header, One_Frame}, 0},
        {0x01000000u, {Title, Header, {2, "\xF1\t All images must have the same resolution"}}, 0},
        {0x02000000u, {Title, Header, {2, "\xF1\t All images must have the same pixel dimentions"}}, 0},
        {0x20000000u, {Title, Header, {2, "\xF1\t All images must be parallel"}}, 0},
        {0x10000000u, {Title, Header, Aligned, Valid}, 1},   // alignment alone does not spoil a group
        {0x00020000u, {Title, Header, Same_1, Same_2}, 0},
        {0x00010000u, {Title, Header, Sorted_1, Sorted_2}, 0},
        /* Next to an invalid condition alignment keeps the verdict invalid
         * and no closing line follows; sorting ends the test at once. */
        {0x10000000u | 0x00020000u, {Title, Header, Aligned, Header, Same_1, Same_2}, 0},
        {0x10000000u | 0x00010000u, {Title, Header, Aligned, Header, Sorted_1, Sorted_2}, 0},
        /* Every condition: all lines in table order, the sorting lines last. */
        {0xF3030000u,
         {Title, Header, Header, One_Frame, Header, {2, "\xF1\t All images must have the same resolution"}, Header,
          {2, "\xF1\t All images must have the same pixel dimentions"}, Header,
          {2, "\xF1\t All images must be parallel"}, Header, Aligned, Header, Same_1, Same_2, Header, Sorted_1,
          Sorted_2},
         0},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Test(c.word), c.valid) << std::hex << c.word;
        EXPECT_EQ(console.Lines(), c.lines) << std::hex << c.word << "\n" << Console_Dump(console.Lines());
        EXPECT_EQ(asked, &cls);
    }
}

} // namespace
