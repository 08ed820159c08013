#include "app/MainWindow.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    MainWindow::prepareApplication();
    QApplication app(argc, argv);
    // Lets the desktop match the window to chromaduct.desktop and its icon.
    QApplication::setDesktopFileName(QStringLiteral("chromaduct"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("chromaduct")));

    // The window goes before the application object, in reverse order of creation.
    MainWindow window;
    window.show();
    return app.exec();
}
