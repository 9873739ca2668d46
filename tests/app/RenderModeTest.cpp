#include <ostream>
#include <vector>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "app/RenderScreens.h"
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
    QString screen;
    QStringList size;
    QSize expected; // empty: the alert's own size
};

// Names the row in ctest's listing and in failures, instead of its bytes.
void PrintTo(const ScreenRow& row, std::ostream* out) {
    *out << row.screen.toStdString();
}

// Screens drawn at a size of their own rather than their default one.
const std::vector<ScreenRow>& resizedScreens() {
    static const std::vector<ScreenRow> rows{
        {"ready-long", {"--height", "480"}, {820, 480}},
        {"skills-autoclose", {"--width", "640"}, {640, 650}},
        {"skills-continue", {"--width", "wide"}, {820, 650}},
        {"skills-ready", {"--height", "590"}, {600, 590}},
        {"skills-all", {"--width", "440", "--height", "420"}, {440, 420}},
        {"skills-busy", {"--width", "700"}, {700, 620}},
    };
    return rows;
}

// Every screen the render mode knows, and an MCP name it does not (drawn as the busy alert).
std::vector<ScreenRow> everyScreen() {
    std::vector<ScreenRow> rows;
    for (const auto& name : RenderScreens::names() + QStringList{"mcp-unlisted"}) {
        const auto content = RenderScreens::contentFor(name);
        ScreenRow row{name, {}, {}};
        if (content == RenderScreens::Content::setup)
            row.expected = QSize(820, 650);
        else if (content == RenderScreens::Content::skills)
            row.expected = QSize(600, 620);
        for (const auto& resized : resizedScreens()) {
            if (resized.screen == name)
                row = resized;
        }
        rows.push_back(row);
    }
    return rows;
}

class RenderModeScreens : public ::testing::TestWithParam<ScreenRow> {};

TEST_P(RenderModeScreens, DrawsTheScreenIntoAPngOfTheRequestedSize) {
    const auto& row = GetParam();
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString output = folder.filePath(QStringLiteral("screen.png"));
    const auto result =
        runApplication(setupProgram(), QStringList{"--render", row.screen, output} + row.size);
    ASSERT_EQ(result.status, 0) << result.errors.toStdString();
    const QImage image(output, "PNG");
    ASSERT_FALSE(image.isNull());
    if (!row.expected.isEmpty()) {
        EXPECT_EQ(image.size(), row.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryScreen, RenderModeScreens, ::testing::ValuesIn(everyScreen()),
                         [](const auto& info) {
                             QString name = info.param.screen;
                             return name.remove('-').toStdString();
                         });

TEST(RenderMode, EveryResizedScreenIsOneItDraws) {
    const auto names = RenderScreens::names();
    for (const auto& row : resizedScreens())
        EXPECT_TRUE(names.contains(row.screen)) << row.screen.toStdString();
}

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
