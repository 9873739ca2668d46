#pragma once

#include <memory>

#include "ManualExecutor.h"
#include "setup/SetupModel.h"

namespace orvek::app::test {

/// A model whose main run and executors the test drives by hand, counting how often OpenCode
/// was opened.
struct AppModelFixture {
    AppModelFixture() {
        setup::SetupServices services;
        services.main = [](const setup::SetupServices::Progress& progress) {
            progress("Подготавливаем подключение…");
        };
        services.open = [this] { ++opened; };
        model = setup::SetupModel::create(services, mainExecutor, worker);
    }

    orvek::test::ManualExecutor mainExecutor;
    orvek::test::ManualExecutor worker;
    int opened = 0;
    std::shared_ptr<setup::SetupModel> model;
};

} // namespace orvek::app::test
