#include "application.h"
#include "tamberlo.h"
#include "testfiles.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemWatcher>
#include <QLineEdit>
#include <QMetaMethod>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace {

QString textOf(const Tamberlo &window)
{
    return window.findChild<QPlainTextEdit *>(QStringLiteral("plainTextEdit"))->toPlainText();
}

QPlainTextEdit *editOf(const Tamberlo &window)
{
    return window.findChild<QPlainTextEdit *>(QStringLiteral("plainTextEdit"));
}

const QString notReadable = QStringLiteral("Error! File not readable!");

// Long enough for a reload that is due to have happened on a loaded machine,
// short enough to keep the suite quick: used only to show that nothing comes.
constexpr int quietMs = 700;

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void metaObjectNamesClassAndSlots();
    void titleNamesThePathAndEmptyPathsAreIgnored();
    void everyNotificationReloadsOnce200msLater();
    void connectsToTheWatcherOnce();
    void pendingReloadReadsThePathCurrentAtExpiry();
    void watchSurvivesRenameOver();
    void secondPathStopsTheFirst();
    void dialog_data();
    void dialog();
    void languageChangeResetsTheTitleAndWatchingGoesOn();
    void lostWatchIsRecovered_data();
    void lostWatchIsRecovered();
    void unrelatedChangesNearAMissingFileCauseNoReload();
    void newPathDropsTheWatchesOfTheOld();
    void manyRenamesInARowLoseNothing();
    void steadyAppendsLoseNothing();
    void drop_data();
    void drop();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString &name) const { return m_dir->filePath(name); }
};

void TestWindow::initTestCase()
{
    setUpApplication();
    // The dialog test drives Qt's own dialog; a platform dialog is out of reach.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
}

void TestWindow::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestWindow::metaObjectNamesClassAndSlots()
{
    Tamberlo window;
    const QMetaObject *meta = window.metaObject();
    QCOMPARE(meta->className(), "Tamberlo");
    QCOMPARE(meta->superClass(), &QMainWindow::staticMetaObject);
    QCOMPARE(window.qt_metacast("Tamberlo"), static_cast<void *>(&window));
    QCOMPARE(window.qt_metacast("QMainWindow"), static_cast<void *>(static_cast<QMainWindow *>(&window)));

    QStringList slotNames;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        QCOMPARE(method.methodType(), QMetaMethod::Slot);
        QCOMPARE(method.access(), QMetaMethod::Private);
        slotNames << QString::fromLatin1(method.methodSignature());
    }
    QCOMPARE(slotNames,
             QStringList({QStringLiteral("on_pushButton_clicked()"), QStringLiteral("fileChanged(QString)"),
                          QStringLiteral("updateViewWithContents()")}));
    QCOMPARE(meta->propertyCount(), meta->propertyOffset());
}

void TestWindow::titleNamesThePathAndEmptyPathsAreIgnored()
{
    Tamberlo window;
    QSignalSpy reloads(editOf(window), &QPlainTextEdit::textChanged);
    window.setWatchedPath(QString());
    QCOMPARE(window.windowTitle(), QStringLiteral("Tamberlo"));

    const QString relative = QStringLiteral("./not/normalised/../name.txt");
    window.setWatchedPath(relative);
    QCOMPARE(window.windowTitle(), QStringLiteral("Tamberlo watching ./not/normalised/../name.txt"));
    window.setWatchedPath(QString());
    QCOMPARE(window.windowTitle(), QStringLiteral("Tamberlo watching ./not/normalised/../name.txt"));
    QVERIFY(reloads.wait());
    QCOMPARE(reloads.count(), 1);
}

void TestWindow::everyNotificationReloadsOnce200msLater()
{
    // A missing file shows the error text on every reload, so each one is seen.
    Tamberlo window;
    QPlainTextEdit *edit = editOf(window);
    QElapsedTimer clock;
    QList<qint64> reloadTimes;
    connect(edit, &QPlainTextEdit::textChanged, this, [&] { reloadTimes << clock.elapsed(); });

    clock.start();
    window.setWatchedPath(path(QStringLiteral("missing.txt")));
    QTRY_COMPARE(reloadTimes.size(), 1);
    QCOMPARE(textOf(window), notReadable);

    const qint64 notifiedAt = clock.elapsed();
    for (int i = 0; i < 3; ++i)
        QVERIFY(QMetaObject::invokeMethod(&window, "fileChanged", Q_ARG(QString, path(QStringLiteral("missing.txt")))));
    QTRY_COMPARE(reloadTimes.size(), 4);
    QVERIFY2(reloadTimes.first() >= 195, qPrintable(QString::number(reloadTimes.first())));
    for (int i = 1; i < 4; ++i)
        QVERIFY2(reloadTimes.at(i) - notifiedAt >= 195, qPrintable(QString::number(reloadTimes.at(i) - notifiedAt)));
    QSignalSpy more(edit, &QPlainTextEdit::textChanged);
    QVERIFY(!more.wait(quietMs));
}

void TestWindow::connectsToTheWatcherOnce()
{
    // A file over the text limit shows a message on every reload, so each
    // reload is seen; a watcher of the test's own counts the notifications.
    const QString big = path(QStringLiteral("big.log"));
    const QString other = path(QStringLiteral("other.txt"));
    {
        QFile file(big);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(TextReader::maxTextBytes + 1));
    }
    QVERIFY(TestFiles::write(other, "other\n"));

    Tamberlo window;
    window.setWatchedPath(big);
    window.setWatchedPath(other);
    window.setWatchedPath(big);
    window.setWatchedPath(big);
    QTRY_VERIFY(textOf(window).startsWith(QLatin1String("Error!")));
    QSignalSpy settled(editOf(window), &QPlainTextEdit::textChanged);
    while (settled.wait(quietMs)) { }

    QFileSystemWatcher reference({big});
    QSignalSpy notifications(&reference, &QFileSystemWatcher::fileChanged);
    QSignalSpy reloads(editOf(window), &QPlainTextEdit::textChanged);
    QVERIFY(TestFiles::append(big, "x"));
    QTRY_VERIFY(notifications.count() > 0);
    QTRY_COMPARE(reloads.count(), notifications.count());
    QVERIFY(!reloads.wait(quietMs));
    QCOMPARE(reloads.count(), notifications.count());
}

void TestWindow::pendingReloadReadsThePathCurrentAtExpiry()
{
    QVERIFY(TestFiles::write(path(QStringLiteral("a.txt")), "first file"));
    QVERIFY(TestFiles::write(path(QStringLiteral("b.txt")), "second file"));
    Tamberlo window;
    QStringList shown;
    // A replacement clears the editor first; only the texts shown count.
    connect(editOf(window), &QPlainTextEdit::textChanged, this, [&] {
        if (!textOf(window).isEmpty())
            shown << textOf(window);
    });
    window.setWatchedPath(path(QStringLiteral("a.txt")));
    window.setWatchedPath(path(QStringLiteral("b.txt")));
    QTRY_COMPARE(textOf(window), QStringLiteral("second file"));
    QSignalSpy more(editOf(window), &QPlainTextEdit::textChanged);
    QVERIFY(!more.wait(quietMs));
    QCOMPARE(shown, QStringList(QStringLiteral("second file")));
}

void TestWindow::watchSurvivesRenameOver()
{
    const QString file = path(QStringLiteral("saved.txt"));
    QVERIFY(TestFiles::write(file, "one"));
    Tamberlo window;
    window.setWatchedPath(file);
    QTRY_COMPARE(textOf(window), QStringLiteral("one"));
    for (const char *next : {"two", "three", "four"}) {
        QVERIFY(TestFiles::replace(file, next));
        QTRY_COMPARE(textOf(window), QString::fromLatin1(next));
    }
}

void TestWindow::secondPathStopsTheFirst()
{
    QVERIFY(TestFiles::write(path(QStringLiteral("a.txt")), "a"));
    QVERIFY(TestFiles::write(path(QStringLiteral("b.txt")), "b"));
    Tamberlo window;
    window.setWatchedPath(path(QStringLiteral("a.txt")));
    QTRY_COMPARE(textOf(window), QStringLiteral("a"));
    window.setWatchedPath(path(QStringLiteral("b.txt")));
    QTRY_COMPARE(textOf(window), QStringLiteral("b"));

    QSignalSpy reloads(editOf(window), &QPlainTextEdit::textChanged);
    QVERIFY(TestFiles::write(path(QStringLiteral("a.txt")), "a changed"));
    QVERIFY(!reloads.wait(quietMs));
    QCOMPARE(textOf(window), QStringLiteral("b"));
}

void TestWindow::dialog_data()
{
    QTest::addColumn<bool>("accept");
    QTest::newRow("file picked") << true;
    QTest::newRow("dialog cancelled") << false;
}

void TestWindow::dialog()
{
    QFETCH(bool, accept);
    const QString before = path(QStringLiteral("before.txt"));
    const QString picked = path(QStringLiteral("picked.txt"));
    QVERIFY(TestFiles::write(before, "before"));
    QVERIFY(TestFiles::write(picked, "picked"));

    Tamberlo window;
    window.setWatchedPath(before);
    QTRY_COMPARE(textOf(window), QStringLiteral("before"));

    // The dialog runs its own event loop; a timer answers it from inside.
    QString caption;
    QStringList filters;
    QWidget *parent = nullptr;
    QTimer driver;
    connect(&driver, &QTimer::timeout, this, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        driver.stop();
        caption = dialog->windowTitle();
        filters = dialog->nameFilters();
        parent = dialog->parentWidget();
        if (accept) {
            // As a user would: type the path and press Return.
            auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            name->setText(picked);
            QTest::keyClick(name, Qt::Key_Return);
        }
        if (dialog->isVisible()) // cancelled, or the pick was refused
            dialog->reject();
    });
    driver.start(20);
    auto *button = window.findChild<QPushButton *>(QStringLiteral("pushButton"));
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(caption, QStringLiteral("Choose File to Watch"));
    QCOMPARE(filters, QStringList(QStringLiteral("All Files (*)")));
    QCOMPARE(parent, button);

    if (accept) {
        QCOMPARE(window.windowTitle(), QStringLiteral("Tamberlo watching ") + picked);
        QTRY_COMPARE(textOf(window), QStringLiteral("picked"));
    } else {
        QCOMPARE(window.windowTitle(), QStringLiteral("Tamberlo watching ") + before);
        QVERIFY(TestFiles::append(before, " and after"));
        QTRY_COMPARE(textOf(window), QStringLiteral("before and after"));
    }
}

void TestWindow::languageChangeResetsTheTitleAndWatchingGoesOn()
{
    const QString file = path(QStringLiteral("watched.txt"));
    QVERIFY(TestFiles::write(file, "v1"));
    Tamberlo window;
    window.setWatchedPath(file);
    QTRY_COMPARE(textOf(window), QStringLiteral("v1"));

    QEvent languageChange(QEvent::LanguageChange);
    QCoreApplication::sendEvent(&window, &languageChange);
    QCOMPARE(window.windowTitle(), QStringLiteral("Tamberlo"));
    QVERIFY(TestFiles::replace(file, "v2"));
    QTRY_COMPARE(textOf(window), QStringLiteral("v2"));
}

// Ways a file goes missing and comes back; each must end with the new content shown.
void TestWindow::lostWatchIsRecovered_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::newRow("deleted, then created again") << "delete";
    QTest::newRow("renamed away, then written anew") << "rename-away";
    QTest::newRow("created only after watching began") << "later";
    QTest::newRow("created with its directories after watching began") << "later-in-new-directories";
}

void TestWindow::lostWatchIsRecovered()
{
    QFETCH(QString, scenario);
    const bool nested = scenario == QLatin1String("later-in-new-directories");
    const QString file = nested ? path(QStringLiteral("out/plots/plot.txt")) : path(QStringLiteral("plot.txt"));
    const bool existsAtStart = scenario == QLatin1String("delete") || scenario == QLatin1String("rename-away");
    if (existsAtStart)
        QVERIFY(TestFiles::write(file, "old"));

    Tamberlo window;
    window.setWatchedPath(file);
    if (existsAtStart) {
        QTRY_COMPARE(textOf(window), QStringLiteral("old"));
        if (scenario == QLatin1String("delete"))
            QVERIFY(QFile::remove(file));
        else
            QVERIFY(QFile::rename(file, file + QLatin1Char('~')));
    }
    // The error shows first, and it stays while nothing is there.
    QTRY_COMPARE(textOf(window), notReadable);

    if (nested)
        QVERIFY(QDir().mkpath(QFileInfo(file).absolutePath()));
    QVERIFY(TestFiles::write(file, "new"));
    QTRY_COMPARE(textOf(window), QStringLiteral("new"));
    // And the file itself is watched again.
    QVERIFY(TestFiles::append(file, " and more"));
    QTRY_COMPARE(textOf(window), QStringLiteral("new and more"));
}

void TestWindow::unrelatedChangesNearAMissingFileCauseNoReload()
{
    Tamberlo window;
    window.setWatchedPath(path(QStringLiteral("missing.txt")));
    QTRY_COMPARE(textOf(window), notReadable);
    QSignalSpy reloads(editOf(window), &QPlainTextEdit::textChanged);
    QVERIFY(TestFiles::write(path(QStringLiteral("neighbour.txt")), "unrelated"));
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("subdirectory")));
    QVERIFY(!reloads.wait(quietMs));
}

void TestWindow::newPathDropsTheWatchesOfTheOld()
{
    QVERIFY(TestFiles::write(path(QStringLiteral("b.txt")), "b"));
    Tamberlo window;
    window.setWatchedPath(path(QStringLiteral("missing.txt")));
    QTRY_COMPARE(textOf(window), notReadable);
    window.setWatchedPath(path(QStringLiteral("b.txt")));
    QTRY_COMPARE(textOf(window), QStringLiteral("b"));

    QSignalSpy reloads(editOf(window), &QPlainTextEdit::textChanged);
    QVERIFY(TestFiles::write(path(QStringLiteral("missing.txt")), "appears"));
    QVERIFY(!reloads.wait(quietMs));
    QCOMPARE(textOf(window), QStringLiteral("b"));
}

void TestWindow::manyRenamesInARowLoseNothing()
{
    const QString file = path(QStringLiteral("render.txt"));
    QVERIFY(TestFiles::write(file, "start"));
    Tamberlo window;
    window.setWatchedPath(file);
    QTRY_COMPARE(textOf(window), QStringLiteral("start"));

    for (int i = 1; i <= 200; ++i) {
        QVERIFY(TestFiles::replace(file, QByteArray("generation ") + QByteArray::number(i)));
        QCoreApplication::processEvents();
    }
    QTRY_COMPARE_WITH_TIMEOUT(textOf(window), QStringLiteral("generation 200"), 20000);
    QVERIFY(TestFiles::replace(file, "after the storm"));
    QTRY_COMPARE(textOf(window), QStringLiteral("after the storm"));
}

void TestWindow::steadyAppendsLoseNothing()
{
    const QString file = path(QStringLiteral("growing.log"));
    QVERIFY(TestFiles::write(file, QByteArray()));
    Tamberlo window;
    window.setWatchedPath(file);

    QByteArray written;
    int appends = 0;
    QTimer writer;
    connect(&writer, &QTimer::timeout, this, [&] {
        const QByteArray line = "line " + QByteArray::number(++appends) + " of the log\n";
        written += line;
        QVERIFY(TestFiles::append(file, line));
        if (appends == 250)
            writer.stop();
    });
    writer.start(20); // 50 a second for 5 s
    QTRY_VERIFY_WITH_TIMEOUT(!writer.isActive(), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(textOf(window), QString::fromLatin1(written), 10000);
}

void TestWindow::drop_data()
{
    QTest::addColumn<QList<QUrl>>("urls");
    QTest::addColumn<bool>("accepted");
    const QUrl file = QUrl::fromLocalFile(QStringLiteral("/dropped/file.txt"));
    QTest::newRow("one local file") << QList<QUrl> {file} << true;
    QTest::newRow("two local files") << QList<QUrl> {file, QUrl::fromLocalFile(QStringLiteral("/b.txt"))} << false;
    QTest::newRow("a web address") << QList<QUrl> {QUrl(QStringLiteral("https://example.org/a.png"))} << false;
    QTest::newRow("a directory") << QList<QUrl> {QUrl::fromLocalFile(QDir::tempPath())} << false;
    QTest::newRow("no urls") << QList<QUrl> {} << false;
}

void TestWindow::drop()
{
    QFETCH(QList<QUrl>, urls);
    QFETCH(bool, accepted);

    const QString dropped = path(QStringLiteral("dropped.txt"));
    QVERIFY(TestFiles::write(dropped, "dropped contents"));
    if (accepted)
        urls = {QUrl::fromLocalFile(dropped)};

    Tamberlo window;
    QMimeData mime;
    mime.setUrls(urls);
    if (urls.isEmpty())
        mime.setText(QStringLiteral("just text"));
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    QCOMPARE(enter.isAccepted(), accepted);

    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &drop);
    QCOMPARE(drop.isAccepted(), accepted);
    if (accepted) {
        QCOMPARE(window.windowTitle(), QStringLiteral("Tamberlo watching ") + dropped);
        QTRY_COMPARE(textOf(window), QStringLiteral("dropped contents"));
    } else {
        QCOMPARE(window.windowTitle(), QStringLiteral("Tamberlo"));
    }
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
