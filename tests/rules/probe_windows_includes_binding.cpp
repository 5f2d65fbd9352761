// A window's behaviour reaching past the platform layer's interface into its binding.
#include "platform/forms/WindowWidget.h"

int main() {}
