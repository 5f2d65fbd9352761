// Timers that sleep while they have nothing to do: no ticks while idle, and a tick at once
// when there is work again, inside a handler's DoEvents or at the next round of the event
// loop.
#include "platform/Platform.h"
#include "platform/TickMoment.h"
#include "platform/forms/Controls.h"
#include "platform/forms/Form.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <memory>
#include <optional>

using testsupport::RunEventLoop;

namespace {

// A window with one timer whose ticks are counted; `work` is what a tick has to do.
class TickerWindow : public platform::Form
{
public:
    explicit TickerWindow(int interval, bool tickUsesWork = true)
        : Form("TickerWindow"), ticker(*this, "Ticker"), mover(*this, "Mover")
    {
        ticker.OnTimer([this, tickUsesWork] {
            ++ticks;
            if (tickUsesWork)
                work = false;
        });
        ticker.SetIdleWhile([this] { return !work; });
        ticker.SetInterval(interval);
        ticker.SetEnabled(true);
    }
    platform::Timer ticker;
    platform::Timer mover;
    bool work = false;
    int ticks = 0;
};

} // namespace

class TstTimer : public testsupport::WindowTest
{
    Q_OBJECT

private Q_SLOTS:
    void noTicksWhileIdle()
    {
        TickerWindow window(1);
        RunEventLoop(60);
        // The first tick finds nothing to do; after it the timer sleeps.
        QCOMPARE(window.ticks, 1);
    }

    void workSetInAHandlerIsTickedInItsDoEvents()
    {
        TickerWindow window(1);
        RunEventLoop(30);
        int before = -1;
        int afterDoEvents = -1;
        window.mover.OnTimer([&] {
            window.mover.SetEnabled(false);
            before = window.ticks;
            window.work = true;
            platform::DoEvents();
            afterDoEvents = window.ticks;
        });
        window.mover.SetInterval(5);
        window.mover.SetEnabled(true);
        QVERIFY(QTest::qWaitFor([&] { return before >= 0; }));
        QCOMPARE(afterDoEvents, before + 1);
        QVERIFY(!window.work);
    }

    void workSetByAnEventIsTickedInTheNextRound()
    {
        TickerWindow window(1000); // far longer than the wait below: only a wake-up ticks
        // Its first tick, however late a loaded machine delivers it.
        for (int waited = 0; window.ticks == 0 && waited < 10'000; waited += 50)
            RunEventLoop(50);
        QCOMPARE(window.ticks, 1);
        QTimer::singleShot(0, this, [&] { window.work = true; });
        RunEventLoop(100);
        QCOMPARE(window.ticks, 2);
        QVERIFY(!window.work);
    }

    // A tick woken by another tick's work belongs to that tick's moment, whatever ran between
    // the two: the handler's own work before its DoEvents, or the loop's other events (a
    // repaint) before the next round. The sound output places a turn's tone by it.
    void aWokenTickHasTheMomentOfTheTickThatWokeIt_data()
    {
        QTest::addColumn<bool>("inDoEvents");
        QTest::newRow("in the handler's DoEvents") << true;
        QTest::newRow("in the next round, after other events") << false;
    }

    void aWokenTickHasTheMomentOfTheTickThatWokeIt()
    {
        QFETCH(bool, inDoEvents);
        TickerWindow window(1000);
        for (int waited = 0; window.ticks == 0 && waited < 10'000; waited += 50)
            RunEventLoop(50);
        using platform::detail::CurrentTickMoment;
        std::optional<platform::detail::Moment> woke;
        std::optional<platform::detail::Moment> woken;
        window.ticker.OnTimer([&] {
            ++window.ticks;
            window.work = false;
            woken = CurrentTickMoment();
        });
        // Longer than a tick that merely follows another is allowed to be apart from it.
        const auto busy = [] {
            const auto until =
                std::chrono::steady_clock::now() + 3 * platform::detail::kChainedWithin;
            while (std::chrono::steady_clock::now() < until) {
            }
        };
        window.mover.OnTimer([&] {
            window.mover.SetEnabled(false);
            woke = CurrentTickMoment();
            busy();
            window.work = true;
            if (inDoEvents)
                platform::DoEvents();
            else
                QTimer::singleShot(0, this, busy);
        });
        window.mover.SetInterval(5);
        window.mover.SetEnabled(true);
        QVERIFY(QTest::qWaitFor([&] { return woken.has_value(); }));
        QVERIFY(woke.has_value());
        QCOMPARE(woken->time_since_epoch().count(), woke->time_since_epoch().count());
        QVERIFY(!CurrentTickMoment());
    }

    // A tick right after another timer's tick is that tick's work only where its timer sleeps
    // until another tick gives it work (the tone tick after the motion tick's turn); a timer
    // whose work is its own (the motion tick after the sound line's) keeps its own moment.
    void aTickRightAfterAnotherHasItsMomentOnlyAsItsWorker_data()
    {
        QTest::addColumn<bool>("worker");
        QTest::newRow("a worker after the tick that gave it work") << true;
        QTest::newRow("a tick of its own work after an unrelated tick") << false;
    }

    void aTickRightAfterAnotherHasItsMomentOnlyAsItsWorker()
    {
        QFETCH(bool, worker);
        TickerWindow window(1000);
        platform::Timer other(window, "Other");
        std::optional<platform::detail::Moment> first;
        std::optional<platform::detail::Moment> second;
        other.OnTimer([&] { first = platform::detail::CurrentTickMoment(); });
        const auto record = [&] { second = platform::detail::CurrentTickMoment(); };
        window.ticker.OnTimer(record);
        window.mover.OnTimer(record);
        other.Tick();
        (worker ? window.ticker : window.mover).Tick();
        QVERIFY(first && second);
        if (worker)
            QCOMPARE(second->time_since_epoch().count(), first->time_since_epoch().count());
        else
            QVERIFY(*second > *first);
    }

    void keepsItsIntervalWhileWorkRemains()
    {
        TickerWindow window(10, false); // the tick leaves its work in place
        RunEventLoop(30);
        const int slept = window.ticks;
        QCOMPARE(slept, 1);
        window.work = true;
        QElapsedTimer clock;
        clock.start();
        RunEventLoop(150);
        const qint64 elapsed = clock.elapsed();
        const int ticks = window.ticks - slept;
        // Ticking on, at its 10 ms and not as fast as the loop can go.
        QVERIFY2(ticks >= 2, qPrintable(QString::number(ticks)));
        QVERIFY2(ticks <= elapsed / 10 + 2,
                 qPrintable(QString("%1 ticks in %2 ms").arg(ticks).arg(elapsed)));
    }

    void aDisabledTimerIsNotWoken()
    {
        TickerWindow window(1);
        RunEventLoop(30);
        window.ticker.SetEnabled(false);
        window.work = true;
        platform::DoEvents();
        RunEventLoop(30);
        QCOMPARE(window.ticks, 1);
        window.ticker.SetEnabled(true);
        RunEventLoop(30);
        QCOMPARE(window.ticks, 2);
    }

    void aTimerGoneWhileAsleepIsForgotten()
    {
        auto gone = std::make_unique<TickerWindow>(1);
        TickerWindow kept(1);
        RunEventLoop(30);
        gone.reset();
        // A timer left among the sleeping ones would be looked at here, after its end; the
        // one that is still there wakes as usual.
        kept.work = true;
        platform::DoEvents();
        QCOMPARE(kept.ticks, 2);
    }
};

QTEST_MAIN(TstTimer)
#include "tst_timer.moc"
