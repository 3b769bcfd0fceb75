#!/usr/bin/env python3
"""Works tolvane through the page that scripts/browser-session.sh serves, in headless Chromium
driven over WebDriver (chromedriver, plain HTTP and JSON), as a person at a browser would:
opens the URL, waits for the picture, checks that the page shows the dialog as the virtual
display has it, then chooses "Ethernet", types the printer's address and presses "Test Connect"
with the pointer and the keyboard on the page.

Usage: drive-browser.py URL DISPLAY RECTS PRINTER_ADDRESS SCREENSHOT.png
  RECTS: lines "ID LEFT TOP RIGHT BOTTOM" (screen pixels) for 0 (the dialog), 1000 (the port
  list), 1042 (the printer address) and 1004 (Test Connect).
Only 127.0.0.1 is contacted: chromedriver, and through the browser the page."""
import base64
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import tol  # noqa: E402
from webdriver import END, ENTER, HOME, WebDriver, keys, pointer_click  # noqa: E402

BLOCK = 16  # the dialog is compared in blocks of BLOCK x BLOCK pixels (the picture comes as JPEG)


CANVAS = "return document.querySelector('#noVNC_container canvas')"


def canvas_place(driver):
    """Where the framebuffer is on the page: left, top, and page pixels per screen pixel."""
    c = driver.script(CANVAS + " ? (function (c) { var r = c.getBoundingClientRect();"
                      " return [r.left, r.top, r.width, c.width, c.height]; })(" + CANVAS[7:] + ") : null;")
    if not c or c[3] == 0:
        return None
    return c[0], c[1], c[2] / c[3], c[3], c[4]


def block_means(pixels, width, height, stride, channels):
    means = []
    for by in range(0, height - BLOCK + 1, BLOCK):
        for bx in range(0, width - BLOCK + 1, BLOCK):
            total = [0, 0, 0]
            for y in range(by, by + BLOCK):
                row = (y * stride + bx) * channels
                for x in range(BLOCK):
                    p = row + x * channels
                    total[0] += pixels[p]
                    total[1] += pixels[p + 1]
                    total[2] += pixels[p + 2]
            means.append(tuple(t / (BLOCK * BLOCK) for t in total))
    return means


def main():
    url, display, rects_file, printer, screenshot = sys.argv[1:6]
    rects = {}
    for line in open(rects_file):
        number, *box = map(int, line.split())
        rects[number] = box
    with tol.work_folder("tol-chromium") as profile:
        drive(WebDriver(profile), url, display, rects, printer, screenshot)
    return tol.finish(f"{len(tol.failures)} failures")


def drive(driver, url, display, rects, printer, screenshot):
    try:
        driver.run("POST", "/url", {"url": url})
        place = None
        for _ in range(150):
            place = canvas_place(driver)
            state = driver.script("return document.documentElement.className")
            if place and "noVNC_connected" in state:
                break
            time.sleep(0.2)
        else:
            raise SystemExit(f"FAIL the page did not connect: {state}")
        time.sleep(2)  # the first full picture
        with open(screenshot, "wb") as out:
            out.write(base64.b64decode(driver.run("GET", "/screenshot")))
        left, top, scale, fb_width, fb_height = place

        # The dialog as the page shows it against the virtual display itself.
        x0, y0, x1, y1 = rects[0]
        w, h = (x1 - x0) // BLOCK * BLOCK, (y1 - y0) // BLOCK * BLOCK
        page_pixels = driver.script(
            "var c = document.querySelector('#noVNC_container canvas');"
            "var d = c.getContext('2d').getImageData(arguments[0], arguments[1], arguments[2], arguments[3]).data;"
            "var s = ''; for (var i = 0; i < d.length; i += 8192)"
            " s += String.fromCharCode.apply(null, d.subarray(i, i + 8192)); return btoa(s);", x0, y0, w, h)
        page = block_means(base64.b64decode(page_pixels), w, h, w, 4)
        raw = subprocess.run(["import", "-display", display, "-window", "root", "-depth", "8", "rgb:-"],
                             capture_output=True, check=True).stdout
        if len(raw) != fb_width * fb_height * 3:
            raise SystemExit(f"FAIL the display is {len(raw)} bytes, the page's picture {fb_width}x{fb_height}")
        screen = block_means(raw[(y0 * fb_width + x0) * 3:], w, h, fb_width, 3)
        close = sum(1 for a, b in zip(page, screen) if max(abs(p - q) for p, q in zip(a, b)) < 24)
        shades = len(set(tuple(int(v) // 8 for v in m) for m in screen))
        print(f"the page shows the dialog's {len(screen)} blocks: {close} as the display has them; "
              f"{shades} shades in the dialog; screenshot {screenshot}")
        if close < 0.95 * len(screen):
            tol.fail("the page does not show the dialog as the display has it")
        if shades < 4:
            tol.fail("the display shows no dialog there (one colour)")

        def at(box, fx=0.5, fy=0.5):
            """A point of a control's box, as page coordinates."""
            return (left + (box[0] + (box[2] - box[0]) * fx) * scale,
                    top + (box[1] + (box[3] - box[1]) * fy) * scale)

        # Port "Ethernet": open the list with the pointer, pick it with the keyboard.
        driver.actions(pointer_click(*at(rects[1000])))
        time.sleep(0.5)
        driver.actions(keys("E" + ENTER))
        time.sleep(0.5)
        # The printer's address, field by field (under Wine the address control does not take
        # "." to the next field): click into it, select what it holds, type the number.
        for field, number in enumerate(printer.split(".")):
            driver.actions(pointer_click(*at(rects[1042], 0.12 + 0.25 * field)))
            time.sleep(0.2)
            driver.actions(keys(END + HOME + number, shifted=HOME))
            time.sleep(0.2)
        driver.actions(pointer_click(*at(rects[1004])))
        time.sleep(1)
        with open(screenshot.replace(".png", "-pressed.png"), "wb") as out:
            out.write(base64.b64decode(driver.run("GET", "/screenshot")))
    finally:
        driver.close()


if __name__ == "__main__":
    sys.exit(main())
