"""Second opinion on ID3v1 blocks: mutagen reads and writes them.

  mutagen_id3v1.py read FILE          prints the block as JSON
  mutagen_id3v1.py write FILE JSON    writes (or replaces) the block
"""
import json
import sys

from mutagen.id3 import COMM, TALB, TCON, TDRC, TIT2, TPE1, TRCK
from mutagen.id3._id3v1 import MakeID3v1, ParseID3v1


def read(path):
    with open(path, "rb") as f:
        data = f.read()
    frames = ParseID3v1(data[-128:]) if len(data) >= 128 else None
    if frames is None:
        print("null")
        return

    def text(fid):
        return str(frames[fid].text[0]) if fid in frames else ""

    out = {
        "title": text("TIT2"),
        "artist": text("TPE1"),
        "album": text("TALB"),
        "year": text("TDRC"),
        "comment": text("COMM"),
        "track": int(text("TRCK") or 0),
        "genre": int(text("TCON")) if "TCON" in frames else 255,
    }
    print(json.dumps(out, ensure_ascii=False))


def write(path, spec):
    v = json.loads(spec)
    frames = {}
    if v.get("title"):
        frames["TIT2"] = TIT2(encoding=0, text=v["title"])
    if v.get("artist"):
        frames["TPE1"] = TPE1(encoding=0, text=v["artist"])
    if v.get("album"):
        frames["TALB"] = TALB(encoding=0, text=v["album"])
    if v.get("year"):
        frames["TDRC"] = TDRC(encoding=0, text=str(v["year"]))
    if v.get("comment"):
        frames["COMM"] = COMM(encoding=0, lang="eng", desc="", text=v["comment"])
    if v.get("track"):
        frames["TRCK"] = TRCK(encoding=0, text=str(v["track"]))
    if v.get("genre", 255) != 255:
        frames["TCON"] = TCON(encoding=0, text=TCON.GENRES[v["genre"]])
    block = MakeID3v1(frames)
    with open(path, "rb") as f:
        data = f.read()
    if len(data) >= 128 and data[-128:-125] == b"TAG":
        data = data[:-128]
    with open(path, "wb") as f:
        f.write(data + block)


if __name__ == "__main__":
    if sys.argv[1] == "read":
        read(sys.argv[2])
    elif sys.argv[1] == "write":
        write(sys.argv[2], sys.argv[3])
    else:
        sys.exit("unknown command")
