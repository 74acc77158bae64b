/* The 3D-group verdict and its console explanation, fed with condition
 * words directly. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apply_support.h"
#include "oblique/oblique.h"
#include "tests/support/console_capture.h"

namespace {

const Console_Line Title{4, "\xF1\x02 Testing Group:\x01 Knee T1 (dir:Original)"};
const Console_Line Header{2, "\xF1\x05WARNING:\x02 Invalid Volume!"};
const Console_Line Valid{4, "    It is a valid 3D group."};

class Group : public ::testing::Test {
  protected:
    Group() : cls(nullptr, 0, (signed char)0) { cls.Name_Set("%s", "Knee T1 (dir:Original)"); }
    ~Group() override { Group_Word_Release(); }
    int Test(unsigned int word)
    {
        console.Clear();
        Group_Word_Force(word);
        return Oblique_Group_Test(&cls);
    }
    Kelvra_Oblique cls;
    Console_Capture console;
};

TEST_F(Group, EachConditionAlone)
{
    struct Case {
        unsigned int word;
        std::vector<std::string> details;
        int valid;
    };
    const Case cases[] = {
        {0x80000000u, {}, 0},
        {0x40000000u, {"\xF1\t You need more than 1 frame to make a 3D group..."}, 0},
        {0x01000000u, {"\xF1\t All images must have the same resolution"}, 0},
        {0x02000000u, {"\xF1\t All images must have the same pixel dimentions"}, 0},
        {0x20000000u, {"\xF1\t All images must be parallel"}, 0},
        {0x10000000u, {"\xF1\t All images must be aligned"}, 1},
        {0x00020000u, {"\xF1\t 2 or more images have", "\xF1\t the same position !"}, 0},
        {0x00010000u, {"\xF1\t All images must be sorted", "\xF1\t Sort the images in Admin mode"}, 0},
    };
    for (const Case &c : cases) {
        int result = Test(c.word);
        std::vector<Console_Line> expected{Title, Header};
        for (const std::string &d : c.details)
            expected.push_back(Console_Line{2, d});
        if (c.valid)
            expected.push_back(Valid);
        EXPECT_EQ(result, c.valid) << std::hex << c.word;
        EXPECT_EQ(console.Lines(), expected) << std::hex << c.word << "\n" << Console_Dump(console.Lines());
    }
}

TEST_F(Group, NoConditionAndIgnoredBits)
{
    const std::vector<Console_Line> expected{Title, Valid};
    EXPECT_EQ(Test(0), 1);
    EXPECT_EQ(console.Lines(), expected) << Console_Dump(console.Lines());
    EXPECT_EQ(Group_Word_Class(), &cls);
    /* Bits outside the eight conditions mean nothing to the verdict. */
    EXPECT_EQ(Test(~0xF3030000u), 1);
    EXPECT_EQ(console.Lines(), expected) << Console_Dump(console.Lines());
}

TEST_F(Group, HeaderRepeatsPerBitAndSortingEndsTheTest)
{
    /* Every condition: all lines in table order, the sorting lines last,
     * no verdict line. */
    EXPECT_EQ(Test(0xF3030000u), 0);
    const std::vector<Console_Line> all{
        Title,
        Header,
        Header,
        {2, "\xF1\t You need more than 1 frame to make a 3D group..."},
        Header,
        {2, "\xF1\t All images must have the same resolution"},
        Header,
        {2, "\xF1\t All images must have the same pixel dimentions"},
        Header,
        {2, "\xF1\t All images must be parallel"},
        Header,
        {2, "\xF1\t All images must be aligned"},
        Header,
        {2, "\xF1\t 2 or more images have"},
        {2, "\xF1\t the same position !"},
        Header,
        {2, "\xF1\t All images must be sorted"},
        {2, "\xF1\t Sort the images in Admin mode"},
    };
    EXPECT_EQ(console.Lines(), all) << Console_Dump(console.Lines());

    /* Alignment alone does not spoil a group, but next to an invalid
     * condition the verdict stays invalid and no closing line follows. */
    EXPECT_EQ(Test(0x10000000u | 0x00020000u), 0);
    const std::vector<Console_Line> two{
        Title, Header, {2, "\xF1\t All images must be aligned"}, Header, {2, "\xF1\t 2 or more images have"},
        {2, "\xF1\t the same position !"},
    };
    EXPECT_EQ(console.Lines(), two) << Console_Dump(console.Lines());

    /* Sorting with only a notice before it still fails at once. */
    EXPECT_EQ(Test(0x10000000u | 0x00010000u), 0);
    const std::vector<Console_Line> sorted{
        Title,
        Header,
        {2, "\xF1\t All images must be aligned"},
        Header,
        {2, "\xF1\t All images must be sorted"},
        {2, "\xF1\t Sort the images in Admin mode"},
    };
    EXPECT_EQ(console.Lines(), sorted) << Console_Dump(console.Lines());
}

} // namespace
