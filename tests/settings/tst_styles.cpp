#include "common/ModalWatcher.h"
#include "common/TestMain.h"

#include "app/Application.h"
#include "app/ProgramFolders.h"
#include "log/ColorRules.h"
#include "log/StackTrace.h"
#include "settings/IniFile.h"
#include "settings/SettingsStore.h"
#include "settings/Style.h"
#include "settings/StyleList.h"
#include "settings/VCLStyleSelector.h"

#include <QCheckBox>
#include <QMessageBox>
#include <QProxyStyle>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStyle>
#include <QStyleOption>

#include <algorithm>

namespace {

QString StoredStyle()
{
    return IniFile(IniFilePath)
        .ReadString(QStringLiteral("Ferrovane"), QStringLiteral("StyleName"), QStringLiteral("<none>"));
}

QStringList ListTexts(const QListWidget *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

void DoubleClickItem(QListWidget *list, const QString &name)
{
    QListWidgetItem *item = list->findItems(name, Qt::MatchExactly).value(0);
    QVERIFY(item);
    list->scrollToItem(item);
    const QPoint at = list->visualItemRect(item).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

}  // namespace

class TestStyles : public QObject
{
    Q_OBJECT

    std::unique_ptr<SettingsStore> settings_;

private slots:
    void initTestCase() { SetProgramFolders(); }
    void init()
    {
        QFile::remove(IniFilePath);
        settings_ = std::make_unique<SettingsStore>(IniFilePath);
        ChosenStyleName = QStringLiteral("Auric");
    }

    void namesAreTheTwentyAndTheSystemLook()
    {
        const QStringList names = StyleNames();
        QCOMPARE(names.size(), 21);
        QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), 21);
        QVERIFY(names.contains(QStringLiteral("Auric")));
        QVERIFY(names.contains(QStringLiteral("Windows")));
        QVERIFY(StyleExists(QStringLiteral("Smokey Quartz Kamri")));
        QVERIFY(!StyleExists(QStringLiteral("auric")));  // names compare exactly
        QVERIFY(!StyleExists(QString()));
    }

    void paletteContrast_data()
    {
        QTest::addColumn<QString>("name");
        for (const QString &name : StyleNames())
            if (name != kSystemStyleName)
                QTest::newRow(qPrintable(name)) << name;
    }
    // Every text of every style reads at 4.5:1 or better on its background;
    // disabled texts stay legible.
    void paletteContrast()
    {
        QFETCH(QString, name);
        const QPalette p = StylePalette(name);
        const std::pair<QPalette::ColorRole, QPalette::ColorRole> pairs[] = {
            {QPalette::WindowText, QPalette::Window},         {QPalette::Text, QPalette::Base},
            {QPalette::Text, QPalette::AlternateBase},        {QPalette::ButtonText, QPalette::Button},
            {QPalette::HighlightedText, QPalette::Highlight}, {QPalette::ToolTipText, QPalette::ToolTipBase},
            {QPalette::PlaceholderText, QPalette::Base},      {QPalette::Link, QPalette::Base},
            {QPalette::LinkVisited, QPalette::Base},
        };
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            for (const auto &[text, background] : pairs) {
                const double ratio = ContrastRatio(p.color(group, text), p.color(group, background));
                QVERIFY2(ratio >= 4.5, qPrintable(QStringLiteral("%1: roles %2 on %3 only %4:1")
                                                      .arg(name)
                                                      .arg(int(text))
                                                      .arg(int(background))
                                                      .arg(ratio)));
            }
        }
        for (const auto &[text, background] :
             {std::pair{QPalette::WindowText, QPalette::Window}, std::pair{QPalette::Text, QPalette::Base},
              std::pair{QPalette::ButtonText, QPalette::Button}}) {
            const double ratio =
                ContrastRatio(p.color(QPalette::Disabled, text), p.color(QPalette::Disabled, background));
            QVERIFY2(ratio >= 2.5,
                     qPrintable(QStringLiteral("%1: disabled role %2 only %3:1").arg(name).arg(int(text)).arg(ratio)));
            // Disabled must look different from enabled.
            QVERIFY(p.color(QPalette::Disabled, text) != p.color(QPalette::Active, text));
        }
        // The log view's fixed black lines sit on the tooltip colour.
        QVERIFY(ContrastRatio(Qt::black, p.color(QPalette::ToolTipBase)) >= 15);
    }

    // An unchecked check box and option button stand out from the window at
    // 3:1 or better: their outline, as drawn, against the window around them.
    void indicatorsStandOut_data() { paletteContrast_data(); }
    void indicatorsStandOut()
    {
        QFETCH(QString, name);
        QVERIFY(ApplyStyle(name));
        const auto restore = qScopeGuard([] { ApplyStyle(kSystemStyleName); });
        const QColor window = QApplication::palette().color(QPalette::Window);
        QCheckBox check(QStringLiteral("Check"));
        QRadioButton radio(QStringLiteral("Option"));
        for (QAbstractButton *button :
             {static_cast<QAbstractButton *>(&check), static_cast<QAbstractButton *>(&radio)}) {
            button->resize(button->sizeHint());
            const QImage image = button->grab().toImage();
            QStyleOptionButton option;
            option.initFrom(button);
            const QRect box = button->style()->subElementRect(
                button == &check ? QStyle::SE_CheckBoxIndicator : QStyle::SE_RadioButtonIndicator, &option, button);
            // The strongest contrast along the box's middle row: its edge.
            double best = 0;
            for (int x = box.left(); x <= box.center().x(); ++x)
                best = qMax(best, ContrastRatio(QColor(image.pixel(x * image.devicePixelRatio(),
                                                                   box.center().y() * image.devicePixelRatio())),
                                                window));
            QVERIFY2(best >= 3.0, qPrintable(QStringLiteral("%1 %2: %3:1").arg(name, button->text()).arg(best)));
        }
    }

    void palettesAreDistinct()
    {
        QSet<QString> seen;
        for (const QString &name : StyleNames()) {
            if (name == kSystemStyleName)
                continue;
            const QPalette p = StylePalette(name);
            const QString key = p.color(QPalette::Window).name() + p.color(QPalette::Button).name() +
                                p.color(QPalette::Highlight).name();
            QVERIFY2(!seen.contains(key), qPrintable(name));
            seen.insert(key);
        }
    }

    void applyStyle()
    {
        const QString systemStyle = QApplication::style()->name();
        const QPalette systemPalette = StylePalette(kSystemStyleName);
        QVERIFY(ApplyStyle(QStringLiteral("Obsidian")));
        auto *drawn = qobject_cast<QProxyStyle *>(QApplication::style());
        QVERIFY(drawn);
        QCOMPARE(drawn->baseStyle()->name().toLower(), QStringLiteral("fusion"));
        QCOMPARE(QApplication::palette().color(QPalette::Window),
                 StylePalette(QStringLiteral("Obsidian")).color(QPalette::Window));
        QVERIFY(!ApplyStyle(QStringLiteral("No Such Style")));
        QCOMPARE(QApplication::palette().color(QPalette::Window),
                 StylePalette(QStringLiteral("Obsidian")).color(QPalette::Window));
        QVERIFY(ApplyStyle(kSystemStyleName));
        QCOMPARE(QApplication::style()->name(), systemStyle);
        QCOMPARE(QApplication::palette().color(QPalette::Window), systemPalette.color(QPalette::Window));
    }

    // An unknown name leaves the desktop's look and reaches the exception
    // report once the event loop runs, with a call stack that names the
    // program's own frames.
    void unknownStyleAtStart()
    {
        QStringList reported, stack;
        Application::SetExceptionHandler([&](QObject *, const std::exception &e) {
            reported << QString::fromUtf8(e.what());
            stack = StackDumpLines(&e);
        });
        QObject context;
        ApplyStyle(QStringLiteral("Light"));
        ApplyStyleAtStart(&context, QStringLiteral("Glitter"));
        QCOMPARE(QApplication::palette().color(QPalette::Window),
                 StylePalette(kSystemStyleName).color(QPalette::Window));
        QVERIFY(reported.isEmpty());
        QTRY_COMPARE(reported, QStringList{QStringLiteral("Style 'Glitter' not found")});
        Application::SetExceptionHandler(nullptr);
        QVERIFY2(stack.value(0).contains(QRegularExpression(
                     QStringLiteral(R"(^\[[0-9A-F]{8,}\] StyleList\..*ReportUnknownStyle.*StyleList\.cpp)"))),
                 qPrintable(stack.join(QLatin1Char('\n'))));
        QVERIFY2(!stack.filter(QStringLiteral("Application::notify")).isEmpty(),
                 qPrintable(stack.join(QLatin1Char('\n'))));
    }

    void listIsSortedWithTheChosenStyleSelected()
    {
        ChosenStyleName = QStringLiteral("Luna");
        TVCLStyleSelectorForm selector(*settings_);
        const QStringList texts = ListTexts(selector.StyleListBox1);
        QCOMPARE(texts.size(), 21);
        QStringList sorted = texts;
        std::sort(sorted.begin(), sorted.end());
        QCOMPARE(texts, sorted);
        QCOMPARE(texts.first(), QStringLiteral("Amethyst Kamri"));
        QCOMPARE(texts.last(), QStringLiteral("Windows"));
        QCOMPARE(selector.StyleListBox1->currentItem()->text(), QStringLiteral("Luna"));
        // Until a click the preview is empty.
        QVERIFY(selector.Preview->StyleName().isEmpty());
    }

    void unknownChosenStyleSelectsNothing()
    {
        ChosenStyleName = QStringLiteral("Glitter");
        TVCLStyleSelectorForm selector(*settings_);
        QVERIFY(selector.StyleListBox1->selectedItems().isEmpty());
    }

    void previewFollowsTheClick()
    {
        TVCLStyleSelectorForm selector(*settings_);
        selector.show();
        QVERIFY(QTest::qWaitForWindowExposed(&selector));
        QListWidget *list = selector.StyleListBox1;
        auto click = [&](const QString &name) {
            QListWidgetItem *item = list->findItems(name, Qt::MatchExactly).value(0);
            list->scrollToItem(item);
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
        };
        click(QStringLiteral("Windows"));
        QVERIFY(!selector.Panel1->isVisible());
        click(QStringLiteral("Ruby Graphite"));
        QVERIFY(selector.Panel1->isVisible());
        QCOMPARE(selector.Preview->StyleName(), QStringLiteral("Ruby Graphite"));
        // The preview is drawn in that style: its background is the style's window colour.
        const QImage shot = selector.Preview->grab().toImage();
        QCOMPARE(shot.pixelColor(shot.width() / 2, shot.height() / 2 + 10).rgb(),
                 StylePalette(QStringLiteral("Ruby Graphite")).color(QPalette::Window).rgb());
        // The keyboard moves the preview along.
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(selector.Preview->StyleName(), list->currentItem()->text());
        // The running look is not changed by looking.
        QVERIFY(StoredStyle() == QStringLiteral("<none>"));
    }

    void doubleClickStoresAndCloses_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("Obsidian") << "Obsidian";
        QTest::newRow("Windows") << "Windows";
    }
    void doubleClickStoresAndCloses()
    {
        QFETCH(QString, name);
        QWidget owner;
        owner.resize(600, 400);
        owner.show();
        auto *selector = new TVCLStyleSelectorForm(*settings_, &owner);
        const QPalette before = QApplication::palette();
        QString heading, text;
        QWidget *messageParent = nullptr;
        {
            bool answered = false;
            ModalWatcher watcher([&](QWidget *w) {
                if (auto *box = qobject_cast<QMessageBox *>(w)) {
                    heading = box->text();
                    text = box->informativeText();
                    messageParent = box->parentWidget();
                    box->button(QMessageBox::Ok)->click();
                } else if (w == selector && !answered) {
                    answered = true;
                    // Later, so that this watcher is free to answer the message.
                    QTimer::singleShot(0, selector, [&] { DoubleClickItem(selector->StyleListBox1, name); });
                }
            });
            selector->exec();
        }
        QCOMPARE(heading, QStringLiteral("Style Changed:"));
        QCOMPARE(text, QStringLiteral("The style has been changed to ") + name +
                           QStringLiteral("\nPlease restart the application for the change to take effect."));
        QCOMPARE(messageParent, selector);
        QCOMPARE(StoredStyle(), name);
        QCOMPARE(ChosenStyleName, name);
        QVERIFY(!selector->isVisible());
        QCOMPARE(QApplication::palette(), before);
    }

    void enterStoresLikeADoubleClick()
    {
        TVCLStyleSelectorForm selector(*settings_);
        {
            bool answered = false;
            ModalWatcher watcher([&](QWidget *w) {
                if (auto *box = qobject_cast<QMessageBox *>(w))
                    box->button(QMessageBox::Ok)->click();
                else if (w == &selector && !answered) {
                    answered = true;
                    QTimer::singleShot(0, &selector, [&] {
                        QListWidget *list = selector.StyleListBox1;
                        QTRY_COMPARE(QApplication::focusWidget(), list);
                        list->setCurrentItem(list->findItems(QStringLiteral("Silver"), Qt::MatchExactly).value(0));
                        QTest::keyClick(list, Qt::Key_Return);
                    });
                }
            });
            selector.exec();
        }
        QCOMPARE(StoredStyle(), QStringLiteral("Silver"));
    }

    void closeStoresNothing()
    {
        TVCLStyleSelectorForm selector(*settings_);
        selector.show();
        QVERIFY(QTest::qWaitForWindowExposed(&selector));
        QListWidget *list = selector.StyleListBox1;
        list->setCurrentItem(list->findItems(QStringLiteral("Cyan Dusk"), Qt::MatchExactly).value(0));
        QTest::mouseClick(selector.CloseButton, Qt::LeftButton);
        QVERIFY(!selector.isVisible());
        QCOMPARE(StoredStyle(), QStringLiteral("<none>"));
        QCOMPARE(ChosenStyleName, QStringLiteral("Auric"));
        // The close box likewise.
        selector.show();
        selector.close();
        QCOMPARE(StoredStyle(), QStringLiteral("<none>"));
    }
};

FERROVANE_TEST_MAIN(TestStyles)
#include "tst_styles.moc"
