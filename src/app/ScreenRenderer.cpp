#include "app/ScreenRenderer.h"

#include <QApplication>
#include <QBuffer>
#include <QLayout>
#include <QSaveFile>
#include <QWidget>

#include "app/Brand.h"
#include "app/MainWindow.h"
#include "app/SetupView.h"

namespace orvek::app {
namespace {

// A screen is a few hundred points a side; anything past this would only exhaust memory.
constexpr qint64 kMaxBitmapBytes = qint64{256} * 1024 * 1024;

void settle(QWidget& widget) {
    // Scroll areas show or hide their bars in queued calls once the range has changed, and the
    // room a bar takes changes the layout again: two rounds reach the final frame.
    for (int round = 0; round < 2; ++round) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        if (auto* layout = widget.layout())
            layout->activate();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
}

} // namespace

RenderOutcome ScreenRenderer::render(QWidget& view, QSize size, const QString& path) {
    if (path.isEmpty())
        return {kNotWritten, QStringLiteral("Не указан файл для снимка экрана.")};
    if (size.isEmpty() || qint64{size.width()} * size.height() * 4 > kMaxBitmapBytes)
        return {kNoBitmap, QStringLiteral("Не удалось нарисовать экран размером %1 на %2 точек.")
                               .arg(size.width())
                               .arg(size.height())};

    // The drawn frame is the one asked for, even below the size the window allows.
    QWidget* window = view.window();
    view.setMinimumSize(0, 0);
    if (window != &view) {
        window->setMinimumSize(0, 0);
        window->resize(window->size() - view.size() + size);
    }
    view.resize(size);
    settle(*window);
    settle(view);

    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return {kNoBitmap, QStringLiteral("Не удалось нарисовать экран размером %1 на %2 точек.")
                               .arg(size.width())
                               .arg(size.height())};
    image.fill(Brand::canvas());
    view.render(&image);
    return writePng(image, path);
}

RenderOutcome ScreenRenderer::renderSetupScreen(std::shared_ptr<setup::SetupModel> model,
                                                QSize size, const QString& path) {
    MainWindow window(std::move(model));
    window.setAttribute(Qt::WA_DontShowOnScreen);
    window.show();
    return render(window.setupView(), size, path);
}

RenderOutcome ScreenRenderer::writePng(const QImage& image, const QString& path) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG"))
        return {kNotWritten, QStringLiteral("Не удалось закодировать снимок экрана в PNG.")};
    QSaveFile file(path);
    // Folders that refuse new files may still allow replacing the one named.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return {kNotWritten, QStringLiteral("Не удалось записать снимок экрана в %1: %2")
                                 .arg(path, file.errorString())};
    return {};
}

} // namespace orvek::app
