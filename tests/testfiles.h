#pragma once

#include <QByteArray>
#include <QFile>
#include <QLabel>
#include <QPixmap>
#include <QSaveFile>
#include <QString>
#include <QTextStream>
#include <QtGlobal>

// Small file helpers shared by the tests. Every file lives in a QTemporaryDir.
namespace TestFiles {

[[nodiscard]] inline bool write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

[[nodiscard]] inline bool append(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Append) && file.write(bytes) == bytes.size();
}

// Writes a new file beside the old one and renames it over: how most editors save.
[[nodiscard]] inline bool replace(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

// The contents as read by a text stream on the file opened in text mode, with
// UTF-8 as the default and byte-order-mark detection on: what the view must show.
inline QString readAsTextStream(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QTextStream stream(&file);
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    stream.setEncoding(QStringConverter::Utf8);
#else
    stream.setCodec("UTF-8");
#endif
    stream.setAutoDetectUnicode(true);
    return stream.readAll();
}

// The picture a label shows; an empty pixmap when there is none.
inline QPixmap pixmapOf(const QLabel *label)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return label->pixmap();
#else
    // Qt 5.15 still defaults to the pointer-returning, deprecated overload.
    return label->pixmap(Qt::ReturnByValue);
#endif
}

} // namespace TestFiles
