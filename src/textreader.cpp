#include "textreader.h"

#include <QFile>
#include <QtGlobal>

#include <cstring>

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#include <QStringDecoder>
#else
#include <QTextCodec>
#endif

namespace {

// The prefix is hashed in blocks so that a file rewritten from its start is
// told apart after reading one block, not the whole file.
constexpr qsizetype blockSize = qsizetype(1) << 20;

// A fast 64-bit hash in the style of xxHash64: four independent lanes keep the
// multiplier busy, so hashing costs little next to reading the bytes at all.
// It guards against accidents (an edited prefix), not against an adversary.
constexpr quint64 prime1 = 0x9E3779B185EBCA87ULL;
constexpr quint64 prime2 = 0xC2B2AE3D27D4EB4FULL;
constexpr quint64 prime3 = 0x165667B19E3779F9ULL;
constexpr quint64 prime4 = 0x85EBCA77C2B2AE63ULL;

inline quint64 rotl(quint64 x, int r)
{
    return (x << r) | (x >> (64 - r));
}

inline quint64 load64(const char *p)
{
    quint64 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline quint64 mixRound(quint64 acc, quint64 input)
{
    return rotl(acc + input * prime2, 31) * prime1;
}

quint64 hashBytes(const char *data, qsizetype size)
{
    const char *p = data;
    const char *const end = data + size;
    quint64 h = prime4 + quint64(size);
    if (size >= 32) {
        quint64 a = prime1 + prime2, b = prime2, c = 0, d = 0 - prime1;
        for (; end - p >= 32; p += 32) {
            a = mixRound(a, load64(p));
            b = mixRound(b, load64(p + 8));
            c = mixRound(c, load64(p + 16));
            d = mixRound(d, load64(p + 24));
        }
        h += rotl(a, 1) + rotl(b, 7) + rotl(c, 12) + rotl(d, 18);
    }
    for (; end - p >= 8; p += 8)
        h = rotl(h ^ mixRound(0, load64(p)), 27) * prime1 + prime4;
    for (; p < end; ++p)
        h = rotl(h ^ (quint64(uchar(*p)) * prime3), 11) * prime1;
    h ^= h >> 33;
    h *= prime2;
    h ^= h >> 29;
    h *= prime3;
    h ^= h >> 32;
    return h;
}

// True when the bytes end inside a UTF-8 sequence that later bytes could
// complete. Decoding only the appended tail is exact only when the decoder
// holds nothing back at the old end. Any byte from 0xC0 up counts as a lead
// byte here, of the longest length it could start: that errs towards a whole
// reload, never towards a wrong one.
bool endsInsideUtf8Sequence(const char *end, qsizetype available)
{
    for (int back = 1; back <= 3 && back <= available; ++back) {
        const auto byte = uchar(end[-back]);
        if (byte < 0x80)
            return false;
        if (byte >= 0xC0) {
            const int length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
            return back < length;
        }
    }
    return false;
}

qsizetype readFully(QFile &file, char *into, qsizetype size)
{
    qsizetype done = 0;
    while (done < size) {
        const qint64 got = file.read(into + done, size - done);
        if (got <= 0)
            break;
        done += qsizetype(got);
    }
    return done;
}

// Whether the view of these bytes can later be extended by decoding only what
// follows them: UTF-8 (with or without its byte-order mark) and long enough
// that no later byte can turn the start into another byte-order mark.
bool isAppendableUtf8(const QByteArray &start)
{
    if (start.size() < 4)
        return false;
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const auto encoding = QStringConverter::encodingForData(start);
    return !encoding || *encoding == QStringConverter::Utf8;
#else
    const QTextCodec *codec = QTextCodec::codecForUtfText(start, nullptr);
    return codec == nullptr || codec->mibEnum() == 106;
#endif
}

// Decodes bytes that follow a clean UTF-8 boundary. Unlike at the start of a
// file, a byte-order mark here is an ordinary character and must be kept.
QString decodeUtf8Tail(const QByteArray &bytes)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
#else
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    QString text = QTextCodec::codecForMib(106)->toUnicode(bytes.constData(), int(bytes.size()), &state);
#endif
    text.remove(QLatin1Char('\r'));
    return text;
}

} // namespace

QString TextReader::decode(const QByteArray &bytes)
{
    // A decoder that keeps its state, like a text stream reading the file: an
    // incomplete sequence at the very end waits for bytes and is not shown.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const auto encoding = QStringConverter::encodingForData(bytes).value_or(QStringConverter::Utf8);
    QStringDecoder decoder(encoding);
    QString text = decoder.decode(bytes);
#else
    QTextCodec *codec = QTextCodec::codecForUtfText(bytes, QTextCodec::codecForMib(106));
    QTextCodec::ConverterState state;
    QString text = codec->toUnicode(bytes.constData(), int(bytes.size()), &state);
#endif
    // Text files from other systems end lines in CR LF; a lone CR is dropped too.
    text.remove(QLatin1Char('\r'));
    return text;
}

void TextReader::forget()
{
    m_path.clear();
    m_size = -1;
    m_blockHashes.clear();
    m_lastBlockHash = 0;
}

TextReader::Update TextReader::read(const QString &path, const std::function<void()> &beforeWholeRead)
{
    if (path != m_path)
        forget();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        forget();
        return {};
    }
    Update update;
    if (file.size() <= maxTextBytes && readAppended(file, update))
        return update;
    update = readWhole(file, beforeWholeRead);
    if (update.change == Change::Replaced)
        m_path = path;
    return update;
}

TextReader::Update TextReader::readWhole(QFile &file, const std::function<void()> &beforeWholeRead)
{
    forget();
    Update update;
    update.fileSize = file.size();
    if (update.fileSize > maxTextBytes) {
        update.change = Change::TooLarge;
        return update;
    }
    if (!file.seek(0))
        return {};
    if (beforeWholeRead)
        beforeWholeRead();
    const QByteArray bytes = file.readAll();
    update.fileSize = qMax(update.fileSize, qint64(bytes.size()));
    if (bytes.size() > maxTextBytes) {
        // It grew past the limit while being read.
        update.change = Change::TooLarge;
        return update;
    }
    update.change = Change::Replaced;
    update.text = decode(bytes);
    if (isAppendableUtf8(bytes.left(4)))
        remember(bytes, 0);
    return update;
}

bool TextReader::readAppended(QFile &file, Update &update)
{
    if (m_size < 0)
        return false;
    // Files under /proc report size 0 and still have contents: only a size
    // that is known and smaller rules an append out before reading.
    if (file.size() != 0 && file.size() < m_size)
        return false;

    QByteArray block(blockSize, Qt::Uninitialized);
    for (const quint64 expected : m_blockHashes) {
        if (readFully(file, block.data(), blockSize) != blockSize
            || hashBytes(block.constData(), blockSize) != expected)
            return false;
    }
    const qint64 proven = qint64(m_blockHashes.size()) * blockSize;
    const auto lastLength = qsizetype(m_size - proven);
    if (readFully(file, block.data(), lastLength) != lastLength
        || hashBytes(block.constData(), lastLength) != m_lastBlockHash)
        return false;

    const QByteArray tail = file.readAll();
    if (m_size + tail.size() > maxTextBytes)
        return false;
    if (tail.isEmpty()) {
        update.change = Change::Unchanged;
        update.fileSize = m_size;
        return true;
    }
    update.change = Change::Appended;
    update.text = decodeUtf8Tail(tail);
    update.fileSize = m_size + tail.size();

    block.truncate(lastLength);
    block += tail;
    remember(block, proven);
    return true;
}

void TextReader::remember(const QByteArray &bytes, qint64 offset)
{
    Q_ASSERT(offset % blockSize == 0);
    const qsizetype size = bytes.size();
    if (endsInsideUtf8Sequence(bytes.constData() + bytes.size(), size)) {
        forget();
        return;
    }
    m_blockHashes.resize(size_t(offset / blockSize));
    const char *p = bytes.constData();
    qsizetype left = size;
    for (; left >= blockSize; left -= blockSize, p += blockSize)
        m_blockHashes.push_back(hashBytes(p, blockSize));
    m_lastBlockHash = hashBytes(p, left);
    m_size = offset + size;
}
