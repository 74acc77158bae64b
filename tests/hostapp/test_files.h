/*
 * Helpers of the host program's tests: scratch folders, the small studies of
 * tests/data/inputs, tables of rows, and the host program run as a user runs it.
 */
#ifndef TEST_FILES_H
#define TEST_FILES_H

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "hostapp/lib/az_read.h"

/* A scratch folder, removed with everything in it when the object goes. */
class Temp_Folder {
  public:
    Temp_Folder();
    ~Temp_Folder();
    const std::string &Path() const { return path; }
    std::string File(const std::string &name) const { return path + "/" + name; }

  private:
    std::string path;
};

/* Writes bytes as they are. */
bool Bytes_Write(const std::string &path, const std::string &bytes);

/* Whether text holds part. */
bool Contains(const std::string &text, const std::string &part);

/* Whether text holds the pattern's parts, split at '*', in this order; a
 * leading '^' ties the first part to the start of the text, a closing '$'
 * the last to its end. */
bool Matches(const std::string &text, std::string pattern);

/* A file's bytes ("" when it cannot be read). */
std::string Text_Of(const std::string &path);

/* The names in a folder, hidden ones too, sorted; empty when it does not exist. */
std::vector<std::string> Names_In(const std::string &folder);

/* A shell line's status (0 when it succeeded); its standard output and error together. */
int Shell(const std::string &line);
std::string Shell_Output(const std::string &line);

/* The first series the host's reader finds at path (a test failure when none). */
AzSeries Series_Read(const std::string &path);

/* "WIDTHxHEIGHT" from a PNG file's header; "" when it is no PNG. */
std::string Png_Size(const std::string &path);

/* The value of type T stored at offset of bytes. */
template <class T> T Field(const std::string &bytes, size_t offset)
{
    T value{};
    if (offset + sizeof(T) <= bytes.size())
        memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

/* The rows of a tab-separated table, comments (#) and blank lines left out, each cut or padded to columns;
 * {build} stands for the build folder, {fuzz} for the fuzz regressions, \\n for a line end. */
std::vector<std::vector<std::string>> Rows(const std::string &path, size_t columns);

/* A file of tests/data/inputs. */
std::string Input(const std::string &name);

/* Inputs of a test, put into folder: names of folders of tests/data/inputs (copied in), empty folders as
 * name/, module-copy (the module as mine.so), and files as name=bytes; split by '|'. */
void Inputs_Make(const std::string &make, const Temp_Folder &folder);

/* The host program's exit code, standard output and standard error. */
struct Outcome {
    int code;
    std::string out, err;
};

/* Runs the host program with arguments (a shell line), in folder cwd when given. */
Outcome Program(const std::string &arguments, const std::string &cwd = "");

#endif
