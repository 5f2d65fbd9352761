// What a window's behaviour may include: the platform layer's interface, the shared state
// and the stored window definitions.
#include "app/shared/Var.h"
#include "forms/frmSettingsForm.h"
#include "platform/AudioDevice.h"
#include "platform/Controls.h"
#include "platform/Form.h"
#include "platform/Platform.h"

int main()
{
    return platform::ProgramFolder().empty() ? 1 : 0;
}
