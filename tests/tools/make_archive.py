#!/usr/bin/env python3
# Writes a ZIP archive for the upgrade tests, hostile entries included (what
# a real packer would refuse to write).
#
# Usage: make_archive.py OUT zip ENTRY...
#   file:NAME:MODE:PATH  the bytes of PATH, MODE in octal
#   text:NAME:TEXT       a 0644 file holding TEXT
#   dir:NAME             a folder
#   link:NAME:TARGET     a symbolic link

import sys
import zipfile


def main():
    with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
        for entry in sys.argv[3:]:
            what, name, *rest = entry.split(":", 3)
            info = zipfile.ZipInfo(name + ("/" if what == "dir" else ""))
            info.compress_type = zipfile.ZIP_DEFLATED
            mode, data = {"text": 0o100644, "dir": 0o40755, "link": 0o120777}.get(what), b""
            if what == "file":
                mode, data = 0o100000 | int(rest[0], 8), open(rest[1], "rb").read()
            elif rest:
                data = ":".join(rest).encode()
            info.external_attr = mode << 16 | (0x10 if what == "dir" else 0)
            z.writestr(info, data)


if __name__ == "__main__":
    main()
