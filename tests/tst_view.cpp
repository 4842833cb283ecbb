#include "application.h"
#include "tamberlo.h"
#include "testfiles.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

#include <memory>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const QString notReadable = QStringLiteral("Error! File not readable!");

QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QImage testImage(int width, int height, QColor color = Qt::darkCyan)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

// "prefix 0\nprefix 1\n..." : long text with a line for every count.
QByteArray numberedLines(const QByteArray &prefix, int count)
{
    QByteArray text;
    for (int i = 0; i < count; ++i)
        text += prefix + ' ' + QByteArray::number(i) + '\n';
    return text;
}

QSize pixmapSize(const QLabel *label)
{
    return TestFiles::pixmapOf(label).size();
}

// The window's parts a reload writes, found by name as a user's tool would.
struct View
{
    explicit View(Tamberlo &window)
        : window(window)
        , tabs(window.findChild<QTabWidget *>(QStringLiteral("tabWidget")))
        , edit(window.findChild<QPlainTextEdit *>(QStringLiteral("plainTextEdit")))
        , label(window.findChild<QLabel *>(QStringLiteral("imageLabel")))
        , area(window.findChild<QScrollArea *>(QStringLiteral("imageScrollArea")))
    { }

    // Sets the path and runs the reload its timer would run, at once.
    void watch(const QString &path)
    {
        window.setWatchedPath(path);
        reload();
    }
    void reload() { QMetaObject::invokeMethod(&window, "updateViewWithContents"); }

    Tamberlo &window;
    QTabWidget *tabs;
    QPlainTextEdit *edit;
    QLabel *label;
    QScrollArea *area;
};

} // namespace

class TestView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void showsContents_data();
    void showsContents();
    void unreadableFile();
    void turnsFromTextToPictureAndBack();
    void specialFiles_data();
    void specialFiles();
    void refusesTextOverTheLimit();
    void showsLargeValidPictures();
    void largePictureScrollsInsteadOfGrowingTheWindow();
    void keepsTheReadersPlace_data();
    void keepsTheReadersPlace();
    void newPathStartsAtTheTop();
    void keepsThePlaceInAPictureOfTheSameSize();
    void editorMatchesAWholeReadAfterEveryReload();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString &name) const { return m_dir->filePath(name); }
};

void TestView::initTestCase()
{
    setUpApplication();
}

void TestView::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestView::showsContents_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSize>("pictureSize"); // invalid for text
    QTest::addColumn<QString>("text");

    const QSize none;
    QTest::newRow("png") << "plot.png" << encoded(testImage(7, 5), "PNG") << QSize(7, 5) << QString();
    QTest::newRow("jpeg") << "photo.jpg" << encoded(testImage(16, 8), "JPEG") << QSize(16, 8) << QString();
    QTest::newRow("bmp") << "icon.bmp" << encoded(testImage(9, 9), "BMP") << QSize(9, 9) << QString();
    QTest::newRow("gif") << "dot.gif"
                         << QByteArray("GIF89a\x01\0\x01\0\x80\0\0\xff\xff\xff\0\0\0!\xf9\x04\x01\0\0\0\0,\0\0\0\0"
                                       "\x01\0\x01\0\0\x02\x02\x44\x01\0;",
                                       43)
                         << QSize(1, 1) << QString();
    QTest::newRow("picture without a telling name")
        << "render.out" << encoded(testImage(3, 4), "PNG") << QSize(3, 4) << QString();
    QTest::newRow("utf-8 text") << "notes.txt" << QByteArray("Gr\xc3\xbc\xc3\x9f\x65, \xe2\x82\xac, \xf0\x9f\x98\x80\n")
                                << none << QStringLiteral("Grüße, €, \U0001F600\n");
    QTest::newRow("utf-8 with bom") << "bom.txt" << QByteArray("\xef\xbb\xbf\xc3\xa9t\xc3\xa9") << none
                                    << QStringLiteral("été");
    QTest::newRow("utf-16le with bom") << "le.txt" << QByteArray("\xff\xfe\xe9\0t\0\r\0\n\0", 10) << none
                                       << QStringLiteral("ét\n");
    QTest::newRow("utf-16be with bom") << "be.txt" << QByteArray("\xfe\xff\0\xe9\0t", 6) << none
                                       << QStringLiteral("ét");
    QTest::newRow("utf-32le with bom") << "32le.txt" << QByteArray("\xff\xfe\0\0\xe9\0\0\0", 8) << none
                                       << QStringLiteral("é");
    QTest::newRow("utf-32be with bom") << "32be.txt" << QByteArray("\0\0\xfe\xff\0\0\0\xe9", 8) << none
                                       << QStringLiteral("é");
    QTest::newRow("crlf line ends") << "dos.txt" << QByteArray("one\r\ntwo\r\n") << none
                                    << QStringLiteral("one\ntwo\n");
    QTest::newRow("bare cr line ends") << "mac.txt" << QByteArray("one\rtwo\r") << none << QStringLiteral("onetwo");
    QTest::newRow("empty file") << "empty.txt" << QByteArray() << none << QString();
    QTest::newRow("binary bytes") << "data.bin" << QByteArray("\x01\x02\0\xfe", 4) << none
                                  << QString::fromUtf8("\x01\x02\0\xef\xbf\xbd", 6);
    QTest::newRow("damaged picture") << "half.png" << QByteArray("\x89PNG\r\n\x1a\n\0\0", 10) << none
                                     << QString::fromUtf8("\xef\xbf\xbdPNG\n\x1a\n\0\0", 11);
    QTest::newRow("non-ascii file name") << QStringLiteral("Отчёт-ü.txt") << QByteArray("report") << none
                                         << QStringLiteral("report");
}

void TestView::showsContents()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, pictureSize);
    QFETCH(QString, text);

    Tamberlo window;
    View view(window);
    // What the other page shows must stay.
    view.edit->setPlainText(QStringLiteral("earlier text"));
    view.label->setPixmap(QPixmap::fromImage(testImage(2, 2)));

    const QString file = path(fileName);
    QVERIFY(TestFiles::write(file, bytes));
    view.watch(file);

    if (pictureSize.isValid()) {
        QCOMPARE(view.tabs->currentIndex(), 1);
        QCOMPARE(pixmapSize(view.label), pictureSize);
        QCOMPARE(view.edit->toPlainText(), QStringLiteral("earlier text"));
    } else {
        QCOMPARE(view.tabs->currentIndex(), 0);
        QCOMPARE(view.edit->toPlainText(), text);
        QCOMPARE(view.edit->toPlainText(), TestFiles::readAsTextStream(file));
        QCOMPARE(pixmapSize(view.label), QSize(2, 2));
    }
}

void TestView::unreadableFile()
{
    Tamberlo window;
    View view(window);
    view.watch(path(QStringLiteral("missing.txt")));
    QCOMPARE(view.tabs->currentIndex(), 0);
    QCOMPARE(view.edit->toPlainText(), notReadable);

    const QString locked = path(QStringLiteral("locked.txt"));
    QVERIFY(TestFiles::write(locked, "secret"));
    QVERIFY(QFile::setPermissions(locked, QFileDevice::Permissions()));
    if (QFile(locked).open(QIODevice::ReadOnly))
        QSKIP("permissions do not keep this user out (running as root)");
    view.watch(locked);
    QCOMPARE(view.edit->toPlainText(), notReadable);
}

void TestView::turnsFromTextToPictureAndBack()
{
    const QString file = path(QStringLiteral("changing"));
    Tamberlo window;
    View view(window);
    QVERIFY(TestFiles::write(file, "text first"));
    view.watch(file);
    QCOMPARE(view.tabs->currentIndex(), 0);
    QVERIFY(TestFiles::write(file, encoded(testImage(4, 4), "PNG")));
    view.reload();
    QCOMPARE(view.tabs->currentIndex(), 1);
    QCOMPARE(view.edit->toPlainText(), QStringLiteral("text first"));
    QVERIFY(TestFiles::write(file, "text first, then more"));
    view.reload();
    QCOMPARE(view.tabs->currentIndex(), 0);
    QCOMPARE(view.edit->toPlainText(), QStringLiteral("text first, then more"));
    QCOMPARE(pixmapSize(view.label), QSize(4, 4));
}

void TestView::specialFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("readable");
    QTest::newRow("fifo") << "fifo" << false;
    QTest::newRow("endless device") << "/dev/zero" << false;
    QTest::newRow("directory") << "directory" << false;
    QTest::newRow("link to a device") << "link to /dev/urandom" << false;
    QTest::newRow("link to a regular file") << "link to a file" << true;
    QTest::newRow("regular file of size 0 with contents") << "/proc/self/status" << true;
}

void TestView::specialFiles()
{
#ifndef Q_OS_LINUX
    QSKIP("uses Linux special files");
#else
    QFETCH(QString, kind);
    QFETCH(bool, readable);

    QString file = kind;
    if (kind == QLatin1String("fifo")) {
        file = path(QStringLiteral("fifo"));
        QCOMPARE(mkfifo(QFile::encodeName(file).constData(), 0600), 0);
    } else if (kind == QLatin1String("directory")) {
        file = m_dir->path();
    } else if (kind == QLatin1String("link to /dev/urandom")) {
        file = path(QStringLiteral("random"));
        QVERIFY(QFile::link(QStringLiteral("/dev/urandom"), file));
    } else if (kind == QLatin1String("link to a file")) {
        QVERIFY(TestFiles::write(path(QStringLiteral("target.txt")), "through the link"));
        file = path(QStringLiteral("link.txt"));
        QVERIFY(QFile::link(path(QStringLiteral("target.txt")), file));
    }

    Tamberlo window;
    View view(window);
    view.watch(file);
    QCOMPARE(view.tabs->currentIndex(), 0);
    if (readable)
        QVERIFY(view.edit->toPlainText() != notReadable && !view.edit->toPlainText().isEmpty());
    else
        QCOMPARE(view.edit->toPlainText(), notReadable);

    // The window still answers.
    bool fired = false;
    QTimer::singleShot(0, this, [&] { fired = true; });
    QTRY_VERIFY(fired);
#endif
}

void TestView::refusesTextOverTheLimit()
{
    const QString file = path(QStringLiteral("huge.log"));
    {
        QFile sparse(file);
        QVERIFY(sparse.open(QIODevice::WriteOnly));
        QVERIFY(sparse.resize(qint64(300) << 20));
    }
    Tamberlo window;
    View view(window);
    view.watch(file);
    QCOMPARE(view.tabs->currentIndex(), 0);
    const QString message = view.edit->toPlainText();
    QVERIFY2(message.startsWith(QLatin1String("Error!")), qPrintable(message));
    QVERIFY2(message.contains(QLatin1String("300.0 MiB")) && message.contains(QLatin1String("256 MiB")),
             qPrintable(message));
    QVERIFY(!message.contains(QLatin1Char('\n')));

    // Once it is small enough again, it is shown.
    {
        QFile sparse(file);
        QVERIFY(sparse.open(QIODevice::ReadWrite));
        QVERIFY(sparse.resize(3));
    }
    view.reload();
    QCOMPARE(view.edit->toPlainText(), QString(3, QChar(0)));
}

void TestView::showsLargeValidPictures()
{
    // 9000 x 9000 decodes to over 300 MB: more than Qt 6 allows by default.
    const QString file = path(QStringLiteral("large.png"));
    {
        QImage image(9000, 9000, QImage::Format_RGB888);
        image.fill(Qt::darkCyan);
        QVERIFY(image.save(file, "PNG", 50));
    }
    Tamberlo window;
    View view(window);
    view.watch(file);
    QCOMPARE(view.tabs->currentIndex(), 1);
    QCOMPARE(pixmapSize(view.label), QSize(9000, 9000));
}

void TestView::largePictureScrollsInsteadOfGrowingTheWindow()
{
    const QString photo = path(QStringLiteral("photo.jpg"));
    QVERIFY(testImage(4000, 3000).save(photo, "JPEG"));
    Tamberlo window;
    View view(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QSize before = window.size();

    view.watch(photo);
    QCOMPARE(view.tabs->currentIndex(), 1);
    QTRY_VERIFY(view.area->horizontalScrollBar()->maximum() > 0 && view.area->verticalScrollBar()->maximum() > 0);
    QCOMPARE(window.size(), before);
    auto *button = window.findChild<QPushButton *>(QStringLiteral("pushButton"));
    QVERIFY(window.rect().contains(QRect(button->mapTo(&window, QPoint(0, 0)), button->size())));

    // A small picture sits at its natural size, at the left, centred vertically.
    const QString small = path(QStringLiteral("small.png"));
    QVERIFY(testImage(20, 10).save(small, "PNG"));
    view.watch(small);
    QTRY_COMPARE(view.area->verticalScrollBar()->maximum(), 0);
    QCOMPARE(view.label->size(), view.area->viewport()->size());
    QCOMPARE(pixmapSize(view.label), QSize(20, 10));
    QCOMPARE(view.label->alignment(), Qt::AlignLeft | Qt::AlignVCenter);
}

void TestView::keepsTheReadersPlace_data()
{
    QTest::addColumn<bool>("atEnd");
    QTest::addColumn<bool>("rewrite");
    QTest::newRow("middle, file grows") << false << false;
    QTest::newRow("middle, file rewritten") << false << true;
    QTest::newRow("end, file grows") << true << false;
    QTest::newRow("end, file rewritten longer") << true << true;
}

void TestView::keepsTheReadersPlace()
{
    QFETCH(bool, atEnd);
    QFETCH(bool, rewrite);

    QByteArray contents = numberedLines("report line", 3000);
    const QString file = path(QStringLiteral("report.txt"));
    QVERIFY(TestFiles::write(file, contents));

    Tamberlo window;
    View view(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    view.watch(file);
    QScrollBar *bar = view.edit->verticalScrollBar();
    QTRY_VERIFY(bar->maximum() > 1000);
    const int place = atEnd ? bar->maximum() : bar->maximum() / 2;
    bar->setValue(place);
    QTextCursor selection(view.edit->document());
    selection.setPosition(20000);
    selection.setPosition(20012, QTextCursor::KeepAnchor);
    view.edit->setTextCursor(selection);
    bar->setValue(place);
    const int maximumBefore = bar->maximum();

    const QByteArray more = numberedLines("new line", 200);
    if (rewrite) {
        contents.replace(0, 6, "REPORT");
        QVERIFY(TestFiles::replace(file, contents + more));
    } else {
        QVERIFY(TestFiles::append(file, more));
    }
    view.reload();
    QCOMPARE(view.edit->toPlainText(), QString::fromLatin1(contents + more));

    if (atEnd) {
        QVERIFY(bar->maximum() > maximumBefore);
        QCOMPARE(bar->value(), bar->maximum());
    } else {
        QCOMPARE(bar->value(), place);
        QCOMPARE(view.edit->textCursor().anchor(), 20000);
        QCOMPARE(view.edit->textCursor().position(), 20012);
    }
    // Paging goes on from the reader's place, not from the top.
    if (!atEnd) {
        QTest::keyClick(view.edit, Qt::Key_PageDown);
        QVERIFY(view.edit->textCursor().position() > 20012);
    }
}

void TestView::newPathStartsAtTheTop()
{
    const QByteArray contents = numberedLines("line", 2000);
    QVERIFY(TestFiles::write(path(QStringLiteral("a.txt")), contents));
    QVERIFY(TestFiles::write(path(QStringLiteral("b.txt")), contents));

    Tamberlo window;
    View view(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    view.watch(path(QStringLiteral("a.txt")));
    QScrollBar *bar = view.edit->verticalScrollBar();
    QTRY_VERIFY(bar->maximum() > 100);
    bar->setValue(bar->maximum() / 2);
    view.watch(path(QStringLiteral("b.txt")));
    QCOMPARE(bar->value(), 0);
    QCOMPARE(view.edit->textCursor().position(), 0);
}

void TestView::keepsThePlaceInAPictureOfTheSameSize()
{
    const QString render = path(QStringLiteral("render.png"));
    QVERIFY(testImage(2000, 1500, Qt::red).save(render, "PNG"));
    Tamberlo window;
    View view(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    view.watch(render);
    QScrollBar *horizontal = view.area->horizontalScrollBar();
    QScrollBar *vertical = view.area->verticalScrollBar();
    QTRY_VERIFY(horizontal->maximum() > 500 && vertical->maximum() > 500);
    horizontal->setValue(300);
    vertical->setValue(200);

    QVERIFY(TestFiles::replace(render, encoded(testImage(2000, 1500, Qt::blue), "PNG")));
    view.reload();
    QCoreApplication::processEvents();
    QCOMPARE(horizontal->value(), 300);
    QCOMPARE(vertical->value(), 200);

    const QString other = path(QStringLiteral("other.png"));
    QVERIFY(testImage(2000, 1500, Qt::green).save(other, "PNG"));
    view.watch(other);
    QCOMPARE(horizontal->value(), 0);
    QCOMPARE(vertical->value(), 0);
}

// Random appends, rewrites and truncations, reloaded by the window itself:
// after each reload the editor holds exactly what a whole reload would show.
void TestView::editorMatchesAWholeReadAfterEveryReload()
{
    static const QByteArray pieces[] = {
        "a log line\n",     "crlf\r\n",     "\r",       "caf\xc3\xa9",       "\xe2\x82", "\xac",
        "\xf0\x9f\x98\x80", "\xef\xbb\xbf", "\xff\xfe", QByteArray("\0", 1), "\xc3",     "\t",
    };
    QRandomGenerator random(42);
    const QString file = path(QStringLiteral("random.txt"));
    QByteArray contents = "start\n";
    QVERIFY(TestFiles::write(file, contents));

    Tamberlo window;
    View view(window);
    view.watch(file);
    for (int step = 0; step < 400; ++step) {
        const quint32 action = random.bounded(100);
        if (action < 75) {
            QByteArray piece;
            for (int n = 1 + int(random.bounded(4)); n > 0; --n)
                piece += pieces[random.bounded(int(std::size(pieces)))];
            contents += piece;
            QVERIFY(TestFiles::append(file, piece));
        } else if (action < 85) {
            contents = pieces[random.bounded(int(std::size(pieces)))] + QByteArray("rewritten\r\n");
            QVERIFY(TestFiles::replace(file, contents));
        } else if (action < 95) {
            contents.truncate(int(random.bounded(contents.size() + 1)));
            QVERIFY(TestFiles::write(file, contents));
        }
        view.reload();

        QTextDocument whole;
        whole.setPlainText(TextReader::decode(contents));
        QCOMPARE(view.edit->document()->toRawText(), whole.toRawText());
    }
}

QTEST_MAIN(TestView)
#include "tst_view.moc"
