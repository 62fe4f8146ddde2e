#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <exception>

#include "BusyDisplay.h"
#include "MainWin.h"
#include "QtDialogs.h"
#include "Translation.h"
#include "WorkWin.h"

// The one thing that differs between the platforms: the serial services behind
// the window.
#ifdef _WIN32
#include <windows.h>

#include "Win32SerialServices.h"
using PlatformSerialServices = Win32SerialServices;
#else
#include "PosixSerialServices.h"
using PlatformSerialServices = PosixSerialServices;
#endif

namespace {

// The standard display of an exception's message: a modal error box captioned
// with the application's name, which takes input also when the exception left
// an operation.
void ShowException(const std::exception& error) {
    const busydisplay::DialogLoop loop;
    QMessageBox::critical(nullptr, QCoreApplication::applicationName(),
                          QString::fromLocal8Bit(error.what()));
}

// No exception may cross Qt's event loop; one that leaves an event handler is
// shown here and the program goes on.
class ZantorApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& error) {
            ShowException(error);
        }
        return false;
    }
};

#ifdef _WIN32
// Under Wine, Qt's GDI font engine leaves the text of line edits undrawn; its
// FreeType engine, built in, draws every text. Windows keeps Qt's default.
void ChooseFontEngine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "windows:fontengine=freetype");
    }
}
#else
void ChooseFontEngine() {}
#endif

}  // namespace

int main(int /*argc*/, char* argv[]) {
    // The program takes nothing from its command line, and neither does Qt: only
    // the program's own name reaches it, so that options such as -reverse or
    // -style change nothing. The platform is chosen through QT_QPA_PLATFORM as
    // usual.
    ChooseFontEngine();
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    ZantorApplication app(qtArgc, qtArgv);
    // Message captions carry the executable's file name without its extension
    // (normally Zantor_Cfg), taken from the running file rather than from argv[0].
    const QString name = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    QCoreApplication::setApplicationName(name.isEmpty() ? QStringLiteral("Zantor_Cfg") : name);
    translation::Install(app, translation::UserLanguage());
    try {
        PlatformSerialServices services;
        QtDialogs dialogs;
        TMainWin mainWin(services, dialogs);
        TWorkWin workWin;
        mainWin.SetWorkWin(workWin);
        mainWin.show();
        QApplication::exec();
    } catch (const std::exception& error) {
        ShowException(error);
    }
    return 0;
}
