#!/usr/bin/env python3
"""Writes the seed corpus of the character_card fuzz target into fuzz/corpus/character_card/.

Each seed is a small PNG built chunk by chunk (a real 2x2 picture) so that the fuzzer starts from
the shapes that matter: a version 3 card, a version 2 card, both, Quorvane's own extension, a
plain picture, and a card whose text is not Base64. Run it again after changing a seed here.
"""
import base64
import json
import pathlib
import struct
import zlib

OUT = pathlib.Path(__file__).resolve().parent / "corpus" / "character_card"


def chunk(kind: bytes, data: bytes) -> bytes:
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def picture(*extra: bytes) -> bytes:
    ihdr = chunk(b"IHDR", struct.pack(">IIBBBBB", 2, 2, 8, 6, 0, 0, 0))
    pixels = (b"\x00" + b"\xc8\x28\x3c\xff" * 2) * 2
    return b"\x89PNG\r\n\x1a\n" + ihdr + b"".join(extra) + chunk(b"IDAT", zlib.compress(pixels)) + chunk(b"IEND", b"")


def text(keyword: str, value: bytes) -> bytes:
    return chunk(b"tEXt", keyword.encode() + b"\x00" + value)


def card(keyword: str, format_name: str, version: str, data: dict) -> bytes:
    body = json.dumps({"spec": format_name, "spec_version": version, "data": data}, ensure_ascii=False)
    return text(keyword, base64.b64encode(body.encode()))


ADA = {"name": "Ada", "personality": "Exact.", "description": "Counts things.", "scenario": "A lab.",
       "first_mes": "Hello.", "tags": ["maths"], "extensions": {}}
SEEDS = {
    "v3.png": picture(card("ccv3", "chara_card_v3", "3.0", ADA)),
    "v2.png": picture(card("chara", "chara_card_v2", "2.0", ADA)),
    "both.png": picture(card("chara", "chara_card_v2", "2.0", {"name": "Old", "personality": "Before."}),
                        card("ccv3", "chara_card_v3", "3.0", ADA)),
    "quorvane.png": picture(card("ccv3", "chara_card_v3", "3.0", {
        "name": "Cy \U0001F44D\U0001F3FD", "personality": "e\u0301" * 40,
        "extensions": {"quorvane": {"role": "Scout", "kind": "robot", "avatar": "kind"}}})),
    "plain.png": picture(),
    "not-base64.png": picture(text("ccv3", b"not*base64")),
}

OUT.mkdir(parents=True, exist_ok=True)
for name, data in SEEDS.items():
    (OUT / name).write_bytes(data)
