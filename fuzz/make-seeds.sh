#!/bin/sh
# Makes the seed corpora of the fuzz targets in <folder>/<target>/: small
# valid files from ffmpeg and hand-built RIFF, BMP, palette and RLE data
# (the RLE codecs ffmpeg cannot write). Each seed is a few KB at most.
set -eu
out=${1:?usage: make-seeds.sh <folder>}
mkdir -p "$out/fuzz_avifile" "$out/fuzz_dib" "$out/fuzz_bitmap" "$out/fuzz_palette" "$out/fuzz_rle" "$out/fuzz_mmio" \
    "$out/fuzz_objstream"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

ff() { ffmpeg -nostdin -loglevel error -y "$@"; }
src="testsrc=size=16x12:rate=5:duration=1"
tone="sine=frequency=440:sample_rate=8000:duration=0.1"

if command -v ffmpeg >/dev/null 2>&1; then
    ff -f lavfi -i "$src" -c:v rawvideo -pix_fmt bgr24 "$out/fuzz_avifile/bgr24.avi"
    ff -f lavfi -i "$src" -c:v rawvideo -pix_fmt pal8 "$out/fuzz_avifile/pal8.avi"
    ff -f lavfi -i "$src" -c:v rawvideo -pix_fmt rgb555le "$out/fuzz_avifile/rgb555.avi"
    ff -f lavfi -i "$src" -f lavfi -i "$tone" -c:v rawvideo -pix_fmt bgr24 -c:a pcm_u8 \
        -shortest "$out/fuzz_avifile/av.avi"
    ff -f lavfi -i "$tone" -c:a pcm_s16le "$out/fuzz_avifile/s16.wav"
    ff -f lavfi -i "$tone" -c:a adpcm_ima_wav "$out/fuzz_avifile/ima.wav"
    ff -f lavfi -i "$tone" -c:a pcm_s16be "$out/fuzz_avifile/s16.au"
    ff -f lavfi -i "$tone" -c:a pcm_mulaw "$out/fuzz_avifile/mulaw.au"
    # Containers of the libavformat handler.
    ff -f lavfi -i "$src" -c:v libx264 -bf 2 -g 3 "$out/fuzz_avifile/h264.mp4"
    ff -f lavfi -i "$src" -f lavfi -i "$tone" -c:v libx264 -bf 2 -g 3 -c:a aac -shortest \
        "$out/fuzz_avifile/av.mkv"
    ff -f lavfi -i "$src" -f lavfi -i "$tone" -c:v mpeg2video -bf 2 -g 4 -c:a mp2 -shortest \
        "$out/fuzz_avifile/mpeg2.ts"
    ff -f lavfi -i "$src" -f lavfi -i "$tone" -c:v mjpeg -c:a pcm_s16be -shortest \
        "$out/fuzz_avifile/mjpeg.mov"
    ff -f lavfi -i "$src" -c:v libvpx-vp9 -b:v 50k "$out/fuzz_avifile/vp9.webm"
    for fmt in bgr24 pal8 rgb555le bgra monob; do
        ff -f lavfi -i "$src" -frames:v 1 -pix_fmt $fmt "$tmp/$fmt.bmp"
        cp "$tmp/$fmt.bmp" "$out/fuzz_dib/$fmt.bmp"
        cp "$tmp/$fmt.bmp" "$out/fuzz_bitmap/$fmt.bmp"
    done
fi

python3 - "$out" <<'PY'
import struct, sys
out = sys.argv[1]

def chunk(tag, data):
    pad = b"\0" if len(data) % 2 else b""
    return tag + struct.pack("<I", len(data)) + data + pad

def riff(form, body):
    return chunk(b"RIFF", form + body)

def bih(w, h, bits, comp, colours, image=0):
    return struct.pack("<IiiHHIIiiII", 40, w, h, 1, bits, comp, image, 0, 0, colours, 0)

def palette(n):
    return b"".join(struct.pack("<BBBB", i, 255 - i, (i * 7) & 255, 0) for i in range(n))

# RLE8: runs, an absolute run, a delta, end of line, end of bitmap.
rle8 = [bytes([4, 1, 4, 2, 0, 3, 5, 6, 7, 0, 0, 2, 1, 1, 0, 0, 8, 9, 0, 1]),
        bytes([0, 2, 2, 1, 3, 4, 0, 0, 2, 5, 0, 1])]
# RLE4: nibble pairs, an absolute run of five nibbles, end of bitmap.
rle4 = [bytes([8, 0x12, 0, 5, 0x34, 0x56, 0x70, 0, 0, 0, 4, 0xAB, 0, 1])]

def avi(w, h, bits, comp, frames, colours):
    fmt = bih(w, h, bits, comp, colours) + palette(colours)
    avih = struct.pack("<14I", 200000, 0, 0, 0x10, len(frames), 0, 1, 0, w, h, 0, 0, 0, 0)
    strh = struct.pack("<4s4sIHHIIIIIIIIhhhh", b"vids", b"\0\0\0\0", 0, 0, 0, 0, 1, 5, 0,
                       len(frames), 0, 0xFFFFFFFF, 0, 0, 0, w, h)
    hdrl = b"hdrl" + chunk(b"avih", avih) + chunk(b"LIST", b"strl" + chunk(b"strh", strh) +
                                                  chunk(b"strf", fmt))
    movi, idx, pos = b"movi", b"", 4
    for i, f in enumerate(frames):
        c = chunk(b"00dc", f)
        idx += struct.pack("<4sIII", b"00dc", 0x10 if i == 0 else 0, pos, len(f))
        movi += c
        pos += len(c)
    return riff(b"AVI ", chunk(b"LIST", hdrl) + chunk(b"LIST", movi) + chunk(b"idx1", idx))

def write(path, data):
    with open(path, "wb") as f:
        f.write(data)

write(f"{out}/fuzz_avifile/rle8.avi", avi(8, 4, 8, 1, rle8, 16))
write(f"{out}/fuzz_avifile/rle4.avi", avi(8, 4, 4, 2, rle4, 16))
write(f"{out}/fuzz_avifile/rgb8.avi", avi(4, 2, 8, 0, [bytes(range(8)), bytes(8)], 8))

def bmp(w, h, bits, comp, colours, pixels):
    info = bih(w, h, bits, comp, colours, len(pixels)) + palette(colours)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return head + info + pixels

for name, data in [("rle8.bmp", bmp(8, 4, 8, 1, 16, rle8[0])),
                   ("rle4.bmp", bmp(8, 4, 4, 2, 16, rle4[0])),
                   ("core.bmp", struct.pack("<2sIHHI", b"BM", 14 + 12 + 6 + 8, 0, 0, 32) +
                    struct.pack("<IHHHH", 12, 4, 2, 1, 1) + bytes([0, 0, 0, 255, 255, 255]) +
                    bytes([0x50, 0, 0, 0, 0xA0, 0, 0, 0])),
                   ("bitfields.bmp", bmp(2, 2, 16, 3, 0, struct.pack("<III", 0xF800, 0x7E0, 0x1F) +
                                         bytes(range(8))))]:
    write(f"{out}/fuzz_dib/{name}", data)
    write(f"{out}/fuzz_bitmap/{name}", data)
    write(f"{out}/fuzz_bitmap/packed-{name}", data[14:])

def pal(n):
    return riff(b"PAL ", chunk(b"data", struct.pack("<HH", 0x300, n) + palette(n)))

write(f"{out}/fuzz_palette/p16.pal", pal(16))
write(f"{out}/fuzz_palette/p256.pal", pal(256))
write(f"{out}/fuzz_palette/extra.pal", riff(b"PAL ", chunk(b"offl", b"xx") + chunk(b"data", struct.pack("<HH", 0x300, 2) + palette(2))))

# RLE target: flags (1: RLE8, 2: top-down), width, height, then the data.
for i, d in enumerate(rle8):
    write(f"{out}/fuzz_rle/rle8-{i}", bytes([1, 8, 4]) + d)
    write(f"{out}/fuzz_rle/rle8-td-{i}", bytes([3, 8, 4]) + d)
write(f"{out}/fuzz_rle/rle4", bytes([0, 8, 4]) + rle4[0])

# Object streams: a mode byte (0 one record, 1 a list, 2 a sorted list),
# then the stream; nodes hold a nested list.
def point(x, y):
    return bytes([10]) + b"TFuzzPoint" + struct.pack("<ii", x, y)

def objlist(items, dup=None):
    head = b"OBJ\0" + (bytes([dup]) if dup is not None else b"")
    return head + struct.pack("<Bh", 1, len(items)) + b"".join(items)

def node(text, children):
    return bytes([9]) + b"TFuzzNode" + bytes([len(text)]) + text + objlist(children)

tree = node(b"root", [point(1, 2), node(b"leaf", [point(3, 4)])])
write(f"{out}/fuzz_objstream/point", b"\0" + point(7, -7))
write(f"{out}/fuzz_objstream/tree", b"\0" + tree)
write(f"{out}/fuzz_objstream/list", b"\1" + objlist([point(5, 5), tree, point(-1, 0)]))
write(f"{out}/fuzz_objstream/sorted", b"\2" + objlist([point(5, 5), point(5, 6), tree], 1))
PY

# The RIFF service reads every RIFF file above.
mkdir -p "$out/fuzz_mmio"
cp "$out"/fuzz_avifile/*.avi "$out"/fuzz_avifile/*.wav "$out"/fuzz_palette/*.pal "$out/fuzz_mmio/"

# The wave reader: ffmpeg's WAVs in several codecs, with an INFO list, and
# hand-built files with DISP chunks, an odd data chunk and cue points.
mkdir -p "$out/fuzz_wave"
if command -v ffmpeg >/dev/null 2>&1; then
    for c in pcm_u8 pcm_s16le pcm_alaw pcm_mulaw adpcm_ms adpcm_ima_wav; do
        ff -f lavfi -i "$tone" -c:a $c -metadata title=Seed -metadata artist=Fuzz \
            -fflags +bitexact "$out/fuzz_wave/$c.wav"
    done
fi
python3 - "$out" <<'PY'
import struct, sys
out = sys.argv[1]

def chunk(tag, data):
    pad = b"\0" if len(data) % 2 else b""
    return tag + struct.pack("<I", len(data)) + data + pad

def fmt(tag, ch, rate, avg, align, bits, extra=None):
    body = struct.pack("<HHIIHH", tag, ch, rate, avg, align, bits)
    if extra is not None:
        body += struct.pack("<H", len(extra)) + extra
    return chunk(b"fmt ", body)

def info(**items):
    return chunk(b"LIST", b"INFO" + b"".join(chunk(k.encode(), v.encode() + b"\0") for k, v in items.items()))

dib = struct.pack("<IiiHHIIiiII", 40, 1, 1, 1, 24, 0, 4, 0, 0, 0, 0) + bytes([1, 2, 3, 0])
disp = chunk(b"DISP", struct.pack("<I", 1) + b"Caption\0") + chunk(b"DISP", struct.pack("<I", 8) + dib)
samples = bytes(range(101))
wave = lambda body: b"RIFF" + struct.pack("<I", 4 + len(body)) + b"WAVE" + body
with open(f"{out}/fuzz_wave/side-data.wav", "wb") as f:
    f.write(wave(fmt(1, 1, 8000, 8000, 1, 8) + chunk(b"data", samples) +
                 chunk(b"fact", struct.pack("<I", 101)) + disp + info(INAM="Name", ICMT="Comment")))
with open(f"{out}/fuzz_wave/cue-first.wav", "wb") as f:
    f.write(wave(chunk(b"cue ", struct.pack("<I", 0)) + fmt(2, 1, 8000, 4096, 256, 4, b"\xf4\x01") +
                 chunk(b"data", bytes(512))))
with open(f"{out}/fuzz_wave/info.lst", "wb") as f:
    f.write(info(IART="Artist", ICOP="(c)", ITCH="Tech"))
with open(f"{out}/fuzz_wave/disp.chk", "wb") as f:
    f.write(disp)
PY

# The ADPCM decoders: a format record (16-bit length, then the "fmt "
# payload) and the first blocks of data, cut from ffmpeg's files.
mkdir -p "$out/fuzz_adpcm"
if command -v ffmpeg >/dev/null 2>&1; then
    for c in adpcm_ms adpcm_ima_wav; do
        for layout in mono stereo; do
            ff -f lavfi -i "sine=frequency=440:sample_rate=11025:duration=0.3" -ac $([ $layout = mono ] && echo 1 || echo 2) \
                -c:a $c -fflags +bitexact "$tmp/$c-$layout.wav"
        done
    done
    python3 - "$tmp" "$out/fuzz_adpcm" <<'PY'
import glob, os, struct, sys
src, out = sys.argv[1], sys.argv[2]
for path in glob.glob(f"{src}/adpcm_*.wav"):
    data = open(path, "rb").read()
    at, fmt, body = 12, None, None
    while at + 8 <= len(data):
        tag, size = data[at:at + 4], struct.unpack("<I", data[at + 4:at + 8])[0]
        if tag == b"fmt ":
            fmt = data[at + 8:at + 8 + size]
        elif tag == b"data":
            body = data[at + 8:at + 8 + size]
        at += 8 + size + (size & 1)
    if fmt and body:
        name = os.path.basename(path)[:-4]
        with open(f"{out}/{name}.bin", "wb") as f:
            f.write(struct.pack("<H", len(fmt)) + fmt + body[:3000])
PY
fi
