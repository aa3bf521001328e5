#pragma once

#include <QFrame>
#include <QPixmap>

// A picture box with a sunken border two pixels wide. It draws its picture
// unscaled at the top-left corner of its inner area and cuts off whatever does
// not fit; it never resizes itself to the picture.
class PictureBox : public QFrame {
    Q_OBJECT
public:
    explicit PictureBox(QWidget* parent);

    const QPixmap& Picture() const { return picture_; }

    void SetPicture(const QPixmap& picture);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap picture_;
};
