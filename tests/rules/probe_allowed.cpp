// What a window's behaviour may include: the platform layer's interface, the shared state
// and the stored window definitions.
#include "forms/frmSettingsForm.h"
#include "platform/Platform.h"
#include "platform/forms/Controls.h"
#include "platform/forms/Form.h"
#include "platform/sound/AudioDevice.h"
#include "shared/Var.h"

int main()
{
    return platform::ProgramFolder().empty() ? 1 : 0;
}
