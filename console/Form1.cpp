#include "Form1.h"

#include "Dispatch.h"
#include "LampNotice.h"
#include "LampPictures.h"
#include "Module1_Velantro.h"
#include "PictureBox.h"
#include "PictureFile.h"
#include "ProgramDirectory.h"
#include "Twips.h"
#include "WrapButton.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QFile>
#include <QPointer>
#include <QTimer>
#include <tuple>

using namespace Module1_Velantro;

namespace {

// The picture shown until the first tick that loads one from disk. It is
// built into the program and never looked up on disk.
constexpr const char* BuiltInPicture = ":/velantro.gif";

// What assistive technology hears of the picture box until the board first
// reports a lamp state.
constexpr const char* StartUpPictureWords = "dibujo de arranque, aún sin el estado de la placa";

// What assistive technology is told the window, the picture box and the lamp
// notice are: a window, where a plain widget would pass for a filler, an
// image, where a frame would pass for a window frame, and a notification.
QAccessibleInterface* AccessibleRole(const QString& className, QObject* object) {
    auto* const widget = qobject_cast<QWidget*>(object);
    if (className == QLatin1String(Form1::staticMetaObject.className())) {
        return new QAccessibleWidget(widget, QAccessible::Window);
    }
    if (className == QLatin1String(PictureBox::staticMetaObject.className())) {
        return new QAccessibleWidget(widget, QAccessible::Graphic);
    }
    if (className == QLatin1String(LampNotice::staticMetaObject.className())) {
        return new QAccessibleWidget(widget, QAccessible::Notification);
    }
    return nullptr;
}

// Installed as the application starts, before any widget exists: Qt keeps the
// first interface it makes for a widget.
void InstallAccessibleRoles() {
    QAccessible::installFactory(AccessibleRole);
}
Q_COREAPP_STARTUP_FUNCTION(InstallAccessibleRoles)

} // namespace

Form1::Form1(Dispatch& dispatch, QWidget* parent, PictureLoader::Now now)
    : QWidget(parent), Command1(new WrapButton(QStringLiteral("FUNCIONAMIENTO AUTONOMO   "), this)),
      Command2(
          new WrapButton(QStringLiteral("FUNCIONAMIENTO MANUAL (Controlado por odenador)"), this)),
      Picture1(new PictureBox(this)), Command3(new WrapButton(QStringLiteral("ROJO"), this)),
      Command4(new WrapButton(QStringLiteral("AMBAR"), this)),
      Command5(new WrapButton(QStringLiteral("VERDE"), this)),
      Command6(new WrapButton(QStringLiteral("SALIR"), this)),
      Command7(new WrapButton(QStringLiteral("PARAR"), this)), Timer1(new QTimer(this)),
      dispatch_(dispatch), pictures_(std::move(now)), lampNotice_(new LampNotice(this, Picture1)) {
    setWindowTitle(QStringLiteral("VELANTRO"));
    // The client area opens exactly here; the window manager is told the
    // position was chosen by the program.
    setGeometry(TwipsToPixels(1965, logicalDpiX()), TwipsToPixels(870, logicalDpiY()),
                TwipsToPixels(8730, logicalDpiX()), TwipsToPixels(8490, logicalDpiY()));
    setAttribute(Qt::WA_Moved);

    Place(Command1, 5640, 4440, 2775, 615);
    Place(Command2, 5640, 1680, 2775, 615);
    Place(Picture1, 240, 240, 3735, 7815);
    Place(Command3, 4200, 1200, 975, 495);
    Place(Command4, 4200, 1800, 975, 495);
    Place(Command5, 4200, 2400, 975, 495);
    Place(Command6, 5760, 7440, 2655, 615);
    Place(Command7, 4200, 4440, 975, 615);

    // Focus order 0 to 7; Qt skips hidden controls on its own.
    QWidget* const order[] = {Command1, Command2, Picture1, Command3,
                              Command4, Command5, Command6, Command7};
    for (std::size_t i = 1; i < std::size(order); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }

    // What assistive technology says of each control: the captions in plain
    // words, without their trailing blanks and slips, and what each control is
    // for. The captions on screen stay as they are.
    const std::tuple<QWidget*, const char*, const char*> spoken[] = {
        {Command1, "Funcionamiento autónomo",
         "La placa enciende las lámparas por sí sola, en ciclo"},
        {Command2, "Funcionamiento manual (controlado por ordenador)",
         "La consola enciende las lámparas, una cada vez, con Rojo, Ámbar y Verde"},
        {Picture1, "Semáforo", StartUpPictureWords},
        {Command3, "Rojo", "Enciende la lámpara roja"},
        {Command4, "Ámbar", "Enciende la lámpara ámbar"},
        {Command5, "Verde", "Enciende la lámpara verde"},
        {Command6, "Salir", "Apaga todas las salidas de la placa y cierra la consola"},
        {Command7, "Parar", "Apaga todas las salidas de la placa"}};
    for (const auto& [control, name, description] : spoken) {
        control->setAccessibleName(QString::fromUtf8(name));
        control->setAccessibleDescription(QString::fromUtf8(description));
    }

    for (WrapButton* hidden : {Command3, Command4, Command5, Command7}) {
        hidden->setVisible(false);
    }

    QFile stored(QString::fromLatin1(BuiltInPicture));
    stored.open(QIODevice::ReadOnly);
    QByteArray storedBytes = stored.readAll();
    const QImage storedPicture =
        DecodePicture(BuiltInPicture, storedBytes, Picture1->contentsRect().size());
    Picture1->SetPicture(QPixmap::fromImage(storedPicture));

    Bind(Command1, &Form1::Command1_Click);
    Bind(Command2, &Form1::Command2_Click);
    Bind(Command3, &Form1::Command3_Click);
    Bind(Command4, &Form1::Command4_Click);
    Bind(Command5, &Form1::Command5_Click);
    Bind(Command6, &Form1::Command6_Click);
    Bind(Command7, &Form1::Command7_Click);
    connect(Timer1, &QTimer::timeout, this, [this] { dispatch_.Run([this] { Timer1_Timer(); }); });

    // Once the program is ending, the timer stops waking it up.
    dispatch_.OnHalt([timer = QPointer<QTimer>(Timer1)] {
        if (timer) {
            timer->stop();
        }
    });
    Timer1->start(10);
    Command1->setFocus();
}

bool Form1::Load() {
    dispatch_.Run([this] { Form_Load(); });
    return !dispatch_.Halted();
}

void Form1::Place(QWidget* control, int left, int top, int width, int height) {
    control->setGeometry(TwipsToPixels(left, logicalDpiX()), TwipsToPixels(top, logicalDpiY()),
                         TwipsToPixels(width, logicalDpiX()), TwipsToPixels(height, logicalDpiY()));
}

void Form1::Bind(WrapButton* button, void (Form1::*handler)()) {
    connect(button, &QPushButton::clicked, this,
            [this, handler] { dispatch_.Run([this, handler] { (this->*handler)(); }); });
}

void Form1::closeEvent(QCloseEvent* event) {
    // Closing runs no command and writes nothing: the board keeps the last
    // value written. The timer stops with the window.
    Timer1->stop();
    event->accept();
}

void Form1::Form_Load() {
    WriteOutputs(0);
    RedCode = 1;
    AmberCode = 2;
    GreenCode = 4;
}

// The mode commands change the buttons first and write last.
void Form1::Command1_Click() {
    Command3->setVisible(false);
    Command4->setVisible(false);
    Command5->setVisible(false);
    Command7->setVisible(true);
    WriteOutputs(AutonomousMode);
}

void Form1::Command2_Click() {
    Command3->setVisible(true);
    Command4->setVisible(true);
    Command5->setVisible(true);
    Command7->setVisible(false);
    WriteOutputs(ManualMode);
}

// A lamp command writes manual mode with its one lamp, replacing whatever lamp
// was lit before.
void Form1::Command3_Click() {
    WriteOutputs(static_cast<std::int16_t>(ManualMode + RedCode));
}

void Form1::Command4_Click() {
    WriteOutputs(static_cast<std::int16_t>(ManualMode + AmberCode));
}

void Form1::Command5_Click() {
    WriteOutputs(static_cast<std::int16_t>(ManualMode + GreenCode));
}

// Switches the board off and ends the program at once: nothing is handled
// after the write.
void Form1::Command6_Click() {
    WriteOutputs(0);
    dispatch_.End(0);
}

void Form1::Command7_Click() {
    WriteOutputs(0);
    Command7->setVisible(false);
}

// One poll of the board. For a code that reports a lamp state, the matching
// picture file in the program's directory is brought on show; a file being
// replaced may fail for a moment without ending the console.
void Form1::Timer1_Timer() {
    std::int32_t InputCode = 0;
    std::int32_t SecondCode = 0;
    std::int32_t CombinedCode = 0;
    ReadInputs(InputCode, SecondCode, CombinedCode);

    const LampReport lamp = ReportedLamp(InputCode);
    const LampShown shown = LampShownFor(lamp);
    if (shown.file == nullptr) {
        return;
    }
    JoinPath(ProgramDirectory(), shown.file, tickPath_);
    const bool replaced = pictures_.Show(tickPath_, *Picture1);
    // Assistive technology hears of a new lamp state once, when its picture
    // comes on show: never of a tick that shows the same one again, nor while
    // a file being replaced leaves the previous picture on show.
    if (replaced && lamp != lampOnShow_) {
        lampOnShow_ = lamp;
        lampNotice_->Tell(shown.words);
    }
}
