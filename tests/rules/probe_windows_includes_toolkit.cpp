// A window's behaviour reaching for the widgets behind its controls, which only the binding
// and the tests may do.
#include "platform/forms/Toolkit.h"

int main() {}
