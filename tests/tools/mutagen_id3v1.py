# Second opinion on ID3v1 blocks: mutagen reads and writes them.
#
#   mutagen_id3v1.py read FILE          prints the block as JSON (null: none)
#   mutagen_id3v1.py write FILE JSON    writes (or replaces) the block
import json
import sys

from mutagen.id3 import TCON, Frames
from mutagen.id3._id3v1 import MakeID3v1, ParseID3v1

FIELDS = {"title": "TIT2", "artist": "TPE1", "album": "TALB", "year": "TDRC",
          "comment": "COMM", "track": "TRCK", "genre": "TCON"}


def read(path):
    with open(path, "rb") as f:
        data = f.read()
    frames = ParseID3v1(data[-128:]) if len(data) >= 128 else None
    if frames is None:
        return None
    out = {key: str(frames[fid].text[0]) if fid in frames else "" for key, fid in FIELDS.items()}
    out["track"] = int(out["track"] or 0)
    out["genre"] = int(out["genre"] or 255)
    return out


def write(path, values):
    genre = values.get("genre", 255)
    values["genre"] = TCON.GENRES[genre] if genre != 255 else ""
    block = MakeID3v1({fid: Frames[fid](encoding=0, text=str(values[key]))
                       for key, fid in FIELDS.items() if values.get(key)})
    with open(path, "rb") as f:
        data = f.read()
    if len(data) >= 128 and data[-128:-125] == b"TAG":
        data = data[:-128]
    with open(path, "wb") as f:
        f.write(data + block)


if __name__ == "__main__":
    if sys.argv[1] == "read":
        print(json.dumps(read(sys.argv[2]), ensure_ascii=False))
    elif sys.argv[1] == "write":
        write(sys.argv[2], json.loads(sys.argv[3]))
    else:
        sys.exit("unknown command")
