#include "tamberlo.h"

#include "ui_tamberlo.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QLocale>
#include <QMimeData>
#include <QPixmap>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>
#include <QUrl>

#include <utility>

namespace {

constexpr int reloadDelayMs = 200;

QString notReadableMessage()
{
    return QStringLiteral("Error! File not readable!");
}

QString tooLargeMessage(qint64 size)
{
    const QLocale c = QLocale::c();
    return QStringLiteral("Error! File too large to show as text: %1 (the limit is %2).")
        .arg(c.formattedDataSize(size, 1, QLocale::DataSizeIecFormat),
             c.formattedDataSize(TextReader::maxTextBytes, 0, QLocale::DataSizeIecFormat));
}

bool isScrolledToEnd(const QScrollBar *bar)
{
    return bar->maximum() > 0 && bar->value() == bar->maximum();
}

// The path of the one local file a drag carries; empty for anything else.
QString droppedFile(const QMimeData *mime)
{
    if (mime == nullptr || !mime->hasUrls())
        return {};
    const QList<QUrl> urls = mime->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return {};
    const QString path = urls.first().toLocalFile();
    return QFileInfo(path).isDir() ? QString() : path;
}

} // namespace

Tamberlo::Tamberlo(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::Tamberlo)
{
    ui->setupUi(this);
    // The form's icon file is looked up in the working directory. Where it is
    // missing the icon holds no image, yet would still hide the application's.
    if (windowIcon().availableSizes().isEmpty())
        setWindowIcon(QIcon());
    // The editor is read-only: an undo history would only keep copies of
    // every appended tail.
    ui->plainTextEdit->setUndoRedoEnabled(false);
    setAcceptDrops(true);
}

Tamberlo::~Tamberlo()
{
    delete ui;
}

void Tamberlo::setWatchedPath(const QString &path)
{
    if (path.isEmpty())
        return;
    if (!watchedPath.isEmpty()) {
        watcher.removePath(watchedPath);
        const QStringList directories = watcher.directories();
        if (!directories.isEmpty())
            watcher.removePaths(directories);
    } else {
        connect(&watcher, &QFileSystemWatcher::fileChanged, this, &Tamberlo::fileChanged);
        connect(&watcher, &QFileSystemWatcher::directoryChanged, this, &Tamberlo::watchedDirectoryChanged);
    }
    watchedPath = path;
    watcher.addPath(watchedPath);
    setWindowTitle(QStringLiteral("Tamberlo watching ") + watchedPath);
    fileChanged(watchedPath);
}

void Tamberlo::fileChanged(const QString &path)
{
    // A save that replaces the file drops it from the watcher; watch the new
    // one. When nothing is there yet, watch the directories above it until
    // it appears.
    if (watcher.files().isEmpty() && !watcher.addPath(path) && !QFileInfo::exists(path))
        watchNearestExistingDirectory();
    QTimer::singleShot(reloadDelayMs, this, &Tamberlo::updateViewWithContents);
}

void Tamberlo::watchNearestExistingDirectory()
{
    QString directory = QFileInfo(watchedPath).absolutePath();
    while (!QFileInfo(directory).isDir()) {
        const QString parent = QFileInfo(directory).absolutePath();
        if (parent == directory)
            return;
        directory = parent;
    }
    const QStringList watched = watcher.directories();
    if (watched != QStringList(directory)) {
        if (!watched.isEmpty())
            watcher.removePaths(watched);
        watcher.addPath(directory);
    }
    // It may have appeared before the directory was under watch.
    if (QFileInfo::exists(watchedPath))
        watchedDirectoryChanged();
}

void Tamberlo::watchedDirectoryChanged()
{
    if (!QFileInfo::exists(watchedPath)) {
        // A directory on the way may have been created or removed.
        watchNearestExistingDirectory();
        return;
    }
    if (!watcher.addPath(watchedPath))
        return;
    watcher.removePaths(watcher.directories());
    fileChanged(watchedPath);
}

void Tamberlo::on_pushButton_clicked()
{
    setWatchedPath(QFileDialog::getOpenFileName(ui->pushButton, QStringLiteral("Choose File to Watch"), QString(),
                                                QStringLiteral("All Files (*)")));
}

void Tamberlo::updateViewWithContents()
{
    // The reader's place is kept only while the view goes on showing one file.
    const bool samePath = watchedPath == shownPath;
    shownPath = watchedPath;

    // A FIFO blocks in open(), a device never ends and a directory holds no
    // text: only regular files, after following links, are ever opened.
    const QFileInfo info(watchedPath);
    if (info.exists() && !info.isFile()) {
        showTextMessage(notReadableMessage());
        return;
    }

    QImage image(watchedPath);
    if (image.valid(0, 0)) {
        showPicture(std::move(image), samePath);
        return;
    }
    ui->tabWidget->setCurrentIndex(0);
    showText(samePath);
}

void Tamberlo::showPicture(QImage &&image, bool samePath)
{
    // The editor keeps its text, but the next text read must replace it whole.
    textReader.forget();
    ui->tabWidget->setCurrentIndex(1);
    const QSize size = image.size();
    ui->imageLabel->setPixmap(QPixmap::fromImage(std::move(image)));
    if (!samePath || size != shownPictureSize) {
        ui->imageScrollArea->horizontalScrollBar()->setValue(0);
        ui->imageScrollArea->verticalScrollBar()->setValue(0);
    }
    shownPictureSize = size;
}

void Tamberlo::showText(bool samePath)
{
    QPlainTextEdit *const edit = ui->plainTextEdit;
    QScrollBar *const vertical = edit->verticalScrollBar();
    QScrollBar *const horizontal = edit->horizontalScrollBar();
    // The reader's place, taken before the text goes.
    const bool followEnd = samePath && isScrolledToEnd(vertical);
    const int verticalValue = vertical->value();
    const int horizontalValue = horizontal->value();
    const int anchor = edit->textCursor().anchor();
    const int position = edit->textCursor().position();

    // Clearing first frees the old text before the new one is read, and costs
    // far less than letting setPlainText replace a long text.
    const TextReader::Update update = textReader.read(watchedPath, [edit] { edit->clear(); });
    switch (update.change) {
    case TextReader::Change::Unreadable:
        showTextMessage(notReadableMessage());
        return;
    case TextReader::Change::TooLarge:
        showTextMessage(tooLargeMessage(update.fileSize));
        return;
    case TextReader::Change::Unchanged:
        return;
    case TextReader::Change::Appended: {
        QTextCursor end(edit->document());
        end.movePosition(QTextCursor::End);
        end.insertText(update.text);
        break;
    }
    case TextReader::Change::Replaced:
        edit->setPlainText(update.text);
        if (!samePath)
            return;
        // Restoring the cursor scrolls it into view, which lays out its whole
        // line: only worth it where the reader moved it. The scroll bars come last.
        if (anchor != 0 || position != 0) {
            const int last = edit->document()->characterCount() - 1;
            QTextCursor cursor(edit->document());
            cursor.setPosition(qMin(anchor, last));
            cursor.setPosition(qMin(position, last), QTextCursor::KeepAnchor);
            edit->setTextCursor(cursor);
        }
        horizontal->setValue(horizontalValue);
        vertical->setValue(verticalValue);
        break;
    }
    if (followEnd)
        vertical->setValue(vertical->maximum());
}

void Tamberlo::showTextMessage(const QString &message)
{
    textReader.forget();
    ui->tabWidget->setCurrentIndex(0);
    ui->plainTextEdit->setPlainText(message);
}

void Tamberlo::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
}

void Tamberlo::dragEnterEvent(QDragEnterEvent *event)
{
    if (droppedFile(event->mimeData()).isEmpty())
        event->ignore();
    else
        event->acceptProposedAction();
}

void Tamberlo::dropEvent(QDropEvent *event)
{
    const QString path = droppedFile(event->mimeData());
    if (path.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    setWatchedPath(path);
}
