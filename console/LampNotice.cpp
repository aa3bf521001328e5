#include "LampNotice.h"

#include <QAccessible>
#include <QApplication>

LampNotice::LampNotice(QWidget* window, QWidget* picture) : QWidget(window), picture_(picture) {
    setGeometry(0, 0, 0, 0);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    // Hidden until the first lamp state: the window shows no empty
    // notification as it opens.
    setVisible(false);
    // Queued: Qt tells assistive technology where the focus went only after
    // it has reported the move to its own listeners.
    connect(
        qApp, &QApplication::focusChanged, this,
        [this](QWidget* from, QWidget*) { FocusMoved(from); }, Qt::QueuedConnection);
}

void LampNotice::Tell(const char* words) {
    const QString text = QString::fromUtf8(words);
    if (picture_->hasFocus()) {
        heldDescription_ = text;
    } else {
        heldDescription_.clear();
        picture_->setAccessibleDescription(text);
    }
    setAccessibleName(text);
    if (isHidden()) {
        setVisible(true); // Qt sends the show event itself
    } else if (QAccessible::isActive()) {
        QAccessibleEvent shown(this, QAccessible::ObjectShow);
        QAccessible::updateAccessibility(&shown);
    }
}

void LampNotice::FocusMoved(QWidget* from) {
    if (from == picture_ && !heldDescription_.isNull() && !picture_->hasFocus()) {
        picture_->setAccessibleDescription(heldDescription_);
        heldDescription_.clear();
    }
}
