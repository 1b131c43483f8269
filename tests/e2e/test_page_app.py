"""window.app in the real program: argument checks, auto-run entries that
the desktop session really starts, the upload-menu switch, event
properties, versions and exit."""

import configparser
import os
import subprocess

from page_suite import run_suite

RECEIVED = r"IPC message received: id=(\d+)"


def desktop_string(value):
    """A desktop-entry string value with its escapes undone."""
    out, i = [], 0
    while i < len(value):
        if value[i] == "\\" and i + 1 < len(value):
            out.append({"s": " ", "n": "\n", "t": "\t", "r": "\r", "\\": "\\"}.get(value[i + 1], value[i + 1]))
            i += 2
        else:
            out.append(value[i])
            i += 1
    return "".join(out)


def exec_argv(exec_value):
    """Splits an Exec value by the desktop-entry quoting rules."""
    argv, current, quoted, i, text = [], None, False, 0, desktop_string(exec_value)
    while i < len(text):
        c = text[i]
        if quoted:
            if c == "\\" and i + 1 < len(text) and text[i + 1] in '"`$\\':
                current += text[i + 1]
                i += 1
            elif c == '"':
                quoted = False
            else:
                current += c
        elif c == '"':
            quoted, current = True, current or ""
        elif c == " ":
            if current is not None:
                argv.append(current)
            current = None
        else:
            assert c not in "\\`$'><~|&;*?#()", "reserved character %r outside quotes" % c
            current = (current or "") + c
        i += 1
    assert not quoted, "unterminated quote in Exec"
    if current is not None:
        argv.append(current)
    assert all("%" not in a.replace("%%", "") for a in argv), "field codes in Exec"
    return [a.replace("%%", "%") for a in argv]


def read_entry(path):
    parser = configparser.RawConfigParser(strict=True, interpolation=None)
    parser.optionxform = str
    with open(path, encoding="utf-8") as f:
        parser.read_file(f)
    assert parser.sections() == ["Desktop Entry"]
    return dict(parser["Desktop Entry"])


def test_app_suite(program):
    with open(os.path.join(program.dir, "version.dat"), "w") as f:
        f.write("3.2\n")
    result = run_suite(program, "app", files={"version.dat": "  7.1.0-beta \r\n"})
    assert result.reports["qbun_version"] == "7.1.0-beta"
    assert result.reports["version"] == {"major": "3", "minor": "2", "build": "5", "revision": "5"}

    autostart = os.path.join(program.env["XDG_CONFIG_HOME"], "autostart")
    assert sorted(os.listdir(autostart)) == ["exiter.desktop", "tricky.desktop", "x.desktop"]
    exe = os.path.realpath(program.exe)
    entry = read_entry(os.path.join(autostart, "x.desktop"))
    assert entry["Type"] == "Application"
    assert entry["Name"] == "x"
    assert exec_argv(entry["Exec"]) == [exe, "--vesk-startup=y"]
    # The Run value's command line as it is stored.
    assert desktop_string(entry["X-Vesk-CommandLine"]) == '"%s" --vesk-startup=y' % exe
    tricky = read_entry(os.path.join(autostart, "tricky.desktop"))
    assert exec_argv(tricky["Exec"]) == [exe, '--vesk-startup=a "b" $HOME `x` \\ %u;\nnext --enable-invoke-trace']

    # The desktop session's launcher accepts the entry and starts the program
    # with the switch: the new start hands "exit-process" to this instance.
    launched = subprocess.run(["gio", "launch", os.path.join(autostart, "exiter.desktop")],
                              env=program.env, capture_output=True, text=True, timeout=30)
    assert launched.returncode == 0, launched.stderr
    assert program.wait_for_log(RECEIVED, timeout=30)[0].group(1) == "2"
    assert result.process.poll() is None


def test_version_dat_of_three_parts_is_shown_and_warned_about(program):
    # The parsing itself is the unit tests' (VersionTextTest); here: the file
    # the program reads, and the warning reaching its log.
    with open(os.path.join(program.dir, "version.dat"), "w") as f:
        f.write("3.2.1")
    result = run_suite(program, "app_version")
    assert result.reports["version"] == {"major": "3", "minor": "2", "build": "5", "revision": "5"}
    warnings = [line for line in result.log.splitlines() if "Get Major and Minor Version Failed" in line]
    assert len(warnings) == 1 and ":WARNING:" in warnings[0], warnings
    assert warnings[0].endswith("Get Major and Minor Version Failed, Result is3.2.1")


def test_exit_with_an_argument_ends_the_program(program):
    result = run_suite(program, "app_exit", "--enable-invoke-trace")
    assert result.process.wait(timeout=30) == 0
    log = program.log()
    assert "plugin::VeskJsObject<class plugin::App>::Execute::exit(now)" in log
    assert "] calling exit" in log
