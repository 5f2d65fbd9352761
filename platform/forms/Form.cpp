#include "Form.h"

#include "Controls.h"
#include "Handler.h"
#include "Picture.h"
#include "Platform.h"
#include "Toolkit.h"
#include "Twips.h"
#include "WindowWidget.h"

#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QPixmap>
#include <QScreen>

#include <algorithm>

namespace platform {

namespace {

std::vector<std::unique_ptr<Form>> &AllForms()
{
    static std::vector<std::unique_ptr<Form>> forms;
    return forms;
}

std::vector<Form *> &LoadedForms()
{
    static std::vector<Form *> loaded;
    return loaded;
}

// The window of ours that was last activated: activation of the same window again (for
// example when the program regains the focus from another program) is not a new activation.
Form *g_lastActive = nullptr;

// Key codes of the key-release event for the keys that have one.
int KeyCodeOf(const QKeyEvent &event)
{
    const int key = event.key();
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return vbKeyF1 + (key - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Escape:
        return 27;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Space:
        return 32;
    case Qt::Key_Tab:
        return 9;
    case Qt::Key_Backspace:
        return 8;
    default:
        break;
    }
    if ((key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z))
        return key;
    return 0;
}

int ShiftOf(const QKeyEvent &event)
{
    const auto mods = event.modifiers();
    return (mods.testFlag(Qt::ShiftModifier) ? vbShiftMask : 0) |
           (mods.testFlag(Qt::ControlModifier) ? vbCtrlMask : 0) |
           (mods.testFlag(Qt::AltModifier) ? vbAltMask : 0);
}

// Key preview: a window that asks for it sees every key before the control that has the
// focus, and passes it on unchanged.
class KeyPreviewFilter : public QObject
{
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const auto type = event->type();
        if (type != QEvent::KeyPress && type != QEvent::KeyRelease)
            return false;
        if (!watched->isWidgetType())
            return false;
        auto *widget = static_cast<QWidget *>(watched);
        auto *window = dynamic_cast<WindowWidget *>(widget->window());
        if (!window)
            return false;
        // A key not taken by the focused control travels on to its parents; the window
        // sees it once, on its first delivery.
        QWidget *focus = QApplication::focusWidget();
        const bool first = focus ? widget == focus : widget == window;
        if (!first)
            return false;
        // A key that hid its window (Enter runs Continue, which hides the settings window)
        // travels on to that window once the focus has gone with it: it is not a new key.
        if (!window->isVisible())
            return false;
        Form &form = window->OwningForm();
        if (!form.KeyPreview() || !form.IsLoaded())
            return false;
        Preview(form, type, *static_cast<QKeyEvent *>(event));
        return false;
    }

private:
    static void Preview(Form &form, QEvent::Type type, const QKeyEvent &key)
    {
        if (type == QEvent::KeyPress) {
            const QString text = key.text();
            if (!text.isEmpty())
                detail::RunHandler(form, "a key press", form.Name(),
                                   [&] { form.Form_KeyPress(text.at(0).unicode()); });
        } else if (!key.isAutoRepeat()) {
            const int code = KeyCodeOf(key);
            if (code != 0)
                detail::RunHandler(form, "a key release", form.Name(),
                                   [&] { form.Form_KeyUp(code, ShiftOf(key)); });
        }
    }
};

// Brings a window to the front; the headless platform of the tests has no stacking to change.
void RaiseAndActivate(QWidget *window)
{
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        window->raise();
    window->activateWindow();
}

void EnsureApplicationRules()
{
    static bool done = false;
    if (done || !qApp)
        return;
    done = true;
    // The program ends by its own rule, when its last loaded window is unloaded, not when
    // its last visible window closes (the settings window is hidden, not closed).
    QApplication::setQuitOnLastWindowClosed(false);
    // Owned by the application, so that it goes with it.
    auto *filter = new KeyPreviewFilter;
    filter->setParent(qApp);
    qApp->installEventFilter(filter);
}

} // namespace

// ---------------------------------------------------------------------------------------

WindowWidget::WindowWidget(Form &form) : QWidget(nullptr), form_(form) {}

void WindowWidget::ReportGeometry()
{
    const QRect frame = frameGeometry();
    form_.HandleResized(TwipsOf(frame.width()), TwipsOf(frame.height()));
}

bool WindowWidget::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::WindowActivate: {
        const bool result = QWidget::event(event);
        detail::RunHandler(form_, "the activation", form_.Name(),
                           [this] { form_.HandleActivated(); });
        QWidget *focus = focusWidget();
        if (!focus || focus == this)
            detail::RunHandler(form_, "the focus", form_.Name(), [this] { form_.Form_GotFocus(); });
        return result;
    }
    case QEvent::WindowDeactivate: {
        QWidget *focus = focusWidget();
        if (form_.IsLoaded() && (!focus || focus == this || !focus->isVisible()))
            detail::RunHandler(form_, "the loss of focus", form_.Name(),
                               [this] { form_.Form_LostFocus(); });
        break;
    }
    default:
        break;
    }
    return QWidget::event(event);
}

void WindowWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (isVisible())
        detail::RunHandler(form_, "a resize", form_.Name(), [this] { ReportGeometry(); });
}

void WindowWidget::closeEvent(QCloseEvent *event)
{
    event->accept();
    detail::RunHandler(form_, "the close request", form_.Name(),
                       [this] { form_.HandleCloseRequest(); });
}

// ---------------------------------------------------------------------------------------

Form::Form(const std::string &name) : name_(name)
{
    EnsureApplicationRules();
    widget_ = new WindowWidget(*this);
    widget_->setObjectName(QString::fromStdString(name));
    widget_->setAttribute(Qt::WA_DeleteOnClose, false);
    // The window's default font, used by every control that is given none.
    widget_->setFont(ToolkitFont(Font{}));
}

Form::~Form()
{
    if (g_lastActive == this)
        g_lastActive = nullptr;
    auto &loaded = LoadedForms();
    loaded.erase(std::remove(loaded.begin(), loaded.end(), this), loaded.end());
    // The timers, being members of the window's class, are gone already.
    if (onDestroyed_)
        onDestroyed_();
    delete widget_;
}

WindowWidget &WindowOf(const Form &form)
{
    return *form.widget_;
}

QWidget *SurfaceOf(const Form &form)
{
    return &WindowOf(form);
}

std::string Form::Caption() const
{
    return widget_->windowTitle().toStdString();
}

void Form::SetCaption(const std::string &caption)
{
    widget_->setWindowTitle(QString::fromStdString(caption));
}

int Form::WindowState() const
{
    const auto state = widget_->windowState();
    if (state.testFlag(Qt::WindowMinimized))
        return vbMinimized;
    if (state.testFlag(Qt::WindowMaximized) || state.testFlag(Qt::WindowFullScreen))
        return vbMaximized;
    return vbNormal;
}

void Form::SetWindowState(int state)
{
    switch (state) {
    case vbMaximized:
        widget_->setWindowState(Qt::WindowMaximized);
        break;
    case vbMinimized:
        widget_->setWindowState(Qt::WindowMinimized);
        break;
    default:
        widget_->setWindowState(Qt::WindowNoState);
        break;
    }
}

// The held values are what the window reads back; a maximized window keeps the size the
// window system gives it, and the held values follow that size when it arrives.
void Form::PushGeometry()
{
    if (WindowState() != vbNormal)
        return;
    const QRect frame = widget_->frameGeometry();
    const QRect client = widget_->geometry();
    const int extraW = frame.width() - client.width();
    const int extraH = frame.height() - client.height();
    widget_->move(PixelsOf(left_), PixelsOf(top_));
    widget_->resize(std::max(1, PixelsOf(width_) - extraW),
                    std::max(1, PixelsOf(height_) - extraH));
}

bool Form::Visible() const
{
    return widget_->isVisible();
}

float Form::ScreenWidth() const
{
    QScreen *screen = widget_->screen();
    if (!screen)
        return ScreenWidthTwips();
    return TwipsOf(screen->geometry().width());
}

float Form::ScreenHeight() const
{
    QScreen *screen = widget_->screen();
    if (!screen)
        return ScreenHeightTwips();
    return TwipsOf(screen->geometry().height());
}

namespace {
// The screen that holds the middle of a window's frame; the toolkit's own idea of the window's
// screen where no screen holds it. A Wayland client never learns where its windows stand,
// only which output shows them: there the toolkit's idea is the one that holds.
QScreen *ScreenUnder(const QWidget &window)
{
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return window.screen();
    if (QScreen *screen = QGuiApplication::screenAt(window.frameGeometry().center()))
        return screen;
    return window.screen();
}
} // namespace

void Form::StandOnScreenOf(const Form &other)
{
    if (widget_->isVisible())
        return;
    QScreen *screen = ScreenUnder(*other.widget_);
    if (!screen || screen == ScreenUnder(*widget_))
        return;
    widget_->setScreen(screen);
    // The window manager maximizes a window on the screen it is mapped on.
    const QRect area = screen->availableGeometry();
    widget_->move(area.topLeft());
    const QRect frame = widget_->frameGeometry();
    left_ = TwipsOf(frame.x());
    top_ = TwipsOf(frame.y());
}

void Form::Show()
{
    if (!loaded_)
        return;
    const bool firstShow = !shownOnce_;
    shownOnce_ = true;
    if (WindowState() == vbMaximized)
        widget_->showMaximized();
    else
        widget_->show();
    RaiseAndActivate(widget_);
    if (firstShow && !widget_->focusWidget()) {
        // The first control in tab order that can take the focus has it.
        std::vector<Control *> order(controls_.begin(), controls_.end());
        std::stable_sort(order.begin(), order.end(),
                         [](Control *a, Control *b) { return a->TabIndex() < b->TabIndex(); });
        for (Control *control : order) {
            if (control->CanTakeFocus() && control->Visible() && control->TabIndex() >= 0) {
                control->SetFocus();
                break;
            }
        }
    }
    HandleActivated();
}

void Form::Hide()
{
    widget_->hide();
    if (g_lastActive == this)
        g_lastActive = nullptr;
}

void Form::SetFocus()
{
    RaiseAndActivate(widget_);
    HandleActivated();
}

void Form::SetClientSize(float widthTwips, float heightTwips)
{
    width_ = widthTwips;
    height_ = heightTwips;
    widget_->resize(PixelsOf(widthTwips), PixelsOf(heightTwips));
}

void Form::SetBorderStyle(BorderStyle style, bool minMaxButtons)
{
    Qt::WindowFlags flags = Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                            Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint;
    // A window without minimize and maximize buttons is a dialog to the window manager, which
    // then leaves those buttons off its title bar.
    flags |= minMaxButtons ? Qt::Window | Qt::WindowMinMaxButtonsHint : Qt::Dialog;
    widget_->setWindowFlags(flags);
    if (style == BorderStyle::FixedSingle)
        widget_->setFixedSize(widget_->size());
}

void Form::CentreOnScreen()
{
    QScreen *screen = widget_->screen() ? widget_->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QSize size = widget_->size();
    widget_->move(area.x() + (area.width() - size.width()) / 2,
                  area.y() + (area.height() - size.height()) / 2);
    const QRect frame = widget_->frameGeometry();
    left_ = TwipsOf(frame.x());
    top_ = TwipsOf(frame.y());
}

void Form::SetIcon(const Picture &icon)
{
    if (const QPixmap *pixmap = PixmapOf(icon))
        widget_->setWindowIcon(QIcon(*pixmap));
}

void Form::AddControl(Control *control)
{
    controls_.push_back(control);
}

void Form::AddTimer(Timer *timer)
{
    timers_.push_back(timer);
}

void Form::ApplyTabOrder()
{
    std::vector<Control *> order;
    for (Control *control : controls_)
        if (control->CanTakeFocus() && control->TabIndex() >= 0)
            order.push_back(control);
    std::stable_sort(order.begin(), order.end(),
                     [](Control *a, Control *b) { return a->TabIndex() < b->TabIndex(); });
    for (size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(WidgetOf(*order[i - 1]), WidgetOf(*order[i]));
}

void Form::SetButtonsTakeEnter(bool take)
{
    for (Control *control : controls_)
        control->SetTakesEnter(take);
}

void Form::HandleActivated()
{
    if (!loaded_ || unloading_ || g_lastActive == this)
        return;
    g_lastActive = this;
    Form_Activate();
}

void Form::HandleResized(float widthTwips, float heightTwips)
{
    if (widthTwips == width_ && heightTwips == height_)
        return;
    width_ = widthTwips;
    height_ = heightTwips;
    if (loaded_ && !unloading_)
        Form_Resize();
}

void Form::HandleCloseRequest()
{
    Unload(*this);
}

void Form::Load()
{
    loaded_ = true;
    LoadedForms().push_back(this);
    Form_Load();
}

// ---------------------------------------------------------------------------------------

void Unload(Form &form)
{
    if (!form.loaded_ || form.unloading_)
        return;
    form.unloading_ = true;
    // A window whose unload handling fails goes all the same: half unloaded, it could never
    // go, nor the program end.
    detail::RunHandler(form, "the unload", form.Name(), [&form] { form.Form_Unload(); });
    for (Timer *timer : form.timers_)
        timer->Halt();
    form.widget_->hide();
    form.loaded_ = false;
    form.unloading_ = false;
    if (g_lastActive == &form)
        g_lastActive = nullptr;
    auto &loaded = LoadedForms();
    loaded.erase(std::remove(loaded.begin(), loaded.end(), &form), loaded.end());
    if (loaded.empty() && QCoreApplication::instance())
        QCoreApplication::exit(0);
}

std::vector<Form *> Forms()
{
    return LoadedForms();
}

void DestroyUnloadedForms()
{
    auto &forms = AllForms();
    std::vector<std::unique_ptr<Form>> doomed;
    for (auto &form : forms)
        if (form && !form->IsLoaded())
            doomed.push_back(std::move(form));
    forms.erase(std::remove(forms.begin(), forms.end(), nullptr), forms.end());
    doomed.clear();
}

namespace detail {
void ReportHandlerFailure(Form &form, const std::string &where, const std::string &why)
{
    const std::string text = where + " failed: " + why;
    auto &told = form.failedHandlers_;
    // Told once: a tick fails again at every interval, and a line each time would bury
    // everything else the terminal or the journal holds.
    if (std::find(told.begin(), told.end(), where) != told.end())
        return;
    told.push_back(where);
    ShowMessage("Something went wrong", text); // written to standard error as well
}

void Adopt(std::unique_ptr<Form> form)
{
    AllForms().push_back(std::move(form));
}
} // namespace detail

} // namespace platform
