// The open-file dialog. Its filter has the form "description|pattern|description|pattern",
// a pattern listing several masks separated by ";". Tests answer it through a queue instead
// of a modal window.
#pragma once

#include <string>

namespace platform {

class CommonDialog
{
public:
    explicit CommonDialog(const std::string &name) : name_(name) {}
    const std::string &Name() const { return name_; }

    const std::string &Filter() const { return filter_; }
    void SetFilter(const std::string &filter) { filter_ = filter; }
    const std::string &InitDir() const { return initDir_; }
    void SetInitDir(const std::string &folder) { initDir_ = folder; }
    // The full path of the chosen file. The dialog opens with it in its name box, and a
    // cancelled dialog leaves it as it was: a caller that must tell a cancel from a choice
    // empties it before showing the dialog.
    const std::string &FileName() const { return fileName_; }
    void SetFileName(const std::string &path) { fileName_ = path; }

    // Shows the dialog for opening a file and waits until it closes.
    void ShowOpen();
    // The filter in the toolkit's form: "Pictures (*.bmp;*.ico) (*.bmp *.ico)" and the like,
    // entries separated by ";;".
    static std::string ToolkitFilter(const std::string &filter);

private:
    std::string name_;
    std::string filter_;
    std::string initDir_;
    std::string fileName_;
};

} // namespace platform
