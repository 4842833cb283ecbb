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

struct Step
{
    std::function<void()> prepare; // untimed
    std::function<void()> work;    // timed
};

// Runs the steps round by round, warmUps + runs times, so that a machine that
// slows down or speeds up meanwhile weighs on every step alike.
std::vector<Timing> measure(const std::vector<Step> &steps)
{
    std::vector<std::vector<double>> times(steps.size());
    for (int round = 0; round < warmUps + runs; ++round) {
        for (size_t i = 0; i < steps.size(); ++i) {
            if (steps[i].prepare)
                steps[i].prepare();
            QElapsedTimer timer;
            timer.start();
            steps[i].work();
            if (round >= warmUps)
                times[i].push_back(double(timer.nsecsElapsed()) / 1e6);
        }
    }
    std::vector<Timing> timings;
    for (auto &stepTimes : times) {
        std::sort(stepTimes.begin(), stepTimes.end());
        timings.push_back({stepTimes[stepTimes.size() / 2], stepTimes.back()});
    }
    return timings;
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

Step readAndDecode(const QString &path)
{
    return {{}, [path] {
                QFile file(path);
                file.open(QIODevice::ReadOnly);
                const QString text = decodeForFloor(file.readAll());
            }};
}

// A fresh editor of the size the window gives its own (the width decides how
// much of a long line is laid out at once), filled with the whole text.
Step fillFreshEditor(const QString &text, std::unique_ptr<QPlainTextEdit> &edit)
{
    const QSize size = Tamberlo().findChild<QPlainTextEdit *>()->size();
    return {[size, &edit] {
                edit = std::make_unique<QPlainTextEdit>();
                edit->resize(size);
            },
            [&text, &edit] { edit->setPlainText(text); }};
}

Step decodePicture(const QString &path)
{
    return {{}, [path] {
                QImageReader reader(path);
                const QPixmap pixmap = QPixmap::fromImage(reader.read());
            }};
}

QString wholeText(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return decodeForFloor(file.readAll());
}

// One case in this process. Timing cases print "reload-median reload-max
// floor-median [floor2-median]"; peak cases print the peak memory in MiB.
int runCase(const QString &kind, const QString &path)
{
    std::vector<Timing> t;
    if (kind == QLatin1String("time-rewrite")) {
        Tamberlo window;
        window.setWatchedPath(path);
        const QString text = wholeText(path);
        std::unique_ptr<QPlainTextEdit> edit;
        t = measure({{[&] { rewriteNearStart(path); }, [&] { reload(window); }},
                     readAndDecode(path),
                     fillFreshEditor(text, edit)});
        std::printf("%.3f %.3f %.3f %.3f\n", t[0].median, t[0].max, t[1].median, t[2].median);
    } else if (kind == QLatin1String("time-append")) {
        Tamberlo window;
        window.setWatchedPath(path);
        reload(window);
        t = measure({{[&] { appendKiB(path); }, [&] { reload(window); }}, {{}, [&] {
                                                                               QFile file(path);
                                                                               file.open(QIODevice::ReadOnly);
                                                                               const QByteArray bytes = file.readAll();
                                                                           }}});
        std::printf("%.3f %.3f %.3f\n", t[0].median, t[0].max, t[1].median);
    } else if (kind == QLatin1String("time-picture")) {
        Tamberlo window;
        window.setWatchedPath(path);
        t = measure({{{}, [&] { reload(window); }}, decodePicture(path)});
        std::printf("%.3f %.3f %.3f\n", t[0].median, t[0].max, t[1].median);
    } else if (kind == QLatin1String("time-attempt")) {
        t = measure({{{}, [&] { QImage image(path); }}});
        std::printf("%.3f %.3f\n", t[0].median, t[0].max);
    } else if (kind == QLatin1String("peak-rewrite") || kind == QLatin1String("peak-append")
               || kind == QLatin1String("peak-picture")) {
        // Two reloads: the second one replaces what the first one showed.
        Tamberlo window;
        window.setWatchedPath(path);
        reload(window);
        if (kind == QLatin1String("peak-rewrite"))
            rewriteNearStart(path);
        else if (kind == QLatin1String("peak-append"))
            appendKiB(path);
        reload(window);
        std::printf("%.1f\n", peakMiB());
    } else if (kind == QLatin1String("peak-widget")) {
        std::unique_ptr<QPlainTextEdit> edit;
        const QString text = wholeText(path);
        const Step fill = fillFreshEditor(text, edit);
        fill.prepare();
        fill.work();
        std::printf("%.1f\n", peakMiB());
    } else if (kind == QLatin1String("peak-read")) {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        const QByteArray bytes = file.readAll();
        std::printf("%.1f\n", peakMiB());
    } else if (kind == QLatin1String("peak-decode")) {
        decodePicture(path).work();
        std::printf("%.1f\n", peakMiB());
    } else {
        return 2;
    }
    return 0;
}

QList<double> runChild(const QString &kind, const QString &path)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--case"), kind, path});
    child.waitForFinished(-1);
    QList<double> values;
    const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
    for (const QByteArray &field : fields)
        values << field.toDouble();
    if (child.exitCode() != 0 || values.isEmpty()) {
        std::fprintf(stderr, "case %s on %s failed\n", qPrintable(kind), qPrintable(path));
        return {0, 0, 0, 0};
    }
    return values;
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

void row(const char *name, qint64 size, double median, double max, double floor, const char *floorName, double peak,
         double floorPeak)
{
    std::printf("| %-28s | %9s | %9.1f | %9.1f | %9.1f | %5.2f | %-22s | %8.0f | %9.0f |\n", name,
                qPrintable(megabytes(size)), median, max, floor, floor > 0 ? median / floor : 0.0, floorName, peak,
                floorPeak);
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

    std::printf("\n| %-28s | %9s | %9s | %9s | %9s | %5s | %-22s | %8s | %9s |\n", "case", "size", "median ms",
                "max ms", "floor ms", "ratio", "floor", "peak MiB", "floor MiB");
    std::printf("|------------------------------|-----------|-----------|-----------|-----------|-------|"
                "------------------------|----------|-----------|\n");
    std::fflush(stdout);

    double wholeReload100 = 0;
    double wholePeak100 = 0;
    for (const int mb : {1, 10, 100}) {
        const QString path = file(qPrintable(QStringLiteral("log-%1.txt").arg(mb)));
        const qint64 size = QFileInfo(path).size();
        const QList<double> whole = runChild(QStringLiteral("time-rewrite"), path);
        const double peak = runChild(QStringLiteral("peak-rewrite"), path).first();
        const double widgetPeak = runChild(QStringLiteral("peak-widget"), path).first();
        row(qPrintable(QStringLiteral("%1 MB log, rewritten").arg(mb)), size, whole[0], whole[1], whole[2] + whole[3],
            "read+decode + widget", peak, widgetPeak);
        if (mb == 100) {
            wholeReload100 = whole[0];
            wholePeak100 = peak;
        }

        const QList<double> append = runChild(QStringLiteral("time-append"), path);
        row(qPrintable(QStringLiteral("%1 MB log, 1 KiB appended").arg(mb)), size, append[0], append[1], append[2],
            "read once", runChild(QStringLiteral("peak-append"), path).first(),
            runChild(QStringLiteral("peak-read"), path).first());
    }
    for (const auto &[name, path] : {std::pair {"3 MB line, no line breaks", file("long-line.txt")},
                                     std::pair {"10 MB UTF-16 with BOM", file("utf16.txt")}}) {
        const QList<double> whole = runChild(QStringLiteral("time-rewrite"), path);
        row(name, QFileInfo(path).size(), whole[0], whole[1], whole[2] + whole[3], "read+decode + widget",
            runChild(QStringLiteral("peak-rewrite"), path).first(),
            runChild(QStringLiteral("peak-widget"), path).first());
    }
    for (const auto &[name, path] :
         {std::pair {"640 x 480 PNG", file("small.png")}, std::pair {"4000 x 3000 JPEG", file("photo.jpg")},
          std::pair {"9000 x 9000 PNG", file("large.png")}}) {
        const QList<double> picture = runChild(QStringLiteral("time-picture"), path);
        row(name, QFileInfo(path).size(), picture[0], picture[1], picture[2], "decode + pixmap",
            runChild(QStringLiteral("peak-picture"), path).first(),
            runChild(QStringLiteral("peak-decode"), path).first());
    }
    const QList<double> attempt = runChild(QStringLiteral("time-attempt"), file("log-100.txt"));
    row("picture attempt, 100 MB log", QFileInfo(file("log-100.txt")).size(), attempt[0], attempt[1], wholeReload100,
        "whole 100 MB reload", 0, wholePeak100);
    std::printf("\nratio: reload median / floor median, both timed in one process, round by round.\n"
                "For the picture attempt the floor column is the whole reload it is part of.\n"
                "peak: the process's peak resident memory after two reloads; floor peak: a process doing\n"
                "the floor's work once.\n");
    return 0;
}
