"""scripts/demo.sh on a first run (no caches, fresh home): the screenshot
shows the painted start page, its title in ink."""

import os
import subprocess

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def magick_number(picture, *operations):
    out = subprocess.run(["convert", picture, *operations, "info:"], check=True, capture_output=True, text=True)
    return float(out.stdout)


def test_demo_screenshot_shows_the_page_on_a_first_run(program):
    shot = os.path.join(program.root, "demo.png")
    env = dict(program.env, VESK_DEMO_PROGRAM=program.exe, VESK_DEMO_HEADLESS="1", VESK_SCREENSHOT=shot)
    env.pop("DBUS_SESSION_BUS_ADDRESS", None)
    done = subprocess.run(["sh", os.path.join(ROOT, "scripts", "demo.sh")], env=env, capture_output=True,
                          text=True, timeout=240)
    assert done.returncode == 0, done.stdout + done.stderr
    assert "Screenshot of the main window saved to " + shot in done.stdout
    width = magick_number(shot, "-format", "%w")
    height = magick_number(shot, "-format", "%h")
    assert width > 300 and height > 200
    assert magick_number(shot, "-colorspace", "Gray", "-format", "%[fx:standard_deviation]") > 0.05
    # The title sits in the middle of the page, white on blue: the band
    # across the middle of the window holds a good deal of white.
    band = "%dx%d+%d+%d" % (width * 0.4, height * 0.11, width * 0.3, height * 0.33)
    white = magick_number(shot, "-crop", band, "+repage", "-colorspace", "Gray", "-threshold", "90%",
                          "-format", "%[fx:mean*w*h]")
    assert white > 300, white
