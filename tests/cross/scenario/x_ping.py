#!/usr/bin/env python3
"""Asks an X window whether its program is answering: sends it the window manager's ping
(_NET_WM_PING) and waits for the answer. A program that is busy on the thread of its windows
(a blocking wait, a long statement) answers only when it reads its events again.

usage: x_ping.py WINDOW [TIMEOUT_MS]    exit 0 answered, 1 no answer in time, 2 bad use

Needs only libX11 (through ctypes) and a display without a window manager (the answer goes to
the root window, where only a window manager would listen otherwise).
"""
import ctypes
import sys
import time

CLIENT_MESSAGE = 33
STRUCTURE_NOTIFY = 1 << 17
SUBSTRUCTURE_NOTIFY = 1 << 19


class XClientMessageEvent(ctypes.Structure):
    _fields_ = [('type', ctypes.c_int), ('serial', ctypes.c_ulong), ('send_event', ctypes.c_int),
                ('display', ctypes.c_void_p), ('window', ctypes.c_ulong),
                ('message_type', ctypes.c_ulong), ('format', ctypes.c_int),
                ('l', ctypes.c_long * 5)]


class XEvent(ctypes.Union):
    _fields_ = [('type', ctypes.c_int), ('xclient', XClientMessageEvent),
                ('pad', ctypes.c_long * 24)]


def main():
    if len(sys.argv) not in (2, 3):
        sys.stderr.write(__doc__)
        return 2
    window = int(sys.argv[1], 0)
    timeout = (int(sys.argv[2]) if len(sys.argv) == 3 else 500) / 1000.0
    x = ctypes.cdll.LoadLibrary('libX11.so.6')
    x.XOpenDisplay.restype = ctypes.c_void_p
    x.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x.XInternAtom.restype = ctypes.c_ulong
    x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x.XDefaultRootWindow.restype = ctypes.c_ulong
    x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
    x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                             ctypes.POINTER(XEvent)]
    x.XFlush.argtypes = [ctypes.c_void_p]
    x.XPending.argtypes = [ctypes.c_void_p]
    x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.POINTER(XEvent)]
    x.XCloseDisplay.argtypes = [ctypes.c_void_p]

    display = x.XOpenDisplay(None)
    if not display:
        sys.stderr.write('x_ping.py: cannot open the display\n')
        return 2
    root = x.XDefaultRootWindow(display)
    protocols = x.XInternAtom(display, b'WM_PROTOCOLS', 0)
    ping = x.XInternAtom(display, b'_NET_WM_PING', 0)
    # Programs answer to the root window with one of these two masks (Qt and Wine differ).
    x.XSelectInput(display, root, STRUCTURE_NOTIFY | SUBSTRUCTURE_NOTIFY)

    event = XEvent()
    event.xclient.type = CLIENT_MESSAGE
    event.xclient.window = window
    event.xclient.message_type = protocols
    event.xclient.format = 32
    stamp = int(time.monotonic() * 1000) & 0x7fffffff
    event.xclient.l[0] = ping
    event.xclient.l[1] = stamp
    event.xclient.l[2] = window
    x.XSendEvent(display, window, 0, 0, ctypes.byref(event))
    x.XFlush(display)

    answered = False
    until = time.monotonic() + timeout
    reply = XEvent()
    while not answered and time.monotonic() < until:
        while x.XPending(display) > 0:
            x.XNextEvent(display, ctypes.byref(reply))
            if (reply.type == CLIENT_MESSAGE and reply.xclient.message_type == protocols and
                    reply.xclient.l[0] == ping and reply.xclient.l[1] == stamp):
                answered = True
                break
        time.sleep(0.01)
    x.XCloseDisplay(display)
    return 0 if answered else 1


if __name__ == '__main__':
    sys.exit(main())
