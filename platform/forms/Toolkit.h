// The toolkit's side of windows and controls: the widget that shows a control, the surface of
// a window, the toolkit's font for a stored font, the pixels of a picture, the toolkit's
// dialog set up as the file dialog sets it up. For the platform layer's own binding and for
// tests that drive the real widgets as the practitioner would. It includes the toolkit's
// headers, so the windows' code, which is built without them, cannot include it.
#pragma once

#include <QFont>
#include <QPixmap>
#include <QWidget>

class QFileDialog;

namespace platform {

class CommonDialog;
class Control;
class Form;
class Picture;
struct Font;

namespace detail {
// What the interface holds of a control and of a picture without naming the toolkit.
struct ControlView
{
    QWidget *widget;
};
struct PictureData
{
    QPixmap pixmap;
};
} // namespace detail

const detail::ControlView &ViewOf(const Control &control);
QWidget *WidgetOf(const Control &control);
QWidget *SurfaceOf(const Form &form);
QFont ToolkitFont(const Font &font);
// None for an empty picture.
const QPixmap *PixmapOf(const Picture &picture);
Picture PictureOf(const QPixmap &pixmap);
// Gives a toolkit dialog everything ShowOpen gives it before it shows it: folder, name box,
// filters and options.
void Configure(const CommonDialog &control, QFileDialog &dialog);

} // namespace platform
