#pragma once
// The program's windows' controls as tests reach them, on every system: a note or message
// box answered as soon as it is up, a child by its name, and the Receiver Setup dialog's controls.

#include "receiver/Rcvrportform.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include <cstdint>
#include <vector>

// Answers every modal note or message box as soon as it is up, keeping its text.
class NoteCatcher {
public:
    NoteCatcher() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr)
                return;
            const QLabel* label = dialog->findChild<QLabel*>("Label");
            if (auto* box = qobject_cast<QMessageBox*>(dialog))
                texts.push_back(box->text());
            else
                texts.push_back(label != nullptr ? label->text() : QString());
            dialog->accept();
        });
        timer_.start();
    }
    std::vector<QString> texts;

private:
    QTimer timer_;
};

template <typename T> T* Child(QWidget* form, const char* name) {
    return form->findChild<T*>(QString::fromLatin1(name));
}

// The Receiver Setup dialog's controls.
struct SetupControls {
    QComboBox* baud = Child<QComboBox>(FormRcvrPort, "ComboBoxBaudRate");
    QComboBox* nav = Child<QComboBox>(FormRcvrPort, "ComboBoxNavRate");
    QToolButton* gga = Child<QToolButton>(FormRcvrPort, "ButtonGGA");
    QToolButton* gsa = Child<QToolButton>(FormRcvrPort, "ButtonGSA");
    QToolButton* zda = Child<QToolButton>(FormRcvrPort, "ButtonZDA");
    QToolButton* vtg = Child<QToolButton>(FormRcvrPort, "ButtonVTG");
    QToolButton* rmc = Child<QToolButton>(FormRcvrPort, "ButtonRMC");
    QToolButton* waasOn = Child<QToolButton>(FormRcvrPort, "ButtonWAASON");
    QToolButton* waasOff = Child<QToolButton>(FormRcvrPort, "ButtonWAASOFF");
    QToolButton* corrOn = Child<QToolButton>(FormRcvrPort, "ButtonCorrectionsOn");
    QToolButton* corrOff = Child<QToolButton>(FormRcvrPort, "ButtonCorrectionsOff");
    QToolButton* dflt = Child<QToolButton>(FormRcvrPort, "ButtonDflt");
    QToolButton* alt = Child<QToolButton>(FormRcvrPort, "ButtonAlt");
    QLineEdit* freq = Child<QLineEdit>(FormRcvrPort, "EditChannelNum");
    QPushButton* ok = Child<QPushButton>(FormRcvrPort, "ButtonOK");
    QPushButton* apply = Child<QPushButton>(FormRcvrPort, "ButtonApply");
    QPushButton* request = Child<QPushButton>(FormRcvrPort, "ButtonRequest");

    // The NMEA toggles that are down, as a flag word (GGA the lowest bit, then GSA, ZDA,
    // VTG and RMC).
    std::uint32_t Nmea() const {
        std::uint32_t f = 0;
        const QToolButton* const b[] = {gga, gsa, zda, vtg, rmc};
        for (int i = 0; i < 5; ++i)
            if (b[i]->isChecked())
                f |= 1u << i;
        return f;
    }
    // Sets the NMEA toggles to a flag word.
    void SetNmea(std::uint32_t f) {
        QToolButton* const b[] = {gga, gsa, zda, vtg, rmc};
        for (int i = 0; i < 5; ++i)
            b[i]->setChecked((f >> i) & 1u);
    }
};
