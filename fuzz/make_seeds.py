#!/usr/bin/env python3
"""Writes the seed corpora in fuzz/corpus/, one folder per fuzz target.

Each seed is a named starting point for the fuzzer; the plain build replays
them all as tests. Run again after changing an input layout; it rewrites the
folders from scratch.
"""
import pathlib
import random
import shutil
import struct

CORPUS = pathlib.Path(__file__).resolve().parent / "corpus"


def host_frame(command, data):
    count = (len(data) - 1) & 0xFF
    return bytes([0xCC, 0xDD, command, count]) + bytes(data) + bytes([(command + count + sum(data)) & 0xFF])


HANDSHAKE = host_frame(0x80, b"qlumtrav\x00")


def device_frame(command, value):
    return bytes([0x33, 0xBB, command, 0x00, value, (command + value) & 0xFF])


# ---- engine: events as fuzz/engine_fuzz.cpp reads them -------------------
(TICK, TICKS, PROGRAM, STOP, REQUEST, RESULT, NOISE, LOAD, WRITE_LIMIT, WRITE_FAILS, PORT_FAILS,
 PORT_FAILS_ON_READ, TOGGLE_OPENABLE, TIMER_REFUSES, EXIT, FRAME) = range(16)
COM1, COM2, COM3, COM4 = 1, 2, 4, 8


def ticks(n):
    out = []
    while n > 0:
        step = min(n, 256)
        out += [TICKS, step - 1]
        n -= step
    return out


def load(length, mode=0, chunk=0, seed=0x11):
    flags = ((length >> 16) & 1) | (mode << 1) | (chunk << 4)
    return [LOAD, length & 0xFF, (length >> 8) & 0xFF, flags, seed]


def box(*events):
    """The byte a message box reads (how many events happen while it is open), then those events."""
    return [len(events)] + [byte for event in events for byte in event]


def connect_com1():
    """Program on COM1: first port, open, probe (handshake); the device asks for block 0."""
    return [PROGRAM] + ticks(3) + [REQUEST, 0] + ticks(3)  # block 0 served, connected, programming


def serve(*sequence, gap=1):
    out = []
    for number in sequence:
        out += [REQUEST, number] + ticks(gap)
    return out


def succeed():
    return [RESULT, 0] + ticks(1) + box()


ENGINE = {
    # A 300-byte image, block by block, then the device's success.
    "whole_image_300": [COM1] + load(300) + connect_com1() + serve(1, 2) + succeed(),
    # Request 3 repeated but read as 4: block 4 goes out, then 3 asks for block 3 again.
    "misread_request": [COM1] + load(1000) + connect_com1() + serve(1, 2, 3, 4, 3, 4, 5, 6, 7) + succeed(),
    # 71 blocks: the sequence numbers wrap from 63 to 0.
    "numbers_wrap": [COM1] + load(9000) + connect_com1() + serve(*range(1, 64), *range(0, 7)) + succeed(),
    "empty_image": [COM1] + load(0) + connect_com1() + succeed(),
    # 256 bytes: the device asks for the block after the last one.
    "block_past_end": [COM1] + load(256) + connect_com1() + serve(1, 2, 3, 0x80) + succeed(),
    "no_device": [0] + load(300) + [PROGRAM] + ticks(20) + box(),
    # COM1 cannot be opened, COM2 never answers (100 probes), COM3 does.
    "probe_limit_then_com3": [COM2 | COM3] + load(200) + [PROGRAM] + ticks(110) + [REQUEST, 0] + ticks(3)
    + serve(1) + succeed(),
    "partial_writes": [COM1, WRITE_LIMIT, 3] + load(400) + connect_com1() + serve(1, 2, 3, gap=60) + succeed(),
    "port_full_then_drains": [COM1] + load(400) + connect_com1() + [WRITE_LIMIT, 0] + serve(1, 2, 1, 2)
    + [WRITE_LIMIT, 7] + ticks(40) + [WRITE_LIMIT, 200] + serve(3) + succeed(),
    "port_lost": [COM1] + load(400) + connect_com1() + serve(1) + [PORT_FAILS] + ticks(2) + box(),
    "write_fails": [COM1] + load(400) + connect_com1() + [WRITE_FAILS] + serve(1) + ticks(2) + box(),
    "fails_after_read": [COM1] + load(400) + connect_com1() + [PORT_FAILS_ON_READ] + serve(1) + ticks(2) + box(),
    "lost_while_probing": [COM1 | COM2] + load(300) + [PROGRAM] + ticks(5) + [PORT_FAILS] + ticks(5)
    + [REQUEST, 0] + ticks(3) + serve(1, 2) + succeed(),
    "stop_then_program": [COM1] + load(300) + [PROGRAM] + ticks(4) + [STOP] + ticks(3) + connect_com1()
    + serve(1, 2) + succeed(),
    "failed_loads": [COM1] + load(300, mode=3) + box() + load(300, mode=4) + box() + load(300, mode=5) + box()
    + load(300, mode=6, seed=1) + box() + load(300, mode=6, seed=2) + box() + load(3000, mode=7, chunk=2) + box()
    + load(300) + connect_com1() + serve(1, 2) + succeed(),
    "long_file_small_reads": [COM1] + load(70000, chunk=3) + connect_com1() + serve(1, 2, 3) + [EXIT],
    "failure_then_retry": [COM1] + load(300) + connect_com1() + serve(1, 2) + [RESULT, 2] + ticks(1)
    + box([REQUEST, 0], [TICK], [TICK]) + [PROGRAM] + ticks(2) + serve(0, 1, 2) + succeed(),
    "stalled_device": [COM1] + load(300) + connect_com1() + ticks(120) + serve(1, 2) + succeed(),
    "second_run_same_port": [COM1] + load(300) + connect_com1() + serve(1, 2) + succeed() + [PROGRAM] + ticks(2)
    + serve(0, 1, 2) + succeed(),
    "shorter_image_mid_run": [COM1] + load(1000) + connect_com1() + serve(1, 2, 3, 4) + load(200) + serve(5, 1)
    + succeed(),
    "noise_and_long_frames": [COM1] + load(300) + connect_com1() + [NOISE, 5, 1, 0x33, 0x33, 0xBB, 9]
    + [FRAME, 0x80, 200] + [1] * 202 + ticks(1) + serve(1, 2) + succeed(),
    "timer_refuses": [COM1] + load(300) + [TIMER_REFUSES, PROGRAM] + box(),
    "exit_mid_run": [COM1, WRITE_LIMIT, 5] + load(300) + connect_com1() + serve(1) + [EXIT],
    "com_unplugged": [COM1 | COM2] + load(300) + [TOGGLE_OPENABLE, 0, PROGRAM] + ticks(4) + [REQUEST, 0]
    + ticks(3) + serve(1, 2) + succeed(),
    # After the end of the image: a request for block 0 with 0x80 flipped to
    # 0x81, and a failure whose status reads 0; neither decides the run.
    "damaged_results": [COM1] + load(300) + connect_com1() + serve(1, 2) + [FRAME, 0x81, 0x00, 0x00, 0x80]
    + ticks(1) + [FRAME, 0x81, 0x00, 0x00, 0x83] + ticks(1) + succeed(),
}

# ---- frame_codec: bytes for the parser; byte 0 is also BuildFrame's count --
FRAME_CODEC = {
    "request": device_frame(0x80, 5),
    "result": device_frame(0x81, 0),
    "broken_sync_pair": bytes([0x33, 0x33, 0xBB]) + device_frame(0x80, 1),
    "two_frames_with_noise": b"\x01\x02" + device_frame(0x80, 0) + b"\x33\x00" + device_frame(0x81, 3),
    "longest_frame": bytes([0x33, 0xBB, 0x80, 0xFF]) + bytes(range(256)) + b"\x01",
    "build_empty": bytes([0x00, 0x80]),
    "build_handshake": bytes([9, 0x80]) + b"qlumtrav\x00",
    "build_block": bytes([128, 0x05]) + bytes((i * 7) & 0xFF for i in range(128)),
}

# ---- device_frame_reader: byte 0 is the reset interval (0: never) ---------
DEVICE_FRAME_READER = {
    "handshake": b"\x00" + HANDSHAKE,
    "block": b"\x00" + host_frame(0x05, bytes((i * 3) & 0xFF for i in range(128))),
    "empty_block": b"\x00" + host_frame(0x40, b""),
    "bad_length": b"\x00" + bytes([0xCC, 0xDD, 0x01, 0x80]) + HANDSHAKE,
    "bad_checksum": b"\x00" + HANDSHAKE[:-1] + bytes([HANDSHAKE[-1] ^ 1]),
    "repeated_sync": b"\x00" + bytes([0xCC, 0xCC]) + HANDSHAKE[1:],
    "reset_mid_frame": b"\x09" + HANDSHAKE + host_frame(0x01, b"abc"),
}

# ---- command_lines: arguments separated by zero bytes --------------------
COMMAND_LINES = {
    "mappings": b"COM1=/dev/ttyUSB0\0COM3=/tmp/pty",
    "bad_mapping": b"COM5=/dev/ttyS1",
    "empty_device": b"COM2=",
    "device_basic": b"--baud\x004800\0--runs=3\0/dev/pts/3",
    "device_rates": b"--corrupt=0.5\0--drop\x001\0--noise=0.1\0--corrupt-sent\x000\0--drop-sent=1\0--repeat=0.25",
    "device_numbers": b"--status=0x10\0--answer-after\x002\0--seed=0xFFFFFFFF\0--hang-up-after=5\0-v\0--silent",
    "device_paths": b"--link\0/tmp/l\0--out=o\0--expect\0r\0--baud=abc",
    "help": b"-h",
    "version": b"COM1=/dev/ttyS0\0--version",
    "demo": b"--timeout\x005\0COM2=/dev/pts/4\0IMAGE.UPL",
    "demo_bad_timeout": b"--timeout\0-1\0IMAGE.UPL",
}

# ---- image_loader: the file's bytes; a leading 0xFF repeats them past 64 KiB
rng = random.Random(7)
IMAGE_LOADER = {
    "empty": b"",
    "one_byte": b"\x42",
    "one_key_period": bytes(rng.randrange(256) for _ in range(50)),
    "three_blocks": bytes(rng.randrange(256) for _ in range(300)),
    "longer_than_an_image": b"\xff" + bytes(rng.randrange(256) for _ in range(99)),
}

# ---- json_line: a byte of decimals, 8 bytes of a double, then the string --
def json_input(decimals, number, text):
    return bytes([decimals]) + struct.pack("<d", number) + text


JSON_LINE = {
    "empty": b"",
    "plain_path": json_input(1, 1.25, b"/tmp/IMAGE.UPL"),
    "utf8": json_input(2, 12.5, "caf\u00e9 \u20ac \U0001f50c \U0010ffff \u2028".encode()),
    "invalid_bytes": json_input(1, 3.0, b"/tmp/\xff\xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80\xe2\x82"),
    "controls": json_input(0, float("nan"), b"a\x00b\x01\x1f\x7f\"\\\n\r\t"),
    "long_path": json_input(17, 1e300, b"/d" * 1005),
}

# ---- cli_options: tarnwick-cli's arguments separated by zero bytes --------
CLI_OPTIONS = {
    "program": b"program\0--json\0--stall-timeout\x000.5\0--log\0/tmp/runs.log\0COM2=/dev/ttyUSB0\0IMAGE.UPL",
    "station": b"station\0--loop\0-q\0usb:0403:6001:A1\0/dev/ttyACM0\0usb-FTDI_A1-if00-port0\0COM3\0IMAGE.UPL",
    "ports": b"ports\0--json\0COM1=/dev/ttyS0\0--dev-root=/tmp/dev",
    "stall_nan": b"program\0--stall-timeout\0nan\0IMAGE.UPL",
    "stall_range": b"program\0--stall-timeout=86400.01\0-v\0IMAGE.UPL",
    "log_empty": b"station\0--log\0\0/dev/ttyUSB0\0IMAGE.UPL",
    "log_inline_empty": b"station\0--log=\0/dev/ttyUSB0\0IMAGE.UPL",
    "help": b"program\0--help",
    "version": b"--version",
    "bad_ports": b"program\0usb:12345:1\0COM0=/x\0\0IMAGE.UPL",
}

# ---- port_arguments: PORT arguments separated by zero bytes ---------------
PORT_ARGUMENTS = {
    "com_names": b"COM1\0COM2\0COM4=/dev/null\0com3",
    "usb_ids": b"usb:0403:6001\0usb:10c4:ea60\0usb:2341:0043:C\xe2\x82\xac\0usb:0403:6001:B\xff\x01",
    "by_id": b"usb-FTDI_AAA-if00-port0\0usb-FTDI_B\xff\x01-if00-port0",
    "paths": b"/dev/null\0/nonexistent/\xff\0relative/path\0..\\x",
    "refused": b"COM9\0usb:1\0COM5=/x",
}

# ---- serial_devices: manufacturer, product, serial, idVendor, idProduct,
# driver and more of the stable name, separated by zero bytes
SERIAL_DEVICES = {
    "empty": b"",
    "ftdi": b"FTDI\0FT232R USB UART\0A1B2C3\x000403\x006001\0ftdi_sio\0",
    "equals_in_serial": b"FTDI\0FT232R USB UART\0A1=2C3\x000403\x006001\0ftdi_sio\0",
    "odd": b"Caf\xc3\xa9 \xff\r\nsecond line\0\xe2\x82\x01\t\"\\\0S\xffN \0xyz\0\0cp210x\0\xff\xfe",
    "long": b"M" * 300 + b"\0" + b"P" * 300 + b"\0" + b"S" * 300 + b"\x00ffff\x00ffff\0" + b"d" * 100,
}



def write(target, seeds):
    folder = CORPUS / target
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    for name, content in seeds.items():
        (folder / name).write_bytes(bytes(content))


write("engine", ENGINE)
write("frame_codec", FRAME_CODEC)
write("device_frame_reader", DEVICE_FRAME_READER)
write("command_lines", COMMAND_LINES)
write("image_loader", IMAGE_LOADER)
write("json_line", JSON_LINE)
write("cli_options", CLI_OPTIONS)
write("port_arguments", PORT_ARGUMENTS)
write("serial_devices", SERIAL_DEVICES)
