# Second opinion on ID3v2 tags: mutagen reads what we write and writes what we read.
#
#   mutagen_id3v2.py read FILE...                  per file {"version", "frames" (sorted, decoded
#                                                  members), "canonical" (each frame as one text)}
#                                                  or {"error": ...}
#   mutagen_id3v2.py fields FILE...                the 16 media-list fields, by name and in order
#                                                  ("values"), joined as the media list joins them
#   mutagen_id3v2.py write FILE TAG [FILE TAG]...  TAG: {"version": 3|4, "frames": [{"id": "TIT2",
#                                                  "text": ...}, ...]} with mutagen's frame members
import json
import sys

import mutagen.id3 as id3
from mutagen.id3._tags import ID3Header, read_frames

# Name, 2.3 id, 2.2 id; 2.4 has TDRC for the year.
FIELDS = [("album", "TALB", "TAL"), ("artist", "TPE1", "TP1"), ("band", "TPE2", "TP2"),
          ("bpm", "TBPM", "TBP"), ("comment", "COMM", "COM"), ("composer", "TCOM", "TCM"),
          ("genre", "TCON", "TCO"), ("copyright", "TCOP", "TCR"), ("partofset", "TPOS", "TPA"),
          ("encodedby", "TENC", "TEN"), ("origartist", "TOPE", "TOA"),
          ("publisher", "TPUB", "TPB"), ("title", "TIT2", "TT2"), ("track", "TRCK", "TRK"),
          ("url", "WXXX", "WXX"), ("year", "TYER", "TYE")]


def frame_json(frame):
    out = {"id": frame.FrameID}
    for attr in ("encoding", "lang", "desc", "url", "mime", "type"):
        if hasattr(frame, attr):
            value = getattr(frame, attr)
            out[attr] = int(value) if attr in ("encoding", "type") else str(value)
    if hasattr(frame, "text"):
        out["text"] = [str(t) for t in frame.text]
    if hasattr(frame, "data"):
        out["data"] = bytes(frame.data).hex()
    return out


def error(e):
    return {"error": "%s: %s" % (type(e).__name__, e)}


def read_one(path):
    try:
        tags = id3.ID3(path, translate=False, load_v1=False)
    except Exception as e:  # noqa: BLE001 - any failure is an answer here
        return error(e)
    frames = sorted((frame_json(f) for f in tags.values()), key=json.dumps)
    return {"version": list(tags.version), "frames": frames,
            "canonical": [json.dumps(f, sort_keys=True, ensure_ascii=False) for f in frames]}


def first_value(frame):
    return str(frame.text[0]) if getattr(frame, "text", None) else None


def fields_of(path):
    with open(path, "rb") as f:
        try:
            header = ID3Header(f)
        except Exception as e:  # noqa: BLE001
            return error(e)
        data = f.read(header.size - 10)
    if len(data) != header.size - 10:
        return {"error": "tag runs past the end of the file"}
    frames, _, _ = read_frames(header, data, header.known_frames)
    result = {}
    for name, v23, v22 in FIELDS:
        if name in ("comment", "url"):
            values = [str(fr.url) if name == "url" else first_value(fr)
                      for fr in frames if fr.FrameID in (v23, v22)]
            text = " ".join(v for v in values if v).strip(" ")
        else:
            fid = v22 if header.version < (2, 3, 0) else v23
            if name == "year" and header.version >= (2, 4, 0):
                fid = "TDRC"
            values = [first_value(fr) for fr in frames if fr.FrameID == fid]
            text = "".join(v.split("\0")[0] + " " for v in values if v is not None).rstrip(" ")
        result[name] = text.replace("\r\n", " ")
    return {"version": list(header.version), "fields": result, "values": list(result.values())}


def write(path, tag):
    tags = id3.ID3()
    for members in tag["frames"]:
        members = dict(members, encoding=members.get("encoding", 3))
        if "data" in members:
            members["data"] = bytes.fromhex(members["data"])
        tags.add(getattr(id3, members.pop("id"))(**members))
    if tag["version"] == 3:
        tags.update_to_v23()
    tags.save(path, v2_version=tag["version"], v23_sep="/")


if __name__ == "__main__":
    command = sys.argv[1]
    if command in ("read", "fields"):
        one = read_one if command == "read" else fields_of
        print(json.dumps({p: one(p) for p in sys.argv[2:]}, ensure_ascii=False))
    elif command == "write":
        for path, tag in zip(sys.argv[2::2], sys.argv[3::2]):
            write(path, json.loads(tag))
    else:
        sys.exit("unknown command")
