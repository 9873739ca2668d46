// Starts exactly as the shipped application does (the same entry steps and the same App::run,
// without a command line) and ends at the first painted frame of its window.

#include <cstdio>

#include <QCoreApplication>

#include "FirstPaint.h"
#include "app/App.h"
#include "app/LaunchOptions.h"
#include "app/OffscreenNotices.h"

int main(int, char** argv) {
    qAddPreRoutine(&orvek::bench::FirstPaint::watchApplication);
    orvek::app::silenceOffscreenNotices();
    int argc = 1;
    const int status = orvek::app::App::run(argc, argv, orvek::app::LaunchOptions{});
    std::fprintf(stderr, "the window ended without a painted frame (status %d)\n", status);
    return 3;
}
