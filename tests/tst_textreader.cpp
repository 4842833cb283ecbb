#include "testfiles.h"
#include "textreader.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(TextReader::Change)

class TestTextReader : public QObject
{
    Q_OBJECT

private slots:
    void decodeMatchesTextStream_data();
    void decodeMatchesTextStream();
    void appendsOnlyWhatIsProven_data();
    void appendsOnlyWhatIsProven();
    void randomEditsMatchWholeRead_data();
    void randomEditsMatchWholeRead();
    void refusesFilesOverTheLimit();

private:
    QTemporaryDir m_dir;
};

void TestTextReader::decodeMatchesTextStream_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("ascii") << QByteArray("one\ntwo\n");
    QTest::newRow("utf-8") << QByteArray("Gr\xc3\xbc\xc3\x9f\x65 \xe2\x82\xac \xf0\x9f\x98\x80\n");
    QTest::newRow("utf-8 bom") << QByteArray("\xef\xbb\xbfhello");
    QTest::newRow("bom only") << QByteArray("\xef\xbb\xbf");
    QTest::newRow("bom in the middle") << QByteArray("a\xef\xbb\xbf"
                                                     "b");
    QTest::newRow("utf-16le bom crlf") << QByteArray("\xff\xfe"
                                                     "a\0\r\0\n\0\x0d\x0d",
                                                     10);
    QTest::newRow("utf-16be bom") << QByteArray("\xfe\xff\0a\0\xe9", 6);
    QTest::newRow("utf-32le bom") << QByteArray("\xff\xfe\0\0"
                                                "a\0\0\0",
                                                8);
    QTest::newRow("utf-32be bom") << QByteArray("\0\0\xfe\xff\0\0\0a", 8);
    QTest::newRow("crlf and bare cr") << QByteArray("a\r\nb\rc\r");
    QTest::newRow("truncated sequence at end") << QByteArray("ok \xe2\x82");
    QTest::newRow("truncated sequence inside") << QByteArray("\xe2\x82 ok");
    QTest::newRow("stray continuation bytes") << QByteArray("\x80\xbf"
                                                            "a");
    QTest::newRow("invalid leads") << QByteArray("\xc0\xc1\xf5\xf8\xff"
                                                 "a\xfe");
    QTest::newRow("surrogate and overlong") << QByteArray("\xed\xa0\x80\xe0\x80\x80");
    QTest::newRow("nul bytes") << QByteArray("a\0b\0", 4);
    // Multi-byte sequences fall across the stream's read buffers here.
    QTest::newRow("valid utf-8 over many buffers")
        << QByteArray("caf\xc3\xa9 \xe2\x82\xac\xf0\x9f\x98\x80\r\n").repeated(20000);
}

void TestTextReader::decodeMatchesTextStream()
{
    QFETCH(QByteArray, bytes);
    const QString path = m_dir.filePath(QStringLiteral("decode.txt"));
    QVERIFY(TestFiles::write(path, bytes));
    QCOMPARE(TextReader::decode(bytes), TestFiles::readAsTextStream(path));

    TextReader reader;
    const TextReader::Update update = reader.read(path);
    QCOMPARE(update.change, TextReader::Change::Replaced);
    QCOMPARE(update.text, TestFiles::readAsTextStream(path));
}

void TestTextReader::appendsOnlyWhatIsProven_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<TextReader::Change>("change");

    using C = TextReader::Change;
    QTest::newRow("grown") << QByteArray("line 1\n") << QByteArray("line 1\nline 2\n") << C::Appended;
    QTest::newRow("grown by a bom") << QByteArray("text") << QByteArray("text\xef\xbb\xbf!") << C::Appended;
    QTest::newRow("crlf split by the append") << QByteArray("a\r") << QByteArray("a\r\nb") << C::Replaced;
    QTest::newRow("crlf split, longer") << QByteArray("abcd\r") << QByteArray("abcd\r\nb") << C::Appended;
    QTest::newRow("utf-8 bom file grown")
        << QByteArray("\xef\xbb\xbfone") << QByteArray("\xef\xbb\xbfone two") << C::Appended;
    QTest::newRow("same bytes") << QByteArray("same\n") << QByteArray("same\n") << C::Unchanged;
    QTest::newRow("same size, new bytes") << QByteArray("aaaa\n") << QByteArray("bbbb\n") << C::Replaced;
    QTest::newRow("first byte changed and grown") << QByteArray("aaaa\n") << QByteArray("Xaaa\nmore") << C::Replaced;
    QTest::newRow("shorter") << QByteArray("long line\n") << QByteArray("long") << C::Replaced;
    QTest::newRow("sequence completed") << QByteArray("euro \xe2\x82") << QByteArray("euro \xe2\x82\xac")
                                        << C::Replaced;
    QTest::newRow("four-byte lead at end")
        << QByteArray("smile \xf0") << QByteArray("smile \xf0\x9f\x98\x80") << C::Replaced;
    QTest::newRow("complete sequence at end")
        << QByteArray("euro \xe2\x82\xac") << QByteArray("euro \xe2\x82\xac and more") << C::Appended;
    QTest::newRow("too short to rule out a bom") << QByteArray("\xff")
                                                 << QByteArray("\xff\xfe"
                                                               "a\0",
                                                               4)
                                                 << C::Replaced;
    QTest::newRow("utf-16 grown") << QByteArray("\xff\xfe"
                                                "a\0b\0",
                                                6)
                                  << QByteArray("\xff\xfe"
                                                "a\0b\0c\0",
                                                8)
                                  << C::Replaced;
}

void TestTextReader::appendsOnlyWhatIsProven()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QFETCH(TextReader::Change, change);

    const QString path = m_dir.filePath(QStringLiteral("grow.txt"));
    QVERIFY(TestFiles::write(path, before));
    TextReader reader;
    const TextReader::Update first = reader.read(path);
    QCOMPARE(first.change, TextReader::Change::Replaced);

    QVERIFY(TestFiles::write(path, after));
    const TextReader::Update second = reader.read(path);
    QCOMPARE(second.change, change);
    QString shown = first.text;
    if (change == TextReader::Change::Replaced)
        shown = second.text;
    else if (change == TextReader::Change::Appended)
        shown += second.text;
    QCOMPARE(shown, TestFiles::readAsTextStream(path));
}

// Drives random appends, rewrites, truncations, partial sequences, byte-order
// marks and CR LF text through the reader and compares what a view built from
// its updates shows with a whole read after every step.
void TestTextReader::randomEditsMatchWholeRead_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("steps");
    for (const quint32 seed : {1u, 2u, 3u, 5u, 8u, 13u, 21u, 34u})
        QTest::addRow("seed %u", seed) << seed << 300;
}

static QByteArray randomPiece(QRandomGenerator &random)
{
    static const QByteArray pieces[] = {
        "log line number one\n",
        "windows line\r\n",
        "bare cr\r",
        "\r",
        "\n",
        "caf\xc3\xa9 ",
        "\xe2\x82\xac",
        "\xe2",
        "\x82",
        "\xac",
        "\xf0\x9f\x98\x80",
        "\xf0\x9f",
        "\x98\x80",
        "\xef\xbb\xbf",
        "\xff\xfe",
        QByteArray("\0", 1),
        "\xc0",
        "\xf8\x88\x80\x80\x80",
        "\t tab",
    };
    QByteArray piece;
    const int count = 1 + int(random.bounded(6));
    for (int i = 0; i < count; ++i)
        piece += pieces[random.bounded(int(std::size(pieces)))];
    return piece;
}

void TestTextReader::randomEditsMatchWholeRead()
{
    QFETCH(quint32, seed);
    QFETCH(int, steps);

    QRandomGenerator random(seed);
    const QString path = m_dir.filePath(QStringLiteral("random-%1.txt").arg(seed));
    QByteArray contents = randomPiece(random);
    QVERIFY(TestFiles::write(path, contents));

    TextReader reader;
    QString shown;
    QHash<int, int> seen;
    for (int step = 0; step < steps; ++step) {
        const TextReader::Update update = reader.read(path);
        ++seen[int(update.change)];
        switch (update.change) {
        case TextReader::Change::Replaced:
            shown = update.text;
            break;
        case TextReader::Change::Appended:
            shown += update.text;
            break;
        case TextReader::Change::Unchanged:
            break;
        default:
            QFAIL("the file became unreadable");
        }
        // What a whole reload shows; for valid text it is also what a text
        // stream reads (the stream alone counts replacement characters of
        // malformed sequences differently where they cross its read buffers).
        const QString whole = TextReader::decode(contents);
        QCOMPARE(shown, whole);
        if (!whole.contains(QChar::ReplacementCharacter))
            QCOMPARE(shown, TestFiles::readAsTextStream(path));

        const quint32 action = random.bounded(100);
        if (action < 70) {
            QByteArray piece = randomPiece(random);
            if (action < 3) // now and then cross the reader's block boundaries
                piece = piece.repeated(int((1 << 20) / piece.size()) + 1);
            contents += piece;
            QVERIFY(TestFiles::append(path, piece));
        } else if (action < 78) {
            contents = randomPiece(random);
            if (action < 72)
                contents.prepend(random.bounded(2) ? "\xef\xbb\xbf" : "\xff\xfe");
            QVERIFY(TestFiles::replace(path, contents));
        } else if (action < 86) {
            contents.truncate(int(random.bounded(contents.size() + 1)));
            QVERIFY(TestFiles::write(path, contents));
        } else if (action < 92 && !contents.isEmpty()) {
            const int at = int(random.bounded(contents.size()));
            contents[at] = char(contents.at(at) ^ 0x20);
            QVERIFY(TestFiles::write(path, contents));
        }
        // otherwise the file stays as it is
    }
    // The run must have exercised every way a read can go.
    QVERIFY(seen.value(int(TextReader::Change::Appended)) > 0);
    QVERIFY(seen.value(int(TextReader::Change::Replaced)) > 0);
    QVERIFY(seen.value(int(TextReader::Change::Unchanged)) > 0);
}

void TestTextReader::refusesFilesOverTheLimit()
{
    const QString path = m_dir.filePath(QStringLiteral("sparse.log"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(TextReader::maxTextBytes + 1));
    }
    TextReader reader;
    const TextReader::Update update = reader.read(path);
    QCOMPARE(update.change, TextReader::Change::TooLarge);
    QCOMPARE(update.fileSize, TextReader::maxTextBytes + 1);

    // Exactly at the limit is still read.
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.resize(TextReader::maxTextBytes));
    }
    QCOMPARE(reader.read(path).change, TextReader::Change::Replaced);
}

QTEST_GUILESS_MAIN(TestTextReader)
#include "tst_textreader.moc"
