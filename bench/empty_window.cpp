// The start-up floor: an empty window of the same toolkit, built with the same flags as the
// program, shown the way the program shows its title window.
#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle("Empty window");
    window.resize(480, 320);
    window.show();
    return QApplication::exec();
}
