#pragma once

#include <QByteArray>
#include <QFrame>
#include <QPixmap>

// A picture box with a sunken border two pixels wide. It draws its picture
// unscaled at the top-left corner of its inner area and cuts off whatever does
// not fit; it never resizes itself to the picture.
//
// Along with the picture it keeps the bytes of the file the picture was decoded
// from, so that a caller holding the same bytes knows it would get the same
// picture again.
class PictureBox : public QFrame {
    Q_OBJECT
public:
    explicit PictureBox(QWidget* parent);

    const QPixmap& Picture() const { return picture_; }
    const QByteArray& PictureBytes() const { return bytes_; }

    // Takes the picture and its bytes; the previous bytes come back in bytes,
    // so a caller can reuse their storage.
    void SetPicture(const QPixmap& picture, QByteArray& bytes);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap picture_;
    QByteArray bytes_;
};
