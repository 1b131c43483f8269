"""pelicard_shell_ext_register, run for real into a prepared HOME or a
DESTDIR-style root: installed twice, uninstalled twice, the files listed
before and after. The per-user Nautilus script is also run, and reaches a
stand-in launcher through pelicard-upload."""

import base64
import configparser
import os
import shlex
import shutil
import subprocess
import time

import pytest

PROGRAM_DIR = os.environ["VESK_PROGRAM_DIR"]
STAND_IN = os.environ["VESK_STAND_IN_LAUNCHER"]
EXTENSION_DIR = os.environ["VESK_NAUTILUS_EXTENSION_DIR"]
LABEL = "上传文件到邮箱网盘"
OUR_FILES = ["pelicard_shell_ext.so", "pelicard-upload", "pelicard_shell_ext_register",
             "icons/pelicard-upload.svg"]


def tree(root, skip=()):
    """Every entry below |root|: path -> (kind, mode, link target)."""
    entries = {}
    for directory, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if os.path.join(directory, d) not in skip]
        for name in dirs + files:
            path = os.path.join(directory, name)
            info = os.lstat(path)
            kind = "link" if os.path.islink(path) else "dir" if os.path.isdir(path) else "file"
            target = os.readlink(path) if kind == "link" else None
            entries[os.path.relpath(path, root)] = (kind, info.st_mode & 0o777, target)
    return entries


@pytest.fixture
def program(tmp_path):
    """A program directory whose name needs quoting everywhere, holding our
    files (copies: the commands find their directory through their own
    path) and the stand-in launcher as pelicard."""
    directory = tmp_path / "my \"pelicard\" $HOME `x` \\ dir"
    (directory / "icons").mkdir(parents=True)
    for name in OUR_FILES:
        shutil.copy2(os.path.join(PROGRAM_DIR, name), directory / name)
    os.symlink(STAND_IN, directory / "pelicard")
    return str(directory)


def user_env(tmp_path):
    home = tmp_path / "home"
    home.mkdir(exist_ok=True)
    env = {k: v for k, v in os.environ.items() if not k.startswith("XDG_")}
    env.update({"HOME": str(home), "TMPDIR": str(tmp_path)})
    return env, str(home)


def register(program, *args, env=None):
    return subprocess.run([os.path.join(program, "pelicard_shell_ext_register"), *args], env=env,
                          capture_output=True, text=True, timeout=60)


def key_file_unescape(value):
    escapes = {"s": " ", "n": "\n", "t": "\t", "r": "\r", "\\": "\\"}
    out, i = "", 0
    while i < len(value):
        if value[i] == "\\" and i + 1 < len(value):
            out += escapes[value[i + 1]]
            i += 2
        else:
            out += value[i]
            i += 1
    return out


def desktop_exec_split(command):
    """Splits an Exec value by the desktop entry rules: arguments separated by
    spaces, double quotes group, and inside them a backslash takes the next
    of " ` $ \\ literally."""
    args, current, quoted, i, started = [], "", False, 0, False
    while i < len(command):
        c = command[i]
        if quoted and c == "\\" and command[i + 1] in "\"`$\\":
            current += command[i + 1]
            i += 1
        elif c == '"':
            quoted, started = not quoted, True
        elif c == " " and not quoted:
            if started or current:
                args.append(current)
            current, started = "", False
        else:
            current += c
        i += 1
    if started or current:
        args.append(current)
    return args


def read_key_file(path, group):
    """A group of a GLib key file (desktop entry syntax), values unescaped."""
    parser = configparser.ConfigParser(interpolation=None, delimiters=("=",))
    parser.optionxform = str
    parser.read(path, encoding="utf-8")
    return {key: key_file_unescape(value) for key, value in parser[group].items()}


def test_per_user_entries_installed_and_removed_twice(tmp_path, program):
    env, home = user_env(tmp_path)
    data = os.path.join(home, ".local", "share")
    # Entries of the user's own in the same directories stay untouched.
    for own in ["nautilus/scripts/mine", "nemo/actions/other.nemo_action"]:
        os.makedirs(os.path.dirname(os.path.join(data, own)), exist_ok=True)
        with open(os.path.join(data, own), "w") as f:
            f.write("mine\n")
    outside_before = tree(str(tmp_path), skip=(home,))
    before = tree(home)

    for _ in range(2):
        done = register(program, "--install", "--user", env=env)
        assert done.returncode == 0, done.stderr
    installed = tree(home)
    script = ".local/share/nautilus/scripts/" + LABEL
    nemo = ".local/share/nemo/actions/pelicard-upload.nemo_action"
    dolphin = ".local/share/kio/servicemenus/pelicard-upload.desktop"
    icon = ".local/share/icons/hicolor/scalable/apps/pelicard-upload.svg"
    added = {path: entry for path, entry in installed.items() if path not in before}
    assert {p for p, e in added.items() if e[0] != "dir"} == {script, nemo, dolphin, icon}
    assert installed[script][:2] == ("file", 0o755)
    assert installed[dolphin][:2] == ("file", 0o755), "Dolphin runs executable service menus only"
    assert installed[nemo][:2] == ("file", 0o644)
    assert installed[icon] == ("link", 0o777, os.path.join(program, "icons/pelicard-upload.svg"))
    assert tree(str(tmp_path), skip=(home,)) == outside_before, "nothing outside HOME is touched"

    upload = os.path.join(program, "pelicard-upload")
    action = read_key_file(os.path.join(home, nemo), "Nemo Action")
    assert action["Name"] == LABEL and action["Comment"] == "上传文件到凯斯卓邮箱网盘"
    assert shlex.split(action["Exec"]) == [upload, "%F"]
    assert action["Icon-Name"] == "pelicard-upload"
    service = read_key_file(os.path.join(home, dolphin), "Desktop Action pelicardUpload")
    assert desktop_exec_split(service["Exec"]) == [upload, "%F"]
    assert read_key_file(os.path.join(home, dolphin), "Desktop Entry")["Actions"] == "pelicardUpload;"

    for _ in range(2):
        done = register(program, "--uninstall", "--user", env=env)
        assert done.returncode == 0, done.stderr
    after = tree(home)
    assert after == {p: e for p, e in installed.items() if p not in (script, nemo, dolphin, icon)}
    assert all(path in after for path in before), "the user's own entries stay"


def test_nautilus_script_hands_the_selection_to_the_launcher(tmp_path, program):
    env, home = user_env(tmp_path)
    assert register(program, "--install", "--user", env=env).returncode == 0
    folder = tmp_path / "folder"
    folder.mkdir()
    argv_file = tmp_path / "argv"
    # Nautilus runs scripts in the folder it shows, with the selected names.
    run_env = dict(env, VESK_TEST_ARGV_FILE=str(argv_file))
    script = os.path.join(home, ".local/share/nautilus/scripts", LABEL)
    done = subprocess.run([script, "a b.txt", "c.txt"], cwd=folder, env=run_env, capture_output=True,
                          text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    # The launcher is started detached: its record (renamed into place, so
    # whole) may come after the script returned.
    deadline = time.monotonic() + 30
    while not argv_file.exists():
        assert time.monotonic() < deadline, "the launcher never recorded its command line"
        time.sleep(0.05)
    argv = argv_file.read_bytes().split(b"\0")[:-1]
    assert argv[0].decode() == os.path.join(program, "pelicard")
    request = base64.b64decode(argv[1].split(b"=", 1)[1]).decode()
    with open(request, "rb") as f:
        assert f.read() == ('{"command":"","data":["%s/a b.txt","%s/c.txt"]}\n\0' % (folder, folder)).encode()


def test_per_machine_into_a_destdir_installed_and_removed_twice(tmp_path, program):
    root = tmp_path / "root"
    root.mkdir()
    before = tree(str(root))
    for _ in range(2):
        done = register(program, "--install", "--destdir=" + str(root))
        assert done.returncode == 0, done.stderr
    installed = tree(str(root))
    extension_dir = EXTENSION_DIR.lstrip("/")
    module = extension_dir + "/pelicard_shell_ext.so"
    record = extension_dir + "/pelicard_shell_ext.ini"
    icon = "usr/share/icons/hicolor/scalable/apps/pelicard-upload.svg"
    assert {p for p, e in installed.items() if e[0] != "dir"} == {module, record, icon}
    assert installed[module] == ("link", 0o777, os.path.join(program, "pelicard_shell_ext.so"))
    assert installed[icon][2] == os.path.join(program, "icons/pelicard-upload.svg")
    assert read_key_file(root / record, "Program")["Directory"] == program

    for _ in range(2):
        done = register(program, "--uninstall", "--destdir=" + str(root))
        assert done.returncode == 0, done.stderr
    after = tree(str(root))
    assert after == {p: e for p, e in installed.items() if p not in (module, record, icon)}
    assert set(before) <= set(after)


def test_staged_tree_records_where_the_program_will_run(tmp_path, program):
    stage = tmp_path / "stage"
    staged_program = stage / "opt" / "pelicard"
    shutil.copytree(program, staged_program, symlinks=True)
    done = register(str(staged_program), "--install", "--destdir=" + str(stage) + "/")
    assert done.returncode == 0, done.stderr
    extension_dir = str(stage) + EXTENSION_DIR
    assert os.readlink(os.path.join(extension_dir, "pelicard_shell_ext.so")) == \
        "/opt/pelicard/pelicard_shell_ext.so"
    record = read_key_file(os.path.join(extension_dir, "pelicard_shell_ext.ini"), "Program")
    assert record["Directory"] == "/opt/pelicard"


def test_usage_errors_and_a_failed_install_that_leaves_nothing(tmp_path, program):
    env, _ = user_env(tmp_path)
    for args in [(), ("--install", "--uninstall"), ("--install", "--user", "--destdir=/x"),
                 ("--install", "--destdir=relative"), ("--install", "--bogus")]:
        assert register(program, *args, env=env).returncode == 2, args

    root = tmp_path / "root"
    (root / "usr").mkdir(parents=True)
    (root / "usr" / "share").write_text("a file where the icon directory should go")
    before = tree(str(root))
    done = register(program, "--install", "--destdir=" + str(root))
    assert done.returncode == 1
    assert "cannot create" in done.stderr
    assert {p for p, e in tree(str(root)).items() if e[0] != "dir"} == \
        {p for p, e in before.items() if e[0] != "dir"}, "what was written is removed again"

    os.remove(os.path.join(program, "pelicard_shell_ext.so"))
    done = register(program, "--install", "--destdir=" + str(tmp_path / "other"))
    assert done.returncode == 1 and "pelicard_shell_ext.so is missing" in done.stderr
