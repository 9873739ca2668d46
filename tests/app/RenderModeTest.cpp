#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "setup/SetupModel.h"

namespace orvek::app {
namespace {

struct RunResult {
    int status = -1;
    QString errors;
};

/// Runs the application as a user would, on a machine without a display.
RunResult runApplication(const QString& program, const QStringList& arguments) {
    QProcess process;
    auto environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    if (process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardError())};
}

QString setupProgram() {
    return QStringLiteral(ORVEK_SETUP_PROGRAM);
}

struct ScreenRow {
    const char* screen;
    QStringList size;
    QSize expected; // empty: the alert's own size
};

class RenderModeScreens : public ::testing::TestWithParam<ScreenRow> {};

TEST_P(RenderModeScreens, DrawsTheScreenIntoAPngOfTheRequestedSize) {
    const auto& row = GetParam();
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString output = folder.filePath(QStringLiteral("screen.png"));
    const auto result =
        runApplication(setupProgram(),
                       QStringList{"--render", QString::fromLatin1(row.screen), output} + row.size);
    ASSERT_EQ(result.status, 0) << result.errors.toStdString();
    const QImage image(output, "PNG");
    ASSERT_FALSE(image.isNull());
    if (!row.expected.isEmpty()) {
        EXPECT_EQ(image.size(), row.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryScreen, RenderModeScreens,
    ::testing::Values(
        ScreenRow{"welcome", {}, {820, 650}}, ScreenRow{"installing", {}, {820, 650}},
        ScreenRow{"auth", {}, {820, 650}}, ScreenRow{"waitclient", {}, {820, 650}},
        ScreenRow{"cancel", {}, {820, 650}}, ScreenRow{"ready", {}, {820, 650}},
        ScreenRow{"failure", {}, {820, 650}}, ScreenRow{"failure-long", {}, {820, 650}},
        ScreenRow{"ready-long", {"--height", "480"}, {820, 480}},
        ScreenRow{"skills-autoclose", {"--width", "640"}, {640, 650}},
        ScreenRow{"skills-continue", {"--width", "wide"}, {820, 650}},
        ScreenRow{"skills", {}, {600, 620}}, ScreenRow{"skills-error", {}, {600, 620}},
        ScreenRow{"skills-ready", {"--height", "590"}, {600, 590}},
        ScreenRow{"skills-all", {"--width", "440", "--height", "420"}, {440, 420}},
        ScreenRow{"skills-busy", {"--width", "700"}, {700, 620}}, ScreenRow{"close-busy", {}, {}},
        ScreenRow{"mcp-unlisted", {}, {}}, ScreenRow{"promo-fixture", {}, {}}),
    [](const auto& info) {
        QString name = QString::fromLatin1(info.param.screen);
        return name.remove('-').toStdString();
    });

TEST(RenderMode, AFileThatCannotBeWrittenEndsWithOneLineAndNoFile) {
    for (const char* screen : {"welcome", "close-busy"}) {
        SCOPED_TRACE(screen);
        QTemporaryDir folder;
        ASSERT_TRUE(folder.isValid());
        const QString output = folder.filePath(QStringLiteral("absent/screen.png"));
        const auto result =
            runApplication(setupProgram(), {"--render", QString::fromLatin1(screen), output});
        EXPECT_EQ(result.status, 1) << "-1 would mean a crash or a hang";
        EXPECT_TRUE(result.errors.contains(QStringLiteral("Не удалось записать снимок экрана")))
            << result.errors.toStdString();
        EXPECT_FALSE(QFile::exists(output));
    }
}

TEST(RenderMode, StopsBeforeAnyWindowWhenTheResourcesAreMissing) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString program = folder.filePath(QStringLiteral("orvek-setup"));
    ASSERT_TRUE(QFile::copy(setupProgram(), program));
    const QString output = folder.filePath(QStringLiteral("screen.png"));
    const auto result = runApplication(program, {"--render", "welcome", output});
    EXPECT_EQ(result.status, 1);
    // The last line is ours; the platform may print its own notes before it.
    EXPECT_EQ(result.errors.trimmed().split('\n').last().toStdString(),
              setup::SetupModel::kMissingResourcesText);
    EXPECT_FALSE(QFile::exists(output));
}

} // namespace
} // namespace orvek::app
