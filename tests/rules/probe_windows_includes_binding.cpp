// A window's behaviour reaching past the platform layer's interface into its binding.
#include "platform/WindowWidget.h"

int main() {}
