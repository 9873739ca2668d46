#pragma once

class QAbstractButton;
class QMessageBox;

namespace orvek::app {

/// The look every alert of the wizard shares: the brand art as its icon (when the resources
/// hold it), the canvas colour, the brand font and lime default button.
class BrandAlert {
public:
    /// Styles `box` once its texts and buttons are set.
    static void apply(QMessageBox& box);
    /// Gives a button added after `apply` the same font and keyboard behaviour.
    static void prepareButton(QAbstractButton& button);
};

} // namespace orvek::app
