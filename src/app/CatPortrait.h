#pragma once

#include <QPixmap>
#include <QWidget>

namespace orvek::app {

/// The brand art, scaled to fit and kept square; draws nothing when the art is missing.
class CatPortrait : public QWidget {
    Q_OBJECT

public:
    explicit CatPortrait(int side = 220, QWidget* parent = nullptr);

    void setSide(int side);
    [[nodiscard]] bool hasArt() const noexcept { return !m_art.isNull(); }

    static constexpr const char* kAccessibleName = "Кот Орвека с розовой лапкой";
    /// The picture in words for those who cannot see it; it carries no instructions.
    static constexpr const char* kAccessibleDescription =
        "Иллюстрация: чёрный кот на салатовом круге машет розовой лапкой.";

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_art;
};

} // namespace orvek::app
