/* Asks a window to close the way a window manager's close box does: a
 * WM_DELETE_WINDOW message of the WM_PROTOCOLS kind. The test display has no
 * window manager, and xdotool can only destroy a window or kill its client.
 * Usage: close_window WINDOW_ID (decimal or 0x hex). Built by lib.sh. */
#include <X11/Xlib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s WINDOW_ID\n", argv[0]);
    return 2;
  }
  Window window = (Window)strtoul(argv[1], NULL, 0);
  Display* display = XOpenDisplay(NULL);
  if (display == NULL) {
    fprintf(stderr, "close_window: cannot open the display\n");
    return 1;
  }
  XEvent event;
  memset(&event, 0, sizeof event);
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
  event.xclient.data.l[1] = CurrentTime;
  Status sent = XSendEvent(display, window, False, NoEventMask, &event);
  XSync(display, False);
  XCloseDisplay(display);
  return sent ? 0 : 1;
}
