#include "Form.h"
#include "Platform.h"

#include <QApplication>

namespace platform {

int RunProgram(int argc, char *argv[], const std::function<void()> &start)
{
    QApplication application(argc, argv);
    start();
    const int status = QApplication::exec();
    DestroyUnloadedForms();
    return status;
}

} // namespace platform
