#include "app/ScreenRenderer.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

#include "AppModelFixture.h"
#include "app/MainWindow.h"
#include "app/SetupView.h"
#include "app/SkillsView.h"

namespace orvek::app {
namespace {

class ScreenRendererTest : public ::testing::Test, protected test::AppModelFixture {
protected:
    void SetUp() override { ASSERT_TRUE(folder.isValid()); }

    QString file(const char* name) const { return folder.filePath(QString::fromLatin1(name)); }

    QTemporaryDir folder;
};

TEST_F(ScreenRendererTest, DrawsTheSetupScreenAtTheSizeAsked) {
    for (const QSize size : {QSize(820, 650), QSize(700, 620), QSize(300, 200)}) {
        SCOPED_TRACE(QStringLiteral("%1x%2").arg(size.width()).arg(size.height()).toStdString());
        const auto outcome = ScreenRenderer::renderSetupScreen(model, size, file("screen.png"));
        ASSERT_TRUE(outcome.succeeded()) << outcome.message.toStdString();
        const QImage image(file("screen.png"), "PNG");
        EXPECT_EQ(image.size(), size);
    }
}

TEST_F(ScreenRendererTest, ReplacesAnExistingFile) {
    QFile old(file("screen.png"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(100000, 'x'));
    old.close();
    ASSERT_TRUE(
        ScreenRenderer::renderSetupScreen(model, {500, 420}, file("screen.png")).succeeded());
    EXPECT_EQ(QImage(file("screen.png"), "PNG").size(), QSize(500, 420));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{"screen.png"});
}

TEST_F(ScreenRendererTest, ReportsWhatCouldNotBeDoneWithoutWritingAnything) {
    ASSERT_TRUE(QDir(folder.path()).mkdir("taken"));
    struct Row {
        const char* name;
        QString path;
        QSize size;
        int status;
    };
    const Row rows[] = {
        {"no file named", QString(), {820, 650}, ScreenRenderer::kNotWritten},
        {"missing folder", file("absent/screen.png"), {820, 650}, ScreenRenderer::kNotWritten},
        {"a folder in the way", file("taken"), {820, 650}, ScreenRenderer::kNotWritten},
        {"no bitmap that large", file("huge.png"), {100000, 100000}, ScreenRenderer::kNoBitmap},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto outcome = ScreenRenderer::renderSetupScreen(model, row.size, row.path);
        EXPECT_EQ(outcome.status, row.status);
        EXPECT_FALSE(outcome.message.isEmpty());
        EXPECT_FALSE(outcome.message.contains('\n')) << "one line for the terminal";
    }
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{});
}

TEST_F(ScreenRendererTest, DrawsTheModelsCurrentState) {
    model->setReady(true);
    MainWindow window(model);
    window.show();
    ASSERT_TRUE(ScreenRenderer::render(window.setupView(), {820, 650}, file("a.png")).succeeded());
    model->setReady(false);
    ASSERT_TRUE(ScreenRenderer::render(window.setupView(), {820, 650}, file("b.png")).succeeded());
    EXPECT_NE(QImage(file("a.png")), QImage(file("b.png")));
}

TEST_F(ScreenRendererTest, DrawsTheScrollBarOfAScreenDrawnSmallerThanItsContent) {
    for (const bool skills : {false, true}) {
        SCOPED_TRACE(skills ? "skills screen" : "setup screen");
        MainWindow window(model);
        QAbstractScrollArea* view = &window.setupView();
        if (skills)
            view = &window.showSkillsScreen();
        window.show();
        ASSERT_TRUE(ScreenRenderer::render(*view, {820, 650}, file("wide.png")).succeeded());
        EXPECT_FALSE(view->verticalScrollBar()->isVisible());
        // Shrunk from a size at which everything fitted: the bar shows in the same frame.
        ASSERT_TRUE(ScreenRenderer::render(*view, {440, 420}, file("small.png")).succeeded());
        EXPECT_TRUE(view->verticalScrollBar()->isVisible());
        EXPECT_EQ(QImage(file("small.png")).size(), QSize(440, 420));
    }
}

} // namespace
} // namespace orvek::app
