#include "launcher/qt/launcher_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <optional>

#include "common/platform.h"
#include "launcher/core/batch_run.h"
#include "launcher/qt/about_dialog.h"
#include "launcher/qt/converter_runner.h"
#include "launcher/qt/interval_edit.h"

namespace tremcvt {
namespace {

// The window's layout in dialog units, which scale with the dialog's font.
constexpr int kDialogWidth = 271;
constexpr int kDialogHeight = 294;
constexpr int kResultsBoxTop = 151;
constexpr int kStationCodeLength = 7;
constexpr int kBrowseStartLength = 255;

// The application icon: a trace on a light ground.
QIcon makeApplicationIcon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(QColor(250, 250, 240));
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(20, 60, 160), 2));
    const QPointF trace[] = {{1, 16}, {7, 16}, {10, 8},  {13, 26}, {16, 3},
                             {19, 29}, {22, 10}, {25, 20}, {27, 16}, {31, 16}};
    painter.drawPolyline(trace, static_cast<int>(std::size(trace)));
    return QIcon(pixmap);
}

// The locale's short date format, with four-digit years so that any century
// can be typed unambiguously.
QString shortDateFormat()
{
    QString format = QLocale().dateFormat(QLocale::ShortFormat);
    if (!format.contains(QStringLiteral("yyyy"))) format.replace(QStringLiteral("yy"), QStringLiteral("yyyy"));
    return format;
}

QString displayText(const std::string& text)
{
    QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

QStringList toQStringList(const std::vector<std::string>& values)
{
    QStringList list;
    for (const std::string& value : values) list << QString::fromStdString(value);
    return list;
}

bool isMouseClick(QEvent::Type type)
{
    return type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
           type == QEvent::MouseButtonDblClick;
}

bool isUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
        return true;
    default:
        return false;
    }
}

}  // namespace

// The wait cursor for the whole batch; it is lifted while the user is asked
// something.
class LauncherDialog::BusyCursor {
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

LauncherDialog::LauncherDialog(QWidget* parent)
    : QDialog(parent), icon_(makeApplicationIcon()), converterTimeoutMs_(kConverterTimeoutMs)
{
    messageBox_ = [this](const QString& caption, const QString& text) {
        QMessageBox box(QMessageBox::Information, caption, text, QMessageBox::Ok, this);
        box.exec();
    };
    directoryChooser_ = [this](const QString& start) {
        return QFileDialog::getExistingDirectory(this, QStringLiteral("Выбор каталога"), start,
                                                 QFileDialog::ShowDirsOnly);
    };
    saveFileChooser_ = [this] {
        return QFileDialog::getSaveFileName(this, QString(), QString(), QString(), nullptr,
                                            QFileDialog::DontConfirmOverwrite);
    };
    openFilesChooser_ = [this](const QString& start) {
        return QFileDialog::getOpenFileNames(this, QString(), start);
    };

    buildControls();
    initialise();
}

LauncherDialog::~LauncherDialog()
{
    qApp->removeEventFilter(this);
}

void LauncherDialog::setMessageBox(MessageBoxHook messageBox) { messageBox_ = std::move(messageBox); }
void LauncherDialog::setDirectoryChooser(DirectoryChooser chooser) { directoryChooser_ = std::move(chooser); }
void LauncherDialog::setSaveFileChooser(SaveFileChooser chooser) { saveFileChooser_ = std::move(chooser); }
void LauncherDialog::setOpenFilesChooser(OpenFilesChooser chooser) { openFilesChooser_ = std::move(chooser); }
void LauncherDialog::setConverterProgram(const QString& program) { converterProgram_ = program; }
void LauncherDialog::setConverterTimeout(int milliseconds) { converterTimeoutMs_ = milliseconds; }

QRect LauncherDialog::dialogUnits(int x, int y, int width, int height) const
{
    const auto px = [](double units, double scale) { return static_cast<int>(std::lround(units * scale)); };
    return QRect(px(x, unitX_), px(y, unitY_), px(width, unitX_), px(height, unitY_));
}

void LauncherDialog::buildControls()
{
    setObjectName(QStringLiteral("ctl102"));
    setWindowTitle(QStringLiteral("Tremcvt"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    const QFontMetrics metrics = fontMetrics();
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    unitX_ = metrics.horizontalAdvance(alphabet) / 52.0 / 4.0;
    unitY_ = metrics.height() / 8.0;

    // Controls are made in the order of the dialog template, which is also
    // the keyboard focus order.
    const auto place = [this](QWidget* widget, const char* name, QRect rect) {
        if (name) widget->setObjectName(QString::fromLatin1(name));
        widget->setGeometry(rect);
        return widget;
    };
    const auto label = [this](const QString& text, QRect rect, Qt::Alignment alignment = Qt::AlignLeft) {
        auto* widget = new QLabel(text, this);
        widget->setAlignment(alignment | Qt::AlignVCenter);
        if (!(alignment & Qt::AlignHCenter)) rect.setWidth(std::max(rect.width(), widget->sizeHint().width()));
        widget->setGeometry(rect);
    };
    const auto groupBox = [this](const QString& title, QRect rect) {
        auto* box = new QGroupBox(title, this);
        box->setGeometry(rect);
        box->lower();  // a frame only: the controls inside stay on top and take the clicks
    };

    stationList_ = new QComboBox(this);
    place(stationList_, "ctl1014", dialogUnits(7, 21, 48, 14));
    dataDirectory_ = new QLineEdit(this);
    place(dataDirectory_, "ctl1001", dialogUnits(59, 20, 187, 14));
    startDate_ = new QDateEdit(this);
    startDate_->setCalendarPopup(true);
    startDate_->setMinimumDate(QDate(kEarliestStartYear, 1, 1));
    place(startDate_, "ctl1007", dialogUnits(13, 63, 64, 15));
    startTime_ = new QTimeEdit(this);
    place(startTime_, "ctl1008", dialogUnits(81, 63, 36, 15));
    interval_ = new IntervalEdit(this);
    place(interval_, "ctl1000", dialogUnits(70, 84, 47, 14));
    browseButton_ = new QPushButton(QStringLiteral("..."), this);
    place(browseButton_, "ctl1015", dialogUnits(247, 20, 17, 14));
    convertFilesButton_ = new QPushButton(QStringLiteral("Конв. файл(ы)"), this);
    place(convertFilesButton_, "ctl1011", dialogUnits(192, 72, 72, 14));
    convertIntervalButton_ = new QPushButton(QStringLiteral("Конвертировать"), this);
    place(convertIntervalButton_, "ctl1005", dialogUnits(192, 90, 72, 14));
    exitButton_ = new QPushButton(QStringLiteral("Выход"), this);
    place(exitButton_, "ctl1009", dialogUnits(192, 130, 72, 14));
    label(QStringLiteral("Имя станции:"), dialogUnits(7, 10, 50, 8));
    label(QStringLiteral("Путь к каталогу с данными"), dialogUnits(94, 10, 97, 8));
    progress_ = new QProgressBar(this);
    progress_->setTextVisible(false);
    progress_->setRange(0, 100);
    progress_->setValue(0);
    place(progress_, "ctl1006", dialogUnits(7, 111, 257, 14));
    groupBox(QStringLiteral("Интервал времени"), dialogUnits(7, 38, 117, 67));
    label(QStringLiteral("Время начала:"), dialogUnits(14, 52, 102, 8), Qt::AlignHCenter);
    label(QStringLiteral("Интервал:"), dialogUnits(14, 88, 51, 8));
    resultsBox_ = new QPlainTextEdit(this);
    resultsBox_->setReadOnly(true);
    resultsBox_->setLineWrapMode(QPlainTextEdit::NoWrap);
    resultsBox_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    place(resultsBox_, "ctl1019", dialogUnits(7, kResultsBoxTop, 257, 136));
    showResults_ = new QCheckBox(QStringLiteral("Отображатть результаты работы"), this);
    place(showResults_, "ctl1020", dialogUnits(7, 139, 150, 10));
    groupBox(QStringLiteral("Конвертировать"), dialogUnits(131, 38, 133, 30));
    trzButton_ = new QRadioButton(QStringLiteral("TRZ"), this);
    place(trzButton_, "ctl1021", dialogUnits(136, 50, 36, 10));
    cssButton_ = new QRadioButton(QStringLiteral("CSS"), this);
    place(cssButton_, "ctl1022", dialogUnits(201, 50, 30, 10));

    connect(browseButton_, &QPushButton::clicked, this, &LauncherDialog::OnBrowseDataDir);
    connect(trzButton_, &QRadioButton::clicked, this, &LauncherDialog::OnSelectTrz);
    connect(cssButton_, &QRadioButton::clicked, this, &LauncherDialog::OnSelectCss);
    connect(showResults_, &QCheckBox::clicked, this, &LauncherDialog::OnShowResults);
    connect(exitButton_, &QPushButton::clicked, this, &LauncherDialog::OnExit);
    connect(convertIntervalButton_, &QPushButton::clicked, this, &LauncherDialog::OnConvertInterval);
    connect(convertFilesButton_, &QPushButton::clicked, this, &LauncherDialog::OnConvertFiles);
}

void LauncherDialog::initialise()
{
    setWindowIcon(icon_);
    showResults_->setChecked(false);
    trzButton_->setChecked(true);
    cssButton_->setChecked(false);

    fullSize_ = dialogUnits(0, 0, kDialogWidth, kDialogHeight).size();
    compactSize_ = QSize(fullSize_.width(), resultsBox_->geometry().top());
    resizeKeepingPosition(compactSize_);

    startDirectory_ = currentDirectory();
    const LauncherSettings settings = readLauncherSettings(settingsFilePath(startDirectory_));
    stations_ = settings.stations;
    stationList_->addItems(toQStringList(stationListNames(stations_)));
    if (stationList_->count() > 0) {
        stationList_->setCurrentIndex(0);
        OnStationChange();
    }
    connect(stationList_, &QComboBox::currentIndexChanged, this, &LauncherDialog::OnStationChange);

    const QDateTime now = QDateTime::currentDateTime();
    startDate_->setDisplayFormat(shortDateFormat());
    startTime_->setDisplayFormat(QStringLiteral("HH:mm"));
    startDate_->setDate(now.date());
    startTime_->setTime(now.time());
    if (settings.startTime) {
        const StartTime& start = *settings.startTime;
        startDate_->setDate(QDate(start.year, start.month, start.day));
        startTime_->setTime(QTime(start.hour, start.minute));
    }

    interval_->setMaxLength(kIntervalFieldLength);
    interval_->setText(QString::fromStdString(settings.intervalText));
}

void LauncherDialog::resizeKeepingPosition(QSize size)
{
    // A fixed size: the window keeps its frame like a dialog box, and a
    // resize keeps the top-left corner where it is.
    setFixedSize(size);
}

void LauncherDialog::showResultsText()
{
    resultsBox_->setPlainText(displayText(resultsText_));
}

QString LauncherDialog::stationCode() const
{
    return stationList_->currentText().left(kStationCodeLength);
}

void LauncherDialog::OnStationChange()
{
    const std::optional<std::string> directory =
        stationDirectory(stations_, stationCode().toStdString());
    if (directory) dataDirectory_->setText(QString::fromStdString(*directory));
}

void LauncherDialog::OnBrowseDataDir()
{
    const QString chosen = directoryChooser_(dataDirectory_->text().left(kBrowseStartLength));
    if (!chosen.isEmpty()) dataDirectory_->setText(QDir::toNativeSeparators(chosen));
}

void LauncherDialog::OnSelectTrz()
{
    trzButton_->setChecked(true);
    cssButton_->setChecked(false);
}

void LauncherDialog::OnSelectCss()
{
    cssButton_->setChecked(true);
    trzButton_->setChecked(false);
    const QString chosen = saveFileChooser_();
    if (!chosen.isEmpty()) cssOutputPath_ = QDir::toNativeSeparators(chosen);
}

void LauncherDialog::OnShowResults()
{
    if (showResults_->isChecked()) {
        showResultsText();
        resizeKeepingPosition(fullSize_);
    } else {
        resizeKeepingPosition(compactSize_);
    }
}

void LauncherDialog::OnExit()
{
    if (batchRunning()) {
        askToStopSoon();
        return;
    }
    reject();
}

void LauncherDialog::OnAbout()
{
    AboutDialog about(this);
    about.exec();
}

void LauncherDialog::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    menu.addAction(QStringLiteral("&О tremcvt_GUI..."), this, &LauncherDialog::OnAbout);
    menu.exec(event->globalPos());
}

void LauncherDialog::keyPressEvent(QKeyEvent* event)
{
    // Enter ends the dialog unless a push button has the focus (it then
    // presses that button itself).
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && event->modifiers() == Qt::NoModifier &&
        !qobject_cast<QPushButton*>(focusWidget())) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool LauncherDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (batchPhase_ != BatchPhase::Running || !watched->isWidgetType()) return QDialog::eventFilter(watched, event);
    // Windows of their own (the stop question) take their input as usual.
    const auto* widget = static_cast<QWidget*>(watched);
    if (widget->window() != this) return QDialog::eventFilter(watched, event);

    if (event->type() == QEvent::Close && watched == this) {
        event->ignore();
        askToStopSoon();
        return true;
    }
    if (!isUserInput(event->type())) return QDialog::eventFilter(watched, event);
    // "Выход" is still clicked: its handler asks whether to stop.
    if (watched == exitButton_ && isMouseClick(event->type())) return QDialog::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        askToStopSoon();
    }
    return true;
}

void LauncherDialog::askToStopSoon()
{
    // The question opens from the event loop rather than from inside the
    // event that asked for it; one request is enough however often the user
    // presses meanwhile.
    if (batchPhase_ != BatchPhase::Running || stopQuestionPending_ || (batch_ && batch_->stopRequested())) return;
    stopQuestionPending_ = true;
    QTimer::singleShot(0, this, &LauncherDialog::askToStop);
}

void LauncherDialog::askToStop()
{
    if (batchPhase_ != BatchPhase::Running || !batch_ || batch_->stopRequested()) {
        stopQuestionPending_ = false;
        return;
    }
    // The batch waits here: the running converter goes on (its time limit
    // still applies) and is recorded when the answer is given.
    busyCursor_.reset();
    QMessageBox question(QMessageBox::Question, QCoreApplication::applicationName(),
                         QStringLiteral("Остановить конвертирование?"), QMessageBox::NoButton, this);
    QPushButton* yes = question.addButton(QStringLiteral("Да"), QMessageBox::YesRole);
    QPushButton* no = question.addButton(QStringLiteral("Нет"), QMessageBox::NoRole);
    question.setDefaultButton(no);
    question.setEscapeButton(no);
    question.exec();
    if (question.clickedButton() == yes && batch_) batch_->requestStop();
    if (batchPhase_ == BatchPhase::Running) busyCursor_ = std::make_unique<BusyCursor>();
    stopQuestionPending_ = false;
}

BatchSettings LauncherDialog::batchSettings() const
{
    BatchSettings settings;
    settings.station = stationCode().toStdString();
    if (cssButton_->isChecked()) settings.cssPath = cssOutputPath_.toStdString();
    if (converterProgram_.isEmpty()) {
        settings.converter = locateConverter(QCoreApplication::applicationDirPath().toStdString());
    } else {
        settings.converter.program = converterProgram_.toStdString();
        settings.converter.searched = QDir::toNativeSeparators(converterProgram_).toStdString();
    }
    return settings;
}

void LauncherDialog::runBatch(BatchRun batch)
{
    batch_ = std::make_unique<BatchRun>(std::move(batch));
    const QString program = QString::fromStdString(batch_->settings().converter.program);
    progress_->setRange(0, batch_->progressMaximum());
    progress_->setValue(0);
    batchPhase_ = BatchPhase::Running;
    busyCursor_ = std::make_unique<BusyCursor>();
    qApp->installEventFilter(this);

    while (const std::optional<BatchStep> step = batch_->nextStep()) {
        progress_->setFormat(QString::fromStdString(batch_->progressText(*step)));
        progress_->setTextVisible(true);
        progress_->setValue(step->index);
        if (step->command) {
            const RunResult result =
                RunConverter(program, toQStringList(step->command->arguments), converterTimeoutMs_);
            batch_->recordRun(result);
        }
        // Paints the bar and lets a stop request in between steps.
        QCoreApplication::processEvents();
    }

    // Ending the batch: the bar shows how far it went (full unless stopped).
    batchPhase_ = BatchPhase::Ending;
    qApp->removeEventFilter(this);
    busyCursor_.reset();
    progress_->setValue(batch_->progressEndPosition());
    messageBox_(QCoreApplication::applicationName(), QString::fromStdString(completionMessage(batch_->counts())));
    progress_->setValue(0);
    progress_->setTextVisible(false);
    progress_->resetFormat();
    resultsText_ = batch_->finish();
    batch_.reset();
    if (showResults_->isChecked()) {
        showResultsText();
        resizeKeepingPosition(fullSize_);
    }
    batchPhase_ = BatchPhase::Idle;
}

void LauncherDialog::OnConvertInterval()
{
    if (batchRunning()) return;
    resultsText_.clear();
    resultsBox_->clear();
    const QDate date = startDate_->date();
    const QTime time = startTime_->time();
    const StartTime start{date.year(), date.month(), date.day(), time.hour(), time.minute()};
    runBatch(BatchRun::interval(batchSettings(), dataDirectory_->text().toStdString(), start,
                                intervalStepCount(interval_->text().toStdString())));
}

void LauncherDialog::OnConvertFiles()
{
    if (batchRunning()) return;
    const QStringList files = openFilesChooser_(dataDirectory_->text());
    if (files.isEmpty()) return;
    repaint();

    resultsText_.clear();
    resultsBox_->clear();
    std::vector<std::string> paths;
    for (const QString& file : files) paths.push_back(file.toStdString());
    runBatch(BatchRun::pickedFiles(batchSettings(), std::move(paths), settingsFilePath(startDirectory_)));
}

}  // namespace tremcvt
