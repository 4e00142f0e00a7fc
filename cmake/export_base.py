#!/usr/bin/env python3
"""Gives a DLL linked by lld 14 the export table Windows' linkers write: ordinals from 1.

lld before LLVM 17 writes an export directory with Base 0 and one empty slot before ordinal 1, so a DLL with four
exports at ordinals 1 to 4 lists five functions. The ordinals and names resolve the same either way; this moves the
table's start past the empty slot, sets Base 1 and renumbers the name ordinals, leaving every other byte as it is.
A table of another shape is left alone; one that cannot be read fails the build.
"""
import struct
import sys


def rva_to_offset(sections, rva):
    for virtual_address, virtual_size, raw_offset, raw_size in sections:
        if virtual_address <= rva < virtual_address + max(virtual_size, raw_size):
            return raw_offset + rva - virtual_address
    raise ValueError(f"RVA {rva:#x} lies in no section")


def pe_checksum(image, checksum_offset):
    total = 0
    data = image[:checksum_offset] + b"\0\0\0\0" + image[checksum_offset + 4:]
    if len(data) % 2:
        data += b"\0"
    for (word,) in struct.iter_unpack("<H", data):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return ((total & 0xFFFF) + (total >> 16) + len(image)) & 0xFFFFFFFF


def fix(path):
    with open(path, "rb") as f:
        image = bytearray(f.read())
    (pe,) = struct.unpack_from("<I", image, 0x3C)
    if image[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE image")
    _, section_count, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", image, pe + 4)
    optional = pe + 24
    (magic,) = struct.unpack_from("<H", image, optional)
    directories = optional + (112 if magic == 0x20B else 96)
    export_rva, _ = struct.unpack_from("<II", image, directories)
    if export_rva == 0:
        return "no export table"
    sections = []
    for i in range(section_count):
        entry = optional + optional_size + 40 * i
        virtual_size, virtual_address, raw_size, raw_offset = struct.unpack_from("<IIII", image, entry + 8)
        sections.append((virtual_address, virtual_size, raw_offset, raw_size))

    directory = rva_to_offset(sections, export_rva)
    base, functions, names, functions_rva, _, ordinals_rva = struct.unpack_from("<IIIIII", image, directory + 16)
    if base != 0:
        return f"already from ordinal {base}"
    table = rva_to_offset(sections, functions_rva)
    ordinal_table = rva_to_offset(sections, ordinals_rva)
    name_ordinals = list(struct.unpack_from(f"<{names}H", image, ordinal_table))
    (first,) = struct.unpack_from("<I", image, table)
    if functions == 0 or first != 0 or 0 in name_ordinals:
        raise ValueError("Base 0 with something at ordinal 0: not the table lld 14 writes")

    struct.pack_into("<III", image, directory + 16, 1, functions - 1, names)
    struct.pack_into("<I", image, directory + 28, functions_rva + 4)
    struct.pack_into(f"<{names}H", image, ordinal_table, *[o - 1 for o in name_ordinals])
    checksum_offset = optional + 64
    if struct.unpack_from("<I", image, checksum_offset)[0] != 0:
        struct.pack_into("<I", image, checksum_offset, pe_checksum(image, checksum_offset))
    with open(path, "r+b") as f:
        f.write(image)
    return f"{functions - 1} functions from ordinal 1"


if __name__ == "__main__":
    try:
        result = fix(sys.argv[1])
    except (OSError, ValueError, struct.error) as error:
        sys.exit(f"export_base: {sys.argv[1]}: {error}")
    print(f"export_base: {sys.argv[1]}: {result}")
