// The toolkit's side of a window: forwards the toolkit's events to the Form.
#pragma once

#include <QWidget>

namespace platform {

class Form;

class WindowWidget : public QWidget
{
public:
    explicit WindowWidget(Form &form);
    Form &OwningForm() const { return form_; }
    // The outer size in twips, frame included.
    void ReportGeometry();

protected:
    bool event(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    Form &form_;
};

WindowWidget &WindowOf(const Form &form);

} // namespace platform
