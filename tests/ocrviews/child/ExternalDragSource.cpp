// velmora_external_drag WINDOW X Y URI [X Y URI ...]: one drag of a file per
// X Y URI onto WINDOW, as a file manager of another toolkit makes them: from
// one window, whose action list it sets as each drag begins. Exits 0 when
// the target finished every drop.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

Display* display = nullptr;
Window source = 0;

Atom atom(const char* name) { return XInternAtom(display, name, False); }

void send(Window target, const char* type, long l1, long l2, long l3, long l4) {
    XEvent event{};
    event.xclient = {ClientMessage, 0, False, display, target, atom(type), 32, {}};
    event.xclient.data = {.l = {static_cast<long>(source), l1, l2, l3, l4}};
    XSendEvent(display, target, False, NoEventMask, &event);
    XFlush(display);
}

// Hands out the URI until the message comes, ten seconds at most.
bool awaitMessage(const char* type, const std::string& offered) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (XEvent event; std::chrono::steady_clock::now() < end;) {
        while (XPending(display)) {
            XNextEvent(display, &event);
            if (event.type == ClientMessage && event.xclient.message_type == atom(type)) return true;
            if (event.type != SelectionRequest) continue;
            const XSelectionRequestEvent& request = event.xselectionrequest;
            const std::string data = offered + "\r\n";
            XChangeProperty(display, request.requestor, request.property, request.target, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()));
            XEvent reply{};
            reply.xselection = {SelectionNotify,  0, False, display, request.requestor, request.selection,
                                request.target, request.property, request.time};
            XSendEvent(display, request.requestor, False, NoEventMask, &reply);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5 || (argc - 2) % 3 != 0 || !(display = XOpenDisplay(nullptr))) return 2;
    const Window target = std::strtoul(argv[1], nullptr, 0);
    source = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    for (int i = 2; i + 2 < argc; i += 3) {
        int x = 0, y = 0;
        Window child = 0;
        XTranslateCoordinates(display, target, DefaultRootWindow(display), std::atoi(argv[i]), std::atoi(argv[i + 1]), &x,
                              &y, &child);
        const Atom lists[] = {atom("XdndActionCopy"), atom("XdndActionMove"), atom("text/uri-list")};
        XChangeProperty(display, source, atom("XdndActionList"), XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(lists), 2);
        XSetSelectionOwner(display, atom("XdndSelection"), source, CurrentTime);
        // Version 5, its one type in the message; a few steps onto the point.
        send(target, "XdndEnter", 5L << 24, static_cast<long>(lists[2]), 0, 0);
        for (int step = 3; step >= 0; --step) {
            send(target, "XdndPosition", 0, (static_cast<long>(x + step) << 16) | (y + step), CurrentTime, lists[0]);
            if (!awaitMessage("XdndStatus", argv[i + 2])) return 1;
        }
        send(target, "XdndDrop", 0, CurrentTime, 0, 0);
        if (!awaitMessage("XdndFinished", argv[i + 2])) return 1;
    }
    XCloseDisplay(display);
    return 0;
}
