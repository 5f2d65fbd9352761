// A window's behaviour reaching for the toolkit's own string type.
#include <QtCore/QString>

int main() {}
