#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target into OUT/<target>/: tiny
valid NIfTI-1 and NIfTI-2 volumes (plain and gzip), small DICOM files of the
pydicom test set, label tables and names, and image headers."""
import gzip
import os
import shutil
import struct
import sys

PYDICOM = "/usr/lib/python3/dist-packages/pydicom/data/test_files"
DICOM_SEEDS = ["MR_small.dcm", "MR_small_implicit.dcm", "MR_small_bigendian.dcm", "MR_small_RLE.dcm",
               "rtdose_1frame.dcm", "ExplVR_LitEndNoMeta.dcm", "no_meta_group_length.dcm", "CT_small.dcm"]

# NIfTI datatype codes, their struct letters and sizes.
TYPES = {2: ("B", 1), 4: ("h", 2), 8: ("i", 4), 16: ("f", 4), 64: ("d", 8), 512: ("H", 2)}


def nifti1(dims, datatype, sform=True, slope=1.0, inter=0.0):
    letter, size = TYPES[datatype]
    dim = [len(dims)] + list(dims) + [1] * (7 - len(dims))
    pixdim = [1.0, 0.8, 0.9, 2.5, 1.0, 1.0, 1.0, 1.0]
    h = bytearray(348)
    struct.pack_into("<i", h, 0, 348)
    struct.pack_into("<8h", h, 40, *dim)
    struct.pack_into("<hh", h, 70, datatype, size * 8)
    struct.pack_into("<8f", h, 76, *pixdim)
    struct.pack_into("<f", h, 108, 352.0)                 # vox_offset
    struct.pack_into("<ff", h, 112, slope, inter)
    struct.pack_into("<B", h, 123, 10)                    # xyzt_units: mm, s
    struct.pack_into("<hh", h, 252, 1, 1 if sform else 0)  # qform_code, sform_code
    struct.pack_into("<3f", h, 256, 0.0, 0.0, 0.0)        # quatern b, c, d
    struct.pack_into("<3f", h, 268, -10.0, 12.0, -3.0)    # qoffset
    struct.pack_into("<4f", h, 280, 0.8, 0.0, 0.0, -10.0)
    struct.pack_into("<4f", h, 296, 0.0, 0.9, 0.0, 12.0)
    struct.pack_into("<4f", h, 312, 0.0, 0.0, 2.5, -3.0)
    h[344:348] = b"n+1\0"
    count = 1
    for d in dims:
        count *= d
    data = struct.pack("<%d%s" % (count, letter), *[(i * 7) % 200 for i in range(count)])
    return bytes(h) + b"\0\0\0\0" + data


def nifti2(dims, datatype):
    letter, size = TYPES[datatype]
    dim = [len(dims)] + list(dims) + [1] * (7 - len(dims))
    h = bytearray(540)
    struct.pack_into("<i", h, 0, 540)
    h[4:12] = b"n+2\0\r\n\x1a\n"
    struct.pack_into("<hh", h, 12, datatype, size * 8)
    struct.pack_into("<8q", h, 16, *dim)
    struct.pack_into("<8d", h, 104, 1.0, 1.0, 1.0, 2.0, 1.0, 1.0, 1.0, 1.0)
    struct.pack_into("<q", h, 168, 544)                   # vox_offset
    struct.pack_into("<dd", h, 176, 1.0, 0.0)             # scl_slope, scl_inter
    struct.pack_into("<ii", h, 344, 0, 1)                 # qform_code, sform_code
    struct.pack_into("<4d", h, 400, 1.0, 0.0, 0.0, 0.0)
    struct.pack_into("<4d", h, 432, 0.0, 1.0, 0.0, 0.0)
    struct.pack_into("<4d", h, 464, 0.0, 0.0, 2.0, 0.0)
    count = 1
    for d in dims:
        count *= d
    data = struct.pack("<%d%s" % (count, letter), *[(i * 3) % 100 for i in range(count)])
    return bytes(h) + b"\0\0\0\0" + data


def header(width, height, slices, fill):
    h = bytearray(2960)
    struct.pack_into("<Q", h, 8, 0x10)
    struct.pack_into("<HHHH", h, 104, width, height, slices, 1)
    struct.pack_into("<4f", h, 256, 0.5, 0.5, 2.0, 0.0)
    struct.pack_into("<4f", h, 272, 0.5, 0.5, 2.0, 0.0)
    struct.pack_into("<4f", h, 368, -10.0, 5.0, 3.0, 0.0)
    for i in range(400, 2960, 97):
        h[i] = fill
    return bytes(h)


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def main(out):
    for target in ("nifti", "dicom", "labels", "header"):
        os.makedirs(os.path.join(out, target), exist_ok=True)
    nii = {
        "u8_4x3x2.nii": nifti1((4, 3, 2), 2),
        "i16_5x4x3.nii": nifti1((5, 4, 3), 4, slope=2.0, inter=-5.0),
        "f32_qform_3x3x3.nii": nifti1((3, 3, 3), 16, sform=False),
        "i16_4d_3x2x2x2.nii": nifti1((3, 2, 2, 2), 4),
        "u16_2x2x1.nii": nifti1((2, 2, 1), 512),
        "f64_nifti2_3x2x2.nii": nifti2((3, 2, 2), 64),
    }
    for name, data in nii.items():
        write(os.path.join(out, "nifti", name), data)
    write(os.path.join(out, "nifti", "i16_5x4x3.nii.gz"), gzip.compress(nii["i16_5x4x3.nii"], mtime=0))
    for name in DICOM_SEEDS:
        source = os.path.join(PYDICOM, name)
        if os.path.exists(source):
            shutil.copy(source, os.path.join(out, "dicom", name))
    lut = bytes([i for i in range(256)] + [255 - i for i in range(256)] + [(i * 5) % 256 for i in range(256)])
    write(os.path.join(out, "labels", "binary.lut"), b"\0" + lut)
    write(os.path.join(out, "labels", "text.lut"), b"\0" + b"0 0 0 0\n1 255 0 0\n2 0 255 0\n17 10 20 30\n")
    write(os.path.join(out, "labels", "names.txt"), b"\x01" + b"0 background\n1 liver\n2 spleen\n255 last one\n")
    write(os.path.join(out, "header", "plain"), header(16, 12, 1, 0))
    write(os.path.join(out, "header", "volume"), header(64, 48, 30, 7))
    write(os.path.join(out, "header", "short"), header(3, 2, 1, 1)[:400])


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "fuzz-corpus")
