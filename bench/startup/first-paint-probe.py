#!/usr/bin/python3
# SPDX-License-Identifier: AGPL-3.0-or-later
"""Spawn to the first page on screen, timed by the X server's own damage reports.

Each viewer is spawned under a private Xvfb; a DAMAGE object on the root window reports every
drawing on the screen as it happens, so the times have the resolution of the event loop (well
under a millisecond) instead of that of a screen grab. For each start it reports the first
drawing and the last one within --window seconds (the picture settled: a viewer that kept
drawing, a blinking caret say, would show late here); viewers are interleaved so that changes
in the machine's load hit all alike.

With --load, a second client grabs the whole screen with GetImage in a loop meanwhile, as a
screen-grabbing timer does, and takes one core and part of the server.

Needs: apt-get install xvfb python3-xlib mupdf
Usage: bench/startup/first-paint-probe.py --viewer build/bin/ormaview --desk DESK [--page 5]
           [--runs 10] [--load] [--also build/bin/ormaview-minimal-window ...]
       (DESK made by `ormaview-sample`; the page ID is one of its document 1: 5 vector, 2 scan;
       --also adds any other command, such as the toolkit's own least window, as a floor)
"""
import argparse
import os
import random
import select
import statistics
import subprocess
import sys
import tempfile
import time

from Xlib import display as xdisplay
from Xlib.ext import damage

GRABBER = """
import sys
from Xlib import display, X
root = display.Display(sys.argv[1]).screen().root
while True:
    root.get_image(0, 0, 1600, 1000, X.ZPixmap, 0xffffffff)
"""


def drawings(dpy, t0, window):
    """Times (ms after t0, the spawn) of every damage report until window seconds after t0."""
    times = []
    while True:
        left = window - (time.monotonic() - t0)
        if left <= 0:
            break
        if not dpy.pending_events():
            select.select([dpy.fileno()], [], [], min(left, 0.05))
            if not dpy.pending_events():
                continue
        event = dpy.next_event()
        if getattr(event, "area", None) is not None:  # a DamageNotify
            times.append((time.monotonic() - t0) * 1000.0)
    return times


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--viewer", required=True, help="the ormaview binary")
    ap.add_argument("--desk", required=True, help="a sample work desk (ormaview-sample)")
    ap.add_argument("--page", default="5")
    ap.add_argument("--runs", type=int, default=10)
    ap.add_argument("--window", type=float, default=2.0, help="seconds watched after each spawn")
    ap.add_argument("--load", action="store_true", help="grab the whole screen in a loop meanwhile")
    ap.add_argument("--also", action="append", default=[], help="another command to time alike")
    args = ap.parse_args()

    disp = ":%d" % random.randint(600, 699)
    server = subprocess.Popen(["Xvfb", disp, "-screen", "0", "1600x1000x24", "-nolisten", "tcp", "-noreset"],
                              stderr=subprocess.DEVNULL)
    grabber = None
    try:
        time.sleep(1.0)
        dpy = xdisplay.Display(disp)
        root = dpy.screen().root
        dpy.damage_query_version()  # the server takes no other request of the extension before it
        root.damage_create(damage.DamageReportRawRectangles)
        dpy.sync()
        if args.load:
            grabber = subprocess.Popen([sys.executable, "-c", GRABBER, disp])
            time.sleep(0.5)
        env = dict(os.environ, DISPLAY=disp)
        env.pop("QT_QPA_PLATFORM", None)
        runtime = tempfile.mkdtemp()
        os.chmod(runtime, 0o700)
        pdf = os.path.join(args.desk, "Doc000001", "Data", "Data%s.pdf" % args.page)
        viewers = [
            ("ormaview, cold page store", [args.viewer, args.desk, "1", args.page], True),
            ("mupdf (x11)", ["mupdf", pdf], False),
        ] + [(os.path.basename(cmd.split()[0]), cmd.split(), False) for cmd in args.also]
        results = {label: ([], []) for label, _, _ in viewers}
        for _ in range(args.runs):
            for label, cmd, ours in viewers:
                extra = {}
                if ours:
                    extra = {"ORMAVIEW_WORKDESK": args.desk, "XDG_RUNTIME_DIR": runtime,
                             "XDG_CACHE_HOME": tempfile.mkdtemp()}
                while dpy.pending_events():
                    dpy.next_event()
                t0 = time.monotonic()
                proc = subprocess.Popen(cmd, env=dict(env, **extra), stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
                times = drawings(dpy, t0, args.window)
                proc.terminate()
                try:
                    proc.wait(5)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
                time.sleep(0.3)
                if times:
                    results[label][0].append(times[0])
                    results[label][1].append(times[-1])
        medians = {}
        for label, (first, last) in results.items():
            if not last:
                print("%-28s nothing drawn" % label)
                continue
            medians[label] = statistics.median(last)
            print("%-28s page %s: first drawing %6.1f ms, settled %6.1f ms (min %.1f, max %.1f, n=%d)"
                  % (label, args.page, statistics.median(first), medians[label], min(last), max(last),
                     len(last)))
        if all(label in medians for label, _, _ in viewers[:2]):
            ours, theirs = (medians[label] for label, _, _ in viewers[:2])
            print("ratio ormaview / mupdf, settled: %.2f%s" % (ours / theirs, " (under load)" if args.load else ""))
    finally:
        if grabber is not None:
            grabber.kill()
        server.terminate()


if __name__ == "__main__":
    main()
