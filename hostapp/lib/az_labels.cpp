/*
 * Colour tables and names of label volumes.
 */
#include <stdio.h>
#include <string.h>

#include "az_series.h"

namespace {

const long binary_table_size = 768;

int File_Size(FILE *file, long *size)
{
    if (fseek(file, 0, SEEK_END) != 0)
        return 0;
    *size = ftell(file);
    return fseek(file, 0, SEEK_SET) == 0 && *size >= 0;
}

/* 256 reds, then 256 greens, then 256 blues. */
int Colours_Binary(FILE *file, AzLabels *labels)
{
    unsigned char table[binary_table_size];
    if (fread(table, 1, sizeof(table), file) != sizeof(table))
        return 0;
    for (int i = 0; i < 256; i++)
        for (int c = 0; c < 3; c++)
            labels->colours[i][c] = table[c * 256 + i];
    return 1;
}

/* Lines "index red green blue"; other lines are skipped. */
int Colours_Text(FILE *file, AzLabels *labels)
{
    char line[512];
    int read_nb = 0;
    while (fgets(line, sizeof(line), file)) {
        int index, red, green, blue;
        if (sscanf(line, "%d %d %d %d", &index, &red, &green, &blue) != 4)
            continue;
        if (index < 0 || index > 255)
            continue;
        labels->colours[index][0] = static_cast<unsigned char>(red < 0 ? 0 : red > 255 ? 255 : red);
        labels->colours[index][1] = static_cast<unsigned char>(green < 0 ? 0 : green > 255 ? 255 : green);
        labels->colours[index][2] = static_cast<unsigned char>(blue < 0 ? 0 : blue > 255 ? 255 : blue);
        read_nb++;
    }
    return read_nb > 0;
}

} // namespace

int AzLabels_Read_Colours(const std::string &path, AzLabels *labels)
{
    FILE *file = fopen(path.c_str(), "rb");
    if (!file)
        return 0;
    long size = 0;
    int done = File_Size(file, &size) &&
               (size == binary_table_size ? Colours_Binary(file, labels) : Colours_Text(file, labels));
    fclose(file);
    if (done)
        labels->has_colours = 1;
    return done;
}

int AzLabels_Read_Names(const std::string &path, AzLabels *labels)
{
    FILE *file = fopen(path.c_str(), "r");
    if (!file)
        return 0;
    char line[512];
    int read_nb = 0;
    while (fgets(line, sizeof(line), file)) {
        int index;
        char name[256];
        if (sscanf(line, "%d %255s", &index, name) != 2 || index < 0 || index > 255)
            continue;
        labels->names[index] = name;
        read_nb++;
    }
    fclose(file);
    return read_nb > 0;
}
