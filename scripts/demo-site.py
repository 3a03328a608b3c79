#!/usr/bin/python3
"""The demo music site: an FTP server on loopback with the site's account, a Shift-JIS
catalogue "header.txt" and a handful of short songs that it makes itself.

    demo-site.py [--root DIR] [--port N] [--generate] [--songs N --song-mb M]
                 [--command-log FILE] [--cut NAME:BYTES] [--write-limit BYTES_PER_S]

Prints "PORT <n>" once it accepts connections. With --generate the songs and the
catalogue are (re)made in DIR; without it DIR is served as it is (tests bring their own).
"""
import argparse
import math
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import unicodedata
import wave

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer

USER = "milfon"
PASSWORD = "kdr1040song"

# Title, composer, recording date, file name.
SONGS = [
    ("春の小川", "岡野貞一", "2003/04/01", "春の小川.wav"),
    ("星の夜想曲", "館長", "2003/05/12", "星の夜想曲.mp3"),
    ("海辺のワルツ", "館長", "2003/07/20", "海辺のワルツ.wav"),
    ("森のささやき", "木村みどり", "2003/09/03", "森のささやき.mp3"),
    ("月光のソナタ", "ベートーヴェン", "2003/11/15", "月光のソナタ.wav"),
]
MESSAGE = "ようこそミルフォーネへ。今月は秋の夜長に聴きたい曲を集めました。"


def width(text):
    return sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in text)


def pad(text, cols):
    return text + " " * max(1, cols - width(text))


def display_line(title, composer, date):
    # Lines up under the list's header: titles from column 3, composers from 40, dates from 75.
    return "   " + pad(title, 37) + pad(composer, 35) + date


def write_wav(path, seconds, freq, rate=22050):
    frames = int(seconds * rate)
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        data = bytearray()
        for i in range(frames):
            env = min(1.0, i / 2000, (frames - i) / 2000)
            data += struct.pack("<h", int(12000 * env * math.sin(2 * math.pi * freq * i / rate)))
        w.writeframes(bytes(data))


def write_big_wav(path, size):
    # A song of `size` bytes: a WAV header and a repeated second of tone.
    rate = 44100
    second = b"".join(struct.pack("<hh", v, v) for v in
                      (int(8000 * math.sin(2 * math.pi * 440 * i / rate)) for i in range(rate)))
    body = size - 44
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 36 + body) + b"WAVEfmt " +
                struct.pack("<IHHIIHH", 16, 1, 2, rate, rate * 4, 4, 16) + b"data" + struct.pack("<I", body))
        left = body
        while left > 0:
            chunk = second[:left]
            f.write(chunk)
            left -= len(chunk)


def generate(root, count, song_mb):
    os.makedirs(root, exist_ok=True)
    lines = [MESSAGE]
    if count:
        for i in range(count):
            name = "bgm%02d.wav" % (i + 1)
            write_big_wav(os.path.join(root, name), song_mb * 1024 * 1024)
            lines += [name, display_line("ベンチマーク曲 %d" % (i + 1), "館長", "2004/01/01")]
    else:
        ffmpeg = shutil.which("ffmpeg")
        for n, (title, composer, date, name) in enumerate(SONGS):
            path = os.path.join(root, name)
            freq = 330 + 110 * n
            if name.endswith(".mp3"):
                if not ffmpeg:
                    continue
                subprocess.run([ffmpeg, "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                "sine=frequency=%d:duration=4" % freq, "-ac", "1", "-b:a", "64k", path],
                               check=True)
            else:
                write_wav(path, 4, freq)
            lines += [name, display_line(title, composer, date)]
    with open(os.path.join(root, "header.txt"), "wb") as f:
        f.write("\r\n".join(lines).encode("cp932") + b"\r\n")


class CutFile:
    """A file that ends the whole session after `limit` bytes: the server closes mid-song."""

    def __init__(self, f, limit, handler):
        self._f, self._limit, self._handler, self._sent = f, limit, handler, 0

    def read(self, n=-1):
        if self._sent >= self._limit:
            for s in (self._handler.data_channel, self._handler):
                try:
                    s.socket.shutdown(socket.SHUT_RDWR)
                except Exception:
                    pass
            return b""
        data = self._f.read(min(n if n > 0 else self._limit, self._limit - self._sent))
        self._sent += len(data)
        return data

    def __getattr__(self, name):
        return getattr(self._f, name)


class SiteHandler(FTPHandler):
    command_log = None
    cut = {}
    _announce = None

    def decode(self, raw):
        # The site speaks the catalogue's code page.
        return raw.decode("cp932", "replace")

    def found_terminator(self):
        if self.command_log:
            with open(self.command_log, "ab") as log:
                log.write(b"".join(self._in_buffer) + b"\n")
        super().found_terminator()

    def respond(self, resp, *args, **kwargs):
        if self._announce is not None and (resp.startswith("150 ") or resp.startswith("125 ")):
            resp = "%s (%d bytes)." % (resp.rstrip("."), self._announce)
            self._announce = None
        return super().respond(resp, *args, **kwargs)

    def ftp_RETR(self, file):
        try:
            self._announce = self.fs.getsize(file)
        except OSError:
            self._announce = None
        # The catalogue already has CR LF line ends: sent as stored, in either type.
        saved = self._current_type
        self._current_type = "i"
        limit = self.cut.get(os.path.basename(file))
        if limit is not None:
            self.use_sendfile = False
            opener = self.fs.open
            self.fs.open = lambda f, mode: CutFile(opener(f, mode), limit, self)
        try:
            return super().ftp_RETR(file)
        finally:
            self._current_type = saved
            if limit is not None:
                del self.fs.open


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--root")
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--generate", action="store_true")
    p.add_argument("--songs", type=int, default=0)
    p.add_argument("--song-mb", type=int, default=50)
    p.add_argument("--command-log")
    p.add_argument("--cut", action="append", default=[])
    p.add_argument("--write-limit", type=int, default=0, help="bytes per second per transfer")
    a = p.parse_args()

    root = a.root or tempfile.mkdtemp(prefix="tessaly-site-")
    if a.generate or not os.path.exists(os.path.join(root, "header.txt")):
        generate(root, a.songs, a.song_mb)

    auth = DummyAuthorizer()
    auth.add_user(USER, PASSWORD, root, perm="elr")
    SiteHandler.authorizer = auth
    SiteHandler.banner = "ミルフォーネ FTP サイトへようこそ"
    SiteHandler.command_log = a.command_log
    SiteHandler.cut = {n: int(b) for n, b in (c.rsplit(":", 1) for c in a.cut)}
    SiteHandler.permit_foreign_addresses = False
    if a.write_limit:
        ThrottledDTPHandler.write_limit = a.write_limit
        SiteHandler.dtp_handler = ThrottledDTPHandler
    server = FTPServer((a.host, a.port), SiteHandler)
    # The site lives as long as whoever started it: a program or test run that ends without
    # stopping it (killed, crashed) must not leave a server behind on the port.
    parent = os.getppid()

    def leave_with_parent():
        if os.getppid() != parent:
            os._exit(0)

    server.ioloop.call_every(0.5, leave_with_parent)
    print("PORT %d" % server.address[1], flush=True)
    try:
        # A timeout, or the loop would sleep until the next connection before checking.
        server.serve_forever(timeout=0.5)
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    import logging
    logging.basicConfig(level=logging.ERROR)
    sys.exit(main())
