/* The shipped module as the host loads it: its entry points by name, their
 * texts, and what the library exports. */
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <stdio.h>
#include <string>
#include <vector>

#include "host/corvantis_tools.h"

namespace {

typedef const char *(*Version_Fct)(void);
typedef const char *(*Register_Fct)(unsigned int);
typedef const char *(*Class_Register_Fct)(unsigned int *);
typedef void (*Class_Status_Fct)(Texts *);

class ModuleEntry : public ::testing::Test {
  protected:
    static void *handle;
    static void SetUpTestSuite()
    {
        handle = dlopen(AZ_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();
    }
    template <typename F> F Entry(const char *name)
    {
        void *found = dlsym(handle, name);
        EXPECT_NE(found, nullptr) << name;
        return reinterpret_cast<F>(found);
    }
};
void *ModuleEntry::handle = nullptr;

/* Symbols nm lists for the shipped library with these options (default:
 * the defined dynamic ones): name -> nm type letter. */
std::map<std::string, char> Exported_Symbols(const char *options = "-D --defined-only")
{
    std::map<std::string, char> symbols;
    std::string command = std::string("nm ") + options + " '" + AZ_MODULE_PATH + "' 2>/dev/null";
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe)
        return symbols;
    char line[4096];
    while (fgets(line, sizeof line, pipe)) {
        // "address type name", or "type name" for an undefined symbol.
        std::istringstream in(line);
        std::vector<std::string> words;
        for (std::string word; in >> word;)
            words.push_back(word);
        if (words.size() >= 2)
            symbols[words.back()] = words[words.size() - 2][0];
    }
    pclose(pipe);
    return symbols;
}

/* The entry points the contract header declares. */
std::set<std::string> Declared_Entry_Points()
{
    std::ifstream header(std::string(AZ_SOURCE_DIR) + "/module/entry.h");
    std::stringstream text;
    text << header.rdbuf();
    std::string all = text.str();
    std::set<std::string> names;
    std::regex declaration("AZ_EXPORT[^;(]*?\\b([A-Z][A-Za-z_]*)\\s*\\(");
    for (std::sregex_iterator it(all.begin(), all.end(), declaration), end; it != end; ++it)
        names.insert((*it)[1]);
    return names;
}

} // namespace

TEST_F(ModuleEntry, IdentityTexts)
{
    Version_Fct version = Entry<Version_Fct>("Version");
    Register_Fct reg = Entry<Register_Fct>("Register");
    Class_Register_Fct class_register = Entry<Class_Register_Fct>("Class_Register");
    ASSERT_TRUE(version && reg && class_register);

    EXPECT_STREQ(version(), "1.0 rev-a  (Nov 22 2013)");
    EXPECT_STRNE(version(), "1.0 rev-a (Nov 22 2013)");
    EXPECT_EQ(version(), version()) << "one static text";
    EXPECT_STREQ(reg(0), "class Oblique");
    EXPECT_EQ(reg(0), reg(0));

    unsigned int slot[3] = {0xDEADBEEFu, 0xDEADBEEFu, 0xDEADBEEFu};
    EXPECT_STREQ(class_register(&slot[1]), "RUD Azozude");
    EXPECT_EQ(slot[1], 13u);
    EXPECT_EQ(slot[0], 0xDEADBEEFu) << "writes one 32-bit slot only";
    EXPECT_EQ(slot[2], 0xDEADBEEFu);
    EXPECT_STREQ(class_register(nullptr), "RUD Azozude") << "a null slot is not written";
}

TEST_F(ModuleEntry, StatusLabel)
{
    Class_Status_Fct status = Entry<Class_Status_Fct>("Class_Status");
    ASSERT_NE(status, nullptr);
    Texts area;
    area.Write("previous");
    status(&area);
    EXPECT_STREQ(area.Read(), "RUD Azozude:");
}

TEST(ModuleExports, EntryPointsAndClassOnly)
{
    std::map<std::string, char> symbols = Exported_Symbols();
    ASSERT_FALSE(symbols.empty()) << "nm -D found nothing in " << AZ_MODULE_PATH;
    std::set<std::string> declared = Declared_Entry_Points();
    ASSERT_TRUE(declared.count("Version") && declared.count("Ctrl_Click") && declared.count("Update_A"))
        << "the contract header's entry points were not read";

    // Always there: the identity entry points and the insert level.
    for (const char *name : {"Version", "Register", "Class_Register", "Class_Status", "Class_Insert"}) {
        ASSERT_TRUE(symbols.count(name)) << name;
        EXPECT_EQ(symbols[name], 'T') << name;
    }
    // The class: constructors, destructor, assignment, virtual table and
    // its two update operations.
    for (const char *name : {"_ZN14Kelvra_ObliqueC1EP12Kelvra_ClasstP11Kelvra_Fileii",
                             "_ZN14Kelvra_ObliqueC1EP12Kelvra_Classta", "_ZN14Kelvra_ObliqueC1ERKS_",
                             "_ZN14Kelvra_ObliqueD0Ev", "_ZN14Kelvra_ObliqueD1Ev", "_ZN14Kelvra_ObliqueaSERKS_",
                             "_ZTV14Kelvra_Oblique", "_ZN14Kelvra_Oblique8Update_BEm",
                             "_ZN14Kelvra_Oblique14Update_Child_AEmPvS0_P9Region_4D"})
        EXPECT_TRUE(symbols.count(name)) << name;

    // Every plain (C) name exported is a declared entry point; linker
    // markers aside.
    const std::set<std::string> linker = {"_init", "_fini", "_edata", "_end", "__bss_start"};
    for (const auto &symbol : symbols) {
        const std::string &name = symbol.first;
        if (linker.count(name) || name.compare(0, 2, "_Z") == 0)
            continue;
        EXPECT_TRUE(declared.count(name)) << "exported but not an entry point: " << name;
    }
    // Fault injection is the test build's: the shipped library neither
    // wraps its heap calls nor asks for a fault hook, in any symbol table.
    for (const char *options : {"-D", ""})
        for (const auto &symbol : Exported_Symbols(options))
            for (const char *hook : {"Az_Fault_Alloc", "__wrap_", "__real_"})
                EXPECT_EQ(symbol.first.find(hook), std::string::npos) << "test hook shipped: " << symbol.first;
    // Inner routines stay hidden, in either naming; the only C++ code the
    // library exports of its own is the class (weak copies of templates and
    // of host classes' tables are the compiler's and may show).
    for (const auto &symbol : symbols) {
        const std::string &name = symbol.first;
        for (const char *inner : {"Oblique_Map", "Oblique_Map_Direct", "Class_Oblique_Pixel_", "Oblique_Block_",
                                  "Oblique_Validate", "Oblique_Setup", "Ctrl_Apply", "Ctrl_Update", "__wrap_"})
            EXPECT_EQ(name.find(inner), std::string::npos) << "inner routine exported: " << name;
        if (name.compare(0, 2, "_Z") == 0 && symbol.second == 'T') {
            EXPECT_NE(name.find("14Kelvra_Oblique"), std::string::npos) << "foreign C++ code exported: " << name;
        }
    }
}
