"""window.security in the real program, checked by independent parties:
session keys unwrap with the build's development private key (openssl
pkeyutl), access keys decrypt with openssl enc, compressed data inflates with
Python's zlib, and MD5/CRC-32 of large data match hashlib and zlib."""

import base64
import hashlib
import os
import re
import struct
import subprocess
import zlib

import pytest

from conftest import PROGRAM_DIR
from page_suite import run_suite

# The build keeps the development session key pair and the access-key
# vector next to the program directory (cmake/SessionKeys.cmake).
KEY_DIR = os.environ.get("VESK_SESSION_KEY_DIR") or os.path.join(PROGRAM_DIR, "..", "session_keys")
PRIVATE_KEY = os.path.join(KEY_DIR, "development_private.pem")
IV_FILE = os.path.join(KEY_DIR, "access_key_iv.hex")


def pseudo_random_bytes(count, seed):
    """The page's generator: x = (x * 1103515245 + 12345) mod 2^31."""
    out, x = bytearray(count), seed
    for i in range(count):
        x = (x * 1103515245 + 12345) & 0x7FFFFFFF
        out[i] = (x >> 16) & 255
    return bytes(out)


def session_key(numbers):
    """The first four numbers as little-endian signed 32-bit values."""
    return struct.pack("<4i", *numbers[:4])


def unwrap(wrapped, tmp_path):
    cipher = tmp_path / "wrapped.bin"
    cipher.write_bytes(base64.b64decode(wrapped, validate=True))
    out = subprocess.run(["openssl", "pkeyutl", "-decrypt", "-inkey", PRIVATE_KEY, "-pkeyopt",
                          "rsa_padding_mode:pkcs1", "-in", str(cipher)], capture_output=True, check=True)
    return out.stdout


def aes_decrypt(key, iv_hex, access_key, tmp_path):
    cipher = tmp_path / "access.bin"
    cipher.write_bytes(base64.urlsafe_b64decode(access_key + "=" * (-len(access_key) % 4)))
    out = subprocess.run(["openssl", "enc", "-d", "-aes-128-cbc", "-K", key.hex(), "-iv", iv_hex, "-in",
                          str(cipher)], capture_output=True, check=True)
    return out.stdout


def md5_padding(length):
    """RFC 1321 padding and length for a message of |length| bytes."""
    pad = b"\x80" + b"\x00" * ((55 - length) % 64)
    return pad + struct.pack("<Q", (length * 8) & 0xFFFFFFFFFFFFFFFF)


@pytest.fixture(scope="module")
def suite_result(tmp_path_factory, display):
    from conftest import Program
    program = Program(str(tmp_path_factory.mktemp("security")), display)
    try:
        yield run_suite(program, "security", timeout=180)
    finally:
        program.stop_all()


def test_suite_cases_pass(suite_result):
    assert suite_result.runs[0].plan > 0


@pytest.mark.skipif(not os.path.exists(PRIVATE_KEY), reason="built with a release session key")
def test_session_keys_unwrap_to_the_first_sixteen_bytes(suite_result, tmp_path):
    facts = suite_result.reports["session_keys"]
    expected = session_key(facts["numbers"])
    first, second, other_tail = facts["wrapped"]
    assert first != second
    for wrapped in (first, second, other_tail):
        assert len(wrapped) == 172 and wrapped.endswith("=") and not wrapped.endswith("==")
        assert unwrap(wrapped, tmp_path) == expected
    assert unwrap(facts["converted_wrapped"], tmp_path) == session_key(facts["converted_expected"])


def test_access_keys_decrypt_to_the_text(suite_result, tmp_path):
    facts = suite_result.reports["access_keys"]
    with open(IV_FILE) as f:
        iv_hex = f.read().strip()
    key = session_key(facts["numbers"])
    lengths = set()
    for result in facts["results"]:
        text = result["text"].encode("utf-8")
        lengths.add(len(text))
        assert aes_decrypt(key, iv_hex, result["key"], tmp_path) == text, result
    # The block-boundary cases and non-ASCII texts were all there.
    assert {0, 15, 16, 17, 32} <= lengths
    assert any(not r["text"].isascii() for r in facts["results"])


def test_md5_matches_hashlib(suite_result):
    large = suite_result.reports["md5_large"]
    data = pseudo_random_bytes(large["count"], large["seed"])
    assert large["digest"] == hashlib.md5(data).hexdigest().upper()
    continued = suite_result.reports["md5_continued"]
    first, then = continued["first"].encode(), continued["then"].encode()
    # Appending after complete goes on from the finished context: the digest
    # covers the first message, its padding and length, and the rest.
    assert continued["digest"] == hashlib.md5(first + md5_padding(len(first)) + then).hexdigest().upper()
    all_bytes = bytes(range(256))
    assert suite_result.reports["byte_values"]["md5"] == hashlib.md5(all_bytes).hexdigest().upper()
    assert suite_result.reports["byte_values"]["crc"] == "%08X" % zlib.crc32(all_bytes)


def test_crc32_matches_zlib(suite_result):
    large = suite_result.reports["crc_large"]
    data = pseudo_random_bytes(large["count"], large["seed"])
    assert large["crc"] == "%08X" % zlib.crc32(data)


def test_zlib_output_inflates_back(suite_result):
    facts = suite_result.reports["zlib"]
    for name, recipe in facts["inputs"].items():
        if "b64" in recipe:
            original = base64.b64decode(recipe["b64"])
        elif "repeat" in recipe:
            original = recipe["repeat"].encode() * recipe["times"]
        else:
            original = pseudo_random_bytes(recipe["count"], recipe["seed"])
        output = base64.b64decode(facts["outputs"][name])
        assert zlib.decompress(output) == original, name
        # zlib format at level 9: the header says "maximum compression".
        assert output[:2] == b"\x78\xda", name


# Failing stand-ins for the GUID generator and RSA encryption
# (tests/e2e/failing_services.cc), built next to the program directory: the
# real services cannot be made to fail inside the running program.
FAILING_SERVICES = os.path.join(PROGRAM_DIR, "..", "tests", "e2e", "libvesk_failing_services.so")


@pytest.mark.skipif(not os.path.exists(FAILING_SERVICES), reason="libvesk_failing_services.so not built")
def test_failures_of_the_platform_services(program):
    program.env["LD_PRELOAD"] = os.path.abspath(FAILING_SERVICES)
    result = run_suite(program, "security_failures")
    # The failed step is logged before the page sees the exception.
    assert re.search(r":WARNING:[^\]]*\] RSAFailed, System Error is [1-9]\d*", result.log), result.log[-3000:]
