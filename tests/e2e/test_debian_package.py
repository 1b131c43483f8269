"""The Debian package: built by CPack from the install rules, with library
dependencies computed from the binaries and a CJK font; installed with dpkg
into a throw-away root, run from there by a user, and removed."""

import os
import re
import subprocess

import pytest

from installed import APP, BUILD_DIR, NOBODY, InstalledProgram, Place, require_build_dir


@pytest.fixture(scope="module")
def package():
    require_build_dir()
    where = Place()
    subprocess.run(["cpack", "--config", os.path.join(BUILD_DIR, "CPackConfig.cmake"), "-B", where.root],
                   check=True, capture_output=True)
    debs = [name for name in os.listdir(where.root) if name.endswith(".deb")]
    assert len(debs) == 1, debs
    where.deb = os.path.join(where.root, debs[0])
    yield where
    where.close()


def control_fields(deb):
    text = subprocess.run(["dpkg-deb", "-f", deb], check=True, capture_output=True, text=True).stdout
    return dict(re.findall(r"^(\S+): (.*)$", text, re.M))


def test_control_fields_and_file_list(package):
    fields = control_fields(package.deb)
    assert fields["Package"] == APP and fields["Architecture"] == "amd64"
    depends = [d.strip() for d in fields["Depends"].split(",")]
    assert "fonts-wqy-microhei | fonts-noto-cjk" in depends
    for library in ("libwebkit2gtk-4.1-0", "libgtk-3-0", "libjsoncpp25", "libssl3", "libc6"):
        assert any(d.startswith(library + " ") or d == library for d in depends), (library, depends)
    # No ldconfig: the libraries are private to the program directory.
    for script in ("postinst", "postrm"):
        text = subprocess.run(["dpkg-deb", "-I", package.deb, script], capture_output=True, text=True).stdout
        assert "ldconfig" not in text, text
    listing = subprocess.run(["dpkg-deb", "-c", package.deb], check=True, capture_output=True, text=True).stdout
    assert "./usr/bin/%s -> ../lib/%s/%s" % (APP, APP, APP) in listing
    assert "./usr/lib/x86_64-linux-gnu/nautilus/extensions-4/pelicard_shell_ext.so -> " \
           "../../../%s/pelicard_shell_ext.so" % APP in listing
    record = subprocess.run(["sh", "-c", "dpkg-deb --fsys-tarfile \"$0\" | tar -xO "
                             "./usr/lib/x86_64-linux-gnu/nautilus/extensions-4/pelicard_shell_ext.ini", package.deb],
                            check=True, capture_output=True, text=True).stdout
    assert "\nDirectory=/usr/lib/%s\n" % APP in record
    for name in ("lib/%s/%s" % (APP, APP), "lib/%s/libframework.so" % APP, "lib/%s/webext/libvesk_webext.so" % APP,
                 "lib/%s/package/vesk.qbun" % APP, "lib/%s/version.dat" % APP, "lib/%s/pelicard-upload" % APP,
                 "share/applications/example.kestrow.%s.desktop" % APP,
                 "share/metainfo/example.kestrow.%s.metainfo.xml" % APP,
                 "share/icons/hicolor/256x256/apps/%s.png" % APP):
        assert re.search(r"^\S+ root/root .* \./usr/%s$" % re.escape(name), listing, re.M), name


def test_dependencies_resolve_on_this_system(package):
    # What apt would do to install it here, without doing it.
    simulated = subprocess.run(["apt-get", "install", "-s", "-q", package.deb], capture_output=True, text=True)
    assert simulated.returncode == 0, simulated.stdout + simulated.stderr
    assert re.search(r"^Inst %s " % re.escape(APP), simulated.stdout, re.M), simulated.stdout


def dpkg_in(root, *args):
    # Maintainer scripts (there are none) would run outside the root; its
    # empty package database has none of the dependencies, which the test
    # above resolves against this system instead.
    return subprocess.run(["dpkg", "--root=" + root, "--force-script-chrootless", "--log=/dev/null", *args],
                          capture_output=True, text=True)


def test_package_installs_runs_and_removes_in_a_throw_away_root(package, display):
    root = os.path.join(package.root, "root")
    admin = os.path.join(root, "var/lib/dpkg")
    for sub in ("info", "updates"):
        os.makedirs(os.path.join(admin, sub))
    open(os.path.join(admin, "status"), "w").close()
    os.chmod(root, 0o755)
    installed = dpkg_in(root, "--force-depends", "-i", package.deb)
    assert installed.returncode == 0, installed.stdout + installed.stderr
    assert re.search(r"^ii  %s " % re.escape(APP), dpkg_in(root, "-l").stdout, re.M)
    user = InstalledProgram(package, "user", display, os.path.join(root, "usr"), uid=NOBODY)
    try:
        user.start()
        user.wait_for_log(r"Load finished: vesk://vesk/res/app_init\.html$", timeout=60)
        assert "is not writable: local storage" in user.log()
    finally:
        user.stop_all()
    removed = dpkg_in(root, "-r", APP)
    assert removed.returncode == 0, removed.stdout + removed.stderr
    assert sorted(os.listdir(root)) == ["var"], "the program left nothing behind in its directories"
