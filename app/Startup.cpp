#include "app/Startup.h"

#include "app/Mainform.h"
#include "connect/Portform.h"
#include "loader/Loadsetupform.h"
#include "receiver/Rcvrportform.h"
#include "ui/Aboutform.h"
#include "ui/Helpform.h"
#include "ui/Noteform.h"
#include "ui/Waitform.h"

void CreateWindows() {
    FormMain = new TFormMain();
    FormAbout = new TFormAbout();
    FormPort = new TFormPort();
    FormRcvrPort = new TFormRcvrPort();
    FormHelp = new TFormHelp();
    FormNote = new TFormNote();
    FormWait = new TFormWait();
    FormLoadSetup = new TFormLoadSetup();
}

namespace {
template <typename T> void Destroy(T*& form) {
    T* f = form;
    form = nullptr;
    delete f;
}
} // namespace

void DestroyWindows() {
    Destroy(FormLoadSetup);
    Destroy(FormWait);
    Destroy(FormNote);
    Destroy(FormHelp);
    Destroy(FormRcvrPort);
    Destroy(FormPort);
    Destroy(FormAbout);
    Destroy(FormMain);
}
