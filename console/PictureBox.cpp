#include "PictureBox.h"

#include <QPainter>
#include <QPen>

PictureBox::PictureBox(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    setFocusPolicy(Qt::TabFocus);
}

void PictureBox::SetPicture(const QPixmap& picture) {
    picture_ = picture;
    update(contentsRect());
}

void PictureBox::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QRect inner = contentsRect();
    painter.setClipRect(inner);
    painter.drawPixmap(inner.topLeft(), picture_);
    if (hasFocus()) {
        PaintFocusFrame(painter);
    }
}

// While the box has the focus, its 2-pixel border becomes a frame of two
// lines: outside in the window's text colour, which stands out from the
// window around it, inside in the window's colour, which stands out from the
// first line. The picture is not covered.
void PictureBox::PaintFocusFrame(QPainter& painter) const {
    painter.setClipping(false);
    painter.setBrush(Qt::NoBrush);
    // Each line along the middle of its ring of pixels, alike on every side
    // under any scale.
    const auto ring = [this, &painter](QPalette::ColorRole colour, double inset) {
        painter.setPen(
            QPen(palette().color(colour), 1, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        painter.drawRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset));
    };
    ring(QPalette::WindowText, 0.5);
    ring(QPalette::Window, 1.5);
}
