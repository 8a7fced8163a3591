#include "ui/Fontutils.h"

#ifdef _WIN32
#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <windows.h>
#endif

bool RunningUnderWine() {
#ifdef _WIN32
    // Wine's ntdll exports its version; no Windows does.
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

void UseReadableFont() {
#ifdef _WIN32
    if (!RunningUnderWine()) {
        return;
    }
    const int regular = QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/DejaVuSans.ttf"));
    QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/DejaVuSans-Bold.ttf"));
    const QStringList families = QFontDatabase::applicationFontFamilies(regular);
    if (families.isEmpty()) {
        return;
    }
    QFont font = QApplication::font();
    font.setFamilies(families);
    QApplication::setFont(font);
#endif
}
