// A window's behaviour reaching for a toolkit widget directly.
#include <QWidget>

int main() {}
