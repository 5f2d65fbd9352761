// Controls placed on windows: buttons, labels, check and option boxes, frames, images,
// sliders and timers. Positions and sizes are twips, held as single-precision values that
// read back exactly as assigned; the toolkit shows them at the nearest pixel.
//
// Event handlers are ordinary functions given to On...(); the window's class passes its
// member functions, so tests can call those directly.
#pragma once

#include "../Named.h"
#include "Geometry.h"
#include "Picture.h"

#include <functional>
#include <memory>
#include <string>

namespace platform {

class Form;
class Control;

namespace detail {
// The toolkit's side of a control and of a timer, known only to the platform layer's own
// sources: this interface names nothing of the toolkit.
struct ControlView;
class TickSource;
} // namespace detail

struct Font
{
    std::string family = "MS Sans Serif"; // the system's sans-serif face stands in when absent
    double points = 8.25;
    bool bold = false;
};

// Where a control sits: a window's client area or a frame.
class Container
{
public:
    // The client area of the window.
    explicit Container(Form &form);
    Form &OwningForm() const { return form_; }

private:
    friend class Control;
    friend class Frame;
    // The inside of a frame.
    Container(Form &form, const Control &frame) : form_(form), frame_(&frame) {}
    Form &form_;
    const Control *frame_ = nullptr; // none: the client area
};

class Control : public Geometry, public Named
{
public:
    virtual ~Control();

    // One move that sets position and size together.
    void Move(float left, float top, float width, float height);
    bool Visible() const { return visible_; }
    void SetVisible(bool visible);
    int TabIndex() const { return tabIndex_; }
    void SetTabIndex(int index) { tabIndex_ = index; }
    void SetFont(const Font &font);
    // Whether the control can take the keyboard focus at all.
    virtual bool CanTakeFocus() const { return false; }
    // Whether Enter clicks the control while it has the focus; only buttons take it.
    virtual void SetTakesEnter(bool take) { (void)take; }
    void SetFocus();

protected:
    friend const detail::ControlView &ViewOf(const Control &control);
    Control(Container &parent, const std::string &name, std::unique_ptr<detail::ControlView> view);
    // The widget that shows the control, reached as the kind W it was made as; used only by
    // the platform layer's own sources.
    template <class W> W &View() const;
    void PushGeometry() override;
    Form &form_;

private:
    std::unique_ptr<detail::ControlView> view_;
    bool visible_ = true;
    int tabIndex_ = -1;
};

class CommandButton : public Control
{
public:
    CommandButton(Container &parent, const std::string &name);
    std::string Caption() const { return caption_; }
    void SetCaption(const std::string &caption);
    void OnClick(std::function<void()> handler) { click_ = std::move(handler); }
    void Click(); // as if clicked
    bool CanTakeFocus() const override { return true; }
    void SetTakesEnter(bool take) override;

private:
    std::string caption_;
    std::function<void()> click_;
};

// Text set from the top of its box, on the left unless centred.
class Label : public Control
{
public:
    enum class Align { Left, Centre };
    Label(Container &parent, const std::string &name);
    std::string Caption() const { return caption_; }
    void SetCaption(const std::string &caption);
    void SetAlignment(Align align);
    void SetWordWrap(bool wrap);

private:
    std::string caption_;
};

class CheckBox : public Control
{
public:
    CheckBox(Container &parent, const std::string &name);
    std::string Caption() const { return caption_; }
    void SetCaption(const std::string &caption);
    // 0 clear, 1 ticked; any other value is held as given and shown ticked.
    int Value() const { return value_; }
    void SetValue(int value);
    bool CanTakeFocus() const override { return true; }

private:
    std::string caption_;
    int value_ = 0;
};

// Option buttons in one container form one group: selecting one clears the others.
// Selecting one, by the practitioner or from code, raises its click when it changes the
// selection.
class OptionButton : public Control
{
public:
    OptionButton(Container &parent, const std::string &name);
    std::string Caption() const { return caption_; }
    void SetCaption(const std::string &caption);
    bool Value() const;
    void SetValue(bool selected);
    void OnClick(std::function<void()> handler) { click_ = std::move(handler); }
    bool CanTakeFocus() const override { return true; }

private:
    std::string caption_;
    std::function<void()> click_;
};

class Frame : public Control
{
public:
    Frame(Container &parent, const std::string &name);
    std::string Caption() const { return caption_; }
    void SetCaption(const std::string &caption);
    Container &Inside() { return inside_; }

private:
    std::string caption_;
    Container inside_;
};

// A picture drawn on the window's surface, under the buttons, never over them. It never
// stretches its picture: it takes the picture's size, with its border round it, and keeps its
// top left corner where it stands.
class Image : public Control
{
public:
    Image(Container &parent, const std::string &name);
    const Picture &GetPicture() const { return picture_; }
    void SetPicture(const Picture &picture);
    // A flat border of one line, drawn around the picture, never under it: the control is
    // two pixels wider and higher than its picture.
    void SetBorder(bool singleLine);

private:
    void FitPicture();
    Picture picture_;
};

// A horizontal slider with whole positions. Its click is raised by a change the
// practitioner makes with mouse or keyboard, never by a position set from code.
class Slider : public Control
{
public:
    Slider(Container &parent, const std::string &name);
    int Value() const;
    void SetValue(int value);
    void SetRange(int min, int max);
    int Min() const;
    int Max() const;
    void OnClick(std::function<void()> handler) { click_ = std::move(handler); }
    bool CanTakeFocus() const override { return true; }

private:
    std::function<void()> click_;
    bool settingFromCode_ = false;
};

// A timer of the toolkit at its finest precision. A tick is never delivered again while its
// own handler is still running; a tick of another timer may run inside it.
class Timer : public Named
{
public:
    Timer(Form &form, const std::string &name);
    ~Timer();
    // Milliseconds; 0 stops the ticks. Assigning the value it already has keeps its cadence.
    int Interval() const { return interval_; }
    void SetInterval(int milliseconds);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    void OnTimer(std::function<void()> handler) { tick_ = std::move(handler); }
    // Delivers one tick as the toolkit would (skipped while the handler runs).
    void Tick();
    // Stops the ticks for good: the window is being unloaded.
    void Halt();

    // A timer whose ticks mostly find nothing to do can sleep instead of waking the program
    // at each of them: after a delivered tick, while `idle` says a tick would change nothing,
    // the toolkit's timer is stopped. Whenever `idle` turns false the timer wakes and its
    // tick comes at once, without waiting out the interval: at the next round of the event
    // loop, or inside DoEvents when a handler calls it. `idle` must be false whenever a tick
    // would do anything, and may depend only on what handlers change.
    void SetIdleWhile(std::function<bool()> idle) { idle_ = std::move(idle); }
    // Wakes every sleeping timer that has something to do again. Its tick comes at the next
    // round of the event loop, or right here with `tickNow`: DoEvents lets a waiting tick run
    // before the other pending events.
    static void WakeIdleTimers(bool tickNow = false);

private:
    void Restart();
    void SleepIfIdle();
    void StopSleeping();
    Form &form_;
    detail::TickSource *timer_;
    int interval_ = 0;
    bool enabled_ = false;
    bool inHandler_ = false;
    std::function<void()> tick_;
    std::shared_ptr<bool> alive_;
    std::function<bool()> idle_;
    bool sleeping_ = false;
};

} // namespace platform
