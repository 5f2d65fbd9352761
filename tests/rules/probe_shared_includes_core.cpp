// The shared state reaching for the toolkit.
#include <QObject>

int main() {}
