#!/usr/bin/python3
# What other readers see after tagwell. Files of every kind, as other taggers
# and encoders write them, get all seven fields set to values beyond Latin-1,
# then lose the track; mutagen (loading ID3v1, as its users do), ffprobe and
# eyeD3 must show every value exactly and none that was not set. Prints the
# values read exactly, by reader and tag version, and fails on any other.
# Usage: test/readers.py [BINARY], BINARY being build/tagwell by default.
import json, logging, os, subprocess, sys, tempfile
import eyed3, mutagen.mp3

BINARY = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/tagwell")
SAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../sample/sample.mp3")
VALUES = {"tracknum": "3/12", "artist": "Björk & Сигур Рос", "album": "Ágætis byrjun ♥",
          "title": "Naïve Ωmega 日本", "year": "1980", "genre": "Ωpop",
          "comment": "Ripped from the original vinyl in 2003 ♥"}
# A v1.0 comment filling its 30 bytes, whose last two a v1.1 reader takes for
# track 108.
LONG = "Ripped from the original vinyl"


def syncsafe(n):
    return sum((n >> 7 * i & 0x7F) << 8 * i for i in range(4)).to_bytes(4, "big")


def tag(major, *frames):  # frames as (id, data)
    def frame(fid, data):
        if major == 2:
            return fid.encode() + len(data).to_bytes(3, "big") + data
        size = syncsafe(len(data)) if major == 4 else len(data).to_bytes(4, "big")
        return fid.encode() + size + b"\0\0" + data
    body = b"".join(frame(*f) for f in frames) + bytes(100)
    return b"ID3" + bytes([major, 0, 0]) + syncsafe(len(body)) + body


def v1(comment, track=0):  # v1.1 with a track, else v1.0
    text = comment.encode("latin-1").ljust(30, b"\0")
    if track:
        text = text[:28] + bytes([0, track])
    return b"TAG" + b"Old".ljust(90, b"\0") + b"1999" + text + b"\x11"


def latin1(s): return b"\0" + s.encode("latin-1")
def utf16(s): return b"\x01" + s.encode("utf-16")
def utf8(s): return b"\x03" + s.encode()


def encoded(*args):  # a second of silence, encoded and tagged by the tool
    out = os.path.join(tmp, "encoded.mp3")
    subprocess.run([*args, out], input=bytes(88200), check=True, capture_output=True)
    return open(out, "rb").read()


def by_mutagen(path):
    tags = mutagen.mp3.MP3(path).tags or {}
    got = {f: str(tags[i]) for f, i in zip(VALUES, ["TRCK", "TPE1", "TALB", "TIT2", "TDRC", "TCON"]) if i in tags}
    # Its view of the ID3v1 comment, described "ID3v1 Comment", is another.
    comments = [str(c) for c in tags.values() if c.FrameID == "COMM" and c.desc == ""]
    return {**got, **({"comment": " | ".join(comments)} if comments else {})}


def by_ffprobe(path):
    out = subprocess.run(["ffprobe", "-v", "quiet", "-of", "json", "-show_entries", "format_tags", path],
                         capture_output=True, text=True).stdout
    tags = {k.lower(): v for k, v in json.loads(out).get("format", {}).get("tags", {}).items()}
    return {f: tags[k] for f, k in zip(VALUES, ["track", "artist", "album", "title", "date", "genre", "comment"])
            if k in tags}


def by_eyed3(path):
    t = eyed3.load(path).tag
    track = "/".join(str(n) for n in t.track_num if n)
    comments = [c.text for c in t.comments if c.description == ""]
    got = [track, t.artist, t.album, t.title, str(t.getBestDate() or ""), t.genre and t.genre.name,
           " | ".join(comments)]
    return {f: v for f, v in zip(VALUES, got) if v}


scratch = tempfile.TemporaryDirectory()  # removed at exit
tmp = scratch.name
audio = open(SAMPLE, "rb").read()
kinds = {  # iTunes' v2.2 frames GP1 and MVN stop eyeD3
    "v2.2 iTunes": tag(2, ("GP1", latin1("Grouping")), ("TT2", latin1("Old")), ("TP1", utf16("Öld Ω")),
                       ("TYE", latin1("1999")), ("TDA", latin1("0506")), ("TIM", latin1("1200")),
                       ("TRK", latin1("1/9")), ("COM", b"\0eng\0old"), ("MVN", latin1("Movement"))) + audio,
    "v2.3 UTF-16, v1.0": tag(3, ("TIT2", utf16("Öld Ω")), ("TPE1", utf16("Ωld")), ("TYER", latin1("1999")),
                             ("TDAT", latin1("0506")), ("TIME", latin1("1200")),
                             ("COMM", b"\x01eng\xFF\xFE\0\0" + "old Ω".encode("utf-16")))
    + audio + v1(LONG),
    "v2.4 UTF-8, v1.1": tag(4, ("TIT2", utf8("Öld Ω")), ("TDRC", utf8("2001-05-06")), ("COMM", utf8("eng\0old")),
                            ("TXXX", utf8("MusicBrainz Album Id\0x"))) + audio + v1("old", 4),
    "no tag": audio,
    "v1.0 only": audio + v1(LONG),
    "lame, v2.3 UTF-16": encoded("lame", "--quiet", "-r", "-s", "44.1", "-m", "m", "--tt", "Old", "--tc", LONG,
                                 "--ty", "1999", "--add-id3v2", "--id3v2-utf16", "-"),
}
for version in ["3", "4"]:
    kinds[f"ffmpeg, v2.{version}"] = encoded(
        "ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i", "anullsrc=r=44100:cl=mono", "-t", "1", "-metadata",
        "title=Öld Ω", "-metadata", "date=1999-05-06", "-metadata", f"comment={LONG}", "-id3v2_version",
        version, "-write_id3v1", "1", "-y")
logging.getLogger("eyed3").setLevel(logging.CRITICAL)
# The second edit removes the track and sets the comment again, which a v1.0
# comment of 30 bytes would show as a track.
again = {"tracknum": "", "comment": VALUES["comment"]}
table, failed = {}, 0
for name, content in kinds.items():
    path = os.path.join(tmp, "song.mp3")
    open(path, "wb").write(content)
    for edit, values in [(VALUES, VALUES), (again, {**VALUES, **again})]:
        words = [word for field, value in edit.items() for word in ["-set", field, value]]
        subprocess.run([BINARY, path, *words], check=True, capture_output=True)
        version = "v2.%d" % open(path, "rb").read(4)[3]
        for reader in [by_mutagen, by_ffprobe, by_eyed3]:
            got, who = reader(path), reader.__name__[3:]
            row = table.setdefault((who, version), [0, 0])
            for field, value in values.items():
                row[0], row[1] = row[0] + (got.get(field) == (value or None)), row[1] + 1
                # eyeD3 reads no year from any ID3v2.2 tag.
                if got.get(field) != (value or None) and (who, version, field) != ("eyed3", "v2.2", "year"):
                    failed += 1
                    print(f"{name}: {who} shows {field} {got.get(field)!r}, not {value!r}")
versions = ["v2.2", "v2.3", "v2.4"]
print("values read exactly\nreader  " + "".join(f"{v:>8}" for v in versions))
for who in ["mutagen", "ffprobe", "eyed3"]:
    print(f"{who:8}" + "".join(f"{'%d/%d' % tuple(table[who, v]):>8}" for v in versions))
print(f"readers: {sum(row[0] for row in table.values())} passed, {failed} failed")
sys.exit(failed > 0)
