#include "CommonDialog.h"

#include <QApplication>
#include <QFileDialog>
#include <QStringList>

#include <deque>

namespace platform {

namespace {
std::deque<std::string> g_answers;
int g_shown = 0;
} // namespace

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

void CommonDialog::SetNextFileName(const std::string &path)
{
    g_answers.push_back(path);
}

int CommonDialog::ShownCount()
{
    return g_shown;
}

void CommonDialog::ShowOpen()
{
    ++g_shown;
    if (!g_answers.empty()) {
        fileName_ = g_answers.front();
        g_answers.pop_front();
        return;
    }
    QFileDialog dialog(QApplication::activeWindow(), QString(), QString::fromStdString(initDir_));
    dialog.setObjectName(QString::fromStdString(name_));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The toolkit's own dialog, so that each entry reads as the program names it while the
    // masks behind it are the toolkit's.
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(QString::fromStdString(ToolkitFilter(filter_)).split(";;"));
    fileName_.clear();
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        fileName_ = dialog.selectedFiles().constFirst().toStdString();
}

} // namespace platform
