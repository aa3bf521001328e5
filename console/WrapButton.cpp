#include "WrapButton.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QPen>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace {

// Whether text, wrapped at whole words, fits inside area in font: neither a
// line nor a word wider than the area, nor the lines taller than it.
bool Fits(const QFont& font, const QPaintDevice* device, const QString& text, const QRect& area) {
    const QRectF needed =
        QFontMetricsF(font, device).boundingRect(QRectF(area), WrapButton::CaptionFlags, text);
    return needed.width() <= area.width() && needed.height() <= area.height();
}

} // namespace

WrapButton::WrapButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {
    // No button is the window's default one: Return and Enter press the
    // button that has the focus, as Space does, and no other.
    setAutoDefault(false);
    setDefault(false);
}

QRect WrapButton::CaptionArea() const {
    QStyleOptionButton option;
    initStyleOption(&option);
    const QRect contents = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    return contents.intersected(rect().adjusted(FocusWidth, FocusWidth, -FocusWidth, -FocusWidth));
}

QFont WrapButton::CaptionFont() const {
    const QFont desktop = font();
    const QRect area = CaptionArea();
    if (desktop == fittedFor_ && text() == fittedText_ && area.size() == fittedArea_) {
        return fitted_;
    }
    // Down from the button's own size, a quarter point (or a pixel, for a
    // font given in pixels) at a time, to the first size that fits; the
    // smallest one if none does.
    const bool inPoints = desktop.pointSizeF() > 0;
    const double full = inPoints ? desktop.pointSizeF() : desktop.pixelSize();
    const double step = inPoints ? 0.25 : 1.0;
    QFont font = desktop;
    for (int steps = 1; !Fits(font, this, text(), area) && full - steps * step >= step; ++steps) {
        if (inPoints) {
            font.setPointSizeF(full - steps * step);
        } else {
            font.setPixelSize(static_cast<int>(full - steps * step));
        }
    }
    fittedFor_ = desktop;
    fittedText_ = text();
    fittedArea_ = area.size();
    fitted_ = font;
    return font;
}

void WrapButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    // The focus shows as the frame below only, alike before and after the
    // first Tab: the style itself marks it only once the keyboard moved it.
    option.state &= ~QStyle::State_HasFocus;
    painter.drawControl(QStyle::CE_PushButtonBevel, option);

    painter.setFont(CaptionFont());
    painter.drawItemText(CaptionArea(), CaptionFlags, option.palette, isEnabled(), text(),
                         QPalette::ButtonText);

    if (hasFocus()) {
        // Over the button's outline, in the caption's own colour: the theme
        // makes that readable on the button's face, and it stands out from
        // the window around the button as well, light or dark. One line, so
        // that it is as wide on every side under any scale.
        QPen line(option.palette.color(QPalette::ButtonText), FocusWidth);
        line.setJoinStyle(Qt::MiterJoin);
        painter.setPen(line);
        painter.setBrush(Qt::NoBrush);
        const double middle = FocusWidth / 2.0;
        painter.drawRect(QRectF(rect()).adjusted(middle, middle, -middle, -middle));
    }
}

void WrapButton::keyPressEvent(QKeyEvent* event) {
    PassOn(event);
}

void WrapButton::keyReleaseEvent(QKeyEvent* event) {
    PassOn(event);
}

// Return and Enter press the button as Space does: it goes down with the key
// and is clicked when the key comes up.
void WrapButton::PassOn(QKeyEvent* event) {
    QKeyEvent space(event->type(), Qt::Key_Space, event->modifiers(), QStringLiteral(" "),
                    event->isAutoRepeat(), static_cast<quint16>(event->count()));
    QKeyEvent* const passed =
        event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ? &space : event;
    if (event->type() == QEvent::KeyPress) {
        QPushButton::keyPressEvent(passed);
    } else {
        QPushButton::keyReleaseEvent(passed);
    }
    event->setAccepted(passed->isAccepted());
}
