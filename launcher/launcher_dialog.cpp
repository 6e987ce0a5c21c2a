#include "launcher/launcher_dialog.h"

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
#include <algorithm>
#include <cmath>
#include <optional>

#include "common/platform.h"
#include "launcher/about_dialog.h"
#include "launcher/batch_plan.h"
#include "launcher/converter_runner.h"
#include "launcher/interval_edit.h"

namespace tremcvt {
namespace {

// The window's layout in dialog units, which scale with the dialog's font.
constexpr int kDialogWidth = 271;
constexpr int kDialogHeight = 294;
constexpr int kResultsBoxTop = 151;
constexpr int kStationCodeLength = 7;
constexpr int kBrowseStartLength = 255;
constexpr double kSecondsPerMinute = 60.0;

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

// What one batch counts and carries from step to step.
struct LauncherDialog::Batch {
    int failures = 0;
    OutputMerger merger;
    QString program;
    QString searched;
    bool notStartedReported = false;
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
    if (batchRunning_ && watched->isWidgetType()) {
        if (isUserInput(event->type())) return true;
        if (event->type() == QEvent::Close && watched == this) {
            event->ignore();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

LauncherDialog::Batch LauncherDialog::prepareBatch(int stepCount)
{
    // A range of one value would make the bar a busy indicator, so short
    // batches get 0 ... 1; the bar still shows full at the end.
    progress_->setRange(0, std::max(stepCount - 1, 1));
    progress_->setValue(0);

    Batch batch;
    if (converterProgram_.isEmpty()) {
        const ConverterLocation location = locateConverter(QCoreApplication::applicationDirPath());
        batch.program = location.program;
        batch.searched = location.searched;
    } else {
        batch.program = converterProgram_;
        batch.searched = QDir::toNativeSeparators(converterProgram_);
    }
    batchRunning_ = true;
    qApp->installEventFilter(this);
    return batch;
}

void LauncherDialog::runStep(Batch& batch, const ConverterCommand& command)
{
    RunResult result;
    if (!batch.program.isEmpty()) {
        result = RunConverter(batch.program, toQStringList(command.arguments), converterTimeoutMs_);
    }
    switch (result.outcome) {
    case RunOutcome::Finished:
        batch.merger.merge(std::string_view(result.output.constData(),
                                            static_cast<std::size_t>(result.output.size())),
                           resultsText_);
        break;
    case RunOutcome::TimedOut:
        ++batch.failures;
        break;
    case RunOutcome::FailedToStart:
        ++batch.failures;
        if (!batch.notStartedReported) {
            batch.notStartedReported = true;
            resultsText_ += "The converter could not be started: " + command.displayText +
                            " (looked for " + batch.searched.toStdString() + ").\r\n";
        }
        break;
    }
}

void LauncherDialog::endBatch(Batch& batch, int stepCount)
{
    progress_->setValue(std::min(stepCount, progress_->maximum()));
    qApp->removeEventFilter(this);
    messageBox_(QCoreApplication::applicationName(),
                QStringLiteral("Операция завершена!\nОшибки = %1").arg(batch.failures));
    progress_->setValue(0);
    if (resultsText_.empty()) resultsText_ = "Operation has been completed successfully!";
    if (showResults_->isChecked()) {
        showResultsText();
        resizeKeepingPosition(fullSize_);
    }
    batchRunning_ = false;
}

void LauncherDialog::OnConvertInterval()
{
    if (batchRunning_) return;
    resultsText_.clear();
    const std::string station = stationCode().toStdString();
    const std::string directory = dataDirectory_->text().toStdString();
    const QDate date = startDate_->date();
    const QTime time = startTime_->time();
    double minute = startSeconds({date.year(), date.month(), date.day(), time.hour(), time.minute()});
    const int steps = intervalStepCount(interval_->text().toStdString());
    const std::optional<std::string> css =
        cssButton_->isChecked() ? std::optional(cssOutputPath_.toStdString()) : std::nullopt;

    Batch batch = prepareBatch(steps);
    for (int step = 0; step < steps; ++step) {
        progress_->setValue(step);
        MinuteName name;
        if (!minuteName(minute, name)) {
            ++batch.failures;
        } else if (const std::optional<std::string> path = FindWinFile(directory, name, resultsText_)) {
            runStep(batch, buildConverterCommand(station, *path, css, std::nullopt));
        } else {
            ++batch.failures;
        }
        minute += kSecondsPerMinute;
        QCoreApplication::processEvents();
    }
    endBatch(batch, steps);
}

void LauncherDialog::OnConvertFiles()
{
    if (batchRunning_) return;
    QStringList files = openFilesChooser_(dataDirectory_->text());
    if (files.isEmpty()) return;
    // A multiple-selection file dialog reports the file that had the focus
    // first; it goes to the end so the others run in the order listed.
    files.move(0, files.size() - 1);
    repaint();

    const std::string settingsPath = settingsFilePath(startDirectory_);
    resultsText_.clear();
    resultsBox_->clear();
    const int steps = static_cast<int>(files.size());
    Batch batch = prepareBatch(steps);
    for (int step = 0; step < steps; ++step) {
        progress_->setValue(step);
        const std::optional<std::string> css =
            cssButton_->isChecked() ? std::optional(cssOutputPath_.toStdString()) : std::nullopt;
        runStep(batch, buildConverterCommand(stationCode().toStdString(), files[step].toStdString(), css,
                                             archiveDirectory(settingsPath)));
    }
    endBatch(batch, steps);
}

}  // namespace tremcvt
