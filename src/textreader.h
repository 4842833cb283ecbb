#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <vector>

// Reads the watched file as text and remembers just enough of what it read to
// prove, on the next read, that the file has only grown: then only the new
// tail is decoded and handed out. The proof is a hash of every byte read
// before, never the size or the time stamp alone.
class TextReader
{
public:
    // Larger files are refused rather than read: holding one as text costs
    // several times its size and blocks the window for seconds.
    static constexpr qint64 maxTextBytes = qint64(256) << 20;

    enum class Change {
        Replaced,   // text is the whole new contents
        Appended,   // text is to be added after what was read last time
        Unchanged,  // the file still holds exactly what was read last time
        Unreadable, // the file could not be opened
        TooLarge,   // the file holds more than maxTextBytes; fileSize says how much
    };

    struct Update
    {
        Change change = Change::Unreadable;
        QString text;
        qint64 fileSize = 0;
    };

    // Reads the file at path. An append is only ever reported for the path of
    // the previous read, and only after forget() was not called in between.
    // beforeWholeRead runs when the whole file is about to be read, so that
    // the caller can let go of the old text first: whatever that read brings,
    // the old text is replaced.
    [[nodiscard]] Update read(const QString &path, const std::function<void()> &beforeWholeRead = {});

    // The view no longer shows what was read last; the next read is a whole one.
    void forget();

    // The whole contents as the view shows them: UTF-8 unless a Unicode
    // byte-order mark names another encoding, with every carriage return dropped.
    [[nodiscard]] static QString decode(const QByteArray &bytes);

private:
    [[nodiscard]] Update readWhole(class QFile &file, const std::function<void()> &beforeWholeRead);
    [[nodiscard]] bool readAppended(class QFile &file, Update &update);
    void remember(const QByteArray &bytes, qint64 offset);

    QString m_path;
    qint64 m_size = -1;                 // bytes proven by the hashes below; -1 when nothing is remembered
    std::vector<quint64> m_blockHashes; // one per full block of the remembered prefix
    quint64 m_lastBlockHash = 0;        // the bytes after the last full block
};
