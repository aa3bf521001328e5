// The seven commands through real clicks on the window: what each writes and
// how the visible buttons move between the stopped, autonomous and manual
// states.
#include "ConsoleFixture.h"
#include "ConsoleWindow.h"

#include <QTimer>

using Lines = std::vector<std::string>;
namespace captions = testsupport::captions;

namespace {

// A press of one button and what must follow: the value written (-1: nothing,
// the button is hidden) and the visible buttons afterwards.
struct Press {
    const char* button;
    int written;
    QStringList visible;
};

const QStringList Stopped{captions::Autonomo, captions::Manual, captions::Salir};
const QStringList Autonomous{captions::Autonomo, captions::Manual, captions::Salir,
                             captions::Parar};
const QStringList ManualState{captions::Autonomo, captions::Manual, captions::Rojo,
                              captions::Ambar,    captions::Verde,  captions::Salir};

WrapButton* ButtonNamed(const Form1& form, const QString& caption) {
    for (WrapButton* button : {form.Command1, form.Command2, form.Command3, form.Command4,
                               form.Command5, form.Command6, form.Command7}) {
        if (button->text() == caption) {
            return button;
        }
    }
    return nullptr;
}

} // namespace

class CommandsTest : public QObject {
    Q_OBJECT
private slots:
    void transitionTableThroughClicks();
    void transitionTableThroughTheKeyboard_data();
    void transitionTableThroughTheKeyboard();
    void exitWritesZeroLastAndNothingRunsAfterIt_data();
    void exitWritesZeroLastAndNothingRunsAfterIt();
    void aFailedWriteEndsTheCommandAtThatStep_data();
    void aFailedWriteEndsTheCommandAtThatStep();
};

// Every row of the transition table, plus presses on hidden buttons, in one
// walk from start-up. Values are checked as the exact traffic, repeats included.
// One press a line, which clang-format would pack two abreast.
// clang-format off
static const Press Walk[] = {
    {captions::Parar, -1, Stopped},
    {captions::Rojo, -1, Stopped},
    {captions::Autonomo, 16, Autonomous},
    {captions::Autonomo, 16, Autonomous},
    {captions::Verde, -1, Autonomous},
    {captions::Parar, 0, Stopped},
    {captions::Manual, 8, ManualState},
    {captions::Parar, -1, ManualState},
    {captions::Rojo, 9, ManualState},
    {captions::Verde, 12, ManualState},
    {captions::Ambar, 10, ManualState},
    {captions::Manual, 8, ManualState},
    {captions::Autonomo, 16, Autonomous},
    {captions::Manual, 8, ManualState},
    {captions::Rojo, 9, ManualState},
    {captions::Autonomo, 16, Autonomous},
    {captions::Parar, 0, Stopped},
};
// clang-format on

void CommandsTest::transitionTableThroughClicks() {
    ConsoleFixture fixture;
    auto form = fixture.StartedForm();
    // Commands read nothing; with the timer still, any read would be theirs.
    form->Timer1->stop();
    int step = 0;
    for (const Press& press : Walk) {
        ++step;
        fixture.Port().ClearTrace();
        ConsoleFixture::Click(*form, ButtonNamed(*form, press.button));
        const Lines expected = press.written < 0 ? Lines{} : testsupport::WritesOf({press.written});
        QVERIFY2(fixture.Port().Trace() == expected,
                 qPrintable(QString("step %1: %2").arg(step).arg(press.button)));
        QCOMPARE(ConsoleFixture::VisibleButtons(*form), press.visible);
    }
    QVERIFY(fixture.Reports().isEmpty());
    QVERIFY(!fixture.Dispatcher().Halted());
}

void CommandsTest::transitionTableThroughTheKeyboard_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::newRow("Space") << int(Qt::Key_Space) << Qt::KeyboardModifiers();
    QTest::newRow("Return") << int(Qt::Key_Return) << Qt::KeyboardModifiers();
    QTest::newRow("Enter") << int(Qt::Key_Enter) << Qt::KeyboardModifiers(Qt::KeypadModifier);
}

// The same walk with the keyboard only: Tab (and Shift+Tab) to the button
// from wherever the focus is, then the key that presses it. Hidden buttons
// cannot be reached; Escape on a button does nothing.
void CommandsTest::transitionTableThroughTheKeyboard() {
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    ConsoleFixture fixture;
    auto form = fixture.StartedForm();
    form->Timer1->stop();
    for (const Press& press : Walk) {
        fixture.Port().ClearTrace();
        WrapButton* target = ButtonNamed(*form, press.button);
        bool reached = QApplication::focusWidget() == target;
        for (int i = 0; i < 8 && !reached; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            reached = QApplication::focusWidget() == target;
        }
        QCOMPARE(reached, press.written >= 0);
        if (reached) {
            QTest::keyClick(target, Qt::Key_Escape);
            QVERIFY2(fixture.Port().Trace().empty(), press.button);
            QTest::keyClick(target, static_cast<Qt::Key>(key), modifiers);
        }
        const Lines expected = press.written < 0 ? Lines{} : testsupport::WritesOf({press.written});
        QVERIFY2(fixture.Port().Trace() == expected, press.button);
        QCOMPARE(ConsoleFixture::VisibleButtons(*form), press.visible);
        if (QApplication::focusWidget() == nullptr) {
            form->Command1->setFocus();
        }
    }
}

void CommandsTest::exitWritesZeroLastAndNothingRunsAfterIt_data() {
    QTest::addColumn<QStringList>("before");
    QTest::newRow("stopped") << QStringList{};
    QTest::newRow("autonomous") << QStringList{captions::Autonomo};
    QTest::newRow("manual, red lit") << QStringList{captions::Manual, captions::Rojo};
}

void CommandsTest::exitWritesZeroLastAndNothingRunsAfterIt() {
    QFETCH(QStringList, before);
    ConsoleFixture fixture;
    auto form = fixture.StartedForm();
    for (const QString& caption : before) {
        ConsoleFixture::Click(*form, ButtonNamed(*form, caption));
    }
    // Wait for at least one tick, so that the timer is known to be running.
    QTRY_VERIFY(!fixture.Port().Trace().empty());
    fixture.Port().ClearTrace();
    QVERIFY(form->Timer1->isActive());

    ConsoleFixture::Click(*form, form->Command6);
    QCOMPARE(fixture.Port().Trace(), testsupport::WritesOf({0}));
    QVERIFY(fixture.Dispatcher().Halted());
    QCOMPARE(fixture.Dispatcher().ExitStatus(), 0);

    // No tick and no click after it.
    ConsoleFixture::Click(*form, form->Command1);
    QTest::qWait(60);
    QCOMPARE(fixture.Port().Trace(), testsupport::WritesOf({0}));
    QVERIFY(!form->Timer1->isActive());
}

void CommandsTest::aFailedWriteEndsTheCommandAtThatStep_data() {
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QString>("press");
    QTest::addColumn<QString>("failOn");
    QTest::addColumn<QStringList>("traffic");
    QTest::addColumn<QStringList>("visible");
    // The mode commands have changed the buttons already; "PARAR" is still
    // visible; "SALIR" has not ended the program but the report does.
    QTest::newRow("autonomous, data")
        << QStringList{} << captions::Autonomo << "PortOut 888 16"
        << QStringList{"PortOut 890 7", "PortOut 888 16 FAIL"} << Autonomous;
    QTest::newRow("manual, control")
        << QStringList{captions::Autonomo} << captions::Manual << "PortOut 890 7 *"
        << QStringList{"PortOut 890 7 FAIL"} << ManualState;
    QTest::newRow("stop, data") << QStringList{captions::Autonomo} << captions::Parar
                                << "PortOut 888 0"
                                << QStringList{"PortOut 890 7", "PortOut 888 0 FAIL"} << Autonomous;
    QTest::newRow("lamp, data") << QStringList{captions::Manual} << captions::Verde
                                << "PortOut 888 12"
                                << QStringList{"PortOut 890 7", "PortOut 888 12 FAIL"}
                                << ManualState;
    QTest::newRow("exit, data") << QStringList{} << captions::Salir << "PortOut 888 0"
                                << QStringList{"PortOut 890 7", "PortOut 888 0 FAIL"} << Stopped;
}

void CommandsTest::aFailedWriteEndsTheCommandAtThatStep() {
    QFETCH(QStringList, before);
    QFETCH(QString, press);
    QFETCH(QString, failOn);
    QFETCH(QStringList, traffic);
    QFETCH(QStringList, visible);
    ConsoleFixture fixture;
    auto form = fixture.StartedForm();
    form->Timer1->stop();
    for (const QString& caption : before) {
        ConsoleFixture::Click(*form, ButtonNamed(*form, caption));
    }
    fixture.Port().ClearTrace();
    fixture.Port().FailOn(failOn.toStdString());

    ConsoleFixture::Click(*form, ButtonNamed(*form, press));
    Lines expected;
    for (const QString& line : traffic) {
        expected.push_back(line.toStdString());
    }
    QCOMPARE(fixture.Port().Trace(), expected);
    QCOMPARE(ConsoleFixture::VisibleButtons(*form), visible);
    QCOMPARE(fixture.Reports().size(), 1);
    QVERIFY2(fixture.Reports().front().contains("fallo simulado"),
             qPrintable(fixture.Reports().front()));
    QCOMPARE(fixture.Dispatcher().ExitStatus(), 1);

    // Nothing is handled after the report.
    fixture.Port().FailOn("");
    ConsoleFixture::Click(*form, form->Command1);
    QCOMPARE(fixture.Port().Trace(), expected);
}

QTEST_MAIN(CommandsTest)
#include "commands_test.moc"
