#pragma once

#include <QFrame>
#include <QPixmap>

class QPainter;

// A picture box with a sunken border two pixels wide. It draws its picture
// unscaled at the top-left corner of its inner area and cuts off whatever does
// not fit; it never resizes itself to the picture. While it has the focus, a
// frame in place of its border shows it.
class PictureBox : public QFrame {
    Q_OBJECT
public:
    explicit PictureBox(QWidget* parent);

    const QPixmap& Picture() const { return picture_; }

    void SetPicture(const QPixmap& picture);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void PaintFocusFrame(QPainter& painter) const;

    QPixmap picture_;
};
