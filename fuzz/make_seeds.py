#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets from our own tools.

receive: dvr-sim answers the real control (tavlin-host) through a small
         proxy on loopback that keeps what the recorder sends on each
         socket; runs of consecutive answers become raw and well-framed
         inputs (sessions set to the rig's, checksums made again).
skin:    tavlin-skinwrite builds the small panels in fuzz/skins/, behind a
         few pointer actions over their buttons.
h264:    the ffmpeg tool encodes short test streams, cut into access units
         in 4-byte NAL length framing.
pbba:    dvr-sim's recording-search answers to the control in Playback
         (the calendar's month and day queries), as well-framed records and
         as raw payloads; replies built from the wire format beside them.
title:   title files as the control writes them (head, settings block,
         four bitmap sets) and cut or odd ones; "VDTT" chunks as dvr-sim
         sends them while the titles are read and uploaded.
movie:   movies written by tavlin-mov (the viewer's movie writer) from
         frames dvr-sim dumps as a backup brings them, whole and cut.
noip:    the replies of noip-sim (tools/noip-sim, the No-IP stand-in) to
         every step, errors included, whole and cut.

usage: fuzz/make_seeds.py BUILD_DIR [OUT_DIR]   (OUT_DIR: fuzz/corpus)
"""
import hashlib
import os
import select
import socket
import struct
import subprocess
import sys
import tempfile
import time

RIG_SESSION = 0x5F3A1B2C
CLSID = "{6E763B03-CC89-4D06-8415-AF1DBA3A844D}"
MAX_SEED = 48 * 1024


def u32(b, at):
    return struct.unpack_from("<I", b, at)[0]


def checksum(b):
    # Over bytes 32 .. end of a module message: a byte sum up to 1,024
    # bytes, else one word every 1,024 bytes.
    n = len(b)
    if n <= 1024:
        return sum(b) & 0xFFFFFFFF
    return sum(u32(b, k) for k in range(0, n - 1023, 1024)) & 0xFFFFFFFF


def fix_payload(p):
    p = bytearray(p)
    at = 0
    while at + 32 <= len(p):
        length = u32(p, at)
        if length < 32 or length > len(p) - at:
            break
        if length >= 36:
            struct.pack_into("<I", p, at + 32, RIG_SESSION)
        struct.pack_into("<I", p, at + 8, checksum(bytes(p[at + 32:at + length])))
        at += length
    return bytes(p)


def cut_answers(stream):
    """HTTP answers in a byte stream: (header, ULCM packet)."""
    out = []
    at = 0
    while True:
        end = stream.find(b"\r\n\r\n", at)
        if end < 0:
            break
        head = stream[at:end + 4]
        length = 0
        for line in head.split(b"\r\n"):
            if line.lower().startswith(b"content-length:"):
                length = int(line.split(b":")[1])
        body = stream[end + 4:end + 4 + length]
        if len(body) < length:
            break
        out.append((head, body))
        at = end + 4 + length
    return out


def with_rig_session(body):
    body = bytearray(body)
    if len(body) >= 64 and u32(body, 12) != 0:
        struct.pack_into("<I", body, 12, RIG_SESSION)
    if len(body) > 64:
        body[64:] = fix_payload(bytes(body[64:]))
    return bytes(body)


def run_session(build, sim_args, page, run_ms):
    """Runs the control against dvr-sim through the proxy: the answers in
    arrival order as (socket index, ULCM packet)."""
    work = tempfile.mkdtemp(prefix="tavlin-seeds-")
    log = open(os.path.join(work, "sim.log"), "w+")
    sim = subprocess.Popen([os.path.join(build, "bin", "dvr-sim"), "--port", "0"] + sim_args,
                           stdout=log, stderr=subprocess.STDOUT)
    port = None
    for _ in range(200):
        log.seek(0)
        for line in log.read().splitlines():
            if line.startswith("listening on 127.0.0.1:"):
                port = int(line.rsplit(":", 1)[1])
        if port:
            break
        time.sleep(0.05)
    if not port:
        sim.kill()
        raise RuntimeError("dvr-sim did not start")
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    proxy_port = listener.getsockname()[1]
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", TAVLIN_SOUND="null",
               TAVLIN_REGISTRY=os.path.join(work, "registry"),
               systemroot=os.path.join(build, "winroot"))
    host = os.path.join(build, "bin", "tavlin-host")
    subprocess.run([host, "--register", os.path.join(build, "lib", "TavlinProj1.so")], env=env,
                   stdout=subprocess.DEVNULL, check=True)
    viewer = subprocess.Popen([host, "--classid", CLSID, "--param", "DVRIP=127.0.0.1",
                               "--param", "HTTP_PORT=%d" % proxy_port, "--param", "DVR_UK=9.1234.5678",
                               "--param", "HTTP_PAGE=%d" % page, "--run-ms", str(run_ms)],
                              env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    pairs = {}      # client socket -> recorder socket
    kinds = {}      # recorder socket -> viewer socket index
    streams = {}    # recorder socket -> bytes so far
    cut = {}        # recorder socket -> answers already taken
    answers = []
    deadline = time.time() + run_ms / 1000.0 + 5
    while viewer.poll() is None and time.time() < deadline:
        ready, _, _ = select.select([listener] + list(pairs.keys()) + list(pairs.values()), [], [], 0.1)
        for s in ready:
            if s is listener:
                client, _ = listener.accept()
                upstream = socket.create_connection(("127.0.0.1", port))
                pairs[client] = upstream
                streams[upstream] = b""
                cut[upstream] = 0
                continue
            data = s.recv(65536)
            if s in pairs:
                upstream = pairs[s]
                if upstream not in kinds and len(data) >= 60:
                    kinds[upstream] = u32(data, 56) & 1
                if data:
                    upstream.sendall(data)
            else:
                client = next(c for c, u in pairs.items() if u is s)
                if data:
                    client.sendall(data)
                    streams[s] += data
                    whole = cut_answers(streams[s])
                    for head, body in whole[cut[s]:]:
                        answers.append((kinds.get(s, 0), head, body))
                    cut[s] = len(whole)
            if not data:
                for c, u in list(pairs.items()):
                    if s in (c, u):
                        c.close()
                        u.close()
                        del pairs[c]
    viewer.wait()
    sim.kill()
    sim.wait()
    return answers


def record(control, data):
    return bytes([control]) + struct.pack("<H", len(data)) + data


def receive_seeds(build, out):
    cases = [
        # (dvr-sim flags, page, setup: mode, sockets 2, channels code, pal)
        (["--channels", "4"], 0, 0, False, 0, False),
        (["--channels", "16", "--sockets", "2", "--pal"], 0, 0, True, 2, True),
        (["--channels", "8", "--upnp", "--titles"], 1, 1, False, 1, False),
        (["--channels", "16", "--no-audio", "--close-after-ms", "1500"], 2, 2, False, 2, False),
    ]
    camera = os.path.join(tempfile.mkdtemp(prefix="tavlin-cam-"), "cam.h264")
    subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                    "testsrc2=size=176x144:rate=25", "-frames:v", "60", "-c:v", "libx264", "-profile:v",
                    "baseline", "-coder", "0", "-bf", "0", "-g", "12", "-pix_fmt", "yuv420p", "-f", "h264",
                    camera], check=True)
    written = 0
    for flags, page, mode, two, chan, pal in cases:
        answers = run_session(build, flags + ["--camera", camera, "--gop", "12"], page, 3000)
        answers = [(s, h, with_rig_session(b)) for s, h, b in answers]
        starts = [0] + list(range(1, len(answers), max(1, len(answers) // 12)))
        for start in starts:
            raw, framed, size = [], [], 0
            for s, head, body in answers[start:]:
                if size + len(head) + len(body) > MAX_SEED or len(body) > 65535 or len(body) < 64:
                    break
                ticks = 1 << 1
                raw.append(record(s | ticks, head + body))
                kind = min(u32(body, 8), 5)
                framed.append(record(s | ticks | (kind << 3), body[64:]))
                size += len(head) + len(body)
                if len(raw) >= 24:
                    break
            if not raw:
                continue
            setup = mode | ((0 if start == 0 else 1) << 2) | ((1 if two else 0) << 3) | (chan << 5) | \
                ((1 if pal else 0) << 7)
            written += write_seed(out, "receive", bytes([setup]) + b"".join(raw))
            written += write_seed(out, "receive", bytes([setup | 0x10]) + b"".join(framed))
    return written


def module_message(code, words, body=b""):
    """One module message: header, sub-header (session first), body."""
    sub = struct.pack("<8I", *([RIG_SESSION] + list(words) + [0] * (7 - len(words))))
    m = bytearray(32) + sub + body
    struct.pack_into("<I", m, 0, len(m))
    m[4:8] = code
    struct.pack_into("<I", m, 8, checksum(bytes(m[32:])))
    return bytes(m)


def answer(payload, kind=5):
    """A "200 OK" answer carrying one ULCM packet of the rig's session."""
    packet = bytearray(64) + payload
    struct.pack_into("<4I", packet, 0, len(packet), 0x4D434C55, kind, RIG_SESSION)
    head = b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(packet)
    return head, bytes(packet)


def built_messages():
    """Messages dvr-sim does not send the control: every ICMD type and op,
    the setup items with their sums, the handshake's close, the ICTL
    variables with their handlers, VIDO status and frames out of order."""
    seeds = []
    items = {1: struct.pack("<I", 5), 2: struct.pack("<hH32s32s", 1, 0, b"user", b"secret"),
             4: struct.pack("<HH32s32s48s", 0, 3, b"user", b"pw", b"host.example"),
             8: bytes([20, 9]) + b"smtp\0me\0you\0" + bytes(241), 16: struct.pack("<h", 15) + bytes(254)}
    blocks = {256: struct.pack("<6I", 1, 4, 2, 4, 640, 512) + bytes(40),
              512: struct.pack("<4Ii I", 0, 0, 1, 1, -1, 0x60000000) + bytes(40),
              1024: struct.pack("<6I", 0, 0, 2, 1, 0x60000000, 0x60000100) + bytes(40),
              2048: bytes(64)}
    for mode, (kind, block) in enumerate(sorted(blocks.items())):
        msgs = [module_message(b"ICMD", [op, kind, mode % 4, 7], block) for op in (1, 2, 4)]
        seeds.append((mode % 4, msgs))
    for mask, item in sorted(items.items()):
        head = struct.pack("<3I", mask, 72 + len(item), sum(item) & 0xFFFFFFFF) + bytes(60)
        msgs = [module_message(b"ICMD", [op, 4096, 3, 0], head + item) for op in (1, 2, 4)]
        seeds.append((3, msgs))
    variables = [(b"Tavn_ACK_R", struct.pack("<I", 1)), (b"Tavn_Upnp_C_Data_R", struct.pack("<I", 80)),
                 (b"Tavn_Upnp_C_Data_W", struct.pack("<I", 81)), (b"Tavn_Watermark_Var_R", struct.pack("<I", 2)),
                 (b"Tavn_Mach_Type_Data_R", struct.pack("<III", 0, 0, 1) + bytes(948)),
                 (b"Tavn_Watermark_Var_W", bytes(36) + struct.pack("<I", 9) + bytes(120))]
    msgs = []
    for name, value in variables:
        head = struct.pack("<I", 256 + len(value)) + name.ljust(252, b"\0")
        msgs.append(module_message(b"ICTL", [0, 0, 1], head + value))
    seeds.append((0, msgs))
    hello = struct.pack("<I", 1) + bytes(252)
    machine = struct.pack("<3I", 16, 0, 1) + b"FUZZ".ljust(32, b"\0") * 4 + struct.pack("<3I", 1, 0, 2) + \
        bytes(72) + struct.pack("<2I", 1, 1) + bytes(24)
    seeds.append((0, [module_message(b"TAVN", [0], hello), module_message(b"TAVN", [1], machine),
                      module_message(b"TAVN", [2])]))
    # VIDO: a status, then video and audio frames with their sequence
    # numbers out of order, live, played back (after the playback block
    # that names their channel) and backed up.
    for mode, source in ((0, 0), (1, 0x20), (2, 0x20)):
        frames = [module_message(b"VIDO", [1], bytes(256))]
        if mode:
            frames.insert(0, module_message(b"ICMD", [2, 512 if mode == 1 else 1024, mode, 0], blocks[512]))
        for seq in (3, 1, 2, 5, 4, 6):
            for kind in (1, 2):
                frames.append(vido_frame(seq, kind, source, 0x10 if mode else 0, 0x10 if seq == 6 else 0))
        seeds.append((mode, frames))
    # More frames than the reorder queue holds, the first never arriving:
    # the queue restarts at the newest.
    seeds.append((0, [vido_frame(seq, 1, 0, 0, 0, 0) for seq in range(2, 520)]))
    return seeds


def vido_frame(seq, kind, source, channel_bits, type_bits, extra=96):
    """One VIDO frame message: block, frame header, frame bytes."""
    header = struct.pack("<IIBBBBBBBBBBHBBBBIi", 0x03000000, 0x60000000 + seq, seq % 25, 0, 0, 0x40 * kind,
                         15, 20, channel_bits, type_bits, 0, 0, 2, 0, 0, 0, source, 25 * 20 << 5, 0)
    unit = header + bytes(extra)
    block = struct.pack("<14I", 128 + len(unit), 0, 40, seq, 0, 0, 0, 0, seq, 0x60000000, seq, 0,
                        kind, 0) + bytes(72)
    return module_message(b"VIDO", [0], block + unit)


def built_seeds(out):
    written = 0
    for mode, msgs in built_messages():
        for two in (False, True):
            raw, framed = [], []
            single = msgs
            if len(msgs) > 100:
                # Many messages to an answer.
                for k in range(0, len(msgs), 250):
                    payload = b"".join(msgs[k:k + 250])
                    head, packet = answer(payload)
                    raw.append(record(2, head + packet))
                    framed.append(record(2 | (5 << 3), payload))
                single = []
            for k, m in enumerate(single):
                s = (k & 1) if two else 0
                head, packet = answer(m)
                raw.append(record(s | 2, head + packet))
                framed.append(record(s | 2 | (5 << 3), m))
            setup = mode | 4 | ((1 if two else 0) << 3) | (2 << 5)
            written += write_seed(out, "receive", bytes([setup]) + b"".join(raw))
            written += write_seed(out, "receive", bytes([setup | 0x10]) + b"".join(framed))
    return written


def skin_seeds(build, out):
    here = os.path.dirname(os.path.abspath(__file__))
    writer = os.path.join(build, "bin", "tavlin-skinwrite")
    work = tempfile.mkdtemp(prefix="tavlin-skins-")
    written = 0
    # Pointer actions over the panels' buttons: kind, x, y.
    # One seed a panel: seven actions over where its buttons sit.
    scripts = [
        [(0, 20, 9), (3, 20, 9), (3, 10, 26), (1, 60, 9), (0, 30, 40), (2, 30, 40), (3, 60, 70)],
        [(3, 8, 27), (3, 184, 27), (1, 14, 42), (0, 40, 60), (2, 40, 60), (3, 115, 138), (0, 5, 5)],
        [(3, 10, 29), (3, 30, 29), (3, 10, 46), (1, 10, 70), (0, 20, 70), (2, 20, 70), (3, 160, 110)],
    ]
    names = sorted(n for n in os.listdir(os.path.join(here, "skins")) if n.endswith(".skin"))
    for name, script in zip(names, scripts):
        path = os.path.join(work, name.replace(".skin", ".YUV2"))
        subprocess.run([writer, "--skin", os.path.join(here, "skins", name), "--out", path], check=True,
                       stdout=subprocess.DEVNULL)
        skin = open(path, "rb").read()
        page = names.index(name)
        setup = len(script) | (2 << 3) | (page << 5)
        acts = b"".join(struct.pack("<Bhh", k, x, y) for k, x, y in script)
        written += write_seed(out, "skin", bytes([setup]) + acts + skin)
    return written


def annexb_units(data):
    nals, i, start = [], 0, None
    while i + 3 <= len(data):
        if data[i:i + 3] == b"\0\0\1":
            if start is not None:
                end = i
                while end > start and data[end - 1] == 0:
                    end -= 1
                nals.append(data[start:end])
            i += 3
            start = i
        else:
            i += 1
    if start is not None:
        nals.append(data[start:])
    units, unit = [], b""
    for nal in nals:
        # A unit ends before the parameter sets or the slice that follow
        # its own slice.
        kind = nal[0] & 31
        if kind in (1, 5, 6, 7, 8, 9) and unit and any((n & 31) in (1, 5) for n in unit_kinds(unit)):
            units.append(unit)
            unit = b""
        unit += struct.pack(">I", len(nal)) + nal
    if unit:
        units.append(unit)
    return units


def unit_kinds(unit):
    kinds, at = [], 0
    while at + 4 < len(unit):
        n = struct.unpack_from(">I", unit, at)[0]
        kinds.append(unit[at + 4])
        at += 4 + n
    return kinds


def h264_seeds(out):
    work = tempfile.mkdtemp(prefix="tavlin-h264-")
    base = ["-profile:v", "baseline", "-coder", "0"]
    interlaced = ["-profile:v", "main", "-flags", "+ildct+ilme", "-x264-params", "interlaced=1:tff=1"]
    # Setup byte: bits 0-1 view mode, bit 2 channel 1, bit 3 fields, bits
    # 4-5 image size (0 640 x 512, 1 352 x 288, 2 176 x 144, 3 90 x 61).
    # Each rule of the display by a small picture or a narrow one where
    # that reaches it (decoding and drawing cost by the area): the widths
    # and heights the rules name, the largest accepted and one beyond; one
    # whole picture of the largest size.
    cases = [
        # (size, frames, extra ffmpeg options, setup byte)
        ("176x144", 3, base + ["-g", "4"], 0x00),          # live: doubled and scaled up
        ("320x32", 3, base + ["-g", "3"], 0x29),           # playback fields, width 320: copied
        ("320x240", 2, base + ["-g", "2"], 0x01),          # playback, width 320: copied
        ("64x480", 2, base + ["-g", "2"], 0x29),           # playback fields, 480 lines: deinterlaced
        ("32x512", 2, base + ["-g", "2"], 0x2A),           # backup fields, 512 lines: deinterlaced
        ("96x240", 2, base + ["-g", "2"], 0x29),           # playback fields, 240 lines: not deinterlaced
        ("640x272", 2, base + ["-g", "2", "-crf", "40"], 0x00),  # live, width 640 above 256 lines: copied
        ("640x256", 2, base + ["-g", "2", "-crf", "40"], 0x09),  # width 640 at 256 lines: doubled
        ("704x48", 2, interlaced + ["-g", "2"], 0x0A),     # the largest width, interlaced
        ("48x576", 2, base + ["-g", "2"], 0x29),           # the largest height
        ("720x32", 2, base + ["-g", "2"], 0x20),           # wider than accepted
        ("704x576", 1, interlaced + ["-g", "3", "-crf", "40"], 0x0A),  # a whole picture of the largest size
        ("320x256", 2, base + ["-g", "2"], 0x04),          # channel 1: no display
        ("96x64", 4, base + ["-g", "4"], 0x29),            # playback fields on 176 x 144: deinterlaced field
        ("176x144", 4, base + ["-g", "4"], 0x29),          # the same at its own size: deinterlaced frame
        ("352x288", 2, base + ["-g", "2"], 0x10),          # live at its own size: copied
        ("176x144", 3, base + ["-g", "3"], 0x30),          # live on 90 x 61: scaled down
    ]
    written = 0
    for size, frames, extra, setup in cases:
        path = os.path.join(work, "%s-%d.h264" % (size, setup))
        subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                        "testsrc2=size=%s:rate=25" % size, "-frames:v", str(frames), "-c:v", "libx264", "-bf", "0",
                        "-pix_fmt", "yuv420p"] + extra + ["-f", "h264", path], check=True)
        units = annexb_units(open(path, "rb").read())
        body = b""
        for k, unit in enumerate(units):
            flags = 1 if k == 0 else 0
            body += bytes([flags]) + struct.pack("<I", len(unit))[:3] + unit
        written += write_seed(out, "h264", bytes([setup]) + body)
    return written


def pbba_record(message):
    """A PBBA module message as a well-framed fuzz_pbba record: the body
    behind the sub-header, the control byte naming index, op and channel."""
    index, op, channel = u32(message, 36), u32(message, 40), u32(message, 44)
    control = (index & 7) | ((op & 1) << 3) | 0x10 | ((channel & 7) << 5)
    return record(control, message[64:])


def pbba_built_reply(index, channel, pattern):
    entries = 42 if index == 4 else 48
    body = bytearray(72 + 2 * entries)
    for k in range(entries):
        body[72 + 2 * k] = 1 if pattern(k) else 0
    struct.pack_into("<I", body, 8, len(body))
    struct.pack_into("<I", body, 12, sum(body[72:]) & 0xFFFFFFFF)
    return module_message(b"PBBA", [index, 1, channel], bytes(body))


def pbba_seeds(build, out):
    # fuzz_pbba's setup: mode Playback (2), channels 8 (code 1), channel 0.
    setup = 2 | (1 << 3)
    time_word = struct.pack("<I", 26 * 365 * 86400 + 40 * 86400)
    answers = run_session(build, ["--channels", "8", "--recordings", "all/last10/08:00-18:00;1/all/all"], 2, 4000)
    messages = []
    for _, _, body in answers:
        payload = fix_payload(body[64:])
        at = 0
        while at + 32 <= len(payload):
            length = u32(payload, at)
            if length < 32 or length > len(payload) - at:
                break
            if payload[at + 4:at + 8] == b"PBBA" and length >= 64:
                messages.append(payload[at:at + length])
            at += length
    messages += [
        pbba_built_reply(4, 0, lambda k: k % 3 == 0),
        pbba_built_reply(7, 1, lambda k: 16 <= k < 36),
        module_message(b"PBBA", [4, 0, 0], struct.pack("<2I", 7, 42) + bytes(64)),
        module_message(b"PBBA", [7, 0, 2], struct.pack("<2I", 8, 48) + bytes(64)),
    ]
    written = 0
    written += write_seed(out, "pbba", bytes([setup]) + time_word + b"".join(pbba_record(m) for m in messages))
    written += write_seed(out, "pbba", bytes([setup | 4]) + time_word +
                          b"".join(record(u32(m, 36), fix_payload(m)) for m in messages))
    for m in messages[:16]:
        written += write_seed(out, "pbba", bytes([setup | 1]) + time_word + pbba_record(m))
    return written


TITLE_SIZES = [50176, 30976, 20736, 12544]


def title_settings(titles, font="DejaVu Sans", percent=60, language=0):
    s = bytearray(1160)
    for k, t in enumerate(titles[:16]):
        s[4 + 64 * k:4 + 64 * k + len(t)] = t
    f = font.encode()
    s[1060:1060 + len(f)] = f
    struct.pack_into("<4i", s, 1124, 0, 0, percent, language)
    return bytes(s)


def title_file(settings, sets, magic=b"VDTT", extra=b"", count=5):
    sections = [(16, settings)] + [(k + 1, sets[k]) for k in range(4)]
    body = extra
    for sid, data in sections:
        body += struct.pack("<2I", len(data) + 8, sid) + data
    return struct.pack("<I", 16 + len(body)) + magic + struct.pack("<2I", 0x01000003, count) + body


def vdtt_record(mode, op, section, offset, length, data=None):
    """A fuzz_title record of one chunk as dvr-sim sends it."""
    sections = [0, 1, 2, 3, 4, 16, 17, 5]
    control = (op & 1) | ((mode & 3) << 1) | (sections.index(section) << 3) | 0x40
    body = bytearray(32)
    struct.pack_into("<2I", body, 0, offset, length)
    if data is not None:
        struct.pack_into("<I", body, 8, sum(data) & 0xFFFFFFFF)
        body += data
    return record(control, bytes(body))


def title_seeds(out):
    titles = [("CAM %d" % (k + 1)).encode() for k in range(16)]
    titles[3] = "Entr\xe9e".encode("latin-1")
    settings = title_settings(titles)
    sets = [bytes(((k * 37 + i) & 0xFF) if i % 5 == 0 else 0 for i in range(n)) for k, n in enumerate(TITLE_SIZES)]
    blank = [bytes(n) for n in TITLE_SIZES]
    files = [
        (0x00, title_file(settings, blank)),
        (0x02, title_file(settings, sets)),                                   # rendered after
        (0x0E, title_file(title_settings(titles, "Liberation Serif", 100, 5), sets, magic=b"vdtt")),
        (0x00, title_file(settings, sets)[:16 + 8 + 1160 + 8 + 1000]),        # cut in the first set
        (0x00, title_file(settings, blank, extra=struct.pack("<2I", 24, 9) + bytes(16))),  # unknown section
        (0x02, title_file(title_settings([b"X" * 64] * 16, "", 5, 40), blank, count=1)),  # odd settings
    ]
    written = 0
    for setup, data in files:
        written += write_seed(out, "title", bytes([setup]) + data)
    # Reading the recorder's titles: the settings block, then the first set.
    read = [vdtt_record(0, 1, 16, 0, 1152, settings[:1152]), vdtt_record(0, 1, 16, 1152, 8, settings[1152:])]
    read += [vdtt_record(0, 1, 1, off, 1152, sets[0][off:off + 1152]) for off in range(0, 4 * 1152, 1152)]
    read.append(vdtt_record(0, 1, 4, 12544 - 1000, 1000, sets[3][-1000:]))
    written += write_seed(out, "title", bytes([0x01 | 0x10]) + b"".join(read))
    written += write_seed(out, "title", bytes([0x03 | 0x10]) + b"".join(read[:2]))
    # The upload: the recorder asks for the settings, then chunks, then ends it.
    upload = [vdtt_record(0, 0, 0, 0, 0), vdtt_record(1, 0, 1, 0, 1152), vdtt_record(1, 0, 2, 29824, 1152),
              vdtt_record(1, 0, 4, 12000, 1152), vdtt_record(1, 0, 0, 0, 0)]
    written += write_seed(out, "title", bytes([0x01 | 0x20]) + b"".join(upload))
    # Settings sent whole (mode 1), as a recorder with titles of its own.
    written += write_seed(out, "title", bytes([0x01]) + vdtt_record(1, 1, 17, 0, 1160, settings))
    return written


def noip_seeds(out):
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools",
                                    "noip-sim"))
    import argparse
    import noip_server
    service = noip_server.Service(argparse.Namespace(api_host="api.example", domains="ddns.net,hopto.org,zapto.org",
                                                     oem_domain="tavlin.example", max_skew=900, log=None))
    account = "username=alice01&email=alice%40example.com&password=secret12&firstname=Alice&lastname=Smith" \
              "&postal_code=12345"
    asks = [  # (step, method, path, identity, body)
        (0, "POST", "/v2/oem/accounts.xml", None, account),
        (0, "POST", "/v2/oem/accounts.xml", None, account),  # taken now
        (0, "POST", "/v2/oem/accounts.xml", None, "username=ab&email=x&password=a%2Bb&firstname=&lastname=L"
                                                  "&postal_code=1"),
        (1, "GET", "/v2/oem/accounts.xml?mode=exists&user=alice01", None, ""),
        (1, "GET", "/v2/oem/accounts.xml?mode=exists&user=bob", None, ""),
        (2, "POST", "/v2/oem/clients.xml", "alice01", ""),
        (2, "POST", "/v2/oem/clients.xml", "nobody", ""),
        (3, "GET", "/v2/oem/accounts/1000001.xml", None, ""),
        (5, "GET", "/v2/oem/dns/domains.xml", None, ""),
        (7, "POST", "/v2/oem/dns/hosts.xml", "1000001", "host=cam1&domain=ddns.net&ip=192.168.1.20"),
        (7, "POST", "/v2/oem/dns/hosts.xml", "1000001", "host=cam1&domain=ddns.net&ip=192.168.1.20"),
        (7, "POST", "/v2/oem/dns/hosts.xml", "1000001", "host=-&domain=elsewhere.net&ip=300.1.1.1"),
        (3, "GET", "/v2/oem/nothing.xml", None, ""),
    ]
    written = 0
    for k, (step, method, path, identity, body) in enumerate(asks):
        status, text = service.answer(method, path, identity, body.encode())
        reply = noip_server.http_reply(status, text)
        # Pieces of 1 + 61 x (setup >> 4) bytes; closed or not.
        setup = step | ((k & 1) << 3) | ((k % 16) << 4)
        written += write_seed(out, "noip", bytes([setup]) + reply)
        if k % 4 == 0:  # cut inside the body, the server gone
            written += write_seed(out, "noip", bytes([step | 8]) + reply[:len(reply) - 5])
    # No Content-Length: the body ends where the server closes.
    status, text = service.answer("GET", "/v2/oem/dns/domains.xml", None, b"")
    reply = noip_server.http_reply(status, text).replace(b"Content-Length", b"X-Length")
    written += write_seed(out, "noip", bytes([5 | 8]) + reply)
    # In chunks on a connection the service keeps open, as noip-sim
    # --framing chunked sends them: the domain list and a user-name check.
    for step, method, path in ((5, "GET", "/v2/oem/dns/domains.xml"),
                               (1, "GET", "/v2/oem/accounts.xml?mode=exists&user=alice01")):
        status, text = service.answer(method, path, None, b"")
        written += write_seed(out, "noip", bytes([step | (2 << 4)]) + chunked_reply(status, text))
    return written


def chunked_reply(status, text):
    """An answer in three chunks (the second with an extension) and a
    trailer, as noip-sim frames it with --framing chunked."""
    import noip_server
    data = text.encode()
    head = "HTTP/1.1 %d %s\r\nContent-Type: text/xml\r\nTransfer-Encoding: chunked\r\n" \
           "Connection: keep-alive\r\n\r\n" % (status, noip_server.REASONS.get(status, "Error"))
    third = max(1, len(data) // 3)
    out = head.encode()
    for i, piece in enumerate(p for p in (data[:third], data[third:2 * third], data[2 * third:]) if p):
        out += b"%x%s\r\n" % (len(piece), b";part=2" if i == 1 else b"") + piece + b"\r\n"
    return out + b"0\r\nX-Trailer: end\r\n\r\n"


def movie_seeds(build, out):
    work = tempfile.mkdtemp(prefix="tavlin-movie-")
    camera = os.path.join(work, "cam.h264")
    subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                    "testsrc2=size=176x144:rate=25", "-frames:v", "50", "-c:v", "libx264", "-profile:v",
                    "baseline", "-coder", "0", "-bf", "0", "-g", "12", "-pix_fmt", "yuv420p", "-f", "h264",
                    camera], check=True)
    written = 0
    for k, extra in enumerate([["--seconds", "1"], ["--seconds", "2", "--no-audio"], ["--seconds", "1", "--pal"]]):
        frames = os.path.join(work, "frames%d.bin" % k)
        movie = os.path.join(work, "out%d.mov" % k)
        subprocess.run([os.path.join(build, "bin", "dvr-sim"), "--camera", camera, "--gop", "12",
                        "--dump-frames", frames] + extra, check=True, stdout=subprocess.DEVNULL)
        subprocess.run([os.path.join(build, "bin", "tavlin-mov"), frames, movie], check=True,
                       stdout=subprocess.DEVNULL)
        data = open(movie, "rb").read()
        written += write_seed(out, "movie", data)
        if k == 0:
            written += write_seed(out, "movie", data[:len(data) * 2 // 3])  # the tables cut off
            written += write_seed(out, "movie", data[:4096])
    return written


def write_seed(out, target, data):
    folder = os.path.join(out, target)
    os.makedirs(folder, exist_ok=True)
    name = os.path.join(folder, "seed-" + hashlib.sha1(data).hexdigest()[:16])
    if os.path.exists(name):
        return 0
    with open(name, "wb") as f:
        f.write(data)
    return 1


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    build = os.path.abspath(sys.argv[1])
    out = sys.argv[2] if len(sys.argv) > 2 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
    print("receive seeds:", receive_seeds(build, out) + built_seeds(out))
    print("skin seeds:", skin_seeds(build, out))
    print("h264 seeds:", h264_seeds(out))
    print("pbba seeds:", pbba_seeds(build, out))
    print("title seeds:", title_seeds(out))
    print("noip seeds:", noip_seeds(out))
    print("movie seeds:", movie_seeds(build, out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
