#pragma once

#include <QPushButton>

// A push button whose caption is centred and wraps onto further lines where it
// is wider than the button; QPushButton itself draws one line only.
class WrapButton : public QPushButton {
    Q_OBJECT
public:
    WrapButton(const QString& caption, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};
