#include "app/QtFolderPanel.h"

#include <filesystem>
#include <functional>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include "setup/SetupModel.h"

namespace orvek::app {
namespace {

using setup::SetupModel;

setup::FolderPanelRequest alternateFolderRequest() {
    return {SetupModel::kAlternateFolderTitle, SetupModel::kAlternateFolderMessage,
            SetupModel::kAlternateFolderConfirm};
}

TEST(QtFolderPanel, BuildsAModalDialogForOneFolderThatShowsTheWholeRequest) {
    QWidget window;
    const auto dialog = QtFolderPanel::buildDialog(alternateFolderRequest(), &window);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->parentWidget(), &window);
    EXPECT_EQ(dialog->windowTitle(), "Другая рабочая папка");
    EXPECT_EQ(dialog->labelText(QFileDialog::Accept), "Создать новую папку");
    EXPECT_EQ(dialog->labelText(QFileDialog::Reject), "Отмена");
    EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
    EXPECT_TRUE(dialog->testOption(QFileDialog::ShowDirsOnly));
    EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog))
        << "the system's panel would drop the message";
    EXPECT_TRUE(dialog->isModal());

    // The message is a line of its own above the folders.
    dialog->show();
    const auto* message = dialog->findChild<QLabel*>("folderPanelMessage");
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(
        message->text(),
        "В выбранной папке будет создана новая папка Орвека. Существующие файлы останутся на месте.");
    EXPECT_TRUE(message->isVisible());
    const auto* lookIn = dialog->findChild<QWidget*>("lookInCombo");
    ASSERT_NE(lookIn, nullptr);
    EXPECT_TRUE(lookIn->isVisible());
    const auto* fileType = dialog->findChild<QWidget*>("fileTypeCombo");
    ASSERT_NE(fileType, nullptr);
    EXPECT_FALSE(fileType->isVisible()) << "a folder has no file type to choose";
    EXPECT_LE(message->mapTo(dialog.get(), QPoint(0, message->height())).y(),
              lookIn->mapTo(dialog.get(), QPoint()).y());
    dialog->hide();
}

// Answers the next modal file dialog with `answer` once it is up.
void answerDialog(std::function<void(QFileDialog&)> answer, QWidget** parentSeen = nullptr) {
    QTimer::singleShot(0, [answer = std::move(answer), parentSeen] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        if (parentSeen)
            *parentSeen = dialog->parentWidget();
        answer(*dialog);
    });
}

TEST(QtFolderPanel, ReturnsTheChosenFolderOrNothingWhenCancelled) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    ASSERT_TRUE(QDir(home.path()).mkpath(QStringLiteral("Проекты")));
    const QString chosen = home.filePath(QStringLiteral("Проекты"));
    QWidget window;
    window.show();
    QtFolderPanel panel(&window);

    QWidget* parentSeen = nullptr;
    answerDialog(
        [&](QFileDialog& dialog) {
            dialog.setDirectory(chosen);
            static_cast<QDialog&>(dialog).accept();
        },
        &parentSeen);
    const auto folder = panel.chooseFolder(alternateFolderRequest());
    ASSERT_TRUE(folder.has_value());
    EXPECT_EQ(*folder, QFileInfo(chosen).filesystemAbsoluteFilePath());
    EXPECT_EQ(folder->filename(), std::filesystem::path(u8"Проекты"));
    EXPECT_EQ(parentSeen, &window);

    answerDialog([](QFileDialog& dialog) { dialog.reject(); });
    EXPECT_FALSE(panel.chooseFolder(alternateFolderRequest()).has_value());
}

TEST(QtFolderPanel, OpensOverTheModalWindowInFront) {
    QWidget window;
    window.show();
    QWidget sheet(&window, Qt::Sheet);
    sheet.setWindowModality(Qt::WindowModal);
    sheet.show();
    ASSERT_EQ(QApplication::activeModalWidget(), &sheet);
    QtFolderPanel panel(&window);
    QWidget* parentSeen = nullptr;
    answerDialog([](QFileDialog& dialog) { dialog.reject(); }, &parentSeen);
    EXPECT_FALSE(panel.chooseFolder(alternateFolderRequest()).has_value());
    EXPECT_EQ(parentSeen, &sheet);
}

} // namespace
} // namespace orvek::app
