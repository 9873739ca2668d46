#pragma once

#include <QString>
#include <QWidget>

namespace orvek::app {

/// Draws the few system symbols the screens use ("exclamationmark.circle", "checkmark.circle",
/// "clock") in the brand's line style, so they look the same on every platform.
class SymbolIcon : public QWidget {
    Q_OBJECT

public:
    explicit SymbolIcon(QWidget* parent = nullptr);

    void setSymbol(const QString& name, const QColor& color);
    [[nodiscard]] const QString& symbol() const noexcept { return m_symbol; }
    [[nodiscard]] QSize sizeHint() const override { return {20, 20}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_symbol;
    QColor m_color;
};

} // namespace orvek::app
