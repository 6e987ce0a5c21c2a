// The launcher's one window: station, data directory, start, interval and
// output kind, the two batch buttons, the progress bar and the results box.
// A batch runs on this dialog's thread; meanwhile the dialog keeps painting
// but takes no input, so a second batch cannot start. Only "Выход", Escape
// and the close box are heard: they ask whether to stop the batch.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QSize>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "launcher/core/batch_run.h"
#include "launcher/core/launcher_settings.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimeEdit;

namespace tremcvt {

class IntervalEdit;

class LauncherDialog : public QDialog {
    Q_OBJECT

public:
    // Reads tremcvt.ini from the current directory and shows the compact size.
    explicit LauncherDialog(QWidget* parent = nullptr);
    ~LauncherDialog() override;

    // Replaceable interactions, so batches can run unattended.
    using MessageBoxHook = std::function<void(const QString& caption, const QString& text)>;
    using DirectoryChooser = std::function<QString(const QString& startDirectory)>;
    using SaveFileChooser = std::function<QString()>;
    using OpenFilesChooser = std::function<QStringList(const QString& startDirectory)>;
    void setMessageBox(MessageBoxHook messageBox);
    void setDirectoryChooser(DirectoryChooser chooser);
    void setSaveFileChooser(SaveFileChooser chooser);
    void setOpenFilesChooser(OpenFilesChooser chooser);

    // The converter to run; empty (the default) looks for it beside the
    // launcher's executable, then on the search path.
    void setConverterProgram(const QString& program);
    // Time limit of one converter run, kConverterTimeoutMs by default.
    void setConverterTimeout(int milliseconds);
    int converterTimeout() const { return converterTimeoutMs_; }

    const std::string& resultsText() const { return resultsText_; }
    const std::vector<StationEntry>& stations() const { return stations_; }
    QString cssOutputPath() const { return cssOutputPath_; }
    QSize fullSize() const { return fullSize_; }
    QSize compactSize() const { return compactSize_; }
    bool batchRunning() const { return batchPhase_ != BatchPhase::Idle; }

public slots:
    void OnStationChange();
    void OnBrowseDataDir();
    void OnSelectTrz();
    void OnSelectCss();
    void OnShowResults();
    void OnExit();
    void OnConvertInterval();
    void OnConvertFiles();
    void OnAbout();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class BatchPhase { Idle, Running, Ending };
    class BusyCursor;

    void buildControls();
    void initialise();
    QRect dialogUnits(int x, int y, int width, int height) const;
    void resizeKeepingPosition(QSize size);
    void showResultsText();

    // Runs every step of the batch, then ends it with the message box.
    void runBatch(BatchRun batch);
    BatchSettings batchSettings() const;
    void askToStopSoon();
    void askToStop();
    QString stationCode() const;

    QIcon icon_;
    QString cssOutputPath_;
    std::string resultsText_;
    std::string startDirectory_;
    std::vector<StationEntry> stations_;
    QSize fullSize_;
    QSize compactSize_;
    double unitX_ = 1.5;
    double unitY_ = 1.5;

    QComboBox* stationList_ = nullptr;
    QLineEdit* dataDirectory_ = nullptr;
    QDateEdit* startDate_ = nullptr;
    QTimeEdit* startTime_ = nullptr;
    IntervalEdit* interval_ = nullptr;
    QPushButton* browseButton_ = nullptr;
    QPushButton* convertFilesButton_ = nullptr;
    QPushButton* convertIntervalButton_ = nullptr;
    QPushButton* exitButton_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPlainTextEdit* resultsBox_ = nullptr;
    QCheckBox* showResults_ = nullptr;
    QRadioButton* trzButton_ = nullptr;
    QRadioButton* cssButton_ = nullptr;

    MessageBoxHook messageBox_;
    DirectoryChooser directoryChooser_;
    SaveFileChooser saveFileChooser_;
    OpenFilesChooser openFilesChooser_;
    QString converterProgram_;
    int converterTimeoutMs_;

    BatchPhase batchPhase_ = BatchPhase::Idle;
    std::unique_ptr<BatchRun> batch_;  // while a batch runs
    std::unique_ptr<BusyCursor> busyCursor_;
    bool stopQuestionPending_ = false;
};

}  // namespace tremcvt
