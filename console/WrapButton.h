#pragma once

#include <QFont>
#include <QPushButton>

// A push button whose caption is centred and wraps at whole words onto further
// lines where it is wider than the button; QPushButton itself draws one line
// only. A caption that, wrapped, would not fit inside the button at the
// button's font is drawn in the same font at the largest size at which it
// fits: the desktop's font may be far bigger than the one the fixed layout
// was drawn for.
//
// The focus shows whenever the button has it, from the start as well as after
// Tab, as a frame in the caption's colour along the button's edge. Return and
// Enter press the button as Space does; it is never a default button, and
// Escape does nothing.
class WrapButton : public QPushButton {
    Q_OBJECT
public:
    WrapButton(const QString& caption, QWidget* parent);

    // Where the caption is drawn: the style's room for it, clear of the focus
    // frame.
    QRect CaptionArea() const;
    // The font the caption is drawn in.
    QFont CaptionFont() const;
    // How the caption is laid out in its area.
    static constexpr int CaptionFlags = Qt::AlignCenter | Qt::TextWordWrap;
    // The focus frame's width in pixels.
    static constexpr int FocusWidth = 2;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void PassOn(QKeyEvent* event);

    // The last fitted font and what it was fitted for: painting again, as on
    // every hover or press, does not measure the caption again.
    mutable QFont fittedFor_;
    mutable QString fittedText_;
    mutable QSize fittedArea_;
    mutable QFont fitted_;
};
