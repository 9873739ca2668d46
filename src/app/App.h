#pragma once

#include "app/LaunchOptions.h"

namespace orvek::app {

/// The application behind the process entry: Qt's application object, the executors, the setup
/// model and the delegate, made in that order and torn down in reverse.
class App {
public:
    /// Runs the window, or the render `options` ask for, until it ends; returns the exit code.
    /// Prints the reason and returns 1 when the wizard's files are missing.
    static int run(int& argc, char** argv, const LaunchOptions& options);
};

} // namespace orvek::app
