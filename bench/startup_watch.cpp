// Measures start-up from outside the program: the time from just before the program is
// started to the moment the X server reports its first window exposed (shown on the screen,
// ready to be drawn). The program is not changed or told anything.
//
//   bench_startup_watch HOLD_MS PROGRAM [ARGUMENTS...]
//
// Watches the creation of top-level windows, follows each one's exposure, and takes the
// first exposed window whose _NET_WM_PID is the started program (the window manager's frames
// are not). After HOLD_MS more, reads the program's peak resident memory and ends it.
// Prints one line: startup_ns <ns> vmhwm_kb <kB>. Exit status: 0 done, 1 bad arguments or
// no X server, 2 no window exposed within 20 s.
#include <xcb/xcb.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

std::int64_t NowNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

xcb_atom_t Atom(xcb_connection_t *x, const char *name)
{
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        x, xcb_intern_atom(x, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

long WindowPid(xcb_connection_t *x, xcb_window_t window, xcb_atom_t pidAtom)
{
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        x, xcb_get_property(x, 0, window, pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr);
    long pid = -1;
    if (reply && xcb_get_property_value_length(reply) == 4)
        pid = static_cast<long>(*static_cast<std::uint32_t *>(xcb_get_property_value(reply)));
    std::free(reply);
    return pid;
}

long PeakResidentKb(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

void End(pid_t pid)
{
    kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        usleep(50'000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_startup_watch HOLD_MS PROGRAM [ARGUMENTS...]\n");
        return 1;
    }
    const long holdMs = std::strtol(argv[1], nullptr, 10);
    xcb_connection_t *x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x)) {
        std::fprintf(stderr, "bench_startup_watch: no X server\n");
        return 1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    const xcb_atom_t pidAtom = Atom(x, "_NET_WM_PID");
    const std::uint32_t rootMask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, root, XCB_CW_EVENT_MASK, &rootMask);
    // A round trip, so that the selection is in force before the program starts.
    std::free(xcb_get_input_focus_reply(x, xcb_get_input_focus(x), nullptr));

    const std::int64_t started = NowNs();
    const pid_t child = fork();
    if (child == 0) {
        execv(argv[2], argv + 2);
        std::perror(argv[2]);
        _exit(127);
    }

    std::int64_t exposed = 0;
    const std::int64_t giveUp = started + 20'000'000'000LL;
    pollfd fd{xcb_get_file_descriptor(x), POLLIN, 0};
    while (exposed == 0 && NowNs() < giveUp) {
        xcb_generic_event_t *event = xcb_poll_for_event(x);
        if (!event) {
            if (xcb_connection_has_error(x))
                break;
            poll(&fd, 1, 100);
            continue;
        }
        const std::int64_t at = NowNs();
        const auto type = static_cast<std::uint8_t>(event->response_type & ~0x80);
        if (type == XCB_CREATE_NOTIFY) {
            const auto *created = reinterpret_cast<xcb_create_notify_event_t *>(event);
            const std::uint32_t mask = XCB_EVENT_MASK_EXPOSURE;
            xcb_change_window_attributes(x, created->window, XCB_CW_EVENT_MASK, &mask);
            xcb_flush(x);
        } else if (type == XCB_EXPOSE) {
            const auto *expose = reinterpret_cast<xcb_expose_event_t *>(event);
            if (WindowPid(x, expose->window, pidAtom) == child)
                exposed = at;
        }
        std::free(event);
    }
    if (exposed == 0) {
        std::fprintf(stderr, "bench_startup_watch: no window of %s exposed\n", argv[2]);
        End(child);
        return 2;
    }
    usleep(static_cast<useconds_t>(holdMs * 1000));
    const long peakKb = PeakResidentKb(child);
    End(child);
    std::printf("startup_ns %lld vmhwm_kb %ld\n", static_cast<long long>(exposed - started),
                peakKb);
    xcb_disconnect(x);
    return 0;
}
