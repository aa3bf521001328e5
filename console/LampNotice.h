// What a screen reader says of each new lamp state, wherever the operator's
// focus is.
#pragma once

#include <QString>
#include <QWidget>

// A control of the console window that nobody sees (it has no size and draws
// nothing) and that assistive technology knows as a notification: each new
// lamp state shows it anew with the lamp's words, and screen readers speak a
// notification that shows whatever has the focus. The picture box's
// description says the same words, and is what a screen reader reads of the
// box when the focus comes to it.
class LampNotice : public QWidget {
    Q_OBJECT
public:
    // picture: the box whose description carries the lamp state on show.
    LampNotice(QWidget* window, QWidget* picture);

    // Tells assistive technology of a new lamp state, once per change; words
    // as LampShownFor gives them.
    void Tell(const char* words);

private:
    void FocusMoved(QWidget* from);

    QWidget* const picture_;
    // While the box has the focus its description is held back and the
    // notification alone speaks: a screen reader would also speak the new
    // description of the object with the focus, which says the same. The
    // description comes when the focus has gone elsewhere.
    QString heldDescription_;
};
