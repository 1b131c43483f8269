"""Signed packages as the program meets them: the start page from the signed
sample, a package built independently (Python's zipfile and the openssl
command line) served byte for byte with status and MIME type, the
<host>-package-dir override, and the missing-package message box."""

import json
import os
import random
import re
import shutil
import struct
import subprocess
import urllib.parse
import zipfile

import pytest

from waits import poll_screenshot, wait_until

PROGRAM_DIR = os.environ.get("VESK_PROGRAM_DIR") or os.path.join(
    os.path.dirname(__file__), "..", "..", "build", "program")
BUILD_DIR = os.path.dirname(os.path.abspath(PROGRAM_DIR))
QBUN = os.path.join(BUILD_DIR, "bin", "qbun")
PRIVATE_KEY = os.path.join(BUILD_DIR, "package_keys", "development_private.pem")
START_URL = "vesk://vesk/res/app_init.html"
CAPTION = "凯斯卓佩利卡"

needs_key = pytest.mark.skipif(not os.path.exists(PRIVATE_KEY),
                               reason="this build has no development private key")

# The probe page fetches every URL, hashes the body (FNV-1a, 32 bit) and
# reports through the URL of the page it goes to next, which the host logs.
PROBE_PAGE = """<!DOCTYPE html><html><head><meta charset="utf-8"></head>
<body style="background:#fff"><script>
const urls = %s;
function fnv(bytes) {
  let h = 0x811c9dc5;
  for (const b of bytes) { h ^= b; h = Math.imul(h, 0x01000193) >>> 0; }
  return h;
}
async function probe(url) {
  try {
    const r = await fetch(url);
    const body = new Uint8Array(await r.arrayBuffer());
    return [url, r.status, r.headers.get("content-type"), body.length, fnv(body)];
  } catch (e) {
    return [url, "error", String(e), 0, 0];
  }
}
Promise.all(urls.map(probe)).then(results => {
  location.replace("vesk://vesk/done.html?" + encodeURIComponent(JSON.stringify(results)));
});
</script></body></html>
"""


def fnv(data):
    h = 0x811c9dc5
    for b in data:
        h = ((h ^ b) * 0x01000193) & 0xFFFFFFFF
    return h


def site_files():
    rnd = random.Random(5)
    return [
        ("index.html", b"<html>index</html>"),
        ("js/app.js", b"var app = 1;\n"),
        ("empty.txt", b""),
        ("media/clip.webm", b"webm bytes"),
        ("img/photo.JPG", bytes(rnd.randrange(256) for _ in range(3000))),
        ("data/blob.bin", bytes(rnd.randrange(256) for _ in range(300000))),
        ("noext", b"no extension"),
        ("font.woff", b"woff"),
        ("Index.HTM", b"capital"),
        ("done.html", b"<html>done</html>"),
    ]


PROBES = [
    # (URL, file name in the site, expected MIME type)
    ("vesk://vesk/index.html", "index.html", "text/html"),
    ("vesk://vesk/js/app.js?v=3", "js/app.js", "application/x-javascript"),
    ("vesk://vesk/empty.txt", "empty.txt", "text/plain"),
    ("vesk://vesk/media/clip.webm", "media/clip.webm", "video/webm"),
    ("vesk://vesk/img/photo.JPG", "img/photo.JPG", "image/jpeg"),
    ("vesk://vesk/data/blob.bin", "data/blob.bin", "application/octet-stream"),
    ("vesk://vesk/noext", "noext", "text/plain"),
    ("vesk://vesk/font.woff", "font.woff", "font/woff"),
    ("vesk://vesk/INDEX.HTM", None, None),
    ("vesk://vesk/missing.txt", None, None),
    ("vesk://vesk/dup.txt", "dup.txt", "text/plain"),
]


def write_site(directory):
    for name, data in site_files() + [("res/app_init.html", probe_page())]:
        path = os.path.join(directory, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


def probe_page():
    return (PROBE_PAGE % json.dumps([url for url, _, _ in PROBES])).encode()


def build_package_independently(tmp_path, files):
    """A package made without this project's code: zipfile, openssl dgst, and
    the byte reversal of the stored signature."""
    archive = tmp_path / "archive.zip"
    import warnings
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # the duplicate name is intended
        with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
            for name, data in files:
                z.writestr(name, data, compress_type=zipfile.ZIP_STORED if name.endswith(".bin")
                           else zipfile.ZIP_DEFLATED)
    signature_file = tmp_path / "archive.sig"
    subprocess.run(["openssl", "dgst", "-sha1", "-sign", PRIVATE_KEY, "-out", str(signature_file),
                    str(archive)], check=True)
    signature = signature_file.read_bytes()[::-1]
    package = tmp_path / "independent.qbun"
    package.write_bytes(struct.pack("<4sIII", b"QBUN", 0, 0, len(signature)) + signature +
                        archive.read_bytes())
    return package


def package_files():
    files = site_files() + [("res/app_init.html", probe_page())]
    return files + [("dup.txt", b"first"), ("dup.txt", b"second copy")]


def probe_results(program):
    match = program.wait_for_log(r"Load finished: vesk://vesk/done\.html\?(\S+)")[0]
    return {row[0]: row[1:] for row in json.loads(urllib.parse.unquote(match.group(1)))}


def check_results(results, files, *, empty_served):
    contents = dict(files[::-1])  # the first of two equal names wins
    for url, name, mime in PROBES:
        status, content_type, length, digest = results[url]
        if name is None or (name == "empty.txt" and not empty_served) or name not in contents:
            assert (status, length) == (404, 0), url
            continue
        data = contents[name]
        assert status == 200, url
        assert content_type.split(";")[0] == mime, url
        assert (length, digest) == (len(data), fnv(data)), url


@needs_key
def test_independently_built_package_verifies_and_is_served(program, tmp_path):
    package = build_package_independently(tmp_path, package_files())
    verify = subprocess.run([QBUN, "verify", str(package)], capture_output=True, text=True)
    assert verify.returncode == 0, verify.stderr
    cat = subprocess.run([QBUN, "cat", str(package), "dup.txt"], capture_output=True)
    assert cat.returncode == 0 and cat.stdout == b"first"

    damaged = bytearray(package.read_bytes())
    damaged[-100] ^= 0x10
    (tmp_path / "damaged.qbun").write_bytes(damaged)
    verify = subprocess.run([QBUN, "verify", str(tmp_path / "damaged.qbun")], capture_output=True, text=True)
    assert verify.returncode == 1
    assert "CryptVerifySignature Failed " in verify.stderr

    shutil.copy(package, os.path.join(program.dir, "package", "vesk.qbun"))
    program.start()
    check_results(probe_results(program), package_files(), empty_served=True)
    assert "Load failed" not in program.log()


def test_signed_sample_start_page_loads_and_shows(program):
    proc = program.start("--force-show-window")
    assert program.wait_for_log(r"Load finished: (\S+)")[0].group(1) == START_URL
    window = program.main_window(proc.pid)

    def a_painted_page(shot):
        colours = subprocess.run(["identify", "-format", "%k", shot], capture_output=True, text=True,
                                 check=True).stdout
        return int(colours) > 50
    poll_screenshot(program, a_painted_page, window=window)
    assert "Load failed" not in program.log()


def test_package_dir_override_serves_the_directory_without_check(program, tmp_path):
    site = tmp_path / "site"
    write_site(str(site))
    os.remove(os.path.join(program.dir, "package", "vesk.qbun"))
    program.start("--vesk-package-dir=" + str(site))
    check_results(probe_results(program), site_files() + [("res/app_init.html", probe_page())],
                  empty_served=False)
    assert "Message box" not in program.log()


def close_message_box(program, proc):
    window = program.wait_for_window(proc.pid, timeout=30)[0]
    name = subprocess.run(["xdotool", "getwindowname", str(window)], env=program.env,
                          capture_output=True, text=True).stdout.strip()

    def pressed_return_and_ended():
        # Pressed again until the box goes: the first key may come before
        # the box takes the focus.
        subprocess.run(["xdotool", "windowfocus", "--sync", str(window), "key", "Return"],
                       env=program.env, capture_output=True, timeout=10)
        return proc.poll() is not None
    wait_until(pressed_return_and_ended, 30, "the message box to close the program", interval=0.5)
    return name


@pytest.mark.parametrize("fault", ["missing", "damaged", "directory"])
def test_bad_package_shows_the_message_box_and_ends(program, fault):
    path = os.path.join(program.dir, "package", "vesk.qbun")
    if fault == "missing":
        os.remove(path)
    elif fault == "damaged":
        data = bytearray(open(path, "rb").read())
        data[len(data) // 2] ^= 0x01
        open(path, "wb").write(data)
    else:
        os.remove(path)
        os.mkdir(path)
    proc = program.start()
    assert close_message_box(program, proc) == CAPTION
    assert proc.wait(timeout=20) == 0
    expected = "Message box %s: 文件 %s 不存在或已损坏，请重新安装佩利卡！" % (CAPTION, path)
    assert expected in program.log()
    assert "Load URL" not in program.log(), "no main window after the box"


def test_first_bad_package_is_the_one_reported(program):
    for name in ("pelicard", "vesk"):
        os.remove(os.path.join(program.dir, "package", name + ".qbun"))
    proc = program.start()
    close_message_box(program, proc)
    assert proc.wait(timeout=20) == 0
    log = program.log()
    assert os.path.join(program.dir, "package", "pelicard.qbun") in log
    assert os.path.join(program.dir, "package", "vesk.qbun") not in log


@needs_key
def test_qbun_packs_verifies_lists_and_refuses_bad_arguments(tmp_path):
    site = tmp_path / "site"
    write_site(str(site))
    package = tmp_path / "site.qbun"
    public = os.path.join(BUILD_DIR, "package_keys", "development_public.pem")

    def qbun(*args):
        return subprocess.run([QBUN, *map(str, args)], capture_output=True)

    assert qbun("pack", site, "-o", package, "--key", PRIVATE_KEY).returncode == 0
    assert qbun("verify", package).returncode == 0
    assert qbun("verify", package, "--public-key", public).returncode == 0
    listing = qbun("list", package).stdout.decode().splitlines()
    assert sorted(line.split("\t")[-1] for line in listing) == sorted(
        name for name, _ in site_files() + [("res/app_init.html", b"")])
    assert qbun("cat", package, "data/blob.bin").stdout == dict(site_files())["data/blob.bin"]
    assert qbun("cat", package, "DATA/blob.bin").returncode == 1

    # Another key: the embedded key does not accept it, its own key does.
    other_private = tmp_path / "other.pem"
    other_public = tmp_path / "other_pub.pem"
    subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048",
                    "-out", str(other_private)], check=True, capture_output=True)
    subprocess.run(["openssl", "pkey", "-in", str(other_private), "-pubout", "-out", str(other_public)],
                   check=True)
    other = tmp_path / "other.qbun"
    assert qbun("pack", site, "-o", other, "--key", other_private).returncode == 0
    assert qbun("verify", other).returncode == 1
    assert qbun("verify", other, "--public-key", other_public).returncode == 0

    for args in [(), ("frobnicate",), ("pack",), ("pack", site, "-o"), ("pack", site, "--key", PRIVATE_KEY),
                 ("verify",), ("verify", package, "--bogus", "x"), ("list", package, "extra"), ("cat", package),
                 ("pack", site, "-o", package, "-o", package, "--key", PRIVATE_KEY)]:
        result = qbun(*args)
        assert result.returncode == 2, args
        assert b"usage: qbun" in result.stderr
    assert qbun("pack", site, "-o", package, "--key", public).returncode == 1, "a public key cannot sign"
    assert qbun("verify", tmp_path / "absent.qbun").returncode == 1
    assert qbun("list", site / "index.html").returncode == 1
