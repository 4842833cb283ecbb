#include "testfiles.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <memory>

// Runs the real executable: once as a plain process, and once on a virtual
// X server to look at its real window from outside, as a window manager would.
class TestEntry : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void refusesMoreThanOnePath_data();
    void refusesMoreThanOnePath();
    void realWindow_data();
    void realWindow();

private:
    struct TopLevel
    {
        Window id = 0;
        QString title;
        QSize size;
    };
    [[nodiscard]] QList<TopLevel> shownWindows() const;
    void closeWindow(Window id) const;

    QTemporaryDir m_dir;
    QString m_executable;
    QProcess m_xserver;
    QString m_display;
    Display *m_connection = nullptr;
};

void TestEntry::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // The packaging check runs these tests again on the installed program.
    m_executable = qEnvironmentVariable("TAMBERLO_EXECUTABLE", QStringLiteral(TAMBERLO_BUILT_EXECUTABLE));
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty())
        return; // realWindow() skips
    // -displayfd picks a free display and writes its number to standard output.
    m_xserver.start(xvfb,
                    {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                     QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                     QStringLiteral("1280x1024x24")});
    QVERIFY(m_xserver.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(m_xserver.canReadLine(), 20000);
    m_display = QLatin1Char(':') + QString::fromLatin1(m_xserver.readLine().trimmed());
    m_connection = XOpenDisplay(m_display.toLatin1().constData());
    QVERIFY(m_connection);
}

void TestEntry::cleanupTestCase()
{
    if (m_connection)
        XCloseDisplay(m_connection);
    if (m_xserver.state() != QProcess::NotRunning) {
        m_xserver.terminate();
        m_xserver.waitForFinished();
    }
}

void TestEntry::refusesMoreThanOnePath_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("two paths") << QStringList {QStringLiteral("a.txt"), QStringLiteral("b.txt")};
    QTest::newRow("three paths") << QStringList {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
    QTest::newRow("a toolkit option and two paths")
        << QStringList {QStringLiteral("-style"), QStringLiteral("fusion"), QStringLiteral("a"), QStringLiteral("b")};
}

void TestEntry::refusesMoreThanOnePath()
{
    QFETCH(QStringList, arguments);
    QProcess tamberlo;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    tamberlo.setProcessEnvironment(environment);
    tamberlo.start(m_executable, arguments);
    // It ends by itself: it never entered the event loop, so showed nothing.
    QVERIFY(tamberlo.waitForFinished(30000));
    QCOMPARE(tamberlo.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tamberlo.exitCode(), 1);
    QCOMPARE(tamberlo.readAllStandardOutput(), QByteArray("At most one path to watch per app instance!\n"));
}

void TestEntry::realWindow_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("title");

    const QString report = m_dir.filePath(QStringLiteral("report.txt"));
    const QString cyrillic = m_dir.filePath(QStringLiteral("Отчёт-ü.txt"));
    QTest::newRow("no path") << QStringList() << QStringLiteral("Tamberlo");
    QTest::newRow("an empty path") << QStringList {QString()} << QStringLiteral("Tamberlo");
    QTest::newRow("one path") << QStringList {report} << QStringLiteral("Tamberlo watching ") + report;
    QTest::newRow("a toolkit option and one path")
        << QStringList {QStringLiteral("-style"), QStringLiteral("fusion"), report}
        << QStringLiteral("Tamberlo watching ") + report;
    QTest::newRow("a non-ascii path") << QStringList {cyrillic} << QStringLiteral("Tamberlo watching ") + cyrillic;
}

void TestEntry::realWindow()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, title);
    if (!m_connection)
        QSKIP("needs Xvfb");
    for (const QString &argument : arguments) {
        if (argument.endsWith(QLatin1String(".txt")))
            QVERIFY(TestFiles::write(argument, "contents\n"));
    }

    QProcess tamberlo;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    environment.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    tamberlo.setProcessEnvironment(environment);
    tamberlo.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tamberlo.start(m_executable, arguments);
    QVERIFY(tamberlo.waitForStarted());

    QList<TopLevel> windows;
    QTRY_VERIFY_WITH_TIMEOUT((windows = shownWindows()).size() == 1 && windows.first().title == title, 20000);
    QCOMPARE(windows.first().size, QSize(498, 370));

    closeWindow(windows.first().id);
    QVERIFY(tamberlo.waitForFinished(20000));
    QCOMPARE(tamberlo.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tamberlo.exitCode(), 0);
    QCOMPARE(tamberlo.readAllStandardOutput(), QByteArray());
}

// The mapped top-level windows with their UTF-8 titles. Without a window
// manager they are the root window's own children.
QList<TestEntry::TopLevel> TestEntry::shownWindows() const
{
    QList<TopLevel> found;
    const Atom netWmName = XInternAtom(m_connection, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(m_connection, "UTF8_STRING", False);
    Window root = 0, parent = 0;
    Window *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(m_connection, DefaultRootWindow(m_connection), &root, &parent, &children, &count))
        return found;
    for (unsigned int i = 0; i < count; ++i) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(m_connection, children[i], &attributes) || attributes.map_state != IsViewable)
            continue;
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, left = 0;
        unsigned char *data = nullptr;
        if (XGetWindowProperty(m_connection, children[i], netWmName, 0, 1024, False, utf8, &type, &format, &items,
                               &left, &data)
                == Success
            && data) {
            found.append({children[i], QString::fromUtf8(reinterpret_cast<const char *>(data), int(items)),
                          QSize(attributes.width, attributes.height)});
            XFree(data);
        }
    }
    if (children)
        XFree(children);
    return found;
}

// What a window manager's close button sends.
void TestEntry::closeWindow(Window id) const
{
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = id;
    event.xclient.message_type = XInternAtom(m_connection, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(m_connection, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(m_connection, id, False, NoEventMask, &event);
    XFlush(m_connection);
}

QTEST_GUILESS_MAIN(TestEntry)
#include "tst_entry.moc"
