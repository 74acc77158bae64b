#include "apply_support.h"

#include <dlfcn.h>

#include <atomic>

namespace {
std::atomic<bool> forced(false);
std::atomic<unsigned int> forced_word(0);
std::atomic<Kelvra_Class *> asked(nullptr);
}

void Group_Word_Force(unsigned int word)
{
    forced_word = word;
    asked = nullptr;
    forced = true;
}

void Group_Word_Release() { forced = false; }

Kelvra_Class *Group_Word_Class() { return asked; }

/* Stands in front of the host's group test (this program exports its
 * symbols, so the module's call lands here) to feed condition words that
 * real studies reach only with effort. */
extern "C" unsigned int Fct_Group_Test(Kelvra_Class *cls)
{
    typedef unsigned int (*Group_Test_Fct)(Kelvra_Class *);
    static Group_Test_Fct host = (Group_Test_Fct)dlsym(RTLD_NEXT, "Fct_Group_Test");
    asked = cls;
    if (forced)
        return forced_word;
    return host ? host(cls) : 0x80000000u;
}
