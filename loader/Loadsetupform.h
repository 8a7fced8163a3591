#pragma once
// The Load Software dialog. For now it only receives the Configuration reports that
// the Receiver Setup dialog passes on, and does nothing with them yet.

#include <QWidget>
#include <cstdint>
#include <memory>

#include "ui/Windowrect.h"

namespace Ui {
class TFormLoadSetup;
}

class TFormLoadSetup : public QWidget {
    Q_OBJECT
public:
    explicit TFormLoadSetup(QWidget* parent = nullptr);
    ~TFormLoadSetup() override;

    // Shows the dialog modelessly; placed over rect on its first showing only.
    void ShowOver(const WindowRect& rect);
    // Report handler reached through the Receiver Setup dialog; acts on id 4 only.
    void OnConfigurationReport(const std::uint8_t* frame, int len);

private:
    std::unique_ptr<Ui::TFormLoadSetup> ui;
    bool Positioned = false;
};

extern TFormLoadSetup* FormLoadSetup;
