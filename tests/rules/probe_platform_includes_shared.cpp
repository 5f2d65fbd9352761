// The platform layer reaching up for the shared state.
#include "shared/Var.h"

int main() {}
