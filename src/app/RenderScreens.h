#pragma once

#include <memory>

#include <QSize>
#include <QString>
#include <QStringList>

class QMessageBox;
class QWidget;

namespace orvek::setup {
class SetupModel;
}

namespace orvek::app {

/// The screens the render mode can draw, each with the fixture state it shows.
class RenderScreens {
public:
    enum class Content { setup, skills, alert };

    /// Every screen of the tables, window screens first, then the skills sheet's, then alerts.
    [[nodiscard]] static QStringList names();
    /// Which kind of screen `name` draws; unknown names draw the setup screen.
    [[nodiscard]] static Content contentFor(const QString& name);
    /// Puts `model` into the fixture state of `name`; unknown names leave it as it is.
    static void applyState(const QString& name, setup::SetupModel& model);
    /// The size a screen is drawn at when the command line gives none.
    [[nodiscard]] static QSize defaultSize(Content content);
    /// The alert screen `name`, built but not shown; null for an alert this build cannot draw.
    [[nodiscard]] static std::unique_ptr<QMessageBox> buildAlert(const QString& name,
                                                                 QWidget* parent);
};

} // namespace orvek::app
