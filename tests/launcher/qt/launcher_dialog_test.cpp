// The launcher dialog: what it shows at start from tremcvt.ini, the interval
// field's typing, the output-kind and folder choices and the window sizes.
#include <QtTest>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDateEdit>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <memory>

#include "launcher/qt/interval_edit.h"
#include "launcher/qt/launcher_dialog.h"

using namespace tremcvt;

class LauncherDialogTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void startUpReadsStationsAndFillsDirectory();
    void startUpReadsStartAndInterval_data();
    void startUpReadsStartAndInterval();
    void startUpWithoutSettingsFile();
    void intervalFieldTyping_data();
    void intervalFieldTyping();
    void intervalFieldCutDeleteAndPasteKeepItsForm();
    void outputKindAndFolderChoices();
    void resultsTickTogglesWindowSize();

private:
    // A dialog started in a fresh directory holding the given tremcvt.ini
    // (none when settings is null).
    std::unique_ptr<LauncherDialog> startDialog(const char* settings);
    template <typename T>
    T* control(LauncherDialog& dialog, const char* name)
    {
        T* widget = dialog.findChild<T*>(QString::fromLatin1(name));
        if (!widget) qFatal("control %s missing", name);
        return widget;
    }

    std::unique_ptr<QTemporaryDir> dir_;
    QString previousDirectory_;
};

void LauncherDialogTest::init()
{
    previousDirectory_ = QDir::currentPath();
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    QVERIFY(QDir::setCurrent(dir_->path()));
}

void LauncherDialogTest::cleanup()
{
    QDir::setCurrent(previousDirectory_);
    dir_.reset();
}

std::unique_ptr<LauncherDialog> LauncherDialogTest::startDialog(const char* settings)
{
    if (settings) {
        QFile file(dir_->filePath(QStringLiteral("tremcvt.ini")));
        if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write tremcvt.ini");
        file.write(settings);
    }
    return std::make_unique<LauncherDialog>();
}

void LauncherDialogTest::startUpReadsStationsAndFillsDirectory()
{
    const QByteArray longDir = "/" + QByteArray(140, 'd');
    const QByteArray settings = "[system]\nnsta=6\ndir=/srv/common\n"
                                "[sta0]\nname=tlg\ndir=/srv/tlg\n"
                                "[sta1]\nname=ab\ndir=/srv/ab-lower\n"
                                "[sta2]\nname=\ndir=/srv/nameless\n"
                                "[sta3]\nname=AB\ndir=/srv/ab-upper\n"
                                "[sta4]\nname=kamchatka\n"
                                "[sta5]\nname=zz\ndir=" + longDir + "\n"
                                "[sta6]\nname=beyond\n";
    auto dialog = startDialog(settings.constData());
    auto* stations = control<QComboBox>(*dialog, "ctl1014");
    auto* directory = control<QLineEdit>(*dialog, "ctl1001");

    QStringList shown;
    for (int i = 0; i < stations->count(); ++i) shown << stations->itemText(i);
    QCOMPARE(shown, (QStringList{"AB", "AB", "KAMCHAT", "TLG", "ZZ"}));
    QCOMPARE(dialog->stations().size(), std::size_t{6});  // the nameless entry stays
    QCOMPARE(stations->currentIndex(), 0);
    QCOMPARE(directory->text(), QStringLiteral("/srv/ab-upper"));  // the last "ab" in file order

    const QList<QPair<int, QString>> selections = {
        {2, "/srv/common"}, {1, "/srv/ab-upper"}, {3, "/srv/tlg"}, {4, QString::fromLatin1(longDir.left(127))}};
    for (const auto& [index, expected] : selections) {
        stations->setCurrentIndex(index);
        QCOMPARE(directory->text(), expected);
    }
}

void LauncherDialogTest::startUpReadsStartAndInterval_data()
{
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("timeqty");
    QTest::addColumn<QDateTime>("start");  // invalid: the pickers keep the current date and time
    QTest::addColumn<QString>("interval");
    QTest::newRow("both set") << "14/09/2009 11:04" << "1 2:3"
                              << QDateTime(QDate(2009, 9, 14), QTime(11, 4)) << "001 02:03";
    QTest::newRow("leap day, full interval") << "29/02/2008 23:59" << "999 23:59"
                                             << QDateTime(QDate(2008, 2, 29), QTime(23, 59)) << "999 23:59";
    QTest::newRow("not a date") << "31/02/2009 10:00" << "0 0:1" << QDateTime() << "000 00:01";
    QTest::newRow("keys absent") << "" << "" << QDateTime() << "000 00:00";
    QTest::newRow("interval too wide for the field") << "" << "12345 123:7" << QDateTime() << "999 99:07";
}

void LauncherDialogTest::startUpReadsStartAndInterval()
{
    QFETCH(QString, time);
    QFETCH(QString, timeqty);
    QFETCH(QDateTime, start);
    QFETCH(QString, interval);
    QByteArray settings = "[system]\nnsta=1\n";
    if (!time.isEmpty()) settings += "time=" + time.toUtf8() + "\n";
    if (!timeqty.isEmpty()) settings += "timeqty=" + timeqty.toUtf8() + "\n";
    const QDate today = QDate::currentDate();
    auto dialog = startDialog(settings.constData());

    const QDate date = control<QDateEdit>(*dialog, "ctl1007")->date();
    const QTime clock = control<QTimeEdit>(*dialog, "ctl1008")->time();
    if (start.isValid()) {
        QCOMPARE(date, start.date());
        QCOMPARE(clock.hour(), start.time().hour());
        QCOMPARE(clock.minute(), start.time().minute());
    } else {
        QVERIFY(date == today || date == today.addDays(1));
    }
    QCOMPARE(control<QLineEdit>(*dialog, "ctl1000")->text(), interval);
}

void LauncherDialogTest::startUpWithoutSettingsFile()
{
    auto dialog = startDialog(nullptr);
    QCOMPARE(control<QComboBox>(*dialog, "ctl1014")->count(), 0);
    QVERIFY(control<QLineEdit>(*dialog, "ctl1001")->text().isEmpty());
    QCOMPARE(control<QLineEdit>(*dialog, "ctl1000")->text(), QStringLiteral("000 00:00"));
    QCOMPARE(dialog->stations().size(), std::size_t{1});
    QVERIFY(control<QRadioButton>(*dialog, "ctl1021")->isChecked());
    QVERIFY(!control<QRadioButton>(*dialog, "ctl1022")->isChecked());
    QVERIFY(!control<QCheckBox>(*dialog, "ctl1020")->isChecked());
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Tremcvt"));
}

void LauncherDialogTest::intervalFieldTyping_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("caret");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("expectedText");
    QTest::addColumn<int>("expectedCaret");
    QTest::newRow("digit before the day separator") << "000 00:00" << 2 << "1" << "001 00:00" << 4;
    QTest::newRow("digit before the colon") << "000 00:00" << 5 << "7" << "000 07:00" << 7;
    QTest::newRow("on the blank") << "000 00:00" << 3 << "5" << "000 00:00" << 4;
    QTest::newRow("on the colon") << "000 00:00" << 6 << "5" << "000 00:00" << 7;
    QTest::newRow("not a digit") << "000 00:00" << 1 << "x" << "000 00:00" << 1;
    QTest::newRow("at the end") << "000 00:00" << 9 << "1" << "000 00:00" << 9;
    QTest::newRow("typing right through") << "000 00:00" << 0 << "0012345" << "001 23:45" << 9;
    QTest::newRow("blanks between digits are dropped") << "123 45:67" << 0 << "9 8 7 6 5 4" << "987 65:47" << 8;
}

void LauncherDialogTest::intervalFieldTyping()
{
    QFETCH(QString, text);
    QFETCH(int, caret);
    QFETCH(QString, keys);
    QFETCH(QString, expectedText);
    QFETCH(int, expectedCaret);
    auto dialog = startDialog(nullptr);
    auto* field = control<IntervalEdit>(*dialog, "ctl1000");
    field->setText(text);
    field->setCursorPosition(caret);
    QTest::keyClicks(field, keys);
    QCOMPARE(field->text(), expectedText);
    QCOMPARE(field->cursorPosition(), expectedCaret);

    // Backspace and Delete change nothing, wherever the caret stands.
    for (int position : {0, 2, 5, 9}) {
        field->setCursorPosition(position);
        QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClick(field, Qt::Key_Delete);
        QCOMPARE(field->text(), expectedText);
    }
}

void LauncherDialogTest::intervalFieldCutDeleteAndPasteKeepItsForm()
{
    auto dialog = startDialog("[system]\nnsta=1\ntimeqty=123 45:59\n");
    auto* field = control<IntervalEdit>(*dialog, "ctl1000");
    QClipboard* clipboard = QApplication::clipboard();

    // Ctrl+X of everything: the digits go to the clipboard and become 0.
    field->selectAll();
    QTest::keyClick(field, Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(field->text(), QStringLiteral("000 00:00"));
    QCOMPARE(clipboard->text(), QStringLiteral("123 45:59"));

    // Ctrl+V types the pasted digits from the caret on; "0011" is not one day.
    field->setCursorPosition(0);
    clipboard->setText(QStringLiteral("0011"));
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(field->text(), QStringLiteral("001 10:00"));
    QCOMPARE(field->cursorPosition(), 5);
    clipboard->setText(QStringLiteral("text: 7"));
    field->setSelection(7, 2);
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(field->text(), QStringLiteral("001 10:70"));

    // Keys that would remove characters change nothing.
    field->selectAll();
    for (const auto& [key, modifiers] : QList<QPair<Qt::Key, Qt::KeyboardModifiers>>{
             {Qt::Key_Backspace, Qt::ControlModifier}, {Qt::Key_Delete, Qt::ControlModifier},
             {Qt::Key_Delete, Qt::NoModifier}, {Qt::Key_Backspace, Qt::NoModifier}}) {
        QTest::keyClick(field, key, modifiers);
        QCOMPARE(field->text(), QStringLiteral("001 10:70"));
    }

    // The context menu's Cut, Delete and Paste follow the same rule.
    const auto fromContextMenu = [&](const QString& entry) {
        QTimer::singleShot(0, this, [entry] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) return;
            for (QAction* action : menu->actions()) {
                if (action->text().remove('&').startsWith(entry)) action->trigger();
            }
            menu->close();
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2), field->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(field, &event);
    };
    field->setSelection(1, 4);  // "01 1"
    fromContextMenu(QStringLiteral("Cut"));
    QCOMPARE(field->text(), QStringLiteral("000 00:70"));
    QCOMPARE(clipboard->text(), QStringLiteral("01 1"));
    field->setText(QStringLiteral("999 99:99"));
    field->setSelection(5, 3);
    fromContextMenu(QStringLiteral("Delete"));
    QCOMPARE(field->text(), QStringLiteral("999 90:09"));
    clipboard->setText(QStringLiteral("2 3:45"));
    field->setCursorPosition(2);
    fromContextMenu(QStringLiteral("Paste"));
    QCOMPARE(field->text(), QStringLiteral("992 34:59"));
}

void LauncherDialogTest::outputKindAndFolderChoices()
{
    auto dialog = startDialog("[system]\nnsta=1\n[sta0]\nname=KAM\ndir=/srv/win/kam\n");
    auto* trz = control<QRadioButton>(*dialog, "ctl1021");
    auto* css = control<QRadioButton>(*dialog, "ctl1022");
    auto* directory = control<QLineEdit>(*dialog, "ctl1001");

    QStringList savePaths = {"/out/first.wfdisc", ""};
    int saveDialogs = 0;
    dialog->setSaveFileChooser([&] { return savePaths.value(saveDialogs++); });
    css->click();
    QCOMPARE(dialog->cssOutputPath(), QStringLiteral("/out/first.wfdisc"));
    QVERIFY(css->isChecked() && !trz->isChecked());
    trz->click();
    QVERIFY(trz->isChecked() && !css->isChecked());
    QCOMPARE(saveDialogs, 1);
    css->click();  // cancelled: the earlier choice stays
    QCOMPARE(saveDialogs, 2);
    QCOMPARE(dialog->cssOutputPath(), QStringLiteral("/out/first.wfdisc"));
    QVERIFY(css->isChecked());

    QStringList startedAt;
    QStringList chosen = {"", "/srv/other"};
    dialog->setDirectoryChooser([&](const QString& start) {
        startedAt << start;
        return chosen.value(static_cast<int>(startedAt.size()) - 1);
    });
    auto* browse = control<QPushButton>(*dialog, "ctl1015");
    browse->click();
    QCOMPARE(directory->text(), QStringLiteral("/srv/win/kam"));
    browse->click();
    QCOMPARE(directory->text(), QStringLiteral("/srv/other"));
    QCOMPARE(startedAt, (QStringList{"/srv/win/kam", "/srv/win/kam"}));
}

void LauncherDialogTest::resultsTickTogglesWindowSize()
{
    auto dialog = startDialog(nullptr);
    dialog->show();
    auto* tick = control<QCheckBox>(*dialog, "ctl1020");
    auto* box = control<QPlainTextEdit>(*dialog, "ctl1019");
    QCOMPARE(dialog->size(), dialog->compactSize());
    QCOMPARE(dialog->compactSize().height(), box->geometry().top());
    QVERIFY(tick->geometry().bottom() < dialog->compactSize().height());
    QCOMPARE(dialog->fullSize().width(), dialog->compactSize().width());
    QVERIFY(box->geometry().bottom() < dialog->fullSize().height());
    const QPoint corner = dialog->pos();

    // An empty interval runs no step and leaves the success text.
    int messages = 0;
    dialog->setMessageBox([&](const QString&, const QString&) { ++messages; });
    control<QPushButton>(*dialog, "ctl1005")->click();
    QCOMPARE(messages, 1);
    QCOMPARE(dialog->size(), dialog->compactSize());
    QVERIFY(box->toPlainText().isEmpty());

    tick->click();
    QCOMPARE(dialog->size(), dialog->fullSize());
    QCOMPARE(box->toPlainText(), QStringLiteral("Operation has been completed successfully!\n"
                                                "Steps: 0, files converted: 0, minutes missing: 0, failed runs: 0 "
                                                "(time-outs: 0, converter failures: 0, not started: 0).\n"));
    QCOMPARE(dialog->pos(), corner);
    tick->click();
    QCOMPARE(dialog->size(), dialog->compactSize());
    QCOMPARE(dialog->pos(), corner);
}

QTEST_MAIN(LauncherDialogTest)
#include "launcher_dialog_test.moc"
