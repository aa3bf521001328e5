// The window up to start-up: layout, captions, focus order, the start-up
// write and the error report.
#include "ConsoleFixture.h"
#include "ConsoleWindow.h"
#include "Module1_Velantro.h"
#include "PictureBox.h"

#include <QAbstractButton>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QMessageBox>
#include <QTimer>
#include <cmath>

using Lines = std::vector<std::string>;
namespace captions = testsupport::captions;
namespace controls = testsupport::controls;

namespace {

std::vector<WrapButton*> Buttons(const Form1& form) {
    return {form.Command1, form.Command2, form.Command3, form.Command4,
            form.Command5, form.Command6, form.Command7};
}

bool FitsIn(const QFont& font, const WrapButton& button) {
    const QRect area = button.CaptionArea();
    const QRectF needed = QFontMetricsF(font, &button)
                              .boundingRect(QRectF(area), WrapButton::CaptionFlags, button.text());
    return needed.width() <= area.width() && needed.height() <= area.height();
}

// The contrast ratio of two colours as accessibility guidelines define it,
// from 1 (the same) to 21 (black on white).
double Contrast(const QColor& one, const QColor& other) {
    const auto luminance = [](const QColor& colour) {
        const auto linear = [](double channel) {
            return channel <= 0.03928 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
               0.0722 * linear(colour.blueF());
    };
    const double a = luminance(one);
    const double b = luminance(other);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

} // namespace

class FormTest : public QObject {
    Q_OBJECT
private slots:
    void geometryAt96Dpi_data();
    void geometryAt96Dpi();
    void captionsAndButtons();
    void captionsFitWholeInTheDesktopsFont_data();
    void captionsFitWholeInTheDesktopsFont();
    void focusShowsFromTheStartAgainstWhatSurroundsIt_data();
    void focusShowsFromTheStartAgainstWhatSurroundsIt();
    void startUpWritesZeroOnceBeforeTheWindowShows();
    void aFailedStartUpShowsNoWindow();
    void tabFollowsTheFocusOrderAndSkipsHiddenButtons();
    void theBuiltInPictureIsDrawnUnscaledAndClipped();
    void anErrorInATickStopsAllHandling();
    void theReportBox();
};

void FormTest::geometryAt96Dpi_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QRect>("pixels");
    QTest::newRow("Form1") << "Form1" << controls::Window;
    QTest::newRow("Command1") << "Command1" << controls::Autonomo;
    QTest::newRow("Command2") << "Command2" << controls::Manual;
    QTest::newRow("Picture1") << "Picture1" << controls::Picture;
    QTest::newRow("Command3") << "Command3" << controls::Rojo;
    QTest::newRow("Command4") << "Command4" << controls::Ambar;
    QTest::newRow("Command5") << "Command5" << controls::Verde;
    QTest::newRow("Command6") << "Command6" << controls::Salir;
    QTest::newRow("Command7") << "Command7" << controls::Parar;
}

void FormTest::geometryAt96Dpi() {
    QFETCH(QString, control);
    QFETCH(QRect, pixels);
    ConsoleFixture fixture;
    Form1 form(fixture.Dispatcher());
    QCOMPARE(form.logicalDpiX(), 96);
    QCOMPARE(form.logicalDpiY(), 96);
    const std::map<QString, QWidget*> byName = {{"Form1", &form},
                                                {"Command1", form.Command1},
                                                {"Command2", form.Command2},
                                                {"Picture1", form.Picture1},
                                                {"Command3", form.Command3},
                                                {"Command4", form.Command4},
                                                {"Command5", form.Command5},
                                                {"Command6", form.Command6},
                                                {"Command7", form.Command7}};
    QWidget* widget = byName.at(control);
    QCOMPARE(widget->geometry(), pixels);
    // A fixed layout: no control moves or scales when the window is resized.
    form.resize(1000, 900);
    if (widget != &form) {
        QCOMPARE(widget->geometry(), pixels);
    }
}

void FormTest::captionsAndButtons() {
    ConsoleFixture fixture;
    Form1 form(fixture.Dispatcher());
    const std::pair<WrapButton*, QString> buttons[] = {
        {form.Command1, captions::Autonomo}, {form.Command2, captions::Manual},
        {form.Command3, captions::Rojo},     {form.Command4, captions::Ambar},
        {form.Command5, captions::Verde},    {form.Command6, captions::Salir},
        {form.Command7, captions::Parar}};
    for (const auto& [button, caption] : buttons) {
        QCOMPARE(button->text(), caption);
        QVERIFY(!button->isDefault());
        QVERIFY(!button->autoDefault());
        QVERIFY(button->shortcut().isEmpty());
        QVERIFY(button->isEnabled());
    }
    QCOMPARE(form.windowTitle(), QString(captions::Window));
    QCOMPARE(form.Timer1->interval(), 10);
    QVERIFY(form.Timer1->isActive());
    QCOMPARE(form.Picture1->contentsRect().size(), controls::PictureArea.size());
    QCOMPARE(form.Picture1->focusPolicy(), Qt::TabFocus);
}

void FormTest::captionsFitWholeInTheDesktopsFont_data() {
    QTest::addColumn<QFont>("desktop");
    QTest::addColumn<bool>("named"); // a family that must be installed
    QTest::newRow("Qt's default") << QFont() << false;
    QTest::newRow("Cantarell 11") << QFont("Cantarell", 11) << true;
    QTest::newRow("Cantarell 14") << QFont("Cantarell", 14) << true;
    QTest::newRow("DejaVu Sans 12") << QFont("DejaVu Sans", 12) << true;
}

// Each caption, wrapped at whole words, lies inside its button: in the
// desktop's font where it fits, else in the same family at the largest size
// at which it fits. The buttons keep their places and sizes.
void FormTest::captionsFitWholeInTheDesktopsFont() {
    QFETCH(QFont, desktop);
    QFETCH(bool, named);
    QVERIFY2(!named || QFontInfo(desktop).family() == desktop.family(),
             qPrintable(desktop.family() + " is not installed"));
    const QFont before = QApplication::font();
    QApplication::setFont(desktop);
    ConsoleFixture fixture;
    Form1 form(fixture.Dispatcher());
    QApplication::setFont(before);
    for (WrapButton* button : Buttons(form)) {
        const QFont drawn = button->CaptionFont();
        QVERIFY2(FitsIn(drawn, *button), qPrintable(button->text()));
        QVERIFY(button->rect().contains(button->CaptionArea()));
        QCOMPARE(drawn.family(), desktop.family());
        if (FitsIn(desktop, *button)) {
            QCOMPARE(drawn.pointSizeF(), desktop.pointSizeF());
        } else {
            QVERIFY2(drawn.pointSizeF() < desktop.pointSizeF(), qPrintable(button->text()));
            QFont larger = drawn;
            larger.setPointSizeF(drawn.pointSizeF() + 0.5);
            QVERIFY2(!FitsIn(larger, *button), qPrintable(button->text()));
        }
    }
    QCOMPARE(form.Command1->geometry(), controls::Autonomo);
    QCOMPARE(form.Command2->geometry(), controls::Manual);
}

void FormTest::focusShowsFromTheStartAgainstWhatSurroundsIt_data() {
    QTest::addColumn<QPalette>("theme");
    QTest::newRow("light") << QApplication::palette();
    QTest::newRow("dark") << QPalette(QColor("#323232")); // white text, as dark themes have
}

// The focus mark is there before any Tab, on the first button, and then on
// the picture box; it stands out 3:1 from the pixels on either side of it.
void FormTest::focusShowsFromTheStartAgainstWhatSurroundsIt() {
    QFETCH(QPalette, theme);
    const QPalette before = QApplication::palette();
    QApplication::setPalette(theme);
    ConsoleFixture fixture;
    auto form = fixture.StartedForm();
    form->Timer1->stop();
    const auto contrastAt = [&form](QWidget* control, QPoint mark, QPoint beside) {
        const QImage shown = form->grab().toImage();
        const QPoint origin = control->geometry().topLeft();
        return Contrast(shown.pixelColor(origin + mark), shown.pixelColor(origin + beside));
    };
    const int middle = controls::Autonomo.height() / 2;
    const QPoint edge(1, middle);
    QCOMPARE(QApplication::focusWidget(), form->Command1);
    QVERIFY(contrastAt(form->Command1, edge, QPoint(-1, middle)) >= 3);
    QVERIFY(contrastAt(form->Command1, edge, QPoint(WrapButton::FocusWidth + 1, middle)) >= 3);

    QTest::keyClick(form->Command1, Qt::Key_Tab);
    QTest::keyClick(form->Command2, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), form->Picture1);
    QVERIFY(contrastAt(form->Picture1, QPoint(0, 100), QPoint(-1, 100)) >= 3);
    QVERIFY(contrastAt(form->Picture1, QPoint(1, 100), QPoint(0, 100)) >= 3);
    // The button that lost the focus looks like one that never had it.
    const QImage shown = form->grab().toImage();
    QCOMPARE(shown.pixelColor(form->Command1->geometry().topLeft() + edge),
             shown.pixelColor(form->Command2->geometry().topLeft() + edge));
    QApplication::setPalette(before);
}

void FormTest::startUpWritesZeroOnceBeforeTheWindowShows() {
    ConsoleFixture fixture;
    Module1_Velantro::RedCode = Module1_Velantro::AmberCode = Module1_Velantro::GreenCode = 0;
    Form1 form(fixture.Dispatcher());
    QVERIFY(fixture.Port().Trace().empty());
    QVERIFY(form.Load());
    QCOMPARE(fixture.Port().Trace(), testsupport::WritesOf({0}));
    QVERIFY(!form.isVisible());
    QCOMPARE(Module1_Velantro::RedCode, 1);
    QCOMPARE(Module1_Velantro::AmberCode, 2);
    QCOMPARE(Module1_Velantro::GreenCode, 4);

    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QCOMPARE(ConsoleFixture::VisibleButtons(form),
             (QStringList{captions::Autonomo, captions::Manual, captions::Salir}));
    QVERIFY(form.Picture1->isVisible());
    QCOMPARE(QApplication::focusWidget(), form.Command1);
}

void FormTest::aFailedStartUpShowsNoWindow() {
    ConsoleFixture fixture;
    fixture.Port().FailOn("PortOut 890 7");
    Module1_Velantro::RedCode = -1;
    Form1 form(fixture.Dispatcher());
    QVERIFY(!form.Load());
    QCOMPARE(fixture.Reports().size(), 1);
    QVERIFY2(fixture.Reports().front().contains("registro 890 (control)"),
             qPrintable(fixture.Reports().front()));
    QVERIFY(fixture.Reports().front().contains("fallo simulado"));
    QCOMPARE(fixture.Dispatcher().ExitStatus(), 1);
    QCOMPARE(Module1_Velantro::RedCode, -1);
    QCOMPARE(fixture.Port().Trace(), (Lines{"PortOut 890 7 FAIL"}));
    QVERIFY(!form.Timer1->isActive());
}

void FormTest::tabFollowsTheFocusOrderAndSkipsHiddenButtons() {
    ConsoleFixture fixture;
    auto form = fixture.StartedForm();
    form->Timer1->stop();
    const auto walk = [&form](Qt::KeyboardModifiers modifiers, int steps) {
        QList<QWidget*> seen;
        for (int i = 0; i < steps; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, modifiers);
            seen << QApplication::focusWidget();
        }
        return seen;
    };
    QCOMPARE(QApplication::focusWidget(), form->Command1);
    QCOMPARE(walk(Qt::NoModifier, 4),
             (QList<QWidget*>{form->Command2, form->Picture1, form->Command6, form->Command1}));
    QCOMPARE(walk(Qt::ShiftModifier, 2), (QList<QWidget*>{form->Command6, form->Picture1}));

    // Once the lamp buttons show, they come between the picture and "SALIR".
    ConsoleFixture::Click(*form, form->Command2);
    form->Command1->setFocus();
    QCOMPARE(walk(Qt::NoModifier, 7),
             (QList<QWidget*>{form->Command2, form->Picture1, form->Command3, form->Command4,
                              form->Command5, form->Command6, form->Command1}));
}

void FormTest::theBuiltInPictureIsDrawnUnscaledAndClipped() {
    ConsoleFixture fixture;
    Form1 form(fixture.Dispatcher());
    const QImage picture = form.Picture1->Picture().toImage();
    const QImage shown = form.Picture1->grab().toImage();
    const QRect inner = form.Picture1->contentsRect();
    // Of the 246 x 520 picture, only what the inner area shows is kept.
    QCOMPARE(picture.size(), inner.size());
    QCOMPARE(inner.topLeft(), QPoint(2, 2));
    for (const QPoint& at : {QPoint(0, 0), QPoint(120, 100), QPoint(244, 516), QPoint(60, 400)}) {
        QCOMPARE(shown.pixelColor(inner.topLeft() + at), picture.pixelColor(at));
    }
    // The border is the frame's, not the picture's.
    const QColor corner = shown.pixelColor(0, 0);
    QVERIFY(corner != picture.pixelColor(0, 0) || corner != shown.pixelColor(2, 2));
}

void FormTest::anErrorInATickStopsAllHandling() {
    ConsoleFixture fixture;
    auto form = fixture.StartedForm();
    fixture.Port().FailOn("PortIn 889");
    QTRY_COMPARE(fixture.Reports().size(), 1);
    QVERIFY(fixture.Reports().front().contains("registro 889 (estado)"));
    QVERIFY(!form->Timer1->isActive());
    fixture.Port().ClearTrace();
    ConsoleFixture::Click(*form, form->Command1);
    QTest::qWait(50);
    QVERIFY(fixture.Port().Trace().empty());
    QCOMPARE(fixture.Reports().size(), 1);
    QCOMPARE(fixture.Dispatcher().ExitStatus(), 1);
}

// The box the operator gets, built but never shown: exec() would wait for a
// click.
void FormTest::theReportBox() {
    const QString message = QStringLiteral(
        "No se puede leer el registro 889 (estado) del puerto paralelo: fallo simulado");
    const auto box = MakeReportBox(message);
    QCOMPARE(box->windowTitle(), QStringLiteral("VELANTRO"));
    QCOMPARE(box->text(), message);
    QCOMPARE(box->icon(), QMessageBox::Critical);
    const QList<QAbstractButton*> buttons = box->buttons();
    QCOMPARE(buttons.size(), 1);
    QCOMPARE(buttons.front()->text(), QStringLiteral("Aceptar"));
    QCOMPARE(box->buttonRole(buttons.front()), QMessageBox::AcceptRole);
    QVERIFY(!box->isVisible());
    QCOMPARE(box->windowModality(), Qt::ApplicationModal);
}

QTEST_MAIN(FormTest)
#include "form_test.moc"
