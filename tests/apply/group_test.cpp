/* The 3D-group verdict and its console explanation, fed with condition
 * words directly. */
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <stdio.h>

#include <atomic>
#include <string>
#include <vector>

#include "oblique/oblique.h"
#include "tests/support/console_capture.h"
#include "tests/support/golden.h"

namespace {

std::atomic<bool> forced(false);
std::atomic<unsigned int> forced_word(0);
std::atomic<Kelvra_Class *> asked(nullptr);

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

/* Each word's verdict and console lines (tests/data/traces/group_verdicts.trace). */
TEST_F(Group, VerdictAndLinesOfEachWord)
{
    const unsigned int words[] = {0,           ~0xF3030000u, 0x80000000u, 0x40000000u, 0x01000000u,
                                  0x02000000u, 0x20000000u,  0x10000000u, 0x00020000u, 0x00010000u,
                                  0x10020000u, 0x10010000u,  0xF3030000u};
    std::vector<std::string> transcript;
    for (unsigned int word : words) {
        char head[40];
        snprintf(head, sizeof head, "%08x -> %d", word, Test(word));
        transcript.push_back(head);
        for (const std::string &line : Golden_Console(console.Lines()))
            transcript.push_back("  " + line);
        EXPECT_EQ(asked, &cls);
    }
    EXPECT_TRUE(Trace_Is("group_verdicts", transcript));
}

} // namespace
