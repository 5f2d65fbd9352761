// The platform layer reaching up for the shared state.
#include "app/shared/Var.h"

int main() {}
