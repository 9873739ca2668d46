// The yardstick for the application's first frame: an empty QWidget of the application window's
// size, shown by a program that links Qt Widgets alone, ending at its first painted frame.

#include <cstdio>

#include <QApplication>
#include <QWidget>

#include "FirstPaint.h"

namespace {

// The size of the application's main window, so both frames fill as many pixels.
constexpr int kWidth = 820;
constexpr int kHeight = 650;

} // namespace

int main(int argc, char** argv) {
    qAddPreRoutine(&orvek::bench::FirstPaint::watchApplication);
    QApplication application(argc, argv);
    QWidget window;
    window.resize(kWidth, kHeight);
    window.show();
    const int status = QApplication::exec();
    std::fprintf(stderr, "the window ended without a painted frame (status %d)\n", status);
    return 3;
}
