#pragma once

#include <QPushButton>

namespace orvek::app {

/// A secondary action: white with a 1-point outline, label in the brand font at 13 points,
/// 42 tall.
class BrandSecondaryButton : public QPushButton {
    Q_OBJECT

public:
    explicit BrandSecondaryButton(const QString& text = {}, QWidget* parent = nullptr);

    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

    static constexpr int kHeight = 42;
};

} // namespace orvek::app
