#include <QDir>
#include <QFile>
#include <QImage>
#include <QSet>
#include <QTest>
#include <QtEndian>

// What `cmake --install` put in its staging prefix, and the Windows icon.
class TestPackaging : public QObject
{
    Q_OBJECT

private slots:
    void installedFiles_data();
    void installedFiles();
    void hicolorIcons_data();
    void hicolorIcons();
    void windowsIconHoldsEverySize();
};

static QString installed(const QString &relative)
{
    return QDir(QStringLiteral(TAMBERLO_STAGE_DIR)).filePath(relative);
}

void TestPackaging::installedFiles_data()
{
    QTest::addColumn<QString>("file");
    const QString id = QStringLiteral(TAMBERLO_APP_ID);
    QTest::newRow("executable") << QStringLiteral("bin/tamberlo");
    QTest::newRow("desktop file") << QStringLiteral("share/applications/%1.desktop").arg(id);
    QTest::newRow("metainfo") << QStringLiteral("share/metainfo/%1.metainfo.xml").arg(id);
    QTest::newRow("scalable icon") << QStringLiteral("share/icons/hicolor/scalable/apps/%1.svg").arg(id);
}

void TestPackaging::installedFiles()
{
    QFETCH(QString, file);
    const QFileInfo info(installed(file));
    QVERIFY2(info.isFile() && info.size() > 0, qPrintable(info.filePath()));
    if (file.startsWith(QLatin1String("bin/")))
        QVERIFY(info.isExecutable());
}

void TestPackaging::hicolorIcons_data()
{
    QTest::addColumn<int>("size");
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        QTest::addRow("%dx%d", size, size) << size;
}

void TestPackaging::hicolorIcons()
{
    QFETCH(int, size);
    const QImage icon(installed(
        QStringLiteral("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(QStringLiteral(TAMBERLO_APP_ID))));
    QCOMPARE(icon.size(), QSize(size, size));
    QVERIFY(icon.hasAlphaChannel());
}

// The .ico directory: a 6-byte header, then 16 bytes an image.
void TestPackaging::windowsIconHoldsEverySize()
{
    QFile file(QStringLiteral(TAMBERLO_SOURCE_DIR "/icons/tamberlo.ico"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray ico = file.readAll();
    QVERIFY(ico.size() >= 6);
    const auto *data = reinterpret_cast<const uchar *>(ico.constData());
    QCOMPARE(qFromLittleEndian<quint16>(data), quint16(0));
    QCOMPARE(qFromLittleEndian<quint16>(data + 2), quint16(1)); // an icon, not a cursor
    const int count = qFromLittleEndian<quint16>(data + 4);
    QVERIFY(ico.size() >= 6 + 16 * count);

    QSet<int> sizes;
    for (int i = 0; i < count; ++i) {
        const uchar *entry = data + 6 + 16 * i;
        const int width = entry[0] == 0 ? 256 : entry[0];
        const int height = entry[1] == 0 ? 256 : entry[1];
        QCOMPARE(width, height);
        QCOMPARE(qFromLittleEndian<quint16>(entry + 6), quint16(32)); // bits a pixel
        const quint32 length = qFromLittleEndian<quint32>(entry + 8);
        const quint32 offset = qFromLittleEndian<quint32>(entry + 12);
        QVERIFY(quint64(offset) + length <= quint64(ico.size()));
        sizes.insert(width);
    }
    QCOMPARE(sizes, QSet<int>({16, 32, 48, 64, 125}));
}

QTEST_GUILESS_MAIN(TestPackaging)
#include "tst_packaging.moc"
