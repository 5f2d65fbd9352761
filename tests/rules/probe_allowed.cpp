// What a window's behaviour may include: the platform layer's interface, the shared state
// and the stored window definitions.
#include "shared/Var.h"
#include "forms/frmSettingsForm.h"
#include "platform/sound/AudioDevice.h"
#include "platform/forms/Controls.h"
#include "platform/forms/Form.h"
#include "platform/Platform.h"

int main()
{
    return platform::ProgramFolder().empty() ? 1 : 0;
}
