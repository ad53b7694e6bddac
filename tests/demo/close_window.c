/* Closes a window the way a window manager does: finds the window titled
 * TITLE and sends it a WM_PROTOCOLS client message carrying WM_DELETE_WINDOW.
 * Waits up to SECONDS (default 10) for such a window to be shown and to take
 * part in WM_DELETE_WINDOW.
 *
 *   close-window TITLE [SECONDS]
 *
 * Or ends its program by a signal while the window is unmapped: unmaps the
 * window, lets its program settle, sends the window EVENTS property changes
 * (each one wakes the program, which then waits again), waits MICROSECONDS
 * and sends SIGTERM to PID, so that the signal meets the program anywhere
 * between taking an event and waiting for the next.
 *
 *   close-window --signal PID EVENTS MICROSECONDS TITLE [SECONDS]
 *
 * Exit 0 when the message or the signal was sent, 1 when no such window
 * showed up, 2 on bad arguments or no display. */
#define _POSIX_C_SOURCE 200809L

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <signal.h>
#include <sys/types.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

/* Errors from windows that vanish while the tree is read are expected. */
static int ignore_error(Display *display, XErrorEvent *error)
{
    (void)display;
    (void)error;
    return 0;
}

static double now(void)
{
    struct timespec time;
    clock_gettime(CLOCK_MONOTONIC, &time);
    return (double)time.tv_sec + (double)time.tv_nsec / 1e9;
}

static int titled(Display *display, Window window, const char *title)
{
    int match = 0;
    char *name = NULL;
    if (XFetchName(display, window, &name) && name != NULL) {
        match = strcmp(name, title) == 0;
        XFree(name);
    }
    return match;
}

static int shown(Display *display, Window window)
{
    XWindowAttributes attributes;
    return XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable;
}

static int takes_delete(Display *display, Window window, Atom delete_window)
{
    Atom *protocols = NULL;
    int count = 0;
    int found = 0;
    if (XGetWMProtocols(display, window, &protocols, &count)) {
        for (int i = 0; i < count; ++i)
            found |= protocols[i] == delete_window;
        XFree(protocols);
    }
    return found;
}

/* The first window below parent, depth first, with the title. */
static Window find_window(Display *display, Window parent, const char *title)
{
    Window root;
    Window parent_of;
    Window *children = NULL;
    unsigned int count = 0;
    Window found = None;
    if (!XQueryTree(display, parent, &root, &parent_of, &children, &count))
        return None;
    for (unsigned int i = 0; i < count && found == None; ++i) {
        if (titled(display, children[i], title))
            found = children[i];
        else
            found = find_window(display, children[i], title);
    }
    if (children != NULL)
        XFree(children);
    return found;
}

/* Unmaps the window, then wakes its program with property changes and
 * sends it SIGTERM right after them. */
static void unmap_and_signal(Display *display, Window window, pid_t pid, long events, long microseconds)
{
    XUnmapWindow(display, window);
    XSync(display, False);
    struct timespec settle = {0, 100 * 1000 * 1000};
    nanosleep(&settle, NULL);
    Atom nudge = XInternAtom(display, "PIXMORA_TEST_NUDGE", False);
    for (long i = 0; i < events; ++i) {
        XChangeProperty(display, window, nudge, XA_INTEGER, 32, PropModeReplace, (unsigned char *)&i, 1);
        XFlush(display);
    }
    XSync(display, False);
    double until = now() + (double)microseconds / 1e6;
    while (now() < until) {
    }
    kill(pid, SIGTERM);
}

int main(int argc, char **argv)
{
    int signal_mode = argc >= 2 && strcmp(argv[1], "--signal") == 0;
    int first = signal_mode ? 5 : 1;
    if (argc < first + 1 || argc > first + 2) {
        fprintf(stderr, "usage: close-window TITLE [SECONDS]\n"
                        "       close-window --signal PID EVENTS MICROSECONDS TITLE [SECONDS]\n");
        return 2;
    }
    const char *title = argv[first];
    double seconds = argc == first + 2 ? atof(argv[first + 1]) : 10.0;
    Display *display = XOpenDisplay(NULL);
    if (display == NULL) {
        fprintf(stderr, "close-window: cannot open the display\n");
        return 2;
    }
    XSetErrorHandler(ignore_error);
    Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    Atom delete_window = XInternAtom(display, "WM_DELETE_WINDOW", False);

    struct timespec pause = {0, 20 * 1000 * 1000};
    double deadline = now() + seconds;
    Window window = None;
    for (;;) {
        window = find_window(display, DefaultRootWindow(display), title);
        if (window != None && (!shown(display, window) || !takes_delete(display, window, delete_window)))
            window = None;
        if (window != None || now() > deadline)
            break;
        nanosleep(&pause, NULL);
    }
    if (window == None) {
        fprintf(stderr, "close-window: no window titled \"%s\"\n", title);
        XCloseDisplay(display);
        return 1;
    }

    if (signal_mode) {
        unmap_and_signal(display, window, (pid_t)atol(argv[2]), atol(argv[3]), atol(argv[4]));
        XCloseDisplay(display);
        return 0;
    }
    XEvent event;
    memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = (long)delete_window;
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    return 0;
}
