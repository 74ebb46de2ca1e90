#!/usr/bin/env python3
"""A Windows module's outside, read from the PE file itself: exactly the
names given exported, only Windows' own DLLs imported, the version resource,
and the machine type.

usage: check_dll.py MODULE.dll VERSION x86|x64 EXPORT...
"""
import sys

import pefile

SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll"}
MACHINES = {"x86": pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"],
            "x64": pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]}


def main():
    path, version, arch = sys.argv[1:4]
    want_exports = sorted(sys.argv[4:])
    pe = pefile.PE(path)
    failures = []

    if pe.FILE_HEADER.Machine != MACHINES[arch]:
        failures.append(f"machine type {pe.FILE_HEADER.Machine:#x}, want {arch}")

    exports = sorted((e.name or b"").decode() for e in pe.DIRECTORY_ENTRY_EXPORT.symbols)
    print(f"{path} ({arch}) exports:")
    for e in pe.DIRECTORY_ENTRY_EXPORT.symbols:
        print(f"  {e.ordinal:3}  {e.name.decode() if e.name else '(no name)'}")
    if exports != want_exports:
        failures.append(f"exports {exports}, want {want_exports}")

    imports = sorted(i.dll.decode() for i in pe.DIRECTORY_ENTRY_IMPORT)
    print("imports:", " ".join(imports))
    if any(i.lower() not in SYSTEM_DLLS for i in imports):
        failures.append(f"imports {imports}: only {sorted(SYSTEM_DLLS)} may be needed")

    fixed = pe.VS_FIXEDFILEINFO[0]
    as_text = lambda ms, ls: f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
    file_version = as_text(fixed.FileVersionMS, fixed.FileVersionLS)
    product_version = as_text(fixed.ProductVersionMS, fixed.ProductVersionLS)
    strings = {}
    for info in pe.FileInfo[0]:
        for table in getattr(info, "StringTable", []):
            strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    print(f"version: file {file_version}, product {product_version}, strings {strings}")
    if file_version != version or product_version != version:
        failures.append(f"version {file_version}/{product_version}, want {version}")
    if strings.get("FileVersion") != version or strings.get("ProductVersion") != version:
        failures.append("FileVersion/ProductVersion strings differ from " + version)
    if not strings.get("FileDescription"):
        failures.append("no FileDescription")

    for f in failures:
        print("FAILED", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
