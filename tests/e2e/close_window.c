/* Asks an X window to close the way a window manager's close button does: a WM_DELETE_WINDOW
 * message. Plain Xvfb has no window manager to turn alt+F4 into that, and destroying the
 * window outright (xdotool windowclose) leaves a Qt program running with no window at all. */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s WINDOW_ID\n", argv[0]);
        return 2;
    }
    char* end = NULL;
    const unsigned long window = strtoul(argv[1], &end, 0);
    if (argv[1][0] == '\0' || *end != '\0' || window == 0) {
        fprintf(stderr, "close_window: not a window id: \"%s\"\n", argv[1]);
        return 2;
    }
    Display* display = XOpenDisplay(NULL);
    if (display == NULL) {
        fprintf(stderr, "close_window: cannot open display \"%s\"\n", XDisplayName(NULL));
        return 1;
    }
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);

    /* A window that never asked for the message would ignore it; say so rather than wait. */
    Atom* accepted = NULL;
    int count = 0;
    int takesPart = 0;
    if (XGetWMProtocols(display, window, &accepted, &count)) {
        for (int i = 0; i < count; ++i) {
            takesPart |= accepted[i] == deleteWindow;
        }
        XFree(accepted);
    }
    if (!takesPart) {
        fprintf(stderr, "close_window: window 0x%lx does not accept WM_DELETE_WINDOW\n", window);
        XCloseDisplay(display);
        return 1;
    }

    XEvent event = {0};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = (long)deleteWindow;
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    return 0;
}
