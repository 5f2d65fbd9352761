// A handler that throws, reached the way the toolkit reaches it (a real click, a real key, a
// resize, an activation, a change of an option or of the slider, a tick of a running timer):
// the program keeps running, the failure is reported once, and the next event of the same
// kind is handled as usual.
#include "platform/Platform.h"
#include "platform/forms/Controls.h"
#include "platform/forms/Form.h"
#include "platform/forms/Toolkit.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTemporaryFile>
#include <QTest>
#include <QWidget>

#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <string>

using testsupport::FreshProgram;
using testsupport::Messages;

namespace {

// One window with a control of each kind that raises a handler. Every handler counts its
// calls and throws on the call `failOn` names.
class BoundaryWindow : public platform::Form
{
public:
    BoundaryWindow()
        : Form("BoundaryWindow"), client_(*this), Command1(client_, "Command1"),
          Option1(client_, "Option1"), Option2(client_, "Option2"), Slider1(client_, "Slider1"),
          Timer1(*this, "Timer1")
    {
        SetClientSize(6000, 4000);
        SetKeyPreview(true);
        Command1.Move(120, 120, 1200, 400);
        Option1.Move(120, 720, 1200, 300);
        Option2.Move(120, 1200, 1200, 300);
        Slider1.Move(120, 1800, 3000, 500);
        Slider1.SetRange(1, 9);
        Slider1.SetValue(5);
        Option1.SetCaption("First");
        Option2.SetCaption("Second");
        Option1.SetValue(true);
        Command1.OnClick([this] { Count("click"); });
        Option1.OnClick([this] { Count("option"); });
        Option2.OnClick([this] { Count("option"); });
        Slider1.OnClick([this] { Count("slider"); });
        Timer1.OnTimer([this] {
            Count("tick");
            Timer1.SetEnabled(false); // one tick a delivery
        });
    }
    void Form_KeyPress(int) override { Count("key"); }
    void Form_KeyUp(int, int) override { Count("key release"); }
    void Form_GotFocus() override { Count("focus"); }
    void Form_LostFocus() override { Count("loss of focus"); }
    void Form_Unload() override { Count("unload"); }
    void Form_Resize() override { Count("resize"); }
    void Form_Activate() override { Count("activation"); }

    std::string failOn;   // the kind whose handler throws
    int failuresLeft = 0; // how many of its calls throw
    int calls = 0;        // calls of that kind's handler

private:
    void Count(const std::string &kind)
    {
        if (kind != failOn)
            return;
        ++calls;
        if (failuresLeft > 0) {
            --failuresLeft;
            throw std::overflow_error("Overflow");
        }
    }
    platform::Container client_;

public:
    platform::CommandButton Command1;
    platform::OptionButton Option1;
    platform::OptionButton Option2;
    platform::Slider Slider1;
    platform::Timer Timer1;
};

platform::FormRef<BoundaryWindow> g_window;

// Delivers one event of the kind through the toolkit.
void Deliver(BoundaryWindow &w, const std::string &kind)
{
    QWidget *window = platform::SurfaceOf(w);
    if (kind == "click") {
        QTest::mouseClick(platform::WidgetOf(w.Command1), Qt::LeftButton);
    } else if (kind == "key" || kind == "key release") {
        QTest::keyClick(platform::WidgetOf(w.Command1), Qt::Key_A);
    } else if (kind == "resize") {
        window->resize(window->width() + 20, window->height() + 10);
    } else if (kind == "loss of focus") {
        QEvent deactivate(QEvent::WindowDeactivate);
        QCoreApplication::sendEvent(window, &deactivate);
    } else if (kind == "activation" || kind == "focus") {
        w.Hide(); // a window hidden and activated again is a new activation
        window->show();
        QEvent activate(QEvent::WindowActivate);
        QCoreApplication::sendEvent(window, &activate);
    } else if (kind == "option") {
        // Each delivery selects the other option.
        auto *target =
            w.Option2.Value() ? platform::WidgetOf(w.Option1) : platform::WidgetOf(w.Option2);
        QTest::mouseClick(target, Qt::LeftButton);
    } else if (kind == "slider") {
        QTest::keyClick(platform::WidgetOf(w.Slider1),
                        w.Slider1.Value() < 9 ? Qt::Key_Right : Qt::Key_Left);
    } else if (kind == "tick") {
        w.Timer1.SetInterval(1);
        w.Timer1.SetEnabled(true);
        const int before = w.calls;
        QVERIFY2(QTest::qWaitFor([&] { return w.calls > before; }, 2000), "no tick came");
    }
}

} // namespace

class TestBoundary : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { FreshProgram(); }
    void cleanup() { FreshProgram(); }

    void failingHandlerIsReportedOnceAndTheProgramGoesOn_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("where");
        // Each kind of event, and how the report names the handler it reached.
        const char *const rows[][2] = {
            {"click", "a click of Command1"},
            {"key", "a key press of BoundaryWindow"},
            {"key release", "a key release of BoundaryWindow"},
            {"focus", "the focus of BoundaryWindow"},
            {"loss of focus", "the loss of focus of BoundaryWindow"},
            {"resize", "a resize of BoundaryWindow"},
            {"activation", "the activation of BoundaryWindow"},
            {"option", "a change of Option2"},
            {"slider", "a change of Slider1"},
            {"tick", "a tick of Timer1"},
        };
        for (const auto &row : rows)
            QTest::newRow(row[0]) << QString(row[0]) << QString(row[1]);
    }
    void failingHandlerIsReportedOnceAndTheProgramGoesOn()
    {
        QFETCH(QString, kind);
        QFETCH(QString, where);
        BoundaryWindow &w = g_window.Get();
        w.Show();
        w.failOn = kind.toStdString();
        w.failuresLeft = 1;

        Deliver(w, w.failOn);
        QCOMPARE(w.calls, 1);
        QVERIFY(w.IsLoaded());
        QCOMPARE(Messages().size(), std::size_t{1});
        QCOMPARE(QString::fromStdString(Messages().front()), where + " failed: Overflow");

        // The next event of the same kind reaches its handler, and nothing more is reported.
        Deliver(w, w.failOn);
        QCOMPARE(w.calls, 2);
        QCOMPARE(Messages().size(), std::size_t{1});
        QCOMPARE(testsupport::EndRequests(), 0);
    }

    // A window whose unload handling fails still goes when its close button is pressed.
    void failingUnloadStillUnloadsTheWindow()
    {
        BoundaryWindow &w = g_window.Get();
        w.Show();
        w.failOn = "unload";
        w.failuresLeft = 1;
        QVERIFY(platform::SurfaceOf(w)->close());
        QCOMPARE(w.calls, 1);
        QVERIFY(!w.IsLoaded());
        QVERIFY(platform::Forms().empty());
        QCOMPARE(Messages().size(), std::size_t{1});
        QCOMPARE(Messages().front(), std::string("the unload of BoundaryWindow failed: Overflow"));
    }

    // A tick that fails at every interval tells the practitioner once, not at every tick, and
    // writes one line on standard error, not one an interval.
    void handlerFailingAgainIsToldToThePractitionerOnce()
    {
        BoundaryWindow &w = g_window.Get();
        w.failOn = "tick";
        w.failuresLeft = 3;
        QTemporaryFile captured;
        QVERIFY(captured.open());
        std::fflush(stderr);
        const int saved = dup(STDERR_FILENO);
        dup2(captured.handle(), STDERR_FILENO);
        for (int i = 0; i < 3; ++i)
            w.Timer1.Tick();
        std::fflush(stderr);
        dup2(saved, STDERR_FILENO);
        close(saved);
        QCOMPARE(w.calls, 3);
        QCOMPARE(Messages().size(), std::size_t{1});
        captured.seek(0);
        const QList<QByteArray> lines = captured.readAll().split('\n');
        QCOMPARE(lines.count("tarrowin: a tick of Timer1 failed: Overflow"), 1);
        QCOMPARE(lines.size(), 2); // the line and the empty rest after its end
    }

    // Whatever is thrown, not only the standard library's errors, stays inside the boundary.
    void anythingThrownIsCaught()
    {
        BoundaryWindow &w = g_window.Get();
        w.Show();
        int clicks = 0;
        w.Command1.OnClick([&clicks] {
            if (++clicks == 1)
                throw 42;
        });
        QTest::mouseClick(platform::WidgetOf(w.Command1), Qt::LeftButton);
        QTest::mouseClick(platform::WidgetOf(w.Command1), Qt::LeftButton);
        QCOMPARE(clicks, 2);
        QCOMPARE(Messages().size(), std::size_t{1});
        QVERIFY(Messages().front().find("a click of Command1 failed") == 0);
    }
};

QTEST_MAIN(TestBoundary)
#include "tst_boundary.moc"
