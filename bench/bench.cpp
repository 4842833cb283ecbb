// Measures the window's reload against the floors it cannot beat: reading and
// decoding the file, filling a fresh editor, decoding a picture. Every case
// runs in a child process of its own so that its peak memory is its own.
#include "application.h"
#include "tamberlo.h"
#include "textreader.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int warmUps = 1;
constexpr int runs = 5;

struct Timing
{
    double median = 0;
    double max = 0;
};

// Runs prepare (untimed) and work (timed) warmUps + runs times.
Timing measure(const std::function<void()> &prepare, const std::function<void()> &work)
{
    std::vector<double> times;
    for (int i = 0; i < warmUps + runs; ++i) {
        prepare();
        QElapsedTimer timer;
        timer.start();
        work();
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        if (i >= warmUps)
            times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.back()};
}

// The process's peak resident memory in MiB.
double peakMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return 0;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

QString decodeForFloor(const QByteArray &bytes)
{
    const auto encoding = QStringConverter::encodingForData(bytes).value_or(QStringConverter::Utf8);
    QStringDecoder decoder(encoding);
    return decoder.decode(bytes);
}

// A new version of the file that differs near its start, past any byte-order mark.
void rewriteNearStart(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadWrite);
    file.seek(4);
    char byte = 0;
    file.getChar(&byte);
    file.seek(4);
    file.putChar(byte == 'A' ? 'B' : 'A');
}

void appendKiB(const QString &path)
{
    static int round = 0;
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Append);
    QByteArray block;
    while (block.size() < 1024 - 80)
        block += "appended line " + QByteArray::number(++round) + " of the growing log, about 75 bytes long....\n";
    block += QByteArray(1024 - block.size() - 1, 'x') + '\n';
    file.write(block);
}

void reload(Tamberlo &window)
{
    QMetaObject::invokeMethod(&window, "updateViewWithContents");
}

// One measurement in this process; prints "median max peak".
int runCase(const QString &kind, const QString &path)
{
    Timing timing;
    if (kind == QLatin1String("rewrite") || kind == QLatin1String("picture")) {
        Tamberlo window;
        window.setWatchedPath(path);
        timing = measure(
            [&] {
                if (kind == QLatin1String("rewrite"))
                    rewriteNearStart(path);
            },
            [&] { reload(window); });
    } else if (kind == QLatin1String("append")) {
        Tamberlo window;
        window.setWatchedPath(path);
        reload(window);
        timing = measure([&] { appendKiB(path); }, [&] { reload(window); });
    } else if (kind == QLatin1String("attempt")) {
        timing = measure([] {}, [&] { QImage image(path); });
    } else if (kind == QLatin1String("read")) {
        timing = measure([] {},
                         [&] {
                             QFile file(path);
                             file.open(QIODevice::ReadOnly);
                             const QString text = decodeForFloor(file.readAll());
                         });
    } else if (kind == QLatin1String("read-once")) {
        timing = measure([] {},
                         [&] {
                             QFile file(path);
                             file.open(QIODevice::ReadOnly);
                             const QByteArray bytes = file.readAll();
                         });
    } else if (kind == QLatin1String("widget")) {
        QString text;
        {
            QFile file(path);
            file.open(QIODevice::ReadOnly);
            text = decodeForFloor(file.readAll());
        }
        // A fresh editor of the size the window gives its own: the width
        // decides how much of a long line is laid out at once.
        const QSize size = Tamberlo().findChild<QPlainTextEdit *>()->size();
        std::unique_ptr<QPlainTextEdit> edit;
        timing = measure(
            [&] {
                edit = std::make_unique<QPlainTextEdit>();
                edit->resize(size);
            },
            [&] { edit->setPlainText(text); });
    } else if (kind == QLatin1String("decode-picture")) {
        timing = measure([] {},
                         [&] {
                             QImageReader reader(path);
                             const QPixmap pixmap = QPixmap::fromImage(reader.read());
                         });
    } else {
        return 2;
    }
    std::printf("%.3f %.3f %.1f\n", timing.median, timing.max, peakMiB());
    return 0;
}

struct Result
{
    Timing timing;
    double peak = 0;
};

Result runChild(const QString &kind, const QString &path)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--case"), kind, path});
    child.waitForFinished(-1);
    const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
    if (child.exitCode() != 0 || fields.size() != 3) {
        std::fprintf(stderr, "case %s on %s failed\n", qPrintable(kind), qPrintable(path));
        return {};
    }
    return {{fields[0].toDouble(), fields[1].toDouble()}, fields[2].toDouble()};
}

QByteArray logText(qint64 size)
{
    QByteArray text;
    text.reserve(size + 100);
    for (int line = 0; text.size() < size; ++line)
        text += "2026-12-11 14:00:00 worker " + QByteArray::number(line % 7) + " step "
            + QByteArray::number(line).rightJustified(9, '0') + " loss 0.1234 state ok ......\n";
    text.truncate(size);
    return text;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / (1 << 20), 'f', 1) + QStringLiteral(" MiB");
}

void row(const char *name, qint64 size, const Result &reload, double floor, const Result &floorPeak,
         const char *floorName)
{
    std::printf("| %-28s | %9s | %9.1f | %9.1f | %9.1f | %5.2f | %-24s | %7.0f | %7.0f |\n", name,
                qPrintable(megabytes(size)), reload.timing.median, reload.timing.max, floor,
                floor > 0 ? reload.timing.median / floor : 0.0, floorName, reload.peak, floorPeak.peak);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    setUpApplication();
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 4 && arguments.at(1) == QLatin1String("--case"))
        return runCase(arguments.at(2), arguments.at(3));

    QTemporaryDir dir;
    const auto file = [&](const char *name) { return dir.filePath(QString::fromLatin1(name)); };

    std::printf("Generating files...\n");
    std::fflush(stdout);
    for (const int mb : {1, 10, 100})
        writeFile(file(qPrintable(QStringLiteral("log-%1.txt").arg(mb))), logText(qint64(mb) << 20));
    writeFile(file("long-line.txt"), QByteArray(3 << 20, 'w'));
    {
        const QString text = QString::fromLatin1(logText(5 << 20));
        QByteArray utf16("\xff\xfe");
        utf16 += QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
        writeFile(file("utf16.txt"), utf16);
    }
    {
        QImage small(640, 480, QImage::Format_RGB32);
        small.fill(Qt::darkCyan);
        small.save(file("small.png"));
        QImage photo(4000, 3000, QImage::Format_RGB32);
        for (int y = 0; y < photo.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(photo.scanLine(y));
            for (int x = 0; x < photo.width(); ++x)
                line[x] = qRgb(x % 256, y % 256, (x ^ y) % 256);
        }
        photo.save(file("photo.jpg"), "JPEG", 90);
        QImage large(9000, 9000, QImage::Format_RGB888);
        large.fill(Qt::darkMagenta);
        large.save(file("large.png"), "PNG", 50);
    }

    std::printf("\n| %-28s | %9s | %9s | %9s | %9s | %5s | %-24s | %7s | %7s |\n", "case", "size", "median ms",
                "max ms", "floor ms", "ratio", "floor", "peak MiB", "floor MiB");
    std::printf("|%s|%s|%s|%s|%s|%s|%s|%s|%s|\n", "------------------------------", "-----------", "-----------",
                "-----------", "-----------", "-------", "--------------------------", "---------", "---------");
    std::fflush(stdout);

    Result wholeReload100;
    for (const int mb : {1, 10, 100}) {
        const QString path = file(qPrintable(QStringLiteral("log-%1.txt").arg(mb)));
        const qint64 size = QFileInfo(path).size();
        const Result read = runChild(QStringLiteral("read"), path);
        const Result widget = runChild(QStringLiteral("widget"), path);
        const Result whole = runChild(QStringLiteral("rewrite"), path);
        const QByteArray name = QByteArray::number(mb) + " MB log, rewritten";
        row(name.constData(), size, whole, read.timing.median + widget.timing.median, widget, "read+decode + widget");
        if (mb == 100)
            wholeReload100 = whole;

        const Result once = runChild(QStringLiteral("read-once"), path);
        const Result append = runChild(QStringLiteral("append"), path);
        const QByteArray appended = QByteArray::number(mb) + " MB log, 1 KiB appended";
        row(appended.constData(), size, append, once.timing.median, once, "read once");
    }
    for (const auto &[name, path] : {std::pair {"3 MB line, no line breaks", file("long-line.txt")},
                                     std::pair {"10 MB UTF-16 with BOM", file("utf16.txt")}}) {
        const Result read = runChild(QStringLiteral("read"), path);
        const Result widget = runChild(QStringLiteral("widget"), path);
        const Result whole = runChild(QStringLiteral("rewrite"), path);
        row(name, QFileInfo(path).size(), whole, read.timing.median + widget.timing.median, widget,
            "read+decode + widget");
    }
    for (const auto &[name, path] :
         {std::pair {"640 x 480 PNG", file("small.png")}, std::pair {"4000 x 3000 JPEG", file("photo.jpg")},
          std::pair {"9000 x 9000 PNG", file("large.png")}}) {
        const Result decode = runChild(QStringLiteral("decode-picture"), path);
        const Result picture = runChild(QStringLiteral("picture"), path);
        row(name, QFileInfo(path).size(), picture, decode.timing.median, decode, "decode + pixmap");
    }
    const Result attempt = runChild(QStringLiteral("attempt"), file("log-100.txt"));
    row("picture attempt, 100 MB log", QFileInfo(file("log-100.txt")).size(), attempt, wholeReload100.timing.median,
        wholeReload100, "whole 100 MB reload");
    std::printf("\nratio: reload median / floor median. For the picture attempt the floor column is the whole "
                "reload it is part of.\n");
    return 0;
}
