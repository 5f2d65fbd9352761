// The toolkit's side of windows and controls: the widget that shows a control, the surface of
// a window, the toolkit's font for a stored font. For the platform layer's own binding and for
// tests that drive the real widgets as the practitioner would. It includes the toolkit's
// headers, so the windows' code, which is built without them, cannot include it.
#pragma once

#include <QFont>
#include <QWidget>

namespace platform {

class Control;
class Form;
struct Font;

QWidget *WidgetOf(const Control &control);
QWidget *SurfaceOf(const Form &form);
QFont ToolkitFont(const Font &font);

} // namespace platform
