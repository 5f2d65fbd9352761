// Every call the toolkit makes into a window's handler passes through RunHandler: a click, a
// key, a tick, a resize or an activation that fails must not end a session in front of a
// client, nor unwind through the toolkit's event loop. The failure is reported once and the
// next event is handled as usual.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace platform {

class Form;

namespace detail {

// Tells of a failed handler of the window, once: a message for the practitioner and a line on
// standard error the first time that handler fails while the window is loaded, nothing when
// it fails again (a tick fails again at every interval). `where` names the handler ("a tick
// of Timer1").
void ReportHandlerFailure(Form &form, const std::string &where, const std::string &why);

// Runs the handler; whatever it throws is reported and goes no further. `event` and `owner`
// name it only when it fails ("a click" of "Command1").
template <class Handler>
void RunHandler(Form &form, const char *event, const std::string &owner, Handler &&handler)
{
    try {
        std::forward<Handler>(handler)();
    } catch (const std::exception &error) {
        ReportHandlerFailure(form, std::string(event) + " of " + owner, error.what());
    } catch (...) {
        ReportHandlerFailure(form, std::string(event) + " of " + owner, "an unknown error");
    }
}

} // namespace detail
} // namespace platform
