/*
 * Files whose few header bytes ask for what the libraries would trust:
 * a dimension count the NIfTI library overruns its arrays with, voxel or
 * pixel buffers of gigabytes from files of a few hundred bytes, and a
 * DICOM file on which the library ends the process.  Each is refused with
 * its reason and exit code 2, before any library call that would crash or
 * allocate.
 */
#include <signal.h>
#include <stdint.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "hostapp/lib/az_read.h"
#include "tests/support/console_capture.h"
#include "test_files.h"

namespace {

const char malformed[] = ": not a NIfTI file, or its header is malformed";

/* Stores value little-endian in size bytes at offset. */
void Field_Put(std::string *bytes, size_t offset, int64_t value, int size)
{
    for (int i = 0; i < size; i++)
        (*bytes)[offset + i] = static_cast<char>((static_cast<uint64_t>(value) >> (8 * i)) & 0xff);
}

/* dim[i] of a written header: 2 bytes from 40 (NIfTI-1), 8 bytes from 16 (NIfTI-2). */
void Dim_Put(std::string *bytes, int version, int i, int64_t value)
{
    if (version == 2)
        Field_Put(bytes, 16 + 8 * i, value, 8);
    else
        Field_Put(bytes, 40 + 2 * i, value, 2);
}

/* A whole 4x3x2 int16 volume of the given version, as bytes. */
std::string Volume_Bytes(const Temp_Folder &folder, int version)
{
    Nifti_Plan plan;
    plan.version = version;
    plan.values.assign(4 * 3 * 2, 7.0);
    std::string path = folder.File("whole.nii");
    EXPECT_TRUE(Nifti_Write(path, plan));
    return Text_Of(path);
}

std::string Regression(const std::string &name) { return std::string(AZ_SOURCE_DIR) + "/fuzz/regressions/" + name; }

int abort_exit_code = 0;
extern "C" void Abort_Exits(int) { _exit(abort_exit_code); }

} // namespace

TEST(BadHeaders, DimensionCountOutsideOneToSevenIsRefusedInBothVersions)
{
    Temp_Folder folder;
    std::string out, err;
    for (int version = 1; version <= 2; version++) {
        const std::string whole = Volume_Bytes(folder, version);
        ASSERT_FALSE(whole.empty());
        for (int64_t count : {0LL, -1LL, 8LL, 768LL, 3587LL}) {
            std::string bytes = whole;
            Dim_Put(&bytes, version, 0, count);
            std::string path = folder.File("dims.nii");
            ASSERT_TRUE(Bytes_Write(path, bytes));
            EXPECT_EQ(2, Program_Run("info '" + path + "'", &out, &err)) << version << " " << count;
            EXPECT_TRUE(Contains(err, path + malformed)) << version << " " << count << ": " << err;
        }
        // Seven is the most there is: the extra sizes of one change nothing.
        std::string bytes = whole;
        Dim_Put(&bytes, version, 0, 7);
        for (int i = 4; i <= 7; i++)
            Dim_Put(&bytes, version, i, 1);
        std::string path = folder.File("seven.nii");
        ASSERT_TRUE(Bytes_Write(path, bytes));
        EXPECT_EQ(0, Program_Run("info '" + path + "'", &out, &err)) << version << ": " << err;
        EXPECT_TRUE(Contains(out, "  size: 4 x 3 pixels, 2 frames, 1 time point(s)\n")) << out;
    }
    // The inputs that once ended the program inside the library.
    for (const char *name : {"nifti/nifti2_dim0_3587.nii", "nifti/nifti2_dim0_768.nii"}) {
        std::string path = Regression(name);
        EXPECT_EQ(2, Program_Run("info '" + path + "'", &out, &err)) << name << ": " << err;
        EXPECT_TRUE(Contains(err, path + malformed)) << err;
    }
}

TEST(BadHeaders, VoxelDataBeyondTheFileIsRefusedBeforeItIsAllocated)
{
    Temp_Folder folder;
    std::string out, err;
    std::string bytes = Volume_Bytes(folder, 1);
    ASSERT_EQ(352u + 48u, bytes.size());
    Dim_Put(&bytes, 1, 1, 30000);
    Dim_Put(&bytes, 1, 2, 30000);
    Dim_Put(&bytes, 1, 3, 3);
    std::string path = folder.File("huge.nii");
    ASSERT_TRUE(Bytes_Write(path, bytes));
    EXPECT_EQ(2, Program_Run("info '" + path + "'", &out, &err));
    // 30000 x 30000 x 3 voxels of 2 bytes; 400 bytes less the 348 of the header.
    EXPECT_TRUE(Contains(err, path + ": image data truncated or unreadable (30000x30000x3): 5400000000 bytes of "
                                      "voxels asked, the file can hold 52\n"))
        << err;

    // Compressed, the bound is what deflate can pack into the file's size.
    ASSERT_EQ(0, system(("gzip -9 -c '" + path + "' >'" + path + ".gz'").c_str()));
    EXPECT_EQ(2, Program_Run("info '" + path + ".gz'", &out, &err));
    EXPECT_TRUE(Contains(err, path + ".gz: image data truncated or unreadable (30000x30000x3): 5400000000 bytes of "
                                      "voxels asked, the file can hold "))
        << err;

    // The most compressible volume there is (all zeros) stays within the bound and loads.
    Nifti_Plan zeros;
    zeros.dim[0] = 256;
    zeros.dim[1] = 256;
    zeros.dim[2] = 64;
    zeros.values.assign(256 * 256 * 64, 0.0);
    std::string flat = folder.File("zeros.nii");
    ASSERT_TRUE(Nifti_Write(flat, zeros));
    ASSERT_EQ(0, system(("gzip -9 '" + flat + "'").c_str()));
    EXPECT_EQ(0, Program_Run("info '" + flat + ".gz'", &out, &err)) << err;
    EXPECT_TRUE(Contains(out, "  size: 256 x 256 pixels, 64 frames, 1 time point(s)\n")) << out;

    // The input that once asked for 4.5 GB from 377 bytes.
    std::string found = Regression("nifti/data_4gb_from_377_bytes.nii");
    EXPECT_EQ(2, Program_Run("info '" + found + "'", &out, &err));
    EXPECT_TRUE(Contains(err, found + ": image data truncated or unreadable (28175x26985x3): 4561814250 bytes of "
                                      "voxels asked, the file can hold 29\n"))
        << err;
}

TEST(BadHeaders, PixelBufferBeyondTheFileIsRefusedBeforeItIsAllocated)
{
    std::string out, err;
    std::string path = Regression("dicom/buffer_4gb_from_10kb.dcm");
    EXPECT_EQ(2, Program_Run("info '" + path + "'", &out, &err));
    EXPECT_TRUE(Contains(err, path + ": pixel data of 65535x65535x1 samples (4294705154 bytes) cannot come from a "
                                     "file of 9830 bytes\n"))
        << err;
}

/* Under a fuzzer or a crash reporter the library's abort becomes an exit
 * with a non-zero code instead of a signal: the reading child must count
 * as failed all the same, or the parent reads the file and ends too. */
TEST(BadHeaders, ALibraryFailureThatExitsIsAFailureToo)
{
    Console_Capture console;
    std::string path = Regression("dicom/rtdose_frames_assert.dcm");
    abort_exit_code = 1;
    struct sigaction exits = {}, previous = {};
    exits.sa_handler = Abort_Exits;
    sigemptyset(&exits.sa_mask);
    ASSERT_EQ(0, sigaction(SIGABRT, &exits, &previous));
    std::vector<AzSeries> series;
    AzLoad_Report report;
    int read = AzDicom_Read(path, &series, &report);
    sigaction(SIGABRT, &previous, nullptr);
    EXPECT_EQ(0, read);
    EXPECT_EQ(1, report.files_bad);
    EXPECT_EQ(1u, console.Count(path + ": the DICOM reader fails on this file (malformed)"));
}
