#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into corpus/<target>/ (run it again after changing it)."""
import os

STORED = bytes.fromhex("3AC5176E920BF45821AD7C03E946B85F")
KEY = bytes((b + 128) & 0xFF for b in STORED)
SEP = b"\x80"


def seal(text: bytes) -> bytes:
    return b"\x07\x05" + bytes((c ^ KEY[i % 16]) ^ 0x80 for i, c in enumerate(text))


def frame(code: str, payload: bytes = b"") -> bytes:
    return b"\xfd" + code.encode() + payload + b"\xfe"


def control(n: int, payload: bytes = b"") -> bytes:
    return frame("%04d" % (1000 + n), seal(payload) if 900 <= n <= 999 else payload)


def pad(text: bytes, width: int) -> bytes:
    return text[:width].ljust(width, b" ")


def write(target: str, name: str, data: bytes) -> None:
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# The client's receiving side: read size, prompt answers, second connection; then what the OV server sends.
session = (control(900, b"Welcome") + control(21, b"OV 1.0" + SEP + b"Box") +
           control(31, b"qw" + SEP + b"q2" + SEP + b"q3") + control(27, b"5") + control(27, b"7") +
           control(25, b"5" + SEP + b"qw" + SEP + b"Duel" + SEP + b"+map e1m1" + SEP + b"1" + SEP + b"1") +
           control(25, b"7" + SEP + b"q2" + SEP + b"FFA" + SEP + b"" + SEP + b"0" + SEP + b"2") +
           frame("0005", b"map e1m1\r\n") + frame("0007", b"status\r\n") + frame("0000", b"hello\r\n") +
           control(28, b"5") + control(1, b"note"))
write("client_stream_fuzzer", "session_one_read", b"\x00\xff\x00" + session)
write("client_stream_fuzzer", "session_cut_7_cancel", b"\x07\x00\x01" + session)
write("client_stream_fuzzer", "session_cut_1", b"\x01\xff\x01" + session[:120])
write("client_stream_fuzzer", "prompts_nested",
      b"\x05\xa5\x00" + control(900, b"A") + control(902, b"newuser") + control(900, b"B") +
      control(902, b"chpwd") + control(902, b"other") + control(901) + control(21, b"x"))
write("client_stream_fuzzer", "prompts_confirmed",
      b"\x00\xff\xfe" + control(900, b"A") + control(21, b"x") + control(902, b"newuser") + control(902, b"chpwd"))
write("client_stream_fuzzer", "codes_odd",
      b"\x00\xff\x00" + control(2, b"3") + control(2, b"99999") + control(3, b"box") +
      frame("1abc") + frame("abcd") + frame("XXXX") + frame("1+21", b"i" + SEP + b"n") + frame("12") +
      b"junk" + frame("0000") + b"\xfe\xfe" + frame("-001") + b"\r\n")
write("client_stream_fuzzer", "registry_odd",
      b"\x00\xff\x01" + control(21, b"a" + SEP + b"A") + control(21, b"b" + SEP + b"B") + control(27, b"x") +
      control(27, b"-1") + control(27, b"3") + control(27, b"3") + control(25, b"3") + control(25, b"3") +
      control(25, b"9" + SEP + b"t") + control(25, b"") + control(28, b"3") + control(28, b"y") +
      control(25, b"3" + SEP + b"t") + control(31, b"") + b"".join(control(27, str(i).encode()) for i in range(30)))
write("client_stream_fuzzer", "split_frame_tail", b"\x0b\xff\x00" + frame("0000", b"x" * 40) + b"\xfd10")

# The cipher: plain text, or a payload as received.
write("cipher_fuzzer", "login", pad(b"admin", 8) + pad(b"secret", 16))
write("cipher_fuzzer", "sealed", seal(b"newuser"))
write("cipher_fuzzer", "plain_marker", b"ABchpwd")
write("cipher_fuzzer", "high_bytes", bytes(range(256)))

# Numbers, fields and codes.
for name, data in [("number", b"2147483647"), ("lowest", b"-2147483648"), ("over", b"2147483648"),
                   ("plus", b"+17"), ("plus_minus", b"+-1"), ("fields", b"5" + SEP + b"qw" + SEP + SEP + b"x" + SEP),
                   ("code", b"1021"), ("code_x", b"XXXX"), ("zeros", b"-0000000000000001")]:
    write("payload_fuzzer", name, data)

# The OV server's side: write size, a correct login first; then what the client sends.
requests = (frame("0000", b"help") + frame("0000", b"list") + frame("0000", b"who") + frame("0000", b"  KILL 3 ") +
            frame("0000", b"'unterminated") + frame("0000", b"newuser") + control(906, pad(b"bob", 8) + pad(b"pw", 16)) +
            frame("0000", b"chpwd") + control(907, pad(b"bob", 8) + pad(b"pw", 16) + pad(b"new", 16)) +
            control(26, b"standin" + SEP + b"Duel" + SEP + b"+map e1m1; rm -rf / `id` $(x) ../../x") +
            control(26, b"nosuch" + SEP + b"x") + control(26, b"a" + SEP + b"b" + SEP + b"c" + SEP + b"d") +
            control(24, b"3") + control(42, b"3") + control(41, b"3") + control(20) + control(905, b"x") +
            frame("0003", b"say hi") + frame("abcd") + control(777))
write("ovserver_requests_fuzzer", "session", b"\x00\x01" + requests)
write("ovserver_requests_fuzzer", "session_cut_5", b"\x05\x01" + requests)
write("ovserver_requests_fuzzer", "login_then_request",
      b"\x03\x00" + control(905, pad(b"admin", 8) + pad(b"secret", 16)) + frame("0000", b"who"))
write("ovserver_requests_fuzzer", "wrong_password", b"\x00\x00" + control(905, pad(b"admin", 8) + pad(b"guess", 16)))
write("ovserver_requests_fuzzer", "before_login", b"\x00\x00" + frame("0000", b"help") * 10)
write("ovserver_requests_fuzzer", "short_and_stray",
      b"\x02\x01" + b"abc" + b"\xfd12\xfe" + b"\xfd\xfe" + frame("1905", b"\x07\x05" + b"\xfe" * 24) + frame("0000", b"list"))

# A game server's answer to the status query, as any UDP peer may send it.
status = b"\xff\xff\xff\xffstatusResponse\n"
write("status_answer_fuzzer", "good",
      status + b"\\sv_hostname\\Box\\mapname\\oa_dm1\\sv_maxclients\\16\n12 48 \"^1Red^7Baron\"\n7 95 \"Blue Wolf\"\n")
write("status_answer_fuzzer", "empty", status + b"\\mapname\\q3dm17\\sv_maxclients\\8")
write("status_answer_fuzzer", "hostile",
      status + b"\\sv_maxclients\\-99999999999\\mapname\\a\rb\\x\n-3 0 \"x;quit\"\n1 \"b\"\n0 0 \"\x1b\x7f\"\n1 2 \"")
