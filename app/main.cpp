#include "app/Title.h"
#include "platform/Form.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    StartProgram();
    const int status = QApplication::exec();
    platform::DestroyUnloadedForms();
    return status;
}
