#!/usr/bin/env python3
"""Reads the version resource of a Windows PE file, as its Properties dialog
shows it, and checks it against the version expected.

Usage: tools/pe_version.py FILE VERSION
Prints the fixed file version and every string of the resource; exits 1 when
the file has no version resource, when its file or product version is not
VERSION, or when a string a user sees (ProductName, FileDescription,
LegalCopyright) is missing.
"""
import struct
import sys

FIXED_SIGNATURE = 0xFEEF04BD


def align4(offset):
    return (offset + 3) & ~3


def read_block(data, offset):
    """One node of the VS_VERSIONINFO tree: (key, value bytes, children, end)."""
    length, value_length, value_type = struct.unpack_from("<HHH", data, offset)
    end = offset + length
    key_start = offset + 6
    key_end = key_start
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[key_start:key_end].decode("utf-16-le")
    value_start = align4(key_end + 2)
    # A text value counts its length in UTF-16 units, a binary one in bytes.
    value_size = value_length * 2 if value_type == 1 else value_length
    value = data[value_start:value_start + value_size]
    children = []
    child = align4(value_start + value_size)
    while child < end:
        node = read_block(data, child)
        children.append(node)
        child = align4(node[3])
    return key, value, children, end


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    path, expected = sys.argv[1], sys.argv[2]
    data = open(path, "rb").read()
    marker = "VS_VERSION_INFO".encode("utf-16-le") + b"\0\0"
    at = data.find(marker)
    if at < 6:
        print(f"{path}: no version resource", file=sys.stderr)
        return 1
    key, fixed, children, _ = read_block(data, at - 6)
    fields = struct.unpack_from("<13I", fixed)
    if fields[0] != FIXED_SIGNATURE:
        print(f"{path}: the version resource has no fixed file information", file=sys.stderr)
        return 1

    def dotted(high, low):
        return f"{high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}"

    file_version = dotted(fields[2], fields[3])
    product_version = dotted(fields[4], fields[5])
    strings = {}
    for child in children:
        if child[0] == "StringFileInfo":
            for table in child[2]:
                for name, value, _, _ in table[2]:
                    strings[name] = value.decode("utf-16-le").rstrip("\0")
    print(f"{path}: file version {file_version}, product version {product_version}")
    for name, value in sorted(strings.items()):
        print(f"  {name}: {value}")

    problems = []
    if file_version != expected + ".0" or product_version != expected + ".0":
        problems.append(f"fixed versions are not {expected}.0")
    for name in ("FileVersion", "ProductVersion"):
        if strings.get(name) != expected:
            problems.append(f"{name} is not {expected}")
    for name in ("ProductName", "FileDescription", "LegalCopyright"):
        if not strings.get(name):
            problems.append(f"{name} is missing")
    for problem in problems:
        print(f"{path}: {problem}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
