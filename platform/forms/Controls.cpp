#include "Controls.h"

#include "Form.h"
#include "Handler.h"
#include "SeamState.h"
#include "TickMoment.h"
#include "Toolkit.h"
#include "Twips.h"

#include <QAbstractEventDispatcher>
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QTimer>

#include <algorithm>
#include <chrono>

namespace platform {

namespace {

QString Q(const std::string &text)
{
    return QString::fromStdString(text);
}

} // namespace

// ---------------------------------------------------------------------------------------

namespace detail {
class TickSource : public QTimer
{
public:
    using QTimer::QTimer;
};
} // namespace detail

namespace {
// The view of a control shown by this widget.
std::unique_ptr<detail::ControlView> Shown(QWidget *widget)
{
    return std::make_unique<detail::ControlView>(detail::ControlView{widget});
}
} // namespace

Control::Control(Container &parent, const std::string &name,
                 std::unique_ptr<detail::ControlView> view)
    : Named(name), form_(parent.OwningForm()), view_(std::move(view))
{
    QWidget *widget = view_->widget;
    widget->setParent(parent.frame_ ? WidgetOf(*parent.frame_) : SurfaceOf(form_));
    widget->setObjectName(Q(name));
    form_.AddControl(this);
}

Control::~Control() = default;

template <class W> W &Control::View() const
{
    return *static_cast<W *>(view_->widget);
}

void Control::Move(float left, float top, float width, float height)
{
    Place(left, top, width, height);
}

void Control::PushGeometry()
{
    view_->widget->setGeometry(PixelsOf(left_), PixelsOf(top_), PixelsOf(width_),
                               PixelsOf(height_));
}

void Control::SetVisible(bool visible)
{
    visible_ = visible;
    view_->widget->setVisible(visible);
}

Container::Container(Form &form) : form_(form) {}

const detail::ControlView &ViewOf(const Control &control)
{
    return *control.view_;
}

QWidget *WidgetOf(const Control &control)
{
    return ViewOf(control).widget;
}

QFont ToolkitFont(const Font &font)
{
    QFont qfont;
    // Where the named face is absent, a sans-serif face of the same narrow build stands in:
    // the stored captions were measured for it, and a wider face would cut them.
    qfont.setFamilies({Q(font.family), "Liberation Sans", "Arial", "Nimbus Sans", "DejaVu Sans"});
    qfont.setStyleHint(QFont::SansSerif);
    qfont.setPointSizeF(font.points);
    qfont.setBold(font.bold);
    return qfont;
}

void Control::SetFont(const Font &font)
{
    view_->widget->setFont(ToolkitFont(font));
}

void Control::SetFocus()
{
    view_->widget->setFocus(Qt::OtherFocusReason);
}

// ---------------------------------------------------------------------------------------

namespace {
// How a button of the toolkit's kind draws a caption that wraps onto more lines.
struct CaptionLook
{
    QStyle::ControlElement body; // the button without its caption
    QStyle::SubElement contents; // where the caption goes
    bool besideIndicator;        // the caption takes the rest of the box beside a tick
    QPalette::ColorRole pen;
    int alignment;
};

// A button whose caption wraps within the button, as the stored captions expect ("Show
// Settings Screen" stands on two lines in its button).
template <class Button> class WrappingCaption : public Button
{
public:
    explicit WrappingCaption(const CaptionLook &look) : look_(look) {}

protected:
    void paintEvent(QPaintEvent *) override
    {
        QStylePainter painter(this);
        QStyleOptionButton option;
        this->initStyleOption(&option);
        const QString caption = option.text;
        option.text.clear();
        painter.drawControl(look_.body, option);
        if (look_.besideIndicator)
            option.text = caption;
        QRect area = this->style()->subElementRect(look_.contents, &option, this);
        if (look_.besideIndicator)
            area = QRect(area.left(), 0, this->width() - area.left(), this->height());
        painter.setPen(this->palette().color(
            this->isEnabled() ? QPalette::Active : QPalette::Disabled, look_.pen));
        painter.drawText(area, look_.alignment, caption);
    }

private:
    CaptionLook look_;
};

const CaptionLook kButtonCaption{QStyle::CE_PushButton, QStyle::SE_PushButtonContents, false,
                                 QPalette::ButtonText,
                                 Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic};
const CaptionLook kCheckCaption{QStyle::CE_CheckBox, QStyle::SE_CheckBoxContents, true,
                                QPalette::WindowText,
                                Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap};
} // namespace

CommandButton::CommandButton(Container &parent, const std::string &name)
    : Control(parent, name, Shown(new WrappingCaption<QPushButton>(kButtonCaption)))
{
    // Enter, like the space bar, clicks the focused button, unless the window keeps Enter
    // for itself (Form::SetButtonsTakeEnter).
    View<QPushButton>().setAutoDefault(true);
    QObject::connect(&View<QPushButton>(), &QPushButton::clicked, &View<QPushButton>(),
                     [this] { detail::RunHandler(form_, "a click", Name(), [this] { Click(); }); });
}

void CommandButton::SetCaption(const std::string &caption)
{
    caption_ = caption;
    View<QPushButton>().setText(Q(caption));
}

void CommandButton::SetTakesEnter(bool take)
{
    View<QPushButton>().setAutoDefault(take);
}

void CommandButton::Click()
{
    if (click_ && form_.IsLoaded())
        click_();
}

// ---------------------------------------------------------------------------------------

Label::Label(Container &parent, const std::string &name) : Control(parent, name, Shown(new QLabel))
{
    // Labels are drawn on the window's surface, under the buttons.
    WidgetOf(*this)->setAttribute(Qt::WA_TransparentForMouseEvents);
    WidgetOf(*this)->lower();
    // Text starts at the top left of the box, not in the middle of its height.
    SetAlignment(Align::Left);
}

void Label::SetCaption(const std::string &caption)
{
    caption_ = caption;
    View<QLabel>().setText(Q(caption));
}

void Label::SetAlignment(Align align)
{
    View<QLabel>().setAlignment(align == Align::Centre ? Qt::AlignHCenter | Qt::AlignTop
                                                       : Qt::AlignLeft | Qt::AlignTop);
}

void Label::SetWordWrap(bool wrap)
{
    View<QLabel>().setWordWrap(wrap);
}

// ---------------------------------------------------------------------------------------

CheckBox::CheckBox(Container &parent, const std::string &name)
    : Control(parent, name, Shown(new WrappingCaption<QCheckBox>(kCheckCaption)))
{
    QObject::connect(&View<QCheckBox>(), &QCheckBox::toggled, &View<QCheckBox>(),
                     [this](bool checked) {
                         if ((value_ != 0) != checked)
                             value_ = checked ? 1 : 0;
                     });
}

void CheckBox::SetCaption(const std::string &caption)
{
    caption_ = caption;
    View<QCheckBox>().setText(Q(caption));
}

void CheckBox::SetValue(int value)
{
    value_ = value;
    View<QCheckBox>().setChecked(value != 0);
}

// ---------------------------------------------------------------------------------------

OptionButton::OptionButton(Container &parent, const std::string &name)
    : Control(parent, name, Shown(new QRadioButton))
{
    QRadioButton *button = &View<QRadioButton>();
    // Only the selected button of a group is a tab stop: Tab enters the group at its choice.
    // The others still take the focus when clicked.
    button->setFocusPolicy(Qt::ClickFocus);
    QObject::connect(button, &QRadioButton::toggled, button, [this, button](bool checked) {
        button->setFocusPolicy(checked ? Qt::StrongFocus : Qt::ClickFocus);
        if (checked && click_ && form_.IsLoaded())
            detail::RunHandler(form_, "a change", Name(), click_);
    });
}

void OptionButton::SetCaption(const std::string &caption)
{
    caption_ = caption;
    View<QRadioButton>().setText(Q(caption));
}

bool OptionButton::Value() const
{
    return View<QRadioButton>().isChecked();
}

void OptionButton::SetValue(bool selected)
{
    if (selected) {
        View<QRadioButton>().setChecked(true);
        return;
    }
    // The group would refuse to clear its selected button.
    View<QRadioButton>().setAutoExclusive(false);
    View<QRadioButton>().setChecked(false);
    View<QRadioButton>().setAutoExclusive(true);
}

// ---------------------------------------------------------------------------------------

Frame::Frame(Container &parent, const std::string &name)
    : Control(parent, name, Shown(new QGroupBox)), inside_(parent.OwningForm(), *this)
{}

void Frame::SetCaption(const std::string &caption)
{
    caption_ = caption;
    View<QGroupBox>().setTitle(Q(caption));
}

// ---------------------------------------------------------------------------------------

namespace detail {
// Draws its picture at the picture's own size inside its frame, clipped to the inside.
class ImageWidget : public QFrame
{
public:
    void SetPixmap(const QPixmap *pixmap)
    {
        pixmap_ = pixmap ? *pixmap : QPixmap();
        update();
    }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QFrame::paintEvent(event);
        if (pixmap_.isNull())
            return;
        QPainter painter(this);
        const QRect inside = contentsRect();
        painter.setClipRect(inside);
        painter.drawPixmap(inside.topLeft(), pixmap_);
    }

private:
    QPixmap pixmap_;
};
} // namespace detail

Image::Image(Container &parent, const std::string &name)
    : Control(parent, name, Shown(new detail::ImageWidget))
{
    // Drawn on the window's surface: the picture passes under a button, never over it.
    WidgetOf(*this)->setAttribute(Qt::WA_TransparentForMouseEvents);
    WidgetOf(*this)->lower();
}

void Image::SetPicture(const Picture &picture)
{
    picture_ = picture;
    View<detail::ImageWidget>().SetPixmap(PixmapOf(picture));
    FitPicture();
}

void Image::SetBorder(bool singleLine)
{
    View<detail::ImageWidget>().setFrameStyle(singleLine ? QFrame::Box | QFrame::Plain
                                                         : QFrame::NoFrame);
    View<detail::ImageWidget>().setLineWidth(1);
    FitPicture();
}

void Image::FitPicture()
{
    if (!picture_.Pixels())
        return;
    const int border = 2 * View<detail::ImageWidget>().frameWidth();
    Move(Left(), Top(), TwipsOf(picture_.WidthPixels() + border),
         TwipsOf(picture_.HeightPixels() + border));
}

// ---------------------------------------------------------------------------------------

namespace detail {
// A slider that tells when a click of the mouse on it ends, whether or not the click moved
// its pointer.
class ClickableSlider : public QSlider
{
public:
    ClickableSlider() : QSlider(Qt::Horizontal) {}
    std::function<void()> released;
    bool pressed = false;

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        pressed = true;
        QSlider::mousePressEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        QSlider::mouseReleaseEvent(event);
        if (!pressed)
            return;
        pressed = false;
        if (released)
            released();
    }
    // A press whose release never came (the window was hidden under the pointer) does not
    // keep the next key change from counting.
    void hideEvent(QHideEvent *event) override
    {
        pressed = false;
        QSlider::hideEvent(event);
    }
};
} // namespace detail

Slider::Slider(Container &parent, const std::string &name)
    : Control(parent, name, Shown(new detail::ClickableSlider))
{
    detail::ClickableSlider *slider = &View<detail::ClickableSlider>();
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setTickInterval(1);
    slider->setPageStep(1);
    slider->setSingleStep(1);
    // A change by the keyboard or the wheel is a click at once. A click of the mouse is one
    // click when the button is released, wherever the pointer then stands: one that leaves
    // the pointer where it was is a click too.
    QObject::connect(slider, &QSlider::valueChanged, slider, [this, slider](int) {
        if (!settingFromCode_ && !slider->pressed && click_ && form_.IsLoaded())
            detail::RunHandler(form_, "a change", Name(), click_);
    });
    slider->released = [this] {
        if (click_ && form_.IsLoaded())
            detail::RunHandler(form_, "a change", Name(), click_);
    };
}

int Slider::Value() const
{
    return View<detail::ClickableSlider>().value();
}

void Slider::SetValue(int value)
{
    settingFromCode_ = true;
    View<detail::ClickableSlider>().setValue(value);
    settingFromCode_ = false;
}

void Slider::SetRange(int min, int max)
{
    settingFromCode_ = true;
    View<detail::ClickableSlider>().setRange(min, max);
    settingFromCode_ = false;
}

int Slider::Min() const
{
    return View<detail::ClickableSlider>().minimum();
}

int Slider::Max() const
{
    return View<detail::ClickableSlider>().maximum();
}

// ---------------------------------------------------------------------------------------

namespace {
std::vector<Timer *> g_sleeping;
QPointer<QAbstractEventDispatcher> g_watchedLoop;

// Sleeping timers are looked at around each round of event handling, the moments at which
// their toolkit timers could have fired: before the loop waits, and when it goes on.
void WatchEventLoop()
{
    QAbstractEventDispatcher *loop = QAbstractEventDispatcher::instance();
    if (!loop || loop == g_watchedLoop)
        return;
    g_watchedLoop = loop;
    QObject::connect(loop, &QAbstractEventDispatcher::aboutToBlock, loop,
                     [] { Timer::WakeIdleTimers(); });
    QObject::connect(loop, &QAbstractEventDispatcher::awake, loop, [] { Timer::WakeIdleTimers(); });
}
} // namespace

Timer::Timer(Form &form, const std::string &name)
    : Named(name), form_(form), timer_(new detail::TickSource(SurfaceOf(form))),
      alive_(std::make_shared<bool>(true))
{
    timer_->setObjectName(Q(name));
    timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer_, &QTimer::timeout, timer_, [this] {
        const auto alive = alive_;
        Tick();
        if (*alive)
            SleepIfIdle();
    });
    form.AddTimer(this);
}

Timer::~Timer()
{
    *alive_ = false;
    Halt();
}

void Timer::SetInterval(int milliseconds)
{
    if (milliseconds == interval_)
        return;
    interval_ = milliseconds;
    Restart();
}

void Timer::SetEnabled(bool enabled)
{
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    Restart();
}

void Timer::Restart()
{
    StopSleeping();
    if (!timer_)
        return;
    if (enabled_ && interval_ > 0)
        timer_->start(interval_);
    else
        timer_->stop();
}

void Timer::Tick()
{
    if (inHandler_ || !tick_)
        return;
    inHandler_ = true;
    const auto began = std::chrono::steady_clock::now();
    if (const auto &observer = seams::detail::TickObserverHook())
        observer(Name(), began);
    const auto alive = alive_;
    {
        // What the tick asks of the sound output is placed after the tick's moment.
        // A timer that sleeps until another tick gives it work is that tick's worker.
        const detail::TickScope moment(this, began, static_cast<bool>(idle_));
        // A failing tick is reported and the next tick comes as usual.
        detail::RunHandler(form_, "a tick", Name(), tick_);
    }
    if (!*alive)
        return;
    inHandler_ = false;
    // A sleeping timer that this tick gave work is woken now, not when the event loop next
    // waits: the loop may paint first, and the woken tick must still count as this tick's.
    WakeIdleTimers(false);
}

void Timer::Halt()
{
    StopSleeping();
    if (timer_)
        timer_->stop();
    timer_ = nullptr;
}

void Timer::SleepIfIdle()
{
    if (!timer_ || !enabled_ || interval_ <= 0)
        return;
    if (idle_ && idle_()) {
        timer_->stop();
        if (!sleeping_) {
            sleeping_ = true;
            g_sleeping.push_back(this);
        }
        WatchEventLoop();
    } else if (!timer_->isActive() || timer_->interval() != interval_) {
        timer_->start(interval_); // woken: back to its own interval
    }
}

void Timer::StopSleeping()
{
    if (!sleeping_)
        return;
    sleeping_ = false;
    g_sleeping.erase(std::remove(g_sleeping.begin(), g_sleeping.end(), this), g_sleeping.end());
}

void Timer::WakeIdleTimers(bool tickNow)
{
    if (g_sleeping.empty())
        return;
    const std::vector<Timer *> sleeping = g_sleeping;
    for (Timer *timer : sleeping) {
        // One that an earlier tick here stopped or ended is no longer among the sleeping.
        if (std::find(g_sleeping.begin(), g_sleeping.end(), timer) == g_sleeping.end())
            continue;
        if (timer->idle_ && timer->idle_())
            continue;
        timer->StopSleeping();
        if (!timer->timer_)
            continue;
        detail::NoteWake(timer);
        if (!tickNow) {
            timer->timer_->start(0); // its tick is due at once
            continue;
        }
        const auto alive = timer->alive_;
        timer->Tick();
        if (*alive)
            timer->SleepIfIdle();
    }
}

} // namespace platform
