"""What an application developer meets: the package tool's keys, packing and
verification messages, the launcher's --help and --version, the start-up
check's reason in the log, the development reload, and module scripts and
WebAssembly served from a package."""

import os
import re
import shutil
import stat
import subprocess
import time

import pytest

from test_packages import BUILD_DIR, PRIVATE_KEY, QBUN, close_message_box, needs_key

START_URL = "vesk://vesk/res/app_init.html"
# (func (export "add") (param i32 i32) (result i32) local.get 0 local.get 1 i32.add)
ADD_WASM = bytes.fromhex("0061736d0100000001070160027f7f017f030201000707010361646400000a09010700200020016a0b")


def qbun(*args):
    return subprocess.run([QBUN, *map(str, args)], capture_output=True, text=True)


def write(root, files):
    for name, data in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode())


def fingerprint(public_pem):
    der = subprocess.run(["openssl", "pkey", "-pubin", "-in", str(public_pem), "-outform", "DER"],
                         capture_output=True, check=True).stdout
    return subprocess.run(["sha256sum"], input=der, capture_output=True, check=True).stdout.split()[0].decode()


def test_keygen_writes_a_private_pair_and_says_to_back_it_up(tmp_path):
    result = qbun("keygen", tmp_path / "keys")
    assert result.returncode == 0, result.stderr
    private, public = tmp_path / "keys" / "package_private.pem", tmp_path / "keys" / "package_public.pem"
    assert stat.S_IMODE(os.stat(private).st_mode) == 0o600
    assert "Back up the private key" in result.stdout
    assert "Fingerprint: " + fingerprint(public) in result.stdout
    assert qbun("keygen", tmp_path / "keys").returncode == 1, "an existing key is never replaced"
    assert re.fullmatch(r"qbun \d+\.\d+\.\d+\n", qbun("--version").stdout)


@needs_key
def test_pack_leaves_out_what_it_should_warns_and_verify_names_both_keys(tmp_path):
    site = tmp_path / "site"
    write(site, {"index.html": "<p>x</p>", ".git/HEAD": "ref", "drafts/a.html": "a", "app.js.map": "{}",
                 "my page.html": "y", "model.onnx": "z"})
    output = site / "site.qbun"
    write(site, {"site.qbun": "an older package"})
    result = qbun("pack", site, "-o", output, "--key", PRIVATE_KEY, "--exclude", "drafts", "--exclude", "*.map")
    assert result.returncode == 0, result.stderr
    names = [line.split("\t")[-1] for line in qbun("list", output).stdout.splitlines()]
    assert sorted(names) == ["index.html", "model.onnx", "my page.html"]
    assert "warning: my page.html: a page cannot address this name" in result.stderr
    assert "warning: model.onnx: will be served as text/plain (.onnx)" in result.stderr

    own_public = os.path.join(BUILD_DIR, "package_keys", "development_public.pem")
    checked = qbun("verify", output)
    assert checked.returncode == 0
    assert "against the built-in key " + fingerprint(own_public) in checked.stdout
    assert qbun("verify", output, "--key", own_public).returncode == 0

    assert qbun("keygen", tmp_path / "other").returncode == 0
    other_public = tmp_path / "other" / "package_public.pem"
    refused = qbun("verify", output, "--key", other_public)
    assert refused.returncode == 1
    assert ("FAILED: %s: its signature does not match key %s (it was signed with another key, id %s)" %
            (output, fingerprint(other_public), fingerprint(own_public)[:8])) in refused.stdout

    small = tmp_path / "small.pem"
    subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:1024", "-out",
                    str(small)], check=True, capture_output=True)
    result = qbun("pack", site, "-o", tmp_path / "small.qbun", "--key", small)
    assert result.returncode == 1 and "1024-bit RSA" in result.stderr
    assert not (tmp_path / "small.qbun").exists()


def test_launcher_answers_help_and_version_without_starting(program):
    code, output = program.run("--version")
    assert code == 0 and re.fullmatch(r"pelicard \d+\.\d+\.\d+\n", output)
    code, output = program.run("--help")
    assert code == 0
    assert "--enable-dev-tools" in output and "Packages: pelicard, vesk" in output
    assert "Load URL" not in program.log()


@needs_key
def test_a_package_signed_with_another_key_is_refused_with_the_reason(program, tmp_path):
    assert qbun("keygen", tmp_path / "other").returncode == 0
    path = os.path.join(program.dir, "package", "vesk.qbun")
    site = tmp_path / "site"
    write(site, {"res/app_init.html": "<p>other</p>"})
    assert qbun("pack", site, "-o", path, "--key", tmp_path / "other" / "package_private.pem").returncode == 0
    proc = program.start()
    close_message_box(program, proc)
    assert proc.wait(timeout=20) == 0
    own = fingerprint(os.path.join(BUILD_DIR, "package_keys", "development_public.pem"))
    other = fingerprint(tmp_path / "other" / "package_public.pem")
    line = program.wait_for_log(r"Package check failed: (.*)")[0].group(1)
    assert line == "%s: its signature does not match key %s (it was signed with another key, id %s)" % (
        path, own, other[:8])
    assert "Success (0)" not in line


def start_on_site(program, site, *switches):
    proc = program.start("--vesk-package-dir=" + str(site), *switches)
    program.wait_for_log("Load finished: " + re.escape(START_URL))
    return proc


def test_dev_tools_reload_on_change_and_keys_and_missing_directory_is_logged(program, tmp_path):
    site = tmp_path / "site"
    write(site, {"res/app_init.html": "<p>one</p>", "res/css/a.css": "p{}"})
    proc = start_on_site(program, site, "--enable-dev-tools", "--force-show-window",
                         "--pelicard-package-dir=" + str(tmp_path / "absent"))
    assert "The directory of --pelicard-package-dir does not exist: %s" % (tmp_path / "absent") in program.log()
    program.wait_for_log("Development reload: watching 3 directories")
    write(site, {"res/css/a.css": "p{color:red}"})
    program.wait_for_log("Load finished: " + re.escape(START_URL), count=2)
    assert "Development reload: a page file changed; reloading" in program.log()

    window = program.main_window(proc.pid)
    subprocess.run(["xdotool", "windowfocus", "--sync", str(window)], env=program.env, check=True, timeout=10)
    subprocess.run(["xdotool", "key", "F5"], env=program.env, check=True, timeout=10)
    program.wait_for_log("Load finished: " + re.escape(START_URL), count=3)
    subprocess.run(["xdotool", "key", "ctrl+r"], env=program.env, check=True, timeout=10)
    program.wait_for_log("Load finished: " + re.escape(START_URL), count=4)
    assert len(re.findall("Development reload: key pressed", program.log())) == 2


def test_without_dev_tools_nothing_is_watched(program, tmp_path):
    site = tmp_path / "site"
    write(site, {"res/app_init.html": "<p>one</p>"})
    # The watcher would start before the first page loads.
    start_on_site(program, site)
    assert "Development reload" not in program.log()
    assert "does not exist" not in program.log()


MODULE_PAGE = """<!doctype html><html><head><meta charset="utf-8"></head><body>
<script type="module">
import { sum } from "./calc.mjs";
sum(2, 3).then(v => console.log("WASM SUM " + v), e => console.log("WASM FAILED " + e));
</script></body></html>"""
MODULE = """export async function sum(a, b) {
  const { instance } = await WebAssembly.instantiateStreaming(fetch("add.wasm"));
  return instance.exports.add(a, b);
}"""


@needs_key
def test_module_scripts_and_webassembly_load_from_a_package(program, tmp_path):
    site = tmp_path / "site"
    write(site, {"res/app_init.html": MODULE_PAGE, "res/calc.mjs": MODULE, "res/add.wasm": ADD_WASM})
    package = os.path.join(program.dir, "package", "vesk.qbun")
    assert qbun("pack", site, "-o", package, "--key", PRIVATE_KEY).returncode == 0
    program.start()
    line = program.wait_for_log(r"\] WASM (SUM|FAILED) (.*)")[0]
    assert line.group(0).endswith("WASM SUM 5"), line.group(0)
