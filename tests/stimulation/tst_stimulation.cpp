// The stimulation window: layout and track, motion, and the start of a run.
#include "platform/Platform.h"
#include "platform/forms/Toolkit.h"
#include "settings/frmSettings.h"
#include "shared/Notices.h"
#include "shared/Var.h"
#include "stimulation/frmEMDR2.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <memory>

using testsupport::InProgram;
using testsupport::Messages;
using testsupport::StillWindow;

namespace {

// Gives the picture a known size in pixels (15 twips each on the test screen).
void GivePicture(FrmEMDR2 &w, int widthPixels, int heightPixels)
{
    QPixmap pixmap(widthPixels, heightPixels);
    pixmap.fill(Qt::red);
    w.Picture1.SetPicture(platform::PictureOf(pixmap));
}

// Lays out the track of a pattern, at a speed, on a window of the given outer size, the way a
// real size change does; a size the window already has is not a change, so the handling runs
// directly.
void Arrange(FrmEMDR2 &w, float W, float H, int moveType, int speed)
{
    Var::Speed = static_cast<std::int16_t>(speed);
    Var::MoveType = static_cast<std::int16_t>(moveType);
    if (w.Width() == W && w.Height() == H)
        w.Form_Resize();
    else
        w.HandleResized(W, H);
}

// The columns a row gives to ArrangedByRow: the pattern, the window's size and the speed.
void ArrangementColumns()
{
    QTest::addColumn<int>("pattern");
    QTest::addColumn<float>("W");
    QTest::addColumn<float>("H");
    QTest::addColumn<int>("speed");
}

// The still window with the pattern, size and speed of the current row.
FrmEMDR2 &ArrangedByRow()
{
    QFETCH(int, pattern);
    QFETCH(float, W);
    QFETCH(float, H);
    QFETCH(int, speed);
    FrmEMDR2 &w = StillWindow();
    Arrange(w, W, H, pattern, speed);
    return w;
}

// Ticks the motion timer until a turn leaves a tone request; the number of ticks taken, or -1
// when no turn came within the limit.
int TicksToTurn(FrmEMDR2 &w, int limit = 200)
{
    Var::ToneRequest = 0;
    for (int tick = 1; tick <= limit; ++tick) {
        w.Timer1_Timer();
        if (Var::ToneRequest != 0)
            return tick;
    }
    return -1;
}

// Ticks the motion timer until a turn at the start end; the ticks taken, or -1 if none came.
int TicksToStartEndTurn(FrmEMDR2 &w, int limit = 100)
{
    for (int tick = 1; tick <= limit; ++tick) {
        Var::ToneRequest = 0;
        w.Timer1_Timer();
        if (Var::ToneRequest == 1)
            return tick;
    }
    return -1;
}

// Distance of a point from the segment between two points.
double DistanceFromSegment(double x, double y, double x0, double y0, double x1, double y1)
{
    const double dx = x1 - x0, dy = y1 - y0;
    const double length2 = dx * dx + dy * dy;
    double t = length2 > 0 ? ((x - x0) * dx + (y - y0) * dy) / length2 : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(x - (x0 + t * dx), y - (y0 + t * dy));
}

QString WriteBitmap(const QTemporaryDir &dir, const QString &name, int width, int height,
                    const char *format = "BMP")
{
    const QString path = dir.filePath(name);
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::blue);
    if (!image.save(path, format))
        qFatal("cannot write the test picture %s", qPrintable(path));
    return path;
}

bool SamePicture(const platform::Picture &a, const platform::Picture &b)
{
    const QPixmap *pa = platform::PixmapOf(a), *pb = platform::PixmapOf(b);
    return pa && pb && pa->toImage() == pb->toImage();
}

// A row of the layout table: a screen of the test (tests/data/screens.json), the window's outer
// size on it in twips, the top of the control row and the left of each of its controls.
struct LayoutRow
{
    const char *name;
    int screen;
    float W, H;
    float rowTop, pauseLeft, settingsLeft, passcountLeft;
};

// A row of the track table: the pattern, the window's outer size in twips, the picture's side
// in pixels, and the track they give, with the step of a tick.
struct TrackRow
{
    const char *name;
    int pattern;
    float W, H;
    int picture;
    testsupport::Track track;
    int stepX, stepY;
};

} // namespace

Q_DECLARE_METATYPE(LayoutRow)
Q_DECLARE_METATYPE(TrackRow)

class TstStimulation : public testsupport::WindowTest
{
    Q_OBJECT

private Q_SLOTS:
    // ---- Load ------------------------------------------------------------------------

    void loadStartsStillAndCounted()
    {
        frmSettings.Get();
        Var::Paused = 1;
        Var::PassCount = 12;
        Var::Speed = 30;
        FrmEMDR2 &w = StillWindow();
        QCOMPARE(int(Var::Paused), 0);
        QCOMPARE(Var::PassCount, 0);
        // The resize handling of the load: its interval and 15 ticks to the first turn.
        QCOMPARE(w.Timer1.Interval(), 140);
        QCOMPARE(w.Steps, 15);
    }

    // The window opens on the settings window's screen and spreads its controls over that
    // screen's width, the control row two and a half button heights above the bottom (the
    // test's screens: tests/data/screens.json; 15 twips a pixel).
    void loadLaysOutTheWindow_data()
    {
        QTest::addColumn<LayoutRow>("row");
        const LayoutRow rows[] = {
            {"800 x 600", 0, 12000, 9000, 7762.5f, 2545, 5392.5f, 7392.5f},
            {"1920 x 1080", 1, 28800, 16200, 14962.5f, 8145, 13792.5f, 18592.5f},
            {"2560 x 1440", 2, 38400, 21600, 20362.5f, 11345, 18592.5f, 24992.5f},
        };
        for (const LayoutRow &row : rows)
            QTest::newRow(row.name) << row;
    }
    void loadLaysOutTheWindow()
    {
        QFETCH(LayoutRow, row);
        const QList<QScreen *> screens = QGuiApplication::screens();
        QVERIFY2(screens.size() == 3, "the test runs on the three screens of screens.json");
        QWidget *settings = platform::SurfaceOf(frmSettings.Get());
        settings->move(screens[row.screen]->geometry().topLeft() + QPoint(20, 20));
        FrmEMDR2 &w = StillWindow();
        QCOMPARE(w.Pause.Caption(), std::string("Pause"));
        QVERIFY(!w.Settings.Visible());
        QCOMPARE(w.WindowState(), int(platform::vbMaximized));
        QCOMPARE(w.Width(), row.W);
        QCOMPARE(w.Height(), row.H);
        QCOMPARE(w.Top(), 0.0f);
        QCOMPARE(w.Pause.Top(), row.rowTop);
        QCOMPARE(w.Settings.Top(), row.rowTop);
        QCOMPARE(w.Passcount.Top(), row.rowTop);
        QCOMPARE(w.Pause.Left(), row.pauseLeft);
        QCOMPARE(w.Settings.Left(), row.settingsLeft);
        QCOMPARE(w.Passcount.Left(), row.passcountLeft);
        QCOMPARE(w.Passcount.Caption(), std::string(" 0 passes"));
    }

    void loadTonePair_data()
    {
        QTest::addColumn<QString>("toneFile");
        QTest::addColumn<QString>("left");
        QTest::addColumn<QString>("right");
        // P stands for the program's folder.
        QTest::newRow("the settings' default") << ""
                                               << "P/Tones/beep_l.wav"
                                               << "P/Tones/beep_r.wav";
        QTest::newRow("no underscore") << "/sounds/bell.wav"
                                       << "P/Tones/left1.wav"
                                       << "P/Tones/right1.wav";
        QTest::newRow("a pair") << "/sounds/chime_r.wav"
                                << "/sounds/chime_l.wav"
                                << "/sounds/chime_r.wav";
    }
    void loadTonePair()
    {
        QFETCH(QString, toneFile);
        QFETCH(QString, left);
        QFETCH(QString, right);
        // A folder of known words: the rule looks for the first "_" over the whole path.
        testsupport::UseFixedProgramFolder();
        frmSettings.Get();
        if (!toneFile.isEmpty())
            Var::ToneFile = toneFile.toStdString();
        StillWindow();
        QCOMPARE(testsupport::TonePair(), QStringList({InProgram(left), InProgram(right)}));
    }

    // ---- Track -----------------------------------------------------------------------

    void resetTrack_data()
    {
        QTest::addColumn<TrackRow>("row");
        const TrackRow rows[] = {
            // A 1920 x 1080 screen, 28800 x 16200 twips, with the 480-twip placeholder.
            {"1 --", 1, 28800, 16200, 32, {0, 7860, 28310, 7860}, 1887, 0},
            {"2 |", 2, 28800, 16200, 32, {14400, 0, 14390, 15720}, -1, 1048},
            {"3 \\", 3, 28800, 16200, 32, {0, 0, 28310, 15710}, 1887, 1047},
            {"4 /", 4, 28800, 16200, 32, {0, 15710, 28310, 0}, 1887, -1047},
            // A 64-pixel picture.
            {"1 -- big picture", 1, 28800, 16200, 64, {0, 7620, 27830, 7620}, 1855, 0},
            // H - h odd: 965 / 2 = 482.5 gives 482, 967 / 2 = 483.5 gives 484.
            {"1 H-h 965", 1, 15490, 1445, 32, {0, 482, 15000, 482}, 1000, 0},
            {"1 H-h 967", 1, 15490, 1447, 32, {0, 484, 15000, 484}, 1000, 0},
            // 2560 x 1440 pixels: ends beyond 32767 twips.
            {"1 -- 2560", 1, 38400, 21600, 32, {0, 10560, 37910, 10560}, 2527, 0},
            {"2 | 2560", 2, 38400, 21600, 32, {19200, 0, 19190, 21120}, -1, 1408},
            {"3 \\ 2560", 3, 38400, 21600, 32, {0, 0, 37910, 21110}, 2527, 1407},
            {"4 / 2560", 4, 38400, 21600, 32, {0, 21110, 37910, 0}, 2527, -1407},
            // 3840 x 2160 pixels: the far end at 57110 twips.
            {"1 -- 3840", 1, 57600, 32400, 32, {0, 15960, 57110, 15960}, 3807, 0},
            {"2 | 3840", 2, 57600, 32400, 32, {28800, 0, 28790, 31920}, -1, 2128},
            {"3 \\ 3840", 3, 57600, 32400, 32, {0, 0, 57110, 31910}, 3807, 2127},
            {"4 / 3840", 4, 57600, 32400, 32, {0, 31910, 57110, 0}, 3807, -2127},
        };
        for (const TrackRow &row : rows)
            QTest::newRow(row.name) << row;
    }

    void resetTrack()
    {
        QFETCH(TrackRow, row);
        FrmEMDR2 &w = StillWindow();
        if (row.picture != 32)
            GivePicture(w, row.picture, row.picture);
        QCOMPARE(w.Picture1.Width(), float(row.picture * 15));
        Arrange(w, row.W, row.H, row.pattern, Var::Speed);
        QCOMPARE(testsupport::TrackOf(w), row.track);
        QCOMPARE(w.StepX, row.stepX);
        QCOMPARE(w.StepY, row.stepY);
        QCOMPARE(w.Steps, 15);
        QCOMPARE(w.Picture1.Left(), float(w.StartX));
        QCOMPARE(w.Picture1.Top(), float(w.StartY));
    }

    void resetTrackWithTheRealFace()
    {
        FrmEMDR2 &w = StillWindow();
        Arrange(w, 28800, 16200, 1, Var::Speed);
        w.Form_Activate(); // loads the settings' default picture, Pictures/Face.ico
        QCOMPARE(w.Picture1.Width(), 480.0f);
        QCOMPARE(w.Picture1.Height(), 480.0f);
        QCOMPARE(w.EndX, 28310);
        QCOMPARE(w.StartY, 7860);
    }

    void noPatternInAFreshWindow()
    {
        frmSettings.Get();
        Var::MoveType = 0;
        FrmEMDR2 &w = StillWindow();
        QCOMPARE(w.StartX, 0);
        QCOMPARE(w.StartY, 0);
        QCOMPARE(w.EndX, 0);
        QCOMPARE(w.EndY, 0);
        QCOMPARE(w.StepX, 0);
        QCOMPARE(w.StepY, 0);
        QCOMPARE(w.Picture1.Left(), 0.0f);
        QCOMPARE(w.Picture1.Top(), 0.0f);
    }

    void unknownPatternKeepsTheEnds()
    {
        FrmEMDR2 &w = StillWindow();
        Arrange(w, 28800, 16200, 4, Var::Speed);
        w.Picture1.Move(1234, 4321, w.Picture1.Width(), w.Picture1.Height());
        Arrange(w, 15490, 9480, 5, Var::Speed);
        QCOMPARE(w.StartX, 0);
        QCOMPARE(w.StartY, 15710);
        QCOMPARE(w.EndX, 28310);
        QCOMPARE(w.EndY, 0);
        QCOMPARE(w.StepX, 1887);
        QCOMPARE(w.StepY, -1047);
        QCOMPARE(w.Picture1.Left(), 0.0f);
        QCOMPARE(w.Picture1.Top(), 15710.0f);
    }

    // ---- Motion ----------------------------------------------------------------------

    void speedTable_data()
    {
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("steps");
        const int table[][3] = {
            {5, 142, 19}, {15, 128, 18}, {25, 112, 16}, {30, 105, 15}, {35, 98, 14}, {37, 94, 14},
            {44, 84, 13}, {45, 82, 12},  {51, 74, 12},  {55, 68, 11},  {58, 63, 10}, {65, 52, 9},
            {72, 42, 8},  {75, 38, 8},   {79, 32, 7},   {85, 22, 6},   {86, 21, 6}};
        for (const auto &row : table)
            QTest::addRow("speed %d", row[0]) << row[0] << row[1] << row[2];
    }
    void speedTable()
    {
        QFETCH(int, speed);
        FrmEMDR2 &w = StillWindow();
        Var::Speed = static_cast<std::int16_t>(speed);
        w.Timer1_Timer();
        QTEST(w.Timer1.Interval(), "interval");
        QTEST(w.Steps, "steps");
    }

    void legsAndPasses()
    {
        FrmEMDR2 &w = StillWindow();
        Arrange(w, 15490, 10480, 1, 30); // 15 ticks a leg; 0 .. 15000 at Top 5000, steps of 1000
        QCOMPARE(w.StepX, 1000);
        QCOMPARE(w.Passcount.Caption(), std::string(" 0 passes"));

        QCOMPARE(TicksToTurn(w), 15);
        QCOMPARE(int(Var::ToneRequest), 2);
        QCOMPARE(w.Picture1.Left(), 15000.0f);
        QCOMPARE(w.StepX, -1000);
        QCOMPARE(Var::PassCount, 0);
        QCOMPARE(w.Passcount.Caption(), std::string(" 0 passes"));

        QCOMPARE(TicksToTurn(w), 15);
        QCOMPARE(int(Var::ToneRequest), 1);
        QCOMPARE(w.Picture1.Left(), 0.0f);
        QCOMPARE(w.StepX, 1000);
        QCOMPARE(Var::PassCount, 1);
        QCOMPARE(w.Passcount.Caption(), std::string(" 1"));

        QCOMPARE(TicksToTurn(w), 15);
        QCOMPARE(int(Var::ToneRequest), 2);
        QCOMPARE(TicksToTurn(w), 15);
        QCOMPARE(int(Var::ToneRequest), 1);
        QCOMPARE(Var::PassCount, 2);
        QCOMPARE(w.Passcount.Caption(), std::string(" 2"));
        QCOMPARE(w.Picture1.Top(), 5000.0f); // never left its row
    }

    // The pass after 32767, where a 16-bit count would overflow, on every pattern at a slow, a
    // middle and the fastest key speed (where the vertical pattern's turns come from the
    // sideways tests): the count and its caption go on.
    void passAfter32767_data()
    {
        QTest::addColumn<int>("pattern");
        QTest::addColumn<int>("digit");
        for (int pattern = 1; pattern <= 4; ++pattern) {
            for (int digit : {1, 5, 9})
                QTest::addRow("pattern %d, key %d", pattern, digit) << pattern << digit;
        }
    }
    void passAfter32767()
    {
        QFETCH(int, pattern);
        QFETCH(int, digit);
        FrmEMDR2 &w = StillWindow();
        const int patternKeys[] = {45, 124, 92, 47};
        w.Form_KeyPress(patternKeys[pattern - 1]);
        w.Form_KeyPress('0' + digit);
        // One leg and back first, so that the steps are those of the chosen speed.
        QVERIFY(TicksToStartEndTurn(w) > 0);
        Var::PassCount = 32767;
        QVERIFY(TicksToStartEndTurn(w) > 0);
        QCOMPARE(Var::PassCount, 32768);
        QCOMPARE(w.Passcount.Caption(), std::string(" 32768"));
        QVERIFY(TicksToStartEndTurn(w) > 0);
        QCOMPARE(Var::PassCount, 32769);
        QCOMPARE(w.Passcount.Caption(), std::string(" 32769"));
    }

    // Which of the four tests turns the picture at the start end decides where it is left.
    void startEndTurns_data()
    {
        ArrangementColumns();
        QTest::addColumn<int>("outTicks");
        QTest::addColumn<int>("backTicks");
        QTest::addColumn<float>("left"); // after the start-end turn
        QTest::addColumn<float>("top");
        // Pattern 1, track 0 .. 15007 at Top 5000: test 4 always, back exactly on StartX
        // although the last move ends 7 (Steps 15) or 1 (Steps 6) twips short of it.
        QTest::newRow("1, steps 15") << 1 << 15497.f << 10480.f << 30 << 15 << 15 << 0.f << 5000.f;
        QTest::newRow("1, steps 6") << 1 << 15497.f << 10480.f << 85 << 15 << 6 << 0.f << 5000.f;
        // Pattern 2, StartX 7745, EndX 7735, Top 0 .. 9007. At Steps 6 StepX is 2: test 4 turns
        // on StartX and puts the picture on the start end although Top is still 1502.
        QTest::newRow("2, steps 6 (85)")
            << 2 << 15490.f << 9487.f << 85 << 15 << 5 << 7745.f << 0.f;
        QTest::newRow("2, steps 6 (86)")
            << 2 << 15490.f << 9487.f << 86 << 15 << 5 << 7745.f << 0.f;
        // With StepX 1 test 3 turns it and it stays where the move left it.
        QTest::newRow("2, steps 15") << 2 << 15490.f << 9487.f << 30 << 15 << 15 << 7750.f << 7.f;
        QTest::newRow("2, steps 7") << 2 << 15490.f << 9487.f << 79 << 15 << 6 << 7741.f << 1285.f;
    }
    void startEndTurns()
    {
        FrmEMDR2 &w = ArrangedByRow();
        QTEST(TicksToTurn(w), "outTicks");
        QCOMPARE(int(Var::ToneRequest), 2);
        QCOMPARE(w.Picture1.Left(), float(w.EndX));
        QCOMPARE(w.Picture1.Top(), float(w.EndY));
        QTEST(TicksToTurn(w), "backTicks");
        QCOMPARE(int(Var::ToneRequest), 1);
        QTEST(w.Picture1.Left(), "left");
        QTEST(w.Picture1.Top(), "top");
    }

    // At Steps 6 pattern 2 turns at the far end by test 2 as well: on the end point.
    void verticalFarEndAtSteps6()
    {
        FrmEMDR2 &w = StillWindow();
        Arrange(w, 15490, 9487, 2, 85);
        QCOMPARE(TicksToTurn(w), 15);
        QCOMPARE(TicksToTurn(w), 5);
        QCOMPARE(w.StepX, -2);
        QCOMPARE(TicksToTurn(w), 5); // Top at 7505 of 9007 when Left reaches EndX
        QCOMPARE(int(Var::ToneRequest), 2);
        QCOMPARE(w.Picture1.Left(), 7735.0f);
        QCOMPARE(w.Picture1.Top(), 9007.0f);
    }

    void pausedTicksChangeNothing()
    {
        FrmEMDR2 &w = StillWindow();
        Arrange(w, 15490, 10480, 1, 30);
        w.Timer1_Timer();
        w.Timer1_Timer();
        w.Pause_Click(); // "Resume": paused
        Var::Speed = 85;
        Var::ToneRequest = 0;
        const float left = w.Picture1.Left(), top = w.Picture1.Top();
        const int interval = w.Timer1.Interval(), steps = w.Steps, stepX = w.StepX;
        for (int i = 0; i < 40; ++i)
            w.Timer1_Timer();
        QCOMPARE(w.Picture1.Left(), left);
        QCOMPARE(w.Picture1.Top(), top);
        QCOMPARE(w.Timer1.Interval(), interval);
        QCOMPARE(w.Steps, steps);
        QCOMPARE(w.StepX, stepX);
        QCOMPARE(int(Var::ToneRequest), 0);
        QCOMPARE(int(Var::Paused), 1);
    }

    void pauseWithPauseCaptionIsCancelledByTheNextTick()
    {
        FrmEMDR2 &w = StillWindow();
        Arrange(w, 15490, 10480, 1, 30);
        Var::Paused = 1; // as a lost focus leaves it
        QCOMPARE(w.Pause.Caption(), std::string("Pause"));
        w.Timer1_Timer();
        QCOMPARE(int(Var::Paused), 0);
        QCOMPARE(w.Picture1.Left(), 1000.0f);
    }

    // On the diagonals the rounded steps never carry the picture more than a step off its
    // track, over many legs and at every speed.
    void diagonalStaysOnTrack_data()
    {
        ArrangementColumns();
        for (int pattern : {3, 4})
            for (int speed : {5, 37, 51, 79, 85, 86}) {
                QTest::addRow("%d at %d", pattern, speed) << pattern << 28800.f << 16200.f << speed;
                QTest::addRow("%d at %d, 2560", pattern, speed)
                    << pattern << 38400.f << 21600.f << speed;
            }
        QTest::newRow("3 at 86, small window") << 3 << 3007.f << 2003.f << 86;
    }
    void diagonalStaysOnTrack()
    {
        FrmEMDR2 &w = ArrangedByRow();
        int turns = 0;
        for (int tick = 0; tick < 2000 && turns < 40; ++tick) {
            const double step = std::hypot(w.StepX, w.StepY);
            Var::ToneRequest = 0;
            w.Timer1_Timer();
            if (Var::ToneRequest != 0)
                ++turns;
            const double off = DistanceFromSegment(w.Picture1.Left(), w.Picture1.Top(), w.StartX,
                                                   w.StartY, w.EndX, w.EndY);
            if (off > step)
                QFAIL(qPrintable(QString("tick %1: picture at %2, %3 is %4 twips off the track")
                                     .arg(tick)
                                     .arg(double(w.Picture1.Left()))
                                     .arg(double(w.Picture1.Top()))
                                     .arg(off)));
        }
        QCOMPARE(turns, 40);
        QCOMPARE(Var::PassCount, 20);
    }

    // A speed key changes the interval at the next tick and the step only from the next turn.
    void speedKeyWhileRunning()
    {
        FrmEMDR2 &w = StillWindow();
        Arrange(w, 15490, 10480, 1, 30);
        for (int i = 0; i < 3; ++i)
            w.Timer1_Timer();
        QCOMPARE(w.Timer1.Interval(), 105);
        w.Form_KeyPress('9');
        QCOMPARE(int(Var::Speed), 85);
        QCOMPARE(w.Timer1.Interval(), 105);
        w.Timer1_Timer();
        QCOMPARE(w.Timer1.Interval(), 22);
        QCOMPARE(w.Steps, 6);
        QCOMPARE(w.StepX, 1000);
        QCOMPARE(w.Picture1.Left(), 4000.0f);
        QCOMPARE(TicksToTurn(w), 11);
        QCOMPARE(w.StepX, -2500);
        QCOMPARE(TicksToTurn(w), 6);
    }

    // ---- Start of a run --------------------------------------------------------------

    void activationStartsARun_data()
    {
        QTest::addColumn<int>("pattern");
        QTest::addColumn<testsupport::Track>("track");
        // A 64 x 64 picture (960 twips) on a 1920 x 1080 screen.
        QTest::newRow("1") << 1 << testsupport::Track{0, 7620, 27830, 7620};
        QTest::newRow("2") << 2 << testsupport::Track{14400, 0, 14390, 15240};
        QTest::newRow("3") << 3 << testsupport::Track{0, 0, 27830, 15230};
        QTest::newRow("4") << 4 << testsupport::Track{0, 15230, 27830, 0};
    }
    void activationStartsARun()
    {
        QFETCH(int, pattern);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        testsupport::UseFixedProgramFolder(); // the fallback pair, wherever the build stands
        FrmEMDR2 &w = StillWindow();
        Arrange(w, 28800, 16200, pattern, 45);
        for (int i = 0; i < 4; ++i)
            w.Timer1_Timer();
        w.Pause_Click();
        w.Passcount.SetCaption(" 7");
        Var::PassCount = 7;
        Var::ToneRequest = 2;
        Var::ToneFile = "/sounds/bell.wav";
        Var::PictureFile = WriteBitmap(dir, "big.bmp", 64, 64).toStdString();

        w.Form_Activate();
        QCOMPARE(w.Picture1.Width(), 960.0f);
        QCOMPARE(w.Picture1.Height(), 960.0f);
        QTEST(testsupport::TrackOf(w), "track");
        QCOMPARE(w.Picture1.Left(), float(w.StartX));
        QCOMPARE(w.Picture1.Top(), float(w.StartY));
        QCOMPARE(w.Steps, 15);
        QCOMPARE(w.Timer1.Interval(), 110);
        QCOMPARE(int(Var::Paused), 0);
        QCOMPARE(Var::PassCount, 0);
        QCOMPARE(w.Passcount.Caption(), std::string(" 7"));
        QCOMPARE(int(Var::ToneRequest), 2);
        QCOMPARE(w.Pause.Caption(), std::string("Pause"));
        QVERIFY(w.Pause.Visible());
        QVERIFY(!w.Settings.Visible());
        QCOMPARE(Var::ToneFiles[0], platform::InProgramFolder("\\Tones\\beep_l.wav"));
        QCOMPARE(Var::ToneFiles[1], platform::InProgramFolder("\\Tones\\beep_r.wav"));
        QVERIFY(Messages().empty());
    }

    void activationDerivesThePairOfAChosenTone()
    {
        FrmEMDR2 &w = StillWindow();
        Var::ToneFile = "/sounds/chime_l.wav";
        w.Form_Activate();
        QCOMPARE(Var::ToneFiles[0], std::string("/sounds/chime_l.wav"));
        QCOMPARE(Var::ToneFiles[1], std::string("/sounds/chime_r.wav"));
        QCOMPARE(w.TonePrefix, 14);
    }

    // Continue on the settings window shows the stimulation window, which activates it.
    void continueActivatesTheWindow()
    {
        FrmSettings &settings = frmSettings.Get();
        settings.Show();
        settings.cmdContinue_Click();
        QVERIFY(frmEMDR2.IsLoaded());
        FrmEMDR2 &w = *frmEMDR2;
        w.Timer1.SetEnabled(false);
        w.Timer2.SetEnabled(false);
        QVERIFY(w.Visible());
        QVERIFY(!settings.Visible());
        QCOMPARE(w.Picture1.Width(), 480.0f); // Pictures/Face.ico
        QVERIFY(SamePicture(w.Picture1.GetPicture(),
                            platform::LoadPicture(*Var::PictureFile, 0, 0).picture));
        QCOMPARE(w.Picture1.Left(), float(w.StartX));
        QCOMPARE(w.Picture1.Top(), float(w.StartY));
        QCOMPARE(int(Var::Speed), 65); // slider at 6
    }

    void unloadablePicture_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("goodFirst");
        for (const char *kind : {"missing", "text as bmp", "png as ico", "larger than screen"}) {
            QTest::addRow("%s, placeholder", kind) << QString(kind) << false;
            QTest::addRow("%s, after a picture", kind) << QString(kind) << true;
        }
    }
    void unloadablePicture()
    {
        QFETCH(QString, kind);
        QFETCH(bool, goodFirst);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QString bad;
        if (kind == "missing") {
            bad = dir.filePath("gone.bmp");
        } else if (kind == "text as bmp") {
            bad = dir.filePath("notes.bmp");
            QFile file(bad);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("This is not a picture.\n");
        } else if (kind == "png as ico") {
            bad = WriteBitmap(dir, "photo.ico", 32, 32, "PNG");
        } else {
            bad = WriteBitmap(dir, "poster.bmp", 2000, 1200);
        }

        FrmEMDR2 &w = StillWindow();
        if (goodFirst) {
            Var::PictureFile = WriteBitmap(dir, "good.bmp", 40, 20).toStdString();
            w.Form_Activate();
            QCOMPARE(w.Picture1.Width(), 600.0f);
        }
        const platform::Picture before = w.Picture1.GetPicture();
        Var::Speed = 30;
        Var::PictureFile = bad.toStdString();
        w.Pause_Click();
        w.Form_Activate();

        QVERIFY(SamePicture(w.Picture1.GetPicture(), before));
        QCOMPARE(w.Picture1.Width(), goodFirst ? 600.0f : 480.0f);
        QCOMPARE(w.EndX, int(w.Width() - w.Picture1.Width() - 10));
        QCOMPARE(w.Pause.Caption(), std::string("Pause"));
        QCOMPARE(int(Var::Paused), 0);
        w.Timer1_Timer();
        QCOMPARE(w.Picture1.Left(), float(w.StepX));
        QCOMPARE(Messages().size(), size_t(1));
        QVERIFY2(QString::fromStdString(Messages()[0]).contains(bad), Messages()[0].c_str());

        w.Form_Activate(); // the same file again: told already
        QCOMPARE(Messages().size(), size_t(1));
    }

    void eachBadPictureToldOnce()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const std::string first = dir.filePath("first.bmp").toStdString();
        const std::string second = WriteBitmap(dir, "second.bmp", 2000, 1200).toStdString();
        FrmEMDR2 &w = StillWindow();
        Var::PictureFile = first;
        w.Form_Activate();
        Var::PictureFile = second;
        w.Form_Activate();
        QCOMPARE(Messages().size(), size_t(2));
        QVERIFY(Messages()[1].find(second) != std::string::npos);
        // Back to the first bad file, and again after a good picture: told once per file.
        Var::PictureFile = first;
        w.Form_Activate();
        Var::PictureFile = WriteBitmap(dir, "good.bmp", 16, 16).toStdString();
        w.Form_Activate();
        Var::PictureFile = second;
        w.Form_Activate();
        QCOMPARE(Messages().size(), size_t(2));
        QCOMPARE(w.Picture1.Width(), 240.0f);
    }

    // ---- Closing during a turn -------------------------------------------------------

    void closeDuringATurn_data()
    {
        QTest::addColumn<bool>("farEnd");
        QTest::addColumn<bool>("throughTimer");
        QTest::newRow("far end") << true << false;
        QTest::newRow("start end") << false << false;
        QTest::newRow("start end, timer tick") << false << true;
    }
    void closeDuringATurn()
    {
        QFETCH(bool, farEnd);
        QFETCH(bool, throughTimer);
        FrmEMDR2 &w = StillWindow();
        // Steps of 999 twips on a track of 14990: the way back turns 5 twips short of the start
        // and would then put the picture on the start itself.
        Arrange(w, 15480, 10480, 1, 30);
        if (!farEnd)
            QCOMPARE(TicksToTurn(w), 15);
        for (int i = 0; i < 14; ++i)
            w.Timer1_Timer();
        QCOMPARE(int(Var::ToneRequest), farEnd ? 0 : 2);
        // Where the picture stands when the window goes: nothing may move it after that.
        float leftAtClose = -1;
        float topAtClose = -1;
        QObject context;
        QTimer::singleShot(0, &context, [&] {
            leftAtClose = w.Picture1.Left();
            topAtClose = w.Picture1.Top();
            platform::Unload(*frmEMDR2.Peek());
        });
        if (throughTimer)
            w.Timer1.Tick();
        else
            w.Timer1_Timer();
        QVERIFY(leftAtClose >= 0);
        QCOMPARE(w.Picture1.Left(), leftAtClose);
        QCOMPARE(w.Picture1.Top(), topAtClose);
        // A start end turn puts the picture at the start only after the events: this one would
        // have moved it there.
        if (!farEnd)
            QVERIFY(leftAtClose != float(w.StartX));
        QVERIFY(!frmEMDR2.IsLoaded());
        QVERIFY(!frmSettings.IsLoaded());
        QVERIFY(platform::Forms().empty());
        QCOMPARE(int(Var::ToneRequest), farEnd ? 2 : 1);
        QCOMPARE(testsupport::EndRequests(), 0);
    }
};

QTEST_MAIN(TstStimulation)
#include "tst_stimulation.moc"
