// xdnd-drop: drops files on the X window at a point of the screen, as a file
// manager would, by the XDND protocol. Wine turns such a drop into the
// WM_DROPFILES a window gets when a file is dragged onto it from Explorer.
// A native program; the end-to-end script builds it on first use.
//
//   xdnd-drop X Y URI-LIST      e.g. xdnd-drop 400 300 $'file:///tmp/fw.hex\r\n'
//
// Exit code 0 once the target has said it is done with the drop, 1 when it
// refused it or did not answer within ten seconds, 2 on bad use.
#include <X11/Xlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

constexpr long kXdndVersion = 5;

Display* display = nullptr;

Atom AtomOf(const char* name) { return XInternAtom(display, name, False); }

void SendMessage(Window target, Window source, const char* type, long l1, long l2, long l3,
                 long l4) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = target;
  event.xclient.message_type = AtomOf(type);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(source);
  event.xclient.data.l[1] = l1;
  event.xclient.data.l[2] = l2;
  event.xclient.data.l[3] = l3;
  event.xclient.data.l[4] = l4;
  XSendEvent(display, target, False, NoEventMask, &event);
  XFlush(display);
}

bool TakesDrops(Window window) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  const bool aware =
      XGetWindowProperty(display, window, AtomOf("XdndAware"), 0, 1, False, AnyPropertyType, &type,
                         &format, &count, &after, &data) == Success &&
      data != nullptr;
  if (data != nullptr) XFree(data);
  return aware;
}

// The innermost window at (x, y) that takes drops.
Window DropTargetAt(int x, int y) {
  const Window root = DefaultRootWindow(display);
  Window window = root, child = None, target = None;
  int local_x = 0, local_y = 0;
  while (XTranslateCoordinates(display, root, window, x, y, &local_x, &local_y, &child) &&
         child != None) {
    window = child;
    if (TakesDrops(window)) target = window;
  }
  return target;
}

// Hands the URI list to the target that asks for the dragged data.
void AnswerRequest(const XSelectionRequestEvent& request, const char* uris) {
  XChangeProperty(display, request.requestor, request.property, request.target, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(uris),
                  static_cast<int>(std::strlen(uris)));
  XEvent reply{};
  reply.xselection.type = SelectionNotify;
  reply.xselection.requestor = request.requestor;
  reply.xselection.selection = request.selection;
  reply.xselection.target = request.target;
  reply.xselection.property = request.property;
  reply.xselection.time = request.time;
  XSendEvent(display, request.requestor, False, NoEventMask, &reply);
  XFlush(display);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: xdnd-drop X Y URI-LIST\n");
    return 2;
  }
  const int x = std::atoi(argv[1]);
  const int y = std::atoi(argv[2]);
  display = XOpenDisplay(nullptr);
  if (display == nullptr) return 1;
  const Window source =
      XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
  XSetSelectionOwner(display, AtomOf("XdndSelection"), source, CurrentTime);
  const Window target = DropTargetAt(x, y);
  if (target == None) {
    std::fprintf(stderr, "no window takes drops at %d,%d\n", x, y);
    return 1;
  }
  SendMessage(target, source, "XdndEnter", kXdndVersion << 24,
              static_cast<long>(AtomOf("text/uri-list")), None, None);
  SendMessage(target, source, "XdndPosition", 0, (static_cast<long>(x) << 16) | y, CurrentTime,
              static_cast<long>(AtomOf("XdndActionCopy")));
  bool dropped = false;
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < give_up) {
    if (XPending(display) == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      continue;
    }
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == SelectionRequest) {
      AnswerRequest(event.xselectionrequest, argv[3]);
    } else if (event.type == ClientMessage && event.xclient.message_type == AtomOf("XdndStatus") &&
               !dropped) {
      if ((event.xclient.data.l[1] & 1) == 0) {
        std::fprintf(stderr, "the target refused the drop\n");
        return 1;
      }
      SendMessage(target, source, "XdndDrop", 0, CurrentTime, 0, 0);
      dropped = true;
    } else if (event.type == ClientMessage &&
               event.xclient.message_type == AtomOf("XdndFinished")) {
      return 0;
    }
  }
  std::fprintf(stderr, "the target did not finish the drop\n");
  return 1;
}
