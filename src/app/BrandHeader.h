#pragma once

#include <QString>
#include <QWidget>

class QLabel;

namespace orvek::app {

/// The header row of every screen: the brand mark, the caption and the service's web domain.
class BrandHeader : public QWidget {
    Q_OBJECT

public:
    explicit BrandHeader(QWidget* parent = nullptr);
    BrandHeader(const QString& caption, QWidget* parent = nullptr);

    [[nodiscard]] QString caption() const;

    static constexpr const char* kDefaultCaption = "ОРВЕК ДЛЯ MAC";

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* m_caption = nullptr;
};

} // namespace orvek::app
