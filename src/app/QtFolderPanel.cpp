#include "app/QtFolderPanel.h"

#include <algorithm>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>

namespace orvek::app {
namespace {

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Qt's dialog has no message line: the message goes into a row of its own above the others.
// Without the grid it is built on, the message stands in for the "look in" caption instead.
void addMessage(QFileDialog& dialog, const QString& message) {
    auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
    if (grid == nullptr) {
        dialog.setLabelText(QFileDialog::LookIn, message);
        return;
    }
    struct Placed {
        QLayoutItem* item;
        int row, column, rowSpan, columnSpan;
    };
    std::vector<Placed> placed;
    for (int i = grid->count() - 1; i >= 0; --i) {
        Placed entry{};
        grid->getItemPosition(i, &entry.row, &entry.column, &entry.rowSpan, &entry.columnSpan);
        entry.item = grid->takeAt(i);
        placed.push_back(entry);
    }
    // Each goes back by its position, so the order of re-adding does not matter.
    for (const auto& entry : placed) {
        if (auto* layout = entry.item->layout()) {
            grid->addLayout(layout, entry.row + 1, entry.column, entry.rowSpan, entry.columnSpan,
                            entry.item->alignment());
        } else if (auto* widget = entry.item->widget()) {
            grid->addWidget(widget, entry.row + 1, entry.column, entry.rowSpan, entry.columnSpan,
                            entry.item->alignment());
            delete entry.item;
        } else {
            grid->addItem(entry.item, entry.row + 1, entry.column, entry.rowSpan, entry.columnSpan,
                          entry.item->alignment());
        }
    }

    auto* label = new QLabel(message, &dialog);
    label->setObjectName(QStringLiteral("folderPanelMessage"));
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    grid->addWidget(label, 0, 0, 1, std::max(grid->columnCount(), 1));
}

} // namespace

QtFolderPanel::QtFolderPanel(QWidget* window) : m_window(window) {}

std::unique_ptr<QFileDialog> QtFolderPanel::buildDialog(const setup::FolderPanelRequest& request,
                                                        QWidget* parent) {
    auto dialog = std::make_unique<QFileDialog>(parent);
    dialog->setObjectName(QStringLiteral("folderPanel"));
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setModal(true);
    dialog->setDirectory(QDir::home());
    dialog->setWindowTitle(fromUtf8(request.title));
    dialog->setLabelText(QFileDialog::Accept, fromUtf8(request.confirm));
    dialog->setLabelText(QFileDialog::Reject, QStringLiteral("Отмена"));
    dialog->setLabelText(QFileDialog::LookIn, QStringLiteral("Расположение:"));
    dialog->setLabelText(QFileDialog::FileName, QStringLiteral("Папка:"));
    addMessage(*dialog, fromUtf8(request.message));
    // A folder has no file type: that row would only repeat "Directories".
    for (const char* name : {"fileTypeLabel", "fileTypeCombo"})
        if (auto* widget = dialog->findChild<QWidget*>(QString::fromLatin1(name)))
            widget->hide();
    return dialog;
}

std::optional<std::filesystem::path>
QtFolderPanel::chooseFolder(const setup::FolderPanelRequest& request) {
    // Over the skills sheet when it is up, so the dialog is not hidden behind it.
    QWidget* owner = QApplication::activeModalWidget();
    if (owner == nullptr)
        owner = m_window.data();
    const auto dialog = buildDialog(request, owner);
    if (dialog->exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog->selectedFiles();
    if (chosen.isEmpty())
        return std::nullopt;
    return QFileInfo(chosen.first()).filesystemAbsoluteFilePath();
}

} // namespace orvek::app
