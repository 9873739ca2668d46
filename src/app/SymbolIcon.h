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

    /// Also names the mark for assistive technology by what it means; no symbol, no name.
    void setSymbol(const QString& name, const QColor& color);
    [[nodiscard]] const QString& symbol() const noexcept { return m_symbol; }
    [[nodiscard]] QSize sizeHint() const override { return {20, 20}; }

    /// What a symbol says in words; empty for no symbol or one this icon does not draw.
    [[nodiscard]] static QString meaningOf(const QString& name);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_symbol;
    QColor m_color;
};

} // namespace orvek::app
