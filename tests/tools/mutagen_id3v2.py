"""Second opinion on ID3v2 tags: mutagen reads what we write and writes what we read.

  mutagen_id3v2.py read FILE...         the tags through mutagen's public API, as JSON
  mutagen_id3v2.py fields FILE...       the 16 media-list fields per file, as JSON
  mutagen_id3v2.py write FILE TAG       writes the frames of TAG (JSON) as a new tag

`read` output, per file: {"version": [2, 4, 0], "frames": [{"id": ..., ...}, ...]} with the
frames sorted by id and their decoded members (text values, lang, desc, url,
mime, type, data as hex); {"error": "..."} when mutagen cannot load the tag.

`fields` reads frames in file order without merging duplicates (mutagen's own
frame parser under its loader), and joins them the way the media list does:
the first value of each frame with that id, separated by blanks, trailing
blanks dropped; comments and user links from every COMM / WXXX frame.

TAG for `write`: {"version": 3 or 4, "frames": [
   {"id": "TIT2", "encoding": 3, "text": "..."},
   {"id": "COMM", "encoding": 1, "lang": "eng", "desc": "", "text": "..."},
   {"id": "WXXX", "encoding": 0, "desc": "", "url": "..."},
   {"id": "TXXX", "encoding": 3, "desc": "...", "text": "..."},
   {"id": "APIC", "encoding": 3, "mime": "image/png", "type": 3, "desc": "", "data": "hex"}]}
The file keeps its audio; an existing tag is replaced.
"""
import json
import sys

import mutagen.id3 as id3
from mutagen.id3._tags import ID3Header, read_frames

FIELD_IDS = [
    ("TALB", "TAL"), ("TPE1", "TP1"), ("TPE2", "TP2"), ("TBPM", "TBP"), None,
    ("TCOM", "TCM"), ("TCON", "TCO"), ("TCOP", "TCR"), ("TPOS", "TPA"), ("TENC", "TEN"),
    ("TOPE", "TOA"), ("TPUB", "TPB"), ("TIT2", "TT2"), ("TRCK", "TRK"), None,
    ("TYER", "TYE"),
]
FIELD_NAMES = ["album", "artist", "band", "bpm", "comment", "composer", "genre",
               "copyright", "partofset", "encodedby", "origartist", "publisher",
               "title", "track", "url", "year"]


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


def read_one(path):
    try:
        tags = id3.ID3(path, translate=False, load_v1=False)
    except Exception as e:  # noqa: BLE001 - any failure is an answer here
        return {"error": "%s: %s" % (type(e).__name__, e)}
    frames = sorted((frame_json(f) for f in tags.values()), key=lambda f: json.dumps(f))
    return {"version": list(tags.version), "frames": frames}


def read(paths):
    print(json.dumps({p: read_one(p) for p in paths}, ensure_ascii=False))


def first_value(frame):
    if not getattr(frame, "text", None):
        return None
    return str(frame.text[0])


def fields_of(path):
    with open(path, "rb") as f:
        try:
            header = ID3Header(f)
        except Exception as e:  # noqa: BLE001
            return {"error": "%s: %s" % (type(e).__name__, e)}
        data = f.read(header.size - 10)
        if len(data) != header.size - 10:
            return {"error": "tag runs past the end of the file"}
    frames, _, _ = read_frames(header, data, header.known_frames)
    v22 = header.version < (2, 3, 0)
    v24 = header.version >= (2, 4, 0)
    result = {}
    for index, name in enumerate(FIELD_NAMES):
        if index == 4 or index == 14:
            kind = ("COM", "COMM") if index == 4 else ("WXX", "WXXX")
            parts = []
            for fr in frames:
                if fr.FrameID not in kind:
                    continue
                value = first_value(fr) if index == 4 else str(fr.url)
                if value:
                    parts.append(value)
            text = " ".join(parts).strip(" ")
        else:
            fid = FIELD_IDS[index][1 if v22 else 0]
            if index == 15 and v24:
                fid = "TDRC"
            text = ""
            for fr in frames:
                if fr.FrameID != fid:
                    continue
                value = first_value(fr)
                if value is None:
                    continue
                text += value.split("\0")[0] + " "
            text = text.rstrip(" ")
        result[name] = text.replace("\r\n", " ")
    return {"version": list(header.version), "fields": result}


def fields(paths):
    print(json.dumps({p: fields_of(p) for p in paths}, ensure_ascii=False))


def make_frame(fields):
    fid = fields["id"]
    enc = fields.get("encoding", 3)
    if fid == "COMM":
        return id3.COMM(encoding=enc, lang=fields["lang"], desc=fields["desc"], text=fields["text"])
    if fid == "WXXX":
        return id3.WXXX(encoding=enc, desc=fields["desc"], url=fields["url"])
    if fid == "TXXX":
        return id3.TXXX(encoding=enc, desc=fields["desc"], text=fields["text"])
    if fid == "APIC":
        return id3.APIC(encoding=enc, mime=fields["mime"], type=fields["type"], desc=fields["desc"],
                        data=bytes.fromhex(fields["data"]))
    return getattr(id3, fid)(encoding=enc, text=fields["text"])


def write(path, tag_text):
    tag = json.loads(tag_text)
    tags = id3.ID3()
    for frame in tag["frames"]:
        tags.add(make_frame(frame))
    if tag["version"] == 3:
        tags.update_to_v23()
    tags.save(path, v2_version=tag["version"], v23_sep="/")


if __name__ == "__main__":
    command = sys.argv[1]
    if command == "read":
        read(sys.argv[2:])
    elif command == "fields":
        fields(sys.argv[2:])
    elif command == "write":
        write(sys.argv[2], sys.argv[3])
    else:
        sys.exit("unknown command")
