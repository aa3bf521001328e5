// The console window: seven buttons, the picture of the traffic light and the
// 10 ms timer that keeps the picture in step with the board.
//
// The console has no mode variable: whether it is stopped, autonomous or
// manual shows only in which buttons are visible.
#pragma once

#include "Module1_Velantro.h"
#include "PictureLoader.h"

#include <QWidget>
#include <string>

class Dispatch;
class LampNotice;
class PictureBox;
class QTimer;
class WrapButton;

class Form1 : public QWidget {
    Q_OBJECT
public:
    // Creates the window and its controls with their initial properties; the
    // timer runs from here on. The window is not shown. Every handler runs
    // through dispatch. now is the monotonic clock that times failing picture
    // reads.
    explicit Form1(Dispatch& dispatch, QWidget* parent = nullptr,
                   PictureLoader::Now now = PictureLoader::Clock::now);

    // Runs the load handler through the dispatch layer. Returns false when it
    // failed; the report has then been given and the window must not be shown.
    bool Load();

    WrapButton* const Command1; // "FUNCIONAMIENTO AUTONOMO   "
    WrapButton* const Command2; // "FUNCIONAMIENTO MANUAL (Controlado por odenador)"
    PictureBox* const Picture1;
    WrapButton* const Command3; // "ROJO"
    WrapButton* const Command4; // "AMBAR"
    WrapButton* const Command5; // "VERDE"
    WrapButton* const Command6; // "SALIR"
    WrapButton* const Command7; // "PARAR"
    QTimer* const Timer1;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click();
    void Command7_Click();
    void Timer1_Timer();

    void Place(QWidget* control, int left, int top, int width, int height);
    void Bind(WrapButton* button, void (Form1::*handler)());

    Dispatch& dispatch_;
    // Scratch storage a tick reuses, so that a tick allocates nothing once
    // the picture is steady.
    std::string tickPath_;
    // Where the picture on show came from, and how long loading has failed.
    PictureLoader pictures_;
    // The lamp state whose picture is on show, as assistive technology was
    // last told; None while the start-up picture is on show.
    Module1_Velantro::LampReport lampOnShow_ = Module1_Velantro::LampReport::None;
    // How assistive technology hears of a new lamp state.
    LampNotice* const lampNotice_;
};
