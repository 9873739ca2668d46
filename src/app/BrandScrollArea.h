#pragma once

#include <QScrollArea>

class QAbstractButton;

namespace orvek::app {

/// A screen that scrolls when the window is smaller than its content: no frame, thin brand
/// scroll bars, and Tab going straight to the controls inside.
class BrandScrollArea : public QScrollArea {
    Q_OBJECT

public:
    explicit BrandScrollArea(QWidget* parent = nullptr);

protected:
    /// Return and Enter press `button` wherever the focus is in the window, and also when a run
    /// has disabled the focused control and so left nothing focused.
    void pressOnReturn(QAbstractButton* button);
};

} // namespace orvek::app
