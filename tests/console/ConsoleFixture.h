// What the console's widget tests share: the recording port library bound in
// place of libportio.so, reports taken instead of message boxes, and clicks
// and key presses delivered through the window as a user's would be.
#pragma once

#include "Dispatch.h"
#include "Form1.h"
#include "PictureFile.h"
#include "PortLibrary.h"
#include "TestSupport.h"
#include "WrapButton.h"

#include <QStringList>
#include <QTest>
#include <chrono>
#include <memory>

class ConsoleFixture : public ReportSink {
public:
    ConsoleFixture() : port_(dir_), dispatch_(*this) {
        Module1_Velantro::BindPortLibrary(RECORDING_LIBRARY);
    }

    void Report(const QString& message) override { reports_ << message; }

    // The dispatch layer of the windows made here: reports go to Reports().
    Dispatch& Dispatcher() { return dispatch_; }
    testsupport::RecordingPort& Port() { return port_; }
    const QStringList& Reports() const { return reports_; }
    const testsupport::TempDir& Dir() const { return dir_; }

    // The monotonic clock of the windows made here stands still until a test
    // moves it on.
    void Advance(std::chrono::milliseconds step) { now_ += step; }

    // A new window through the load handler, shown and active; the traffic
    // of the start-up is cleared.
    std::unique_ptr<Form1> StartedForm() {
        auto form = std::make_unique<Form1>(dispatch_, nullptr, [this] { return now_; });
        if (form->Load()) {
            form->show();
            if (!QTest::qWaitForWindowActive(form.get())) {
                qWarning("the console window did not become active");
            }
        }
        port_.ClearTrace();
        return form;
    }

    // A click where the button is on the window: a hidden button is not hit.
    static void Click(Form1& form, QWidget* button) {
        const QPoint centre = button->mapTo(&form, button->rect().center());
        QTest::mouseClick(form.windowHandle(), Qt::LeftButton, {}, centre);
    }

    // The captions of the visible buttons, in focus order.
    static QStringList VisibleButtons(const Form1& form) {
        QStringList visible;
        for (WrapButton* button : {form.Command1, form.Command2, form.Command3, form.Command4,
                                   form.Command5, form.Command6, form.Command7}) {
            if (button->isVisible()) {
                visible << button->text();
            }
        }
        return visible;
    }

private:
    testsupport::TempDir dir_;
    testsupport::RecordingPort port_;
    QStringList reports_;
    Dispatch dispatch_;
    PictureLoader::Clock::time_point now_;
};
