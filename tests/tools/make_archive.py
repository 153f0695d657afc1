#!/usr/bin/env python3
# Writes a ZIP or tar archive for the upgrade tests, hostile entries included
# (what a real packer would refuse to write).
#
# Usage: make_archive.py OUT zip|tar ENTRY...
#   file:NAME:MODE:PATH  the bytes of PATH, MODE in octal
#   text:NAME:TEXT       a 0644 file holding TEXT
#   dir:NAME             a folder
#   link:NAME:TARGET     a symbolic link
#   hard:NAME:TARGET     a hard link (tar)
#   dev:NAME  fifo:NAME  a character device, a named pipe (tar)

import io
import sys
import tarfile
import zipfile


def main():
    out, kind, entries = sys.argv[1], sys.argv[2], sys.argv[3:]
    if kind == "zip":
        with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
            for entry in entries:
                what, name, *rest = entry.split(":", 3)
                info = zipfile.ZipInfo(name + ("/" if what == "dir" else ""))
                data = b""
                if what == "file":
                    info.external_attr = (0o100000 | int(rest[0], 8)) << 16
                    data = open(rest[1], "rb").read()
                elif what == "text":
                    info.external_attr = 0o100644 << 16
                    data = ":".join(rest).encode()
                elif what == "dir":
                    info.external_attr = (0o40755 << 16) | 0x10
                elif what == "link":
                    info.external_attr = 0o120777 << 16
                    data = rest[0].encode()
                else:
                    sys.exit("no %s entries in a zip" % what)
                info.compress_type = zipfile.ZIP_DEFLATED
                z.writestr(info, data)
        return
    with tarfile.open(out, "w") as t:
        for entry in entries:
            what, name, *rest = entry.split(":", 3)
            info, data = tarfile.TarInfo(name), b""
            types = {"dir": tarfile.DIRTYPE, "link": tarfile.SYMTYPE, "hard": tarfile.LNKTYPE,
                     "dev": tarfile.CHRTYPE, "fifo": tarfile.FIFOTYPE}
            if what == "file":
                info.mode, data = int(rest[0], 8), open(rest[1], "rb").read()
            elif what == "text":
                info.mode, data = 0o644, ":".join(rest).encode()
            else:
                info.type = types[what]
                info.linkname = rest[0] if rest else ""
            info.size = len(data)
            t.addfile(info, io.BytesIO(data))


if __name__ == "__main__":
    main()
