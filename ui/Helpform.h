#pragma once
// The Help window: an index of topic links and one page per topic, each a text or a
// picture, with Back and Close. It resizes itself per page; all sizes here are the
// window's outer size, frame included, as the page table gives them.

#include <QWidget>

#include <memory>
#include <utility>
#include <vector>

#include "ui/Windowrect.h"

class QLabel;

namespace Ui {
class TFormHelp;
}

class TFormHelp : public QWidget {
    Q_OBJECT
public:
    explicit TFormHelp(QWidget* parent = nullptr);
    ~TFormHelp() override;

    // Opens the window on its index page; the first call centres it over rect.
    void ShowOver(const WindowRect& rect);
    // Opens the window straight on the software-loading text, with Close and no Back.
    void ShowLoadingHelp(const WindowRect& rect);

    // Click handlers of the index links and the two buttons.
    void LabelConnectionClick();
    void Label10Click();
    void Label12Click();
    void LabelProgrammingClick();
    void LabelLoggingClick();
    void LabelNMEAGGAClick();
    void LabelNMEAGSAClick();
    void LabelNMEAVTGClick();
    void LabelNMEAZDAClick();
    void LabelNMEARMCClick();
    void LabelStatusClick();
    void ButtonBackClick();
    void ButtonCloseClick();

    // Lays the page elements and the buttons out for the window's current size.
    void FormResize();

    bool Positioned = false;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    enum class Opened { FromIndex, Direct };

    void PlaceOnce(const WindowRect& rect);
    void ShowIndex();
    void ShowPage(QWidget* element, const char* caption, Opened how = Opened::FromIndex);
    bool ShowPicture(QLabel* image);
    QList<QWidget*> PageElements() const;
    QList<QLabel*> IndexLinks() const;
    int OuterWidth() const;
    int OuterHeight() const;
    void SetOuterSize(int width, int height);
    void ShowFramed();

    std::unique_ptr<Ui::TFormHelp> ui;
    // The outer size the current page asked for (see ShowFramed).
    QSize pageOuterSize;
    // Each picture page and the resource its picture is drawn from.
    std::vector<std::pair<QLabel*, QString>> pictures;
};

extern TFormHelp* FormHelp;
