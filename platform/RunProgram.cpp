#include "Platform.h"
#include "forms/Form.h"

#include <QApplication>

namespace platform {

int RunProgram(int argc, char *argv[], const std::function<void()> &start)
{
    // The desktop entry's id: a Wayland dock matches the program's windows to it by their
    // application id, and shows its name and icon.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopId));
    QApplication application(argc, argv);
    start();
    const int status = QApplication::exec();
    DestroyUnloadedForms();
    return status;
}

} // namespace platform
