#!/usr/bin/env python3
"""Starts a command and prints the milliseconds until a top-level X window
whose name matches a pattern is viewable, polling every 2 ms (xdotool's
--sync looks only every half second). Then ends the command.

usage: first_window.py PATTERN COMMAND [ARG...]
"""
import ctypes
import ctypes.util
import os
import re
import signal
import subprocess
import sys
import time

POLL_S = 0.002
TIMEOUT_S = 120
IS_VIEWABLE = 2


class WindowAttributes(ctypes.Structure):  # XWindowAttributes
    _fields_ = [(n, ctypes.c_int) for n in ("x", "y", "width", "height", "border_width", "depth")] + [
        ("visual", ctypes.c_void_p), ("root", ctypes.c_ulong), ("class_", ctypes.c_int),
        ("bit_gravity", ctypes.c_int), ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int),
        ("backing_planes", ctypes.c_ulong), ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int),
        ("colormap", ctypes.c_ulong), ("map_installed", ctypes.c_int), ("map_state", ctypes.c_int),
        ("all_event_masks", ctypes.c_long), ("your_event_mask", ctypes.c_long),
        ("do_not_propagate_mask", ctypes.c_long), ("override_redirect", ctypes.c_int),
        ("screen", ctypes.c_void_p)]


x11 = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11"))
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                           ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                           ctypes.POINTER(ctypes.c_uint)]
x11.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_char_p)]
x11.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(WindowAttributes)]
x11.XFree.argtypes = [ctypes.c_void_p]
# A window may go away between the listing and the question about it.
ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)(lambda d, e: 0)
x11.XSetErrorHandler(ERROR_HANDLER)


def shown(display, root, pattern):
    parent, children, count = ctypes.c_ulong(), ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
    if not x11.XQueryTree(display, root, ctypes.byref(ctypes.c_ulong()), ctypes.byref(parent),
                          ctypes.byref(children), ctypes.byref(count)):
        return False
    try:
        for i in range(count.value):
            name = ctypes.c_char_p()
            if not x11.XFetchName(display, children[i], ctypes.byref(name)) or not name.value:
                continue
            title = name.value.decode("latin-1")
            x11.XFree(name)
            attributes = WindowAttributes()
            if (pattern.search(title) and x11.XGetWindowAttributes(display, children[i], ctypes.byref(attributes))
                    and attributes.map_state == IS_VIEWABLE):
                return True
        return False
    finally:
        if children:
            x11.XFree(children)


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    pattern = re.compile(sys.argv[1])
    display = x11.XOpenDisplay(None)
    if not display:
        sys.exit("no X display")
    root = x11.XDefaultRootWindow(display)
    start = time.monotonic()
    child = subprocess.Popen(sys.argv[2:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                             start_new_session=True)
    try:
        while not shown(display, root, pattern):
            if time.monotonic() - start > TIMEOUT_S or child.poll() is not None:
                sys.exit(f"no window '{sys.argv[1]}'")
            time.sleep(POLL_S)
        print(round((time.monotonic() - start) * 1000))
    finally:
        if child.poll() is None:
            os.killpg(child.pid, signal.SIGTERM)
        child.wait()


main()
