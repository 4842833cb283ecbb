#include "application.h"

#include <QApplication>
#include <QIcon>
#include <QtGlobal>

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#include <QImageReader>
#endif

static void initResources()
{
    // The resources are linked from a static library; name them so the
    // linker keeps them.
    Q_INIT_RESOURCE(tamberlo);
}

void setUpApplication()
{
    initResources();
    QCoreApplication::setApplicationVersion(QStringLiteral(TAMBERLO_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral(TAMBERLO_APP_ID));

    // Every window without an icon of its own shows Tamberlo's, wherever the
    // program was started from.
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    // Qt 6 refuses to decode pictures over 128 MB, so a valid 9000 x 9000 PNG
    // would be shown as text. 1024 MB still takes 16384 x 16384 at 32 bits a
    // pixel. QT_IMAGEIO_MAXALLOC, when set, still takes precedence.
    QImageReader::setAllocationLimit(1024);
#endif
}
