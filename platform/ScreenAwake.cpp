#include "ScreenAwake.h"

#include "Platform.h"
#include "SeamState.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSet>
#include <QThread>
#include <QVariantMap>

#include <chrono>
#include <functional>
#include <optional>
#include <utility>

// Last: the X headers define names (None, Bool, Status) that the toolkit's headers use.
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

namespace platform {

namespace {

// What the desktop shows, where it lists what keeps the screen awake.
constexpr const char *kReason = "Bilateral stimulation running";
// The portal's flag for "the session is not idle", which holds off dimming, blanking and
// locking.
constexpr unsigned kInhibitIdle = 8;
// A service started on demand by the bus may take a few seconds to answer; the window's
// thread never waits for it.
constexpr int kAnswerTimeoutMs = 10000;
// How long the program's end waits for the desktop to take a release, and for the answer to a
// request still on its way (so as to let go of what it grants).
constexpr std::chrono::milliseconds kEndWait{500};

// The ways to hold the screen, in the order they are tried.
enum class Way { Nothing, Portal, ScreenSaver, XServer };

struct Hold
{
    bool wanted = false;         // the program asks for the hold
    bool asking = false;         // a request is on its way to the desktop
    Way way = Way::Nothing;      // the way the hold stands, if it does
    Way askedWay = Way::Nothing; // the way of the request on its way
    QString portalRequest;
    uint cookie = 0;
    std::optional<QDBusPendingCall> pending; // the last call sent
    QSet<QString> told;                      // refusals told on standard error already
};

// Never destroyed: a call still on its way when the program ends must not be cancelled
// after the bus library has gone.
Hold &State()
{
    static Hold *const hold = new Hold;
    return *hold;
}

// The session bus, where one is to be had. Without an address or a bus at the usual place in
// the runtime folder the bus library would try to start one of its own: no bus is no bus.
bool SessionBusThere()
{
    if (!QCoreApplication::instance())
        return false;
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        if (runtime.isEmpty() || !QFileInfo::exists(runtime + QStringLiteral("/bus")))
            return false;
    }
    return QDBusConnection::sessionBus().isConnected();
}

// Errors that say the service is not there (not on the bus, not started, not offering this
// call, or the bus gone), as against a service that refuses.
bool NotThere(const QString &error)
{
    static const QSet<QString> absent = {
        QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"),
        QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner"),
        QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
        QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface"),
        QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"),
        QStringLiteral("org.freedesktop.DBus.Error.Disconnected"),
    };
    return absent.contains(error) ||
           error.startsWith(QStringLiteral("org.freedesktop.DBus.Error.Spawn."));
}

void TellRefusal(const QDBusMessage &reply)
{
    if (reply.type() != QDBusMessage::ErrorMessage || NotThere(reply.errorName()))
        return;
    const QString text = QStringLiteral("The screen may dim or lock during the stimulation: "
                                        "the desktop did not hold it awake (%1: %2)")
                             .arg(reply.errorName(), reply.errorMessage());
    if (!State().told.contains(text)) {
        State().told.insert(text);
        LogProblem(text.toStdString());
    }
}

// Sends a call and hands its answer, or the error in its place, to `answered` on the
// program's thread.
void Send(const QDBusMessage &call, std::function<void(const QDBusMessage &)> answered)
{
    QObject *context = QCoreApplication::instance();
    const QDBusPendingCall sent = QDBusConnection::sessionBus().asyncCall(call, kAnswerTimeoutMs);
    State().pending = sent;
    auto *watcher = new QDBusPendingCallWatcher(sent, context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [watcher, answered = std::move(answered)] {
                         answered(watcher->reply());
                         watcher->deleteLater();
                     });
}

QDBusMessage InhibitCall(Way way)
{
    if (way == Way::Portal) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.portal.Desktop"),
            QStringLiteral("/org/freedesktop/portal/desktop"),
            QStringLiteral("org.freedesktop.portal.Inhibit"), QStringLiteral("Inhibit"));
        const QVariantMap options{{QStringLiteral("reason"), QString::fromLatin1(kReason)}};
        call << QString() << kInhibitIdle << options;
        return call;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.ScreenSaver"),
        QStringLiteral("/org/freedesktop/ScreenSaver"),
        QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("Inhibit"));
    call << QString::fromLatin1(kProgramName) << QString::fromLatin1(kReason);
    return call;
}

QDBusMessage ReleaseCall(Way way, const Hold &hold)
{
    if (way == Way::Portal)
        return QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.portal.Desktop"), hold.portalRequest,
            QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Close"));
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.ScreenSaver"),
        QStringLiteral("/org/freedesktop/ScreenSaver"),
        QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("UnInhibit"));
    call << hold.cookie;
    return call;
}

// Holds the X server's screen saver off (or lets it run again) through the connection the
// toolkit holds to it; false where the program does not run on X or the server lacks the
// screen saver extension. The server ends the hold when the program's connection closes.
bool SuspendXScreenSaver(bool suspend)
{
    auto *application = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    auto *x11 =
        application ? application->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display *display = x11 ? x11->display() : nullptr;
    int eventBase = 0;
    int errorBase = 0;
    if (!display || !XScreenSaverQueryExtension(display, &eventBase, &errorBase))
        return false;
    XScreenSaverSuspend(display, suspend ? True : False);
    XFlush(display);
    return true;
}

void Ask(Way way);
void LetGo();

// Whether the desktop granted the hold asked for this way; it then stands.
bool Granted(Way way, const QDBusMessage &reply)
{
    Hold &hold = State();
    hold.asking = false;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    hold.way = way;
    if (way == Way::Portal)
        hold.portalRequest = reply.arguments().constFirst().value<QDBusObjectPath>().path();
    else
        hold.cookie = reply.arguments().constFirst().toUInt();
    return true;
}

// The desktop's answer to a request for the hold: the hold stands, or the next way is tried.
void Answered(Way way, const QDBusMessage &reply)
{
    if (!Granted(way, reply)) {
        TellRefusal(reply);
        Ask(way == Way::Portal ? Way::ScreenSaver : Way::XServer);
        return;
    }
    Hold &hold = State();
    // The program stopped asking while the answer was on its way: let go at once.
    if (!hold.wanted)
        LetGo();
}

// Asks for the hold this way, or the ways after it where this one is not to be had.
void Ask(Way way)
{
    Hold &hold = State();
    if (!hold.wanted || way == Way::Nothing)
        return;
    if (way == Way::XServer) {
        if (SuspendXScreenSaver(true))
            hold.way = Way::XServer;
        return;
    }
    if (!SessionBusThere()) {
        Ask(Way::XServer);
        return;
    }
    hold.asking = true;
    hold.askedWay = way;
    Send(InhibitCall(way), [way](const QDBusMessage &reply) { Answered(way, reply); });
}

// Lets go of the hold that stands.
void LetGo()
{
    Hold &hold = State();
    const Way way = std::exchange(hold.way, Way::Nothing);
    if (way == Way::XServer) {
        SuspendXScreenSaver(false);
    } else if (way != Way::Nothing && SessionBusThere()) {
        Send(ReleaseCall(way, hold), TellRefusal);
    }
}

// Whether the last call sent was answered (or failed) within `within`. The bus's own thread
// takes the answer; the window's thread only looks.
bool AnsweredWithin(std::chrono::milliseconds within)
{
    const Hold &hold = State();
    const auto until = std::chrono::steady_clock::now() + within;
    while (hold.pending && !hold.pending->isFinished()) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        QThread::msleep(2);
    }
    return true;
}

} // namespace

void LetGoOfScreenBeforeEnd()
{
    Hold &hold = State();
    hold.wanted = false;
    if (hold.asking) {
        if (!AnsweredWithin(kEndWait))
            return;
        Granted(hold.askedWay, hold.pending->reply());
    }
    if (hold.way == Way::Portal || hold.way == Way::ScreenSaver)
        LetGo();
    AnsweredWithin(kEndWait);
}

void HoldScreenAwake(bool hold)
{
    if (const auto &hook = seams::detail::ScreenAwakeHook()) {
        hook(hold);
        return;
    }
    Hold &state = State();
    if (state.wanted == hold)
        return;
    state.wanted = hold;
    // A request on its way is followed up when its answer comes.
    if (state.asking)
        return;
    if (hold)
        Ask(Way::Portal);
    else
        LetGo();
}

} // namespace platform
