"""mutagen doing the media benchmarks' work.

  mutagen_peer.py scan DIR            the media list's ID3v2 fields of every file
  mutagen_peer.py change DIR ARTIST   the artist of every file, saved as ID3v2.3
"""
import os
import sys

from mutagen.id3 import ID3, TPE1, ID3NoHeaderError

FIELDS = ("TALB", "TPE1", "TIT2", "TRCK", "TYER", "TCON", "COMM")


def main():
    mode, folder = sys.argv[1], sys.argv[2]
    files = chars = 0
    for name in os.listdir(folder):
        if not name.endswith(".mp3"):
            continue
        path = os.path.join(folder, name)
        try:
            tag = ID3(path, v2_version=3, translate=False)
        except ID3NoHeaderError:
            tag = ID3()
        if mode == "change":
            tag["TPE1"] = TPE1(encoding=3, text=sys.argv[3])
            tag.save(path, v2_version=3, v1=1)
        else:
            for fid in FIELDS:
                for frame in tag.getall(fid):
                    chars += len(str(frame))
            with open(path, "rb") as f:
                f.seek(-128, 2)
                chars += f.read(3) == b"TAG"
        files += 1
    print("%d files, %d characters" % (files, chars))


if __name__ == "__main__":
    main()
