#include "PictureBox.h"

#include <QPainter>

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
    const QRect outer = rect().adjusted(0, 0, -1, -1);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawRect(outer);
    painter.setPen(palette().color(QPalette::Window));
    painter.drawRect(outer.adjusted(1, 1, -1, -1));
}
