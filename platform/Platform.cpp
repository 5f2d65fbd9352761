#include "Platform.h"

#include "ScreenAwake.h"
#include "SeamState.h"

#include "forms/Controls.h"
#include "forms/Twips.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace platform {

namespace {

QScreen *PrimaryScreen()
{
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance())
               ? QGuiApplication::primaryScreen()
               : nullptr;
}
} // namespace

double TwipsPerPixel()
{
    QScreen *screen = PrimaryScreen();
    if (!screen || screen->logicalDotsPerInch() <= 0)
        return 15.0;
    return 1440.0 / screen->logicalDotsPerInch();
}

int PixelsOf(float twips)
{
    return static_cast<int>(std::lround(static_cast<double>(twips) / TwipsPerPixel()));
}

float TwipsOf(int pixels)
{
    return static_cast<float>(pixels * TwipsPerPixel());
}

float ScreenWidthTwips()
{
    QScreen *screen = PrimaryScreen();
    return TwipsOf(screen ? screen->geometry().width() : 1920);
}

float ScreenHeightTwips()
{
    QScreen *screen = PrimaryScreen();
    return TwipsOf(screen ? screen->geometry().height() : 1080);
}

std::string ProgramFolder()
{
    if (const std::string &standIn = seams::detail::ProgramFolder(); !standIn.empty())
        return standIn;
    QString folder = QCoreApplication::applicationDirPath();
    if (folder.isEmpty())
        folder = QDir::currentPath();
    return QDir::toNativeSeparators(folder).toStdString();
}

std::string NativeSuffix(const std::string &suffix)
{
#ifdef _WIN32
    return suffix;
#else
    std::string native = suffix;
    for (char &c : native)
        if (c == '\\')
            c = '/';
    return native;
#endif
}

std::string InProgramFolder(const std::string &suffix)
{
    return ProgramFolder() + NativeSuffix(suffix);
}

void DoEvents()
{
    // A sleeping timer with something to do again ticks first, as a running one could have.
    Timer::WakeIdleTimers(true);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void EndProgramAtOnce()
{
    if (const auto &hook = seams::detail::EndProgramHook()) {
        hook();
        return;
    }
    LetGoOfScreenBeforeEnd();
    std::fflush(nullptr);
    std::_Exit(0);
}

void ShowMessage(const std::string &title, const std::string &text)
{
    LogProblem(text);
    if (const auto &hook = seams::detail::MessageBoxHook()) {
        hook(title, text);
        return;
    }
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return;
    auto *box = new QMessageBox(QMessageBox::Warning, QString::fromStdString(title),
                                QString::fromStdString(text), QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
    box->raise();
}

void PostToProgram(std::function<void()> function)
{
    // Without an application there is no program thread to run it on, and nothing to tell.
    if (QCoreApplication *application = QCoreApplication::instance())
        QMetaObject::invokeMethod(application, std::move(function), Qt::QueuedConnection);
}

void LogProblem(const std::string &text)
{
    std::fprintf(stderr, "tarrowin: %s\n", text.c_str());
    std::fflush(stderr);
}

} // namespace platform
