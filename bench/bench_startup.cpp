// Start-up time of a desktop program: from just before the process is started to its top-level
// window, found by title, being mapped and viewable on the X display. Watching the root
// window's map events sees the moment itself, where polling would round it up.
//
//   bench_startup [--keep] [--log FILE] [--timeout-ms N] --title TEXT -- program args...
//
// Prints "startup_ms=.. pid=.. window=..". Without --keep the program is then ended. The
// program's output goes to FILE (default /dev/null), so a kept one holds no pipe of ours.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

std::string windowTitle(Display* display, Window window) {
    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long items = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, netName, 0, 1024, False, utf8, &type, &format, &items,
                           &after, &data) == Success &&
        data != nullptr) {
        title.assign(reinterpret_cast<char*>(data), items);
        XFree(data);
    }
    if (title.empty()) {
        char* name = nullptr;
        if (XFetchName(display, window, &name) != 0 && name != nullptr) {
            title = name;
            XFree(name);
        }
    }
    return title;
}

bool isWanted(Display* display, Window window, const std::string& wanted) {
    XWindowAttributes attributes{};
    return XGetWindowAttributes(display, window, &attributes) != 0 &&
           attributes.map_state == IsViewable &&
           windowTitle(display, window).find(wanted) != std::string::npos;
}

int ignoreErrors(Display*, XErrorEvent*) {
    return 0;  // a window may be gone by the time we ask about it
}

void endChild(pid_t child) {
    ::kill(child, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (::waitpid(child, nullptr, WNOHANG) == child) {
            return;
        }
        ::usleep(10'000);
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

}  // namespace

int main(int argc, char** argv) {
    bool keep = false;
    int timeoutMs = 20'000;
    std::string title;
    const char* logPath = "/dev/null";
    int first = argc;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--keep") == 0) {
            keep = true;
        } else if (std::strcmp(argv[i], "--timeout-ms") == 0 && i + 1 < argc) {
            timeoutMs = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--log") == 0 && i + 1 < argc) {
            logPath = argv[++i];
        } else if (std::strcmp(argv[i], "--title") == 0 && i + 1 < argc) {
            title = argv[++i];
        } else if (std::strcmp(argv[i], "--") == 0) {
            first = i + 1;
            break;
        }
    }
    if (title.empty() || first >= argc) {
        std::fprintf(
            stderr, "usage: %s [--keep] [--log FILE] [--timeout-ms N] --title TEXT -- program...\n",
            argv[0]);
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "cannot open the X display\n");
        return 2;
    }
    XSetErrorHandler(ignoreErrors);
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);

    const auto start = Clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        const int log = ::open(logPath, O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (log >= 0) {
            ::dup2(log, STDOUT_FILENO);
            ::dup2(log, STDERR_FILENO);
        }
        ::execvp(argv[first], argv + first);
        std::perror(argv[first]);
        ::_exit(127);
    }

    const auto deadline = start + std::chrono::milliseconds(timeoutMs);
    Window found = None;
    while (found == None && Clock::now() < deadline) {
        if (XPending(display) == 0) {
            pollfd pfd{ConnectionNumber(display), POLLIN, 0};
            ::poll(&pfd, 1, 50);
            if (::waitpid(child, nullptr, WNOHANG) == child) {
                std::fprintf(stderr, "%s exited before showing its window\n", argv[first]);
                return 1;
            }
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MapNotify) {
            // A title set after mapping still counts, when it comes.
            XSelectInput(display, event.xmap.window, PropertyChangeMask);
            if (isWanted(display, event.xmap.window, title)) {
                found = event.xmap.window;
            }
        } else if (event.type == PropertyNotify &&
                   isWanted(display, event.xproperty.window, title)) {
            found = event.xproperty.window;
        }
    }
    const auto shown = Clock::now();
    if (found == None) {
        std::fprintf(stderr, "no window titled \"%s\" within %d ms\n", title.c_str(), timeoutMs);
        endChild(child);
        return 1;
    }
    std::printf("startup_ms=%.3f pid=%d window=%lu\n",
                std::chrono::duration<double, std::milli>(shown - start).count(), int(child),
                static_cast<unsigned long>(found));
    std::fflush(stdout);
    XCloseDisplay(display);
    if (!keep) {
        endChild(child);
    }
    return 0;
}
