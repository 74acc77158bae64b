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

/* Symbols nm lists for the shipped library with these options: name -> type letter. */
std::map<std::string, char> Exported_Symbols(const char *options)
{
    std::map<std::string, char> symbols;
    std::string command = std::string("nm ") + options + " '" + AZ_MODULE_PATH + "' 2>/dev/null";
    FILE *pipe = popen(command.c_str(), "r");
    char line[4096];
    while (pipe && fgets(line, sizeof line, pipe)) {
        // "address type name", or "type name" for an undefined symbol.
        std::istringstream in(line);
        std::vector<std::string> words;
        for (std::string word; in >> word;)
            words.push_back(word);
        if (words.size() >= 2)
            symbols[words.back()] = words[words.size() - 2][0];
    }
    if (pipe)
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

TEST(ModuleEntry, IdentityTextsByName)
{
    void *handle = dlopen(AZ_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    auto version = (const char *(*)(void))dlsym(handle, "Version");
    auto reg = (const char *(*)(unsigned int))dlsym(handle, "Register");
    auto class_register = (const char *(*)(unsigned int *))dlsym(handle, "Class_Register");
    auto status = (void (*)(Texts *))dlsym(handle, "Class_Status");
    ASSERT_TRUE(version && reg && class_register && status);
    EXPECT_STREQ(version(), "1.0 rev-a  (Nov 22 2013)");
    EXPECT_EQ(version(), version()) << "one static text";
    EXPECT_STREQ(reg(0), "class Oblique");
    unsigned int slot[3] = {0xDEADBEEFu, 0xDEADBEEFu, 0xDEADBEEFu};
    EXPECT_STREQ(class_register(&slot[1]), "RUD Azozude");
    EXPECT_EQ(slot[1], 13u);
    EXPECT_EQ(slot[0] & slot[2], 0xDEADBEEFu) << "writes one 32-bit slot only";
    EXPECT_STREQ(class_register(nullptr), "RUD Azozude") << "a null slot is not written";
    Texts area;
    area.Write("previous");
    status(&area);
    EXPECT_STREQ(area.Read(), "RUD Azozude:");
}

TEST(ModuleExports, EntryPointsAndClassOnly)
{
    std::map<std::string, char> symbols = Exported_Symbols("-D --defined-only");
    ASSERT_FALSE(symbols.empty()) << "nm -D found nothing in " << AZ_MODULE_PATH;
    std::set<std::string> declared = Declared_Entry_Points();
    ASSERT_TRUE(declared.count("Version") && declared.count("Ctrl_Click") && declared.count("Update_A"))
        << "the contract header's entry points were not read";
    for (const char *name : {"Version", "Register", "Class_Register", "Class_Status", "Class_Insert"})
        EXPECT_EQ(symbols[name], 'T') << name;
    // The class: constructors, destructor, assignment, virtual table and its two update operations.
    for (const char *name : {"_ZN14Kelvra_ObliqueC1EP12Kelvra_ClasstP11Kelvra_Fileii",
                             "_ZN14Kelvra_ObliqueC1EP12Kelvra_Classta", "_ZN14Kelvra_ObliqueC1ERKS_",
                             "_ZN14Kelvra_ObliqueD0Ev", "_ZN14Kelvra_ObliqueD1Ev", "_ZN14Kelvra_ObliqueaSERKS_",
                             "_ZTV14Kelvra_Oblique", "_ZN14Kelvra_Oblique8Update_BEm",
                             "_ZN14Kelvra_Oblique14Update_Child_AEmPvS0_P9Region_4D"})
        EXPECT_TRUE(symbols.count(name)) << name;
    // Every plain (C) name exported is a declared entry point, linker markers
    // aside; the only C++ code of its own is the class (weak copies of
    // templates and of host classes' tables are the compiler's and may show).
    const std::set<std::string> linker = {"_init", "_fini", "_edata", "_end", "__bss_start"};
    for (const auto &symbol : symbols) {
        const std::string &name = symbol.first;
        if (name.compare(0, 2, "_Z") != 0) {
            EXPECT_TRUE(linker.count(name) || declared.count(name)) << "exported but not an entry point: " << name;
        } else if (symbol.second == 'T') {
            EXPECT_NE(name.find("14Kelvra_Oblique"), std::string::npos) << "foreign C++ code exported: " << name;
        }
        for (const char *inner : {"Oblique_Map", "Class_Oblique_Pixel_", "Oblique_Block_", "Oblique_Validate",
                                  "Oblique_Setup", "Ctrl_Apply", "Ctrl_Update"})
            EXPECT_EQ(name.find(inner), std::string::npos) << "inner routine exported: " << name;
    }
    // Fault injection is the test build's: the shipped library neither wraps
    // its heap calls nor asks for a fault hook, in any symbol table.
    for (const char *options : {"-D", ""})
        for (const auto &symbol : Exported_Symbols(options))
            for (const char *hook : {"Az_Fault_Alloc", "__wrap_", "__real_"})
                EXPECT_EQ(symbol.first.find(hook), std::string::npos) << "test hook shipped: " << symbol.first;
}
