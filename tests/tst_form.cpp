#include "application.h"
#include "tamberlo.h"
#include "testfiles.h"
#include "ui_tamberlo.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <QWindow>

namespace {

// Translates the window's texts by putting them in brackets.
class BracketTranslator : public QTranslator
{
public:
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *sourceText, const char * = nullptr, int = -1) const override
    {
        if (qstrcmp(context, "Tamberlo") != 0)
            return {};
        return QLatin1Char('[') + QString::fromUtf8(sourceText) + QLatin1Char(']');
    }
};

} // namespace

class TestForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void applicationIdentity();
    void objectTree_data();
    void objectTree();
    void windowAtStartUp();
    void keepsAnObjectNameItWasGiven();
    void layouts_data();
    void layouts();
    void textViewIsReadOnlyButSelectable();
    void pictureLabelSitsInAScrollArea();
    void windowIconFromWorkingDirectory_data();
    void windowIconFromWorkingDirectory();
    void languageChangeRetranslatesOnlyTheTexts();
};

void TestForm::initTestCase()
{
    setUpApplication();
}

void TestForm::applicationIdentity()
{
    QCOMPARE(QCoreApplication::applicationVersion(), QStringLiteral(TAMBERLO_VERSION));
    QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral(TAMBERLO_APP_ID));
    const QIcon icon = QApplication::windowIcon();
    for (const int size : {16, 32, 48, 256})
        QCOMPARE(icon.pixmap(size).size(), QSize(size, size));
}

void TestForm::objectTree_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");

    QTest::newRow("centralWidget") << "centralWidget"
                                   << "QWidget"
                                   << "Tamberlo";
    QTest::newRow("gridLayout") << "gridLayout"
                                << "QGridLayout"
                                << "centralWidget";
    QTest::newRow("horizontalLayout_3") << "horizontalLayout_3"
                                        << "QHBoxLayout"
                                        << "gridLayout";
    QTest::newRow("pushButton") << "pushButton"
                                << "QPushButton"
                                << "centralWidget";
    QTest::newRow("tabWidget") << "tabWidget"
                               << "QTabWidget"
                               << "centralWidget";
    QTest::newRow("gridLayout_2") << "gridLayout_2"
                                  << "QGridLayout"
                                  << "textTab";
    QTest::newRow("plainTextEdit") << "plainTextEdit"
                                   << "QPlainTextEdit"
                                   << "textTab";
    QTest::newRow("gridLayout_3") << "gridLayout_3"
                                  << "QGridLayout"
                                  << "imageTab";
    QTest::newRow("imageScrollArea") << "imageScrollArea"
                                     << "QScrollArea"
                                     << "imageTab";
    QTest::newRow("menuBar") << "menuBar"
                             << "QMenuBar"
                             << "Tamberlo";
}

void TestForm::objectTree()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, parentName);

    Tamberlo window;
    const auto matches = window.findChildren<QObject *>(name);
    QCOMPARE(matches.size(), 1);
    QObject *object = matches.first();
    QCOMPARE(QString::fromLatin1(object->metaObject()->className()), className);
    QCOMPARE(object->parent()->objectName(), parentName);
}

void TestForm::windowAtStartUp()
{
    Tamberlo window;
    QCOMPARE(window.objectName(), QStringLiteral("Tamberlo"));
    QCOMPARE(window.size(), QSize(498, 370));
    QCOMPARE(window.windowTitle(), QStringLiteral("Tamberlo"));
    QVERIFY(!window.autoFillBackground());

    auto *menuBar = window.findChild<QMenuBar *>(QStringLiteral("menuBar"));
    QCOMPARE(window.menuBar(), menuBar);
    QVERIFY(menuBar->actions().isEmpty());

    auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    QCOMPARE(tabs->count(), 2);
    QCOMPARE(tabs->currentIndex(), 0);
    QCOMPARE(tabs->widget(0)->objectName(), QStringLiteral("textTab"));
    QCOMPARE(tabs->widget(1)->objectName(), QStringLiteral("imageTab"));
    QCOMPARE(tabs->tabText(0), QStringLiteral("Text Watcher"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("Image Watcher"));
    QVERIFY(tabs->widget(0)->autoFillBackground());
    QCOMPARE(tabs->widget(0)->sizePolicy(), QSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding));

    auto *button = window.findChild<QPushButton *>(QStringLiteral("pushButton"));
    QCOMPARE(button->text(), QStringLiteral("Watch File"));

    auto *central = window.findChild<QWidget *>(QStringLiteral("centralWidget"));
    QCOMPARE(window.centralWidget(), central);
    QVERIFY(!central->autoFillBackground());
    QSizePolicy stretched(QSizePolicy::Expanding, QSizePolicy::Expanding);
    stretched.setHorizontalStretch(1);
    stretched.setVerticalStretch(1);
    QCOMPARE(central->sizePolicy(), stretched);

    auto *edit = window.findChild<QPlainTextEdit *>(QStringLiteral("plainTextEdit"));
    QVERIFY(edit->toPlainText().isEmpty());
    QCOMPARE(edit->sizePolicy(), stretched);
    QVERIFY(!edit->autoFillBackground());
    QVERIFY(!edit->backgroundVisible());
    QCOMPARE(edit->tabStopDistance(), 4.0); // pixels, not characters

    auto *label = window.findChild<QLabel *>(QStringLiteral("imageLabel"));
    QVERIFY(label->text().isEmpty());
    QVERIFY(TestFiles::pixmapOf(label).isNull());
}

void TestForm::keepsAnObjectNameItWasGiven()
{
    // The form names only a window that has no name yet.
    QMainWindow named;
    named.setObjectName(QStringLiteral("given"));
    Ui::Tamberlo namedForm;
    namedForm.setupUi(&named);
    QCOMPARE(named.objectName(), QStringLiteral("given"));

    QMainWindow unnamed;
    Ui::Tamberlo unnamedForm;
    unnamedForm.setupUi(&unnamed);
    QCOMPARE(unnamed.objectName(), QStringLiteral("Tamberlo"));
}

void TestForm::layouts_data()
{
    QTest::addColumn<QString>("layoutName");
    QTest::addColumn<QString>("itemName");
    QTest::addColumn<int>("row");

    QTest::newRow("tabs above") << "gridLayout"
                                << "tabWidget" << 0;
    QTest::newRow("button row below") << "gridLayout"
                                      << "horizontalLayout_3" << 1;
    QTest::newRow("text view") << "gridLayout_2"
                               << "plainTextEdit" << 0;
    QTest::newRow("picture area") << "gridLayout_3"
                                  << "imageScrollArea" << 0;
}

void TestForm::layouts()
{
    QFETCH(QString, layoutName);
    QFETCH(QString, itemName);
    QFETCH(int, row);

    Tamberlo window;
    auto *grid = window.findChild<QGridLayout *>(layoutName);
    QVERIFY(grid);
    QCOMPARE(grid->spacing(), 6);
    QCOMPARE(grid->contentsMargins(), QMargins(11, 11, 11, 11));
    QLayoutItem *item = grid->itemAtPosition(row, 0);
    QVERIFY(item);
    QObject *object = item->widget() ? static_cast<QObject *>(item->widget()) : item->layout();
    QCOMPARE(object->objectName(), itemName);
    int r, c, rowSpan, columnSpan;
    grid->getItemPosition(grid->indexOf(item), &r, &c, &rowSpan, &columnSpan);
    QCOMPARE(QList<int>({r, c, rowSpan, columnSpan}), QList<int>({row, 0, 1, 1}));
    QCOMPARE(item->alignment(), Qt::Alignment());

    if (itemName == QLatin1String("horizontalLayout_3")) {
        QLayout *buttonRow = item->layout();
        QCOMPARE(buttonRow->spacing(), 6);
        QCOMPARE(buttonRow->count(), 2);
        QCOMPARE(buttonRow->itemAt(0)->widget()->objectName(), QStringLiteral("pushButton"));
        QSpacerItem *spacer = buttonRow->itemAt(1)->spacerItem();
        QVERIFY(spacer);
        QCOMPARE(spacer->sizeHint(), QSize(40, 20));
        QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
        QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
    }
}

void TestForm::textViewIsReadOnlyButSelectable()
{
    Tamberlo window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *edit = window.findChild<QPlainTextEdit *>(QStringLiteral("plainTextEdit"));
    QVERIFY(edit->isReadOnly());
    QCOMPARE(edit->textInteractionFlags(), Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

    edit->setPlainText(QStringLiteral("shown"));
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("typed"));
    QApplication::clipboard()->setText(QStringLiteral("pasted"));
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(edit->toPlainText(), QStringLiteral("shown"));

    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(edit->textCursor().selectedText(), QStringLiteral("shown"));
    QTest::keyClick(edit, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("shown"));
}

void TestForm::pictureLabelSitsInAScrollArea()
{
    Tamberlo window;
    auto *area = window.findChild<QScrollArea *>(QStringLiteral("imageScrollArea"));
    auto *label = window.findChild<QLabel *>(QStringLiteral("imageLabel"));
    QCOMPARE(area->widget(), label);
    QVERIFY(area->widgetResizable());
    QCOMPARE(area->frameShape(), QFrame::NoFrame);
    // The label itself is as the form always had it.
    QCOMPARE(label->alignment(), Qt::AlignLeft | Qt::AlignVCenter);
    QVERIFY(!label->hasScaledContents());
    QVERIFY(!label->wordWrap());
}

void TestForm::windowIconFromWorkingDirectory_data()
{
    QTest::addColumn<bool>("present");
    QTest::newRow("icon file present") << true;
    QTest::newRow("icon file absent") << false;
}

void TestForm::windowIconFromWorkingDirectory()
{
    QFETCH(bool, present);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (present)
        QVERIFY(QFile::copy(QStringLiteral(TAMBERLO_SOURCE_DIR "/icons/us-dollar-photo-12.png"),
                            dir.filePath(QStringLiteral("us-dollar-photo-12.png"))));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    Tamberlo window;
    QVERIFY(QDir::setCurrent(previous));

    // Without the file the window shows the application's own icon.
    const qint64 applicationIcon = QApplication::windowIcon().cacheKey();
    QVERIFY(!QApplication::windowIcon().isNull());
    QCOMPARE(window.windowIcon().isNull(), !present);
    window.winId();
    QCOMPARE(window.windowHandle()->icon().cacheKey() == applicationIcon, !present);
    if (present)
        QCOMPARE(window.windowIcon().pixmap(128).size(), QSize(128, 128));
}

void TestForm::languageChangeRetranslatesOnlyTheTexts()
{
    Tamberlo window;
    auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    auto *edit = window.findChild<QPlainTextEdit *>(QStringLiteral("plainTextEdit"));
    window.resize(600, 400);
    tabs->setCurrentIndex(1);
    edit->setPlainText(QStringLiteral("contents"));

    BracketTranslator translator;
    QVERIFY(QCoreApplication::installTranslator(&translator));
    QTRY_COMPARE(window.windowTitle(), QStringLiteral("[Tamberlo]"));
    QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("pushButton"))->text(), QStringLiteral("[Watch File]"));
    QCOMPARE(tabs->tabText(0), QStringLiteral("[Text Watcher]"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("[Image Watcher]"));
    QVERIFY(window.findChild<QLabel *>(QStringLiteral("imageLabel"))->text().isEmpty());

    QCOMPARE(window.size(), QSize(600, 400));
    QCOMPARE(tabs->currentIndex(), 1);
    QCOMPARE(edit->toPlainText(), QStringLiteral("contents"));
    QVERIFY(QCoreApplication::removeTranslator(&translator));
    QTRY_COMPARE(window.windowTitle(), QStringLiteral("Tamberlo"));
}

QTEST_MAIN(TestForm)
#include "tst_form.moc"
