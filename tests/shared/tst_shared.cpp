// The shared variables' rules: the tone pair rule and the number conversions.
#include "platform/Platform.h"
#include "shared/Convert.h"
#include "shared/Var.h"
#include "support/TestSupport.h"

#include <QTest>

using testsupport::InProgram;

class TstShared : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { testsupport::FreshProgram(); }
    void cleanupTestCase() { testsupport::FreshProgram(); }

    void tonePair_data()
    {
        QTest::addColumn<QString>("toneFile");
        QTest::addColumn<bool>("duringLoad");
        QTest::addColumn<QString>("left");
        QTest::addColumn<QString>("right");
        // P stands for the program's folder.
        QTest::newRow("right file of a pair")
            << R"(C:\Sounds\Tones\beep_r.wav)" << false << R"(C:\Sounds\Tones\beep_l.wav)"
            << R"(C:\Sounds\Tones\beep_r.wav)";
        QTest::newRow("left file of a pair")
            << R"(C:\Sounds\Tones\chime_l.wav)" << false << R"(C:\Sounds\Tones\chime_l.wav)"
            << R"(C:\Sounds\Tones\chime_r.wav)";
        QTest::newRow("no underscore")
            << R"(C:\Sounds\Tones\bell.wav)" << false << "P/Tones/beep_l.wav"
            << "P/Tones/beep_r.wav";
        QTest::newRow("no underscore, load")
            << R"(C:\Sounds\Tones\bell.wav)" << true << "P/Tones/left1.wav"
            << "P/Tones/right1.wav";
        QTest::newRow("underscore in folder")
            << R"(C:\My_Sounds\bell_r.wav)" << false << R"(C:\My_l.wav)"
            << R"(C:\My_r.wav)";
        QTest::newRow("other extension")
            << R"(C:\Sounds\tone_x.mp3)" << false << R"(C:\Sounds\tone_l.wav)"
            << R"(C:\Sounds\tone_r.wav)";
        QTest::newRow("empty") << "" << false << "P/Tones/beep_l.wav"
                               << "P/Tones/beep_r.wav";
        QTest::newRow("underscore first") << "_r.wav" << false << "_l.wav"
                                          << "_r.wav";
        QTest::newRow("unix folder with underscore")
            << "/home/a_b/tones/beep_r.wav" << false << "/home/a_l.wav"
            << "/home/a_r.wav";
    }
    void tonePair()
    {
        QFETCH(QString, toneFile);
        QFETCH(bool, duringLoad);
        QFETCH(QString, left);
        QFETCH(QString, right);
        // A folder of known words: the rule looks for the first "_" over the whole path.
        testsupport::UseFixedProgramFolder();
        Var::ToneFile = toneFile.toStdString();
        if (duringLoad)
            DeriveTonePair(kLoadLeft, kLoadRight);
        else
            DeriveTonePair(kBeepLeft, kBeepRight);
        QCOMPARE(testsupport::TonePair(), QStringList({InProgram(left), InProgram(right)}));
    }

    void tonePrefixPosition()
    {
        Var::ToneFile = "ab_c_d";
        QCOMPARE(FindTonePrefix(), 3);
        Var::ToneFile = "abc";
        QCOMPARE(FindTonePrefix(), 0);
    }

    void fixedSuffixesUseTheSystemSeparator()
    {
#ifdef _WIN32
        QCOMPARE(platform::NativeSuffix("\\Tones\\"), std::string("\\Tones\\"));
#else
        QCOMPARE(platform::NativeSuffix("\\Pictures\\Face.ico"), std::string("/Pictures/Face.ico"));
        QVERIFY(platform::InProgramFolder("\\Tones\\").ends_with("/Tones/"));
#endif
    }

    void roundHalfEven_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("expected");
        QTest::newRow("482.5") << 482.5 << 482;
        QTest::newRow("483.5") << 483.5 << 484;
        QTest::newRow("17.5") << 17.5 << 18;
        QTest::newRow("18.5") << 18.5 << 18;
        QTest::newRow("-0.5") << -0.5 << 0;
        QTest::newRow("-1.5") << -1.5 << -2;
        QTest::newRow("-2.5") << -2.5 << -2;
        QTest::newRow("-0.67") << -10.0 / 15.0 << -1;
        QTest::newRow("0.4999") << 0.4999 << 0;
        QTest::newRow("52.5") << 52.5 << 52;
        QTest::newRow("82.5") << 82.5 << 82;
    }
    void roundHalfEven()
    {
        QFETCH(double, value);
        QFETCH(int, expected);
        QCOMPARE(static_cast<int>(CInt(value)), expected);
        QCOMPARE(static_cast<int>(CLng(value)), expected);
    }

    void overflowIsDetected()
    {
        QCOMPARE(static_cast<int>(CInt(32767.4)), 32767);
        QVERIFY_THROWS_EXCEPTION(OverflowError, CInt(32767.5));
        QVERIFY_THROWS_EXCEPTION(OverflowError, CInt(-32769.0));
        QVERIFY_THROWS_EXCEPTION(OverflowError, Add16(32767, 1));
        QVERIFY_THROWS_EXCEPTION(OverflowError, Sub16(-32768, 1));
        QVERIFY_THROWS_EXCEPTION(OverflowError, Mul16(200, 200));
        QVERIFY_THROWS_EXCEPTION(OverflowError, CLng(1e10));
        QVERIFY_THROWS_EXCEPTION(OverflowError, CLng(std::nan("")));
        QCOMPARE(static_cast<int>(CLng(38400.0)), 38400);
        QCOMPARE(static_cast<int>(Add16(-32768, 32767)), -1);
    }
};

QTEST_MAIN(TstShared)
#include "tst_shared.moc"
