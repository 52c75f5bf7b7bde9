#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "app/CTovrikApp.h"
#include "app/CTovrikIcon.h"
#include "framework/qt/CQtFrameworkServices.h"
#include "net/CUDPSocket.h"
#include "ui/Resource.h"

// Built in this order and destroyed in the reverse one: the endpoint closes
// (its network-event thread stopped) before the application object goes.
CTovrikApp theApp;
CUDPSocket theUDPSocket;

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    // The window speaks Simplified Chinese whatever the locale; so do the
    // toolkit's own dialogs where its translation is installed.
    QTranslator translator;
    if (translator.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        application.installTranslator(&translator);
    QApplication::setWindowIcon(CTovrikIcon::Icon());
    CQtFrameworkServices services;
    services.SetIconResource(IDR_MAINFRAME, CTovrikIcon::Icon());
    theApp.InitInstance(services);
    return theApp.WindowRan() ? 0 : 1;
}
