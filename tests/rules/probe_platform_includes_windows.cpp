// The platform layer reaching up for a window's behaviour.
#include "stimulation/frmEMDR2.h"

int main() {}
