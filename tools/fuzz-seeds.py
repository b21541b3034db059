#!/usr/bin/env python3
"""Writes the generated seed corpus of the fuzz harnesses (tests/fuzz/corpus/)
from recordings made by make-recording: whole files for the reader, and the
packets of each logical stream for the header parser and the decoders. The
regression inputs of faults found in recordings (regression-*) are made from
the same recordings; other regression inputs are left as they are.

Usage: tools/fuzz-seeds.py [BUILD_DIR]   (make-recording from BUILD_DIR/bin)
"""
import os
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPUS = os.path.join(ROOT, "tests", "fuzz", "corpus")

# Every codec, each short, with small pictures.
STREAMS = {
    "vorbis": ["vorbis:channels=2"],
    "opus": ["opus"],
    "opus13": ["opus:channels=13"],
    "opus16k": ["opus:input-rate=16000,frame-ms=60"],
    "speex13": ["speex:layout=serial1"],
    "speexheader13": ["speex:channels=13"],
    "speexnarrow": ["speex:mode=narrow,fpp=3"],
    "speexdamaged": ["speex:channels=13,bad-channel=2,truncated-record-every=3"],
    "theora": ["theora:width=64,height=48,keyint=4"],
    "dirac": ["dirac:width=64,height=48"],
    "theoraspeex": ["theora:width=64,height=48,keyint=4", "speex:layout=serial1"],
    "diracvorbis": ["dirac:width=64,height=48", "vorbis"],
}
# Every kind of damage, on a recording with audio and video.
DAMAGE = ["garbage=3", "bad-crc", "truncate-last-page", "no-oggs", "truncate=6000"]


def make(tool, folder, name, streams, extra=()):
    path = os.path.join(folder, name + ".ogg")
    arguments = [tool]
    for stream in streams:
        arguments += ["--stream", stream]
    arguments += ["--duration", "0.5", *extra, path]
    subprocess.run(arguments, check=True, stdout=subprocess.DEVNULL)
    with open(path, "rb") as f:
        return f.read()


def packets_by_serial(data):
    """Packets of each logical stream with their granule positions (that of
    the page on which a packet ends, -1 for the others)."""
    streams = {}
    partial = {}
    at = 0
    while True:
        at = data.find(b"OggS", at)
        if at < 0 or at + 27 > len(data):
            break
        segments = data[at + 26]
        granule, serial = struct.unpack_from("<qI", data, at + 6)
        lacing = data[at + 27:at + 27 + segments]
        body = at + 27 + segments
        ended = []
        for value in lacing:
            partial[serial] = partial.get(serial, b"") + data[body:body + value]
            body += value
            if value < 255:
                ended.append(partial.pop(serial))
        for i, packet in enumerate(ended):
            streams.setdefault(serial, []).append((packet, granule if i == len(ended) - 1 else -1))
        at = body
    return streams


def packet_stream(serial, packets):
    out = bytearray([serial & 0xff])
    for packet, granule in packets:
        out += struct.pack("<Hq", len(packet), granule) + packet
    return bytes(out)


def write(harness, name, data):
    folder = os.path.join(CORPUS, harness)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def patched(packet, offset, value):
    return packet[:offset] + value + packet[offset + len(value):]


def regressions(name, data):
    """Inputs that once crashed, hung or misbehaved, each named by its fault."""
    serial, packets = next(iter(packets_by_serial(data).items()))
    header = packets[0][0]
    rate = struct.pack("<I", 2000000000)
    if name == "theora":
        # 16384 x 1024 macroblocks: 262144 x 16384 pixels.
        huge = [(patched(header, 10, struct.pack(">HH", 16384, 1024)), 0)] + packets[1:]
        write("headers", "regression-theora-frame-size", packet_stream(serial, huge[:5]))
        write("decoder", "regression-theora-frame-size", packet_stream(serial, huge))
        # A key frame at the largest granule position, then pictures without one.
        data_packets = [packet for packet, _ in packets[3:7]]
        timed = packets[:3] + [(data_packets[0], 2**63 - 1)] + [(p, -1) for p in data_packets[1:]]
        write("decoder", "regression-theora-time", packet_stream(serial, timed))
        # A picture region 0 rows high.
        flat = [(patched(header, 17, bytes(3)), 0)] + packets[1:]
        write("headers", "regression-theora-picture-height-0", packet_stream(serial, flat[:5]))
        write("decoder", "regression-theora-picture-height-0", packet_stream(serial, flat))
    elif name == "dirac":
        # Every Dirac stream: its sequence header is parsed from the packet as read.
        write("decoder", "regression-dirac-padding", packet_stream(serial, packets[:6]))
    else:
        offset = {"vorbis": 12, "speex13": 36, "opus": 12}[name]
        hostile = [(patched(header, offset, rate), 0)] + packets[1:]
        write("headers", "regression-%s-rate" % name, packet_stream(serial, hostile[:5]))
        write("decoder", "regression-%s-rate" % name, packet_stream(serial, hostile))



def tiny_pictures(tool, folder):
    """Theora pictures down to one pixel (their chroma planes are rounded
    up), and an odd-sized Dirac picture (refused: its chroma cannot halve)."""
    sizes = [("theora", 1, 1), ("theora", 1, 2), ("theora", 2, 1), ("theora", 3, 3), ("dirac", 33, 17)]
    for codec, width, height in sizes:
        name = "%s-%dx%d" % (codec, width, height)
        data = make(tool, folder, name, ["%s:width=%d,height=%d,keyint=4" % (codec, width, height)])
        serial, packets = next(iter(packets_by_serial(data).items()))
        write("decoder", "regression-" + name, packet_stream(serial, packets))


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build")
    tool = os.path.join(build, "bin", "make-recording")
    for harness in ("headers", "decoder", "reader"):
        folder = os.path.join(CORPUS, harness)
        for name in os.listdir(folder) if os.path.isdir(folder) else []:
            if name.startswith("seed-"):
                os.remove(os.path.join(folder, name))
    with tempfile.TemporaryDirectory() as folder:
        for name, streams in STREAMS.items():
            data = make(tool, folder, name, streams)
            write("reader", "seed-" + name, data)
            for serial, packets in packets_by_serial(data).items():
                write("headers", "seed-%s-%d" % (name, serial), packet_stream(serial, packets[:5]))
                write("decoder", "seed-%s-%d" % (name, serial), packet_stream(serial, packets))
            if name in ("theora", "vorbis", "speex13", "opus", "dirac"):
                regressions(name, data)
            if name == "theora":
                tiny_pictures(tool, folder)
            if name == "theoraspeex":
                # A recorder's crash leaves zeros after the last page.
                write("reader", "regression-zero-tail", data + bytes(65536))
        for damage in DAMAGE:
            data = make(tool, folder, "damaged", STREAMS["theoraspeex"], ["--damage", damage])
            write("reader", "seed-damage-" + damage.split("=")[0], data)


if __name__ == "__main__":
    main()
