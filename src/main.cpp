#include "application.h"
#include "tamberlo.h"

#include <QApplication>
#include <QStringList>

#include <iostream>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    setUpApplication();
    Tamberlo window;

    // arguments() decodes file names as the platform does and no longer holds
    // the options the toolkit consumed.
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() > 2) {
        std::cout << "At most one path to watch per app instance!" << std::endl;
        return 1;
    }
    if (arguments.size() == 2)
        window.setWatchedPath(arguments.at(1));

    window.show();
    return app.exec();
}
