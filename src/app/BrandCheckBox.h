#pragma once

#include <QCheckBox>

namespace orvek::app {

/// A check box drawn in the brand's colours: a rounded box that fills lime with an ink tick.
class BrandCheckBox : public QCheckBox {
    Q_OBJECT

public:
    explicit BrandCheckBox(const QString& text = {}, QWidget* parent = nullptr);

    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override;

    /// Where the label starts, so a caption beneath can line up with it.
    static constexpr int kLabelIndent = 32;

protected:
    void paintEvent(QPaintEvent* event) override;
    [[nodiscard]] bool hitButton(const QPoint& position) const override;

private:
    static constexpr int kBox = 20;
};

} // namespace orvek::app
