// Windows of the program.
//
// Every window is one class derived from Form, with one process-wide instance reached
// through a FormRef named like the window. The first use of that name creates the window
// and loads it (its stored definition, then its load handling); hiding keeps it loaded with
// all its control values; only unloading discards it. The program ends when the last loaded
// window has been unloaded and control is back in the event loop.
//
// Geometry is held in twips as single-precision values and reads back exactly as assigned;
// the toolkit shows it at the nearest pixel. Left, Top, Width and Height of a window are its
// outer size, frame included; controls are placed relative to the client area.
#pragma once

#include "Geometry.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class Form;
namespace detail {
void ReportHandlerFailure(Form &form, const std::string &where, const std::string &why);
}

class Control;
class Picture;
class Timer;
class WindowWidget;

enum WindowStateValue { vbNormal = 0, vbMinimized = 1, vbMaximized = 2 };
enum class BorderStyle { Sizable, FixedSingle };

// Shift state of the key-release event: 1 Shift, 2 Ctrl, 4 Alt.
enum ShiftMask { vbShiftMask = 1, vbCtrlMask = 2, vbAltMask = 4 };
// Key codes of the key-release event.
enum KeyCodes { vbKeyF1 = 112, vbKeyF2 = 113, vbKeyF3 = 114, vbKeyF4 = 115 };

class Form : public Geometry
{
public:
    Form(const Form &) = delete;
    Form &operator=(const Form &) = delete;
    virtual ~Form();

    // Events. A window overrides the ones it handles.
    virtual void Form_Load() {}
    virtual void Form_Resize() {}
    virtual void Form_Activate() {}
    virtual void Form_Unload() {}
    // The character code of a key that produces a character (13 Enter, 27 Esc, ...).
    virtual void Form_KeyPress(int keyAscii) { (void)keyAscii; }
    // The key code of a released key and the shift state (ShiftMask).
    virtual void Form_KeyUp(int keyCode, int shift)
    {
        (void)keyCode;
        (void)shift;
    }
    virtual void Form_GotFocus() {}
    virtual void Form_LostFocus() {}

    // Properties.
    const std::string &Name() const { return name_; }
    std::string Caption() const;
    void SetCaption(const std::string &caption);
    int WindowState() const;
    void SetWindowState(int state);
    bool KeyPreview() const { return keyPreview_; }
    void SetKeyPreview(bool on) { keyPreview_ = on; }
    bool Visible() const;
    // The screen the window stands on, in twips.
    float ScreenWidth() const;
    float ScreenHeight() const;
    // Puts the window on the screen where another window stands: ScreenWidth and ScreenHeight
    // are then that screen's, and the window opens there when it is shown (maximized, it fills
    // that screen). A window already shown keeps the screen the practitioner put it on.
    void StandOnScreenOf(const Form &other);

    // Operations.
    void Show();     // not modal, without an owner window; activates the window
    void Hide();     // stays loaded
    void SetFocus(); // activates the window and gives it the keyboard focus
    bool IsLoaded() const { return loaded_; }

    // For the stored definitions in forms/.
    void SetClientSize(float widthTwips, float heightTwips);
    void SetBorderStyle(BorderStyle style, bool minMaxButtons);
    void CentreOnScreen();
    void SetIcon(const Picture &icon);
    void AddControl(Control *control);
    void AddTimer(Timer *timer);
    // Puts the focusable controls in the order of their tab indexes.
    void ApplyTabOrder();
    // Whether Enter clicks the focused button (the default). A window whose Enter key runs
    // its default button's handling from its own key handler turns this off, so that one
    // press of Enter runs one handling.
    void SetButtonsTakeEnter(bool take);

    // Called by the toolkit binding.
    void HandleActivated();
    void HandleResized(float widthTwips, float heightTwips);
    void HandleCloseRequest();

protected:
    explicit Form(const std::string &name);

private:
    friend WindowWidget &WindowOf(const Form &form);
    template <class T> friend class FormRef;
    friend void Unload(Form &form);
    friend void detail::ReportHandlerFailure(Form &, const std::string &, const std::string &);
    void Load();
    void PushGeometry() override;

    std::string name_;
    WindowWidget *widget_ = nullptr;
    std::vector<Control *> controls_;
    std::vector<Timer *> timers_;
    bool keyPreview_ = false;
    bool loaded_ = false;
    bool unloading_ = false;
    bool shownOnce_ = false;
    std::function<void()> onDestroyed_;
    std::vector<std::string> failedHandlers_; // told to the practitioner already
};

// Unloads a window: its unload handling runs once, then it is hidden and discarded and
// leaves the collection of loaded windows. Unloading a window that is already being
// unloaded, or is not loaded, does nothing.
void Unload(Form &form);
// The loaded windows, in the order they were loaded.
std::vector<Form *> Forms();
// Frees windows that were unloaded. Only safe where no handler of theirs is running: the
// program calls it after its event loop, tests between cases.
void DestroyUnloadedForms();

namespace detail {
void Adopt(std::unique_ptr<Form> form);
}

// The single instance of a window, created and loaded on first use.
template <class T> class FormRef
{
public:
    T *operator->() { return &Get(); }
    T &operator*() { return Get(); }
    T &Get()
    {
        if (!form_ || !form_->IsLoaded()) {
            if (form_ && form_->unloading_)
                return *form_; // its own unload handling still refers to it
            auto created = std::make_unique<T>();
            T *raw = created.get();
            raw->onDestroyed_ = [this, raw] {
                if (form_ == raw)
                    form_ = nullptr;
            };
            form_ = raw;
            detail::Adopt(std::move(created));
            raw->Load();
        }
        return *form_;
    }
    // Whether the window exists and is loaded, without creating it.
    bool IsLoaded() const { return form_ && form_->IsLoaded(); }
    T *Peek() const { return form_; }

private:
    T *form_ = nullptr;
};

} // namespace platform
