"""The sample start page's title is drawn in real glyphs: every character
comes out as its own picture, none as the missing-glyph box. The same page
with only a Latin font shows that the check sees the boxes."""

import json
import os
import re

from page_suite import run_suite

SAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "packages", "vesk", "res")


def sample_files():
    with open(os.path.join(SAMPLE, "app_init.html"), encoding="utf-8") as f:
        title = re.search(r"<title>(.*?)</title>", f.read()).group(1)
    with open(os.path.join(SAMPLE, "app_init.css"), encoding="utf-8") as f:
        css = f.read()
    return title, {"res/title.js": "var TITLE = %s;\n" % json.dumps(title), "res/app_init.css": css}


def test_title_is_drawn_in_real_glyphs(program):
    title, files = sample_files()
    glyphs = run_suite(program, "title_glyphs", files=files).reports["glyphs"]
    characters = len(set(title))
    assert glyphs["characters"] == characters
    assert glyphs == dict(glyphs, distinct=characters, missing=0, blank=0), glyphs


def test_without_a_cjk_font_the_check_sees_boxes(program):
    # Only the Latin fonts: what a machine without a CJK font shows.
    config = os.path.join(program.root, "fonts.conf")
    with open(config, "w") as f:
        f.write('<?xml version="1.0"?>\n<!DOCTYPE fontconfig SYSTEM "fonts.dtd">\n<fontconfig>\n'
                '<dir>/usr/share/fonts/truetype/dejavu</dir>\n<cachedir>%s</cachedir>\n</fontconfig>\n'
                % os.path.join(program.root, "fontcache"))
    program.env["FONTCONFIG_FILE"] = config
    _, files = sample_files()
    glyphs = run_suite(program, "title_glyphs", files=files).reports["glyphs"]
    assert glyphs["distinct"] < glyphs["characters"] or glyphs["missing"] > 0, glyphs
