#pragma once

#include <QPushButton>

namespace orvek::app {

/// The primary action: a lime button with its label in the brand font at 14 points, 46 tall.
class BrandButton : public QPushButton {
    Q_OBJECT

public:
    explicit BrandButton(const QString& text = {}, QWidget* parent = nullptr);

    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

    static constexpr int kHeight = 46;
};

} // namespace orvek::app
