#include "CommonDialog.h"

#include "SeamState.h"
#include "Toolkit.h"

#include <QApplication>
#include <QFileDialog>
#include <QStringList>

namespace platform {

std::string CommonDialog::ToolkitFilter(const std::string &filter)
{
    const QStringList parts = QString::fromStdString(filter).split('|');
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList masks = parts[i + 1].split(';', Qt::SkipEmptyParts);
        for (QString &mask : masks)
            mask = mask.trimmed();
        // The toolkit reads the masks, separated by blanks, from the last parentheses of an
        // entry; with the details hidden it shows only what stands before them.
        entries << parts[i] + " (" + masks.join(' ') + ")";
    }
    return entries.join(";;").toStdString();
}

void Configure(const CommonDialog &control, QFileDialog &dialog)
{
    dialog.setObjectName(QString::fromStdString(control.Name()));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The toolkit's own dialog, so that each entry reads as the program names it while the
    // masks behind it are the toolkit's.
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(
        QString::fromStdString(CommonDialog::ToolkitFilter(control.Filter())).split(";;"));
    dialog.setDirectory(QString::fromStdString(control.InitDir()));
    if (!control.FileName().empty())
        dialog.selectFile(QString::fromStdString(control.FileName()));
}

void CommonDialog::ShowOpen()
{
    if (const std::optional<std::string> answer = seams::detail::TakeFileDialogAnswer(*this)) {
        if (!answer->empty())
            fileName_ = *answer;
        return;
    }
    QFileDialog dialog(QApplication::activeWindow());
    Configure(*this, dialog);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        fileName_ = dialog.selectedFiles().constFirst().toStdString();
}

} // namespace platform
