/*
 * 3D-group test: the host judges each condition of the recorded frames;
 * here its answer becomes a verdict with an explanation on the console.
 */
#include "../oblique/oblique.h"
#include "oblique_apply_fixed.h"

#define GROUP_HEADER "\xF1\x05WARNING:\x02 Invalid Volume!"

/* What a condition bit means for the verdict. */
enum Group_Effect { GROUP_INVALID, GROUP_NOTICE, GROUP_STOP };

struct Group_Condition {
    unsigned int bit;
    const char *details[2];
    Group_Effect effect;
};

/* Examined in this order; the sorting condition ends the test. */
static const Group_Condition Group_Conditions[] = {
    {0x80000000u, {NULL, NULL}, GROUP_INVALID},
    {0x40000000u, {"\xF1\t You need more than 1 frame to make a 3D group...", NULL}, GROUP_INVALID},
    {0x01000000u, {"\xF1\t All images must have the same resolution", NULL}, GROUP_INVALID},
    {0x02000000u, {GROUP_MSG_PIXEL_SIZE, NULL}, GROUP_INVALID},
    {0x20000000u, {"\xF1\t All images must be parallel", NULL}, GROUP_INVALID},
    {0x10000000u, {"\xF1\t All images must be aligned", NULL}, GROUP_NOTICE},
    {0x00020000u, {"\xF1\t 2 or more images have", "\xF1\t the same position !"}, GROUP_INVALID},
    {0x00010000u, {"\xF1\t All images must be sorted", "\xF1\t Sort the images in Admin mode"}, GROUP_STOP},
};

static void Group_Explain(const Group_Condition &condition)
{
    Error_Fct(hwnd, 2, GROUP_HEADER);
    for (const char *detail : condition.details)
        if (detail)
            Error_Fct(hwnd, 2, "%s", detail);
}

int Oblique_Group_Test(Kelvra_Oblique *cls)
{
    Error_Fct(hwnd, 4, "\xF1\x02 Testing Group:\x01 %s", cls->Name_Get());
    unsigned int word = Fct_Group_Test(cls);
    int valid = 1;
    for (const Group_Condition &condition : Group_Conditions) {
        if (!(word & condition.bit))
            continue;
        Group_Explain(condition);
        if (condition.effect == GROUP_STOP)
            return 0;
        if (condition.effect == GROUP_INVALID)
            valid = 0;
    }
    if (!valid)
        return 0;
    Error_Fct(hwnd, 4, "    It is a valid 3D group.");
    return 1;
}
