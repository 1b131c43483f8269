"""The page-API reference (docs/page-api.md) and the TypeScript declarations
(sdk/vesk.d.ts) name exactly the members the real program registers on each
page object: a page enumerates them, and neither document may miss one or
list one the program does not have."""

import os
import re

from page_suite import run_suite

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
# Page object -> its interface in the declarations.
INTERFACES = {
    "app": "VeskApp", "browser": "VeskBrowser", "os": "VeskOs", "security": "VeskSecurity",
    "winhelper": "VeskWinhelper", "errorHandler": "VeskErrorHandler", "md5": "VeskMD5",
    "crc": "VeskCRC32", "zlib": "VeskCompress", "trayIcon": "VeskTrayIcon",
    "proxyHelper": "VeskProxyHelper",
}


def declared_members(text, interface):
    """Member names of one interface: the first identifier of each of its
    lines at member depth (overloads count once)."""
    body = re.search(r"^interface %s \{\n(.*?)^\}" % interface, text, re.S | re.M)
    assert body, "no interface " + interface
    names = set()
    for line in body.group(1).splitlines():
        match = re.match(r"  (?:readonly )?([A-Za-z_]\w*)\??[(:]", line)
        if match:
            names.add(match.group(1))
    return names


def documented_members(text):
    """{object: members} from the "### `object.member...`" headings."""
    members = {}
    for name, member in re.findall(r"^### `(\w+)\.(\w+)", text, re.M):
        members.setdefault(name, set()).add(member)
    return members


def test_reference_and_declarations_match_the_registered_members(program):
    result = run_suite(program, "page_api_members")
    registered = {name: set(keys) for name, keys in result.reports["members"].items()}
    assert set(registered) == set(INTERFACES)
    with open(os.path.join(ROOT, "sdk", "vesk.d.ts"), encoding="utf-8") as f:
        declarations = f.read()
    with open(os.path.join(ROOT, "docs", "page-api.md"), encoding="utf-8") as f:
        documented = documented_members(f.read())
    problems = []
    for name, members in sorted(registered.items()):
        declared = declared_members(declarations, INTERFACES[name])
        in_docs = documented.get(name, set())
        for what, listed in (("sdk/vesk.d.ts", declared), ("docs/page-api.md", in_docs)):
            if members - listed:
                problems.append("%s misses %s.%s" % (what, name, sorted(members - listed)))
            if listed - members:
                problems.append("%s lists %s.%s, which the program does not register" %
                                (what, name, sorted(listed - members)))
    assert not problems, "\n".join(problems)
    # Every object on window is declared on Window as well.
    window = declared_members(declarations, "Window")
    assert window == {"app", "browser", "os", "security", "winhelper"}
