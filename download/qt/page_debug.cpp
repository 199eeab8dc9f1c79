#include "download/qt/page_debug.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <limits>

#include "ui/file_filter.h"

namespace {

QString ToQString(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

std::string ToStd(const QString& text) { return text.toStdString(); }

int ClampToInt(qint64 value) { return static_cast<int>(std::clamp<qint64>(value, 0, std::numeric_limits<int>::max())); }

}  // namespace

CPage_Debug::CPage_Debug(BoardSource board, sealbench::Session& session, QWidget* parent)
    : CPageDialog(parent), board_(std::move(board)) {
    runner_ = std::make_unique<sealbench::Runner>(*this, session);
    BuildLayout();
    ConnectHandlers();
    ShowControls();
}

CPage_Debug::~CPage_Debug() {
    // The launcher and the runner's tasks report to this object: stop them while it is whole.
    if (launcher_.joinable()) launcher_.join();
    runner_.reset();
}

void CPage_Debug::ConnectHandlers() {
    connect(downloadOnlyBox_, &QCheckBox::clicked, this, [this] {
        ReadFields();
        model_.ClickDownloadOnly();
        ShowControls();
    });
    connect(flashingBox_, &QCheckBox::clicked, this, [this] {
        ReadFields();
        model_.ClickFlashing();
        ShowControls();
    });
    connect(flashTypeList_, &QComboBox::activated, this, [this](int index) {
        ReadFields();
        model_.SelectFlashType(index);
        ShowControls();
    });
    connect(defaultBox_, &QCheckBox::clicked, this, [this] {
        ReadFields();
        model_.ClickDefaultBox();
        ShowControls();
    });
    connect(secureBox_, &QCheckBox::clicked, this, [this] {
        ReadFields();
        model_.ClickSecure();
        ShowControls();
    });
    connect(ddrBox_, &QCheckBox::clicked, this, [this] {
        ReadFields();
        model_.ClickDdr();
        ShowControls();
    });
    connect(sdramBox_, &QCheckBox::clicked, this, [this] {
        ReadFields();
        model_.ClickSdram();
        ShowControls();
    });
    connect(imageBrowse_, &QPushButton::clicked, this, &CPage_Debug::OnBrowseImage);
    connect(flashLibBrowse_, &QPushButton::clicked, this, &CPage_Debug::OnBrowseFlashLib);
    connect(memInitBrowse_, &QPushButton::clicked, this, &CPage_Debug::OnBrowseMemoryInit);
    connect(executeButton_, &QPushButton::clicked, this, &CPage_Debug::OnExecute);
    connect(readButton_, &QPushButton::clicked, this, &CPage_Debug::OnRead);
    connect(sekurelButton_, &QPushButton::clicked, this, &CPage_Debug::OnCheckSekurel);
    connect(memInitButton_, &QPushButton::clicked, this, &CPage_Debug::OnMemInit);

    // Reports of the runner's threads reach the widgets through the GUI thread's queue.
    connect(
        this, &CPage_Debug::logLine, this, [this](const QString& line, int) { ShowLogLine(line); },
        Qt::QueuedConnection);
    connect(
        this, &CPage_Debug::progressRange, this,
        [this](qint64 minimum, qint64 maximum) { progressBar_->setRange(ClampToInt(minimum), ClampToInt(maximum)); },
        Qt::QueuedConnection);
    connect(
        this, &CPage_Debug::progressPosition, this,
        [this](qint64 position) { progressBar_->setValue(ClampToInt(position)); }, Qt::QueuedConnection);
    connect(this, &CPage_Debug::progressCaption, progressLabel_, &QLabel::setText, Qt::QueuedConnection);
    connect(this, &CPage_Debug::progressText, progressBar_, &QProgressBar::setFormat, Qt::QueuedConnection);
    connect(
        this, &CPage_Debug::progressReset, this,
        [this] {
            progressLabel_->setText(QStringLiteral("Status:"));
            progressBar_->setRange(0, 100);
            progressBar_->setValue(0);
            progressBar_->setFormat(QString());
            progressBar_->setToolTip(QString());
            ShowFailedBar(false);
            runSummary_->clear();
        },
        Qt::QueuedConnection);
    connect(this, &CPage_Debug::diagnostic, progressBar_, &QWidget::setToolTip, Qt::QueuedConnection);
    connect(this, &CPage_Debug::runSummary, runSummary_, &QLabel::setText, Qt::QueuedConnection);
    connect(this, &CPage_Debug::runFinished, this, &CPage_Debug::OnRunFinished, Qt::QueuedConnection);
    connect(this, &CPage_Debug::launchReturned, this, &CPage_Debug::OnLaunchReturned, Qt::QueuedConnection);
}

void CPage_Debug::InitialState() {
    model_ = sealbench::PageModel();
    flashTypeList_->setCurrentIndex(0);
    ShowControls();
}

void CPage_Debug::SelectProcessor(int index) {
    ReadFields();
    model_.SelectProcessor(index);
    ShowControls();
}

void CPage_Debug::ShowControls() {
    const sealbench::PageControls& c = model_.controls();
    downloadOnlyBox_->setChecked(c.downloadOnly);
    flashingBox_->setChecked(c.flashing);
    flashTypeList_->setCurrentIndex(c.flashTypeIndex);
    flashTypeList_->setEnabled(c.flashTypeEnabled);
    flashLibEdit_->setText(QString::fromStdString(c.flashLibPath));
    flashLibEdit_->setEnabled(c.flashLibEnabled);
    flashLibBrowse_->setEnabled(c.flashLibEnabled);

    ddrBox_->setChecked(c.ddr);
    sdramBox_->setChecked(c.sdram);
    sdramBox_->setEnabled(c.sdramEnabled);
    memInitEdit_->setText(QString::fromStdString(c.memoryInitPath));
    memInitEdit_->setEnabled(c.memoryInitEnabled);
    memInitBrowse_->setEnabled(c.memoryInitEnabled);

    secureBox_->setChecked(c.secure);

    defaultBox_->setChecked(c.defaultBox);
    defaultBox_->setEnabled(c.defaultBoxEnabled);
    defaultBox_->setText(QString::fromStdString(c.defaultCaption));
    addressLabel_->setText(QString::fromStdString(c.addressLabel));
    if (addressEdit_->text() != QString::fromStdString(c.addressText))
        addressEdit_->setText(QString::fromStdString(c.addressText));
    addressEdit_->setEnabled(c.addressEnabled);
    if (partitionEdit_->text() != QString::fromStdString(c.partitionText))
        partitionEdit_->setText(QString::fromStdString(c.partitionText));
    partitionEdit_->setEnabled(c.partitionEnabled);
    if (imageEdit_->text() != QString::fromStdString(c.imagePath))
        imageEdit_->setText(QString::fromStdString(c.imagePath));
}

void CPage_Debug::ReadFields() {
    sealbench::PageControls& fields = model_.fields();
    fields.addressText = ToStd(addressEdit_->text());
    fields.partitionText = ToStd(partitionEdit_->text());
    fields.imagePath = ToStd(imageEdit_->text());
    fields.flashLibPath = ToStd(flashLibEdit_->text());
    fields.memoryInitPath = ToStd(memInitEdit_->text());
}

sealbench::RunSettings CPage_Debug::Settings() {
    ReadFields();
    sealbench::RunSettings settings = model_.WindowSettings(fastSerial_, fastBaud_);
    settings.statusSilenceLimit = statusTimeout_;
    if (settings.operation == sealbench::OperationType::Flashing) settings.layoutPath = layoutPath_;
    return settings;
}

bool CPage_Debug::Verify() {
    sealbench::RunSettings settings = Settings();
    settings.operation = sealbench::OperationType::Verify;
    settings.layoutPath.clear();
    return Launch([this, settings, board = board_()] { return runner_->Execute(settings, board); });
}

bool CPage_Debug::Erase() {
    sealbench::RunSettings settings = Settings();
    settings.operation = sealbench::OperationType::Erase;
    settings.layoutPath.clear();
    settings.eraseLengthText.clear();  // where the image would go
    return Launch([this, settings, board = board_()] { return runner_->Execute(settings, board); });
}

QString CPage_Debug::ChooseLayoutFile() {
    return ChooseFile(QStringLiteral("Please select the Flash Layout:"),
                      QStringLiteral("Layout files(*.toml)|*.toml|All Files(*.*)|*.*||"));
}

QString CPage_Debug::ChooseFile(const QString& title, const QString& filter) {
    QFileDialog dialog(this, title);
    dialog.setObjectName(QStringLiteral("pageFileDialog"));
    dialog.setNameFilters(sealbench::NameFiltersOf(filter));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().constFirst();
}

void CPage_Debug::OnBrowseImage() {
    const QString path =
        ChooseFile(QStringLiteral("Please select the Image File:"),
                   QStringLiteral("bin files(*.bin)|*.bin|nb0 files(*.nb0)|*.nb0|All Files(*.*)|*.*||"));
    if (path.isEmpty()) return;
    ReadFields();
    model_.ChooseImage(ToStd(path));
    ShowControls();
}

void CPage_Debug::OnBrowseFlashLib() {
    const QString path = ChooseFile(QStringLiteral("Please select the Flash Library:"),
                                    QStringLiteral("bin files(*.bin)|*.bin|All Files(*.*)|*.*||"));
    if (path.isEmpty()) return;
    ReadFields();
    model_.ChooseFlashLibrary(ToStd(path));
    ShowControls();
}

void CPage_Debug::OnBrowseMemoryInit() {
    const QString path =
        ChooseFile(QStringLiteral("Please select the Init Memory File:"), QStringLiteral("Txt Files (*.txt)|*.txt||"));
    if (path.isEmpty()) return;
    ReadFields();
    model_.ChooseMemoryInitFile(ToStd(path));
    ShowControls();
}

void CPage_Debug::OnExecute() {
    const sealbench::RunSettings settings = Settings();
    Launch([this, settings, board = board_()] { return runner_->Execute(settings, board); });
}

void CPage_Debug::OnRead() {
    const sealbench::RunSettings settings = Settings();
    const std::string address = ToStd(readAddressEdit_->text());
    Launch([this, address, board = board_()] {
        runner_->ReadMemory(board, address);
        return false;
    });
}

void CPage_Debug::OnCheckSekurel() {
    const sealbench::RunSettings settings = Settings();
    Launch([this, board = board_()] {
        runner_->CheckSekurelStatus(board);
        return false;
    });
}

void CPage_Debug::OnMemInit() {
    const sealbench::RunSettings settings = Settings();
    Launch([this, settings, board = board_()] {
        runner_->MemoryInitAlone(settings, board);
        return false;
    });
}

bool CPage_Debug::Launch(std::function<bool()> job) {
    if (busy_ || closing_) return false;
    busy_ = true;
    emit busyChanged(true);
    launchDone_ = false;
    runEndedSeen_ = false;
    executeButton_->setEnabled(false);
    if (launcher_.joinable()) launcher_.join();  // the previous launcher has already reported back
    launcher_ = std::thread([this, job = std::move(job)] {
        const bool started = job();
        emit launchReturned(started);
    });
    return true;
}

void CPage_Debug::OnLaunchReturned(bool started) {
    launchDone_ = true;
    if (!started) runEndedSeen_ = true;  // nothing runs: the checks or a debug button are done
    BecomeIdle();
}

void CPage_Debug::OnRunFinished(bool success) {
    ShowFailedBar(!success);
    runEndedSeen_ = true;
    BecomeIdle();
}

void CPage_Debug::ShowFailedBar(bool failed) {
    QPalette palette = progressBar_->style()->standardPalette();
    if (failed) {
        palette.setColor(QPalette::Highlight, QColor(192, 0, 0));
        // The stage reached stays in the caption; the bar says the run did not end well.
        progressBar_->setFormat(QStringLiteral("Failed  ") + progressBar_->format());
    }
    progressBar_->setPalette(palette);
}

void CPage_Debug::BecomeIdle() {
    if (!busy_ || !launchDone_ || !runEndedSeen_) return;
    busy_ = false;
    executeButton_->setEnabled(!closing_);
    emit busyChanged(false);
    emit idle();
}

void CPage_Debug::StopAndWait() {
    closing_ = true;
    executeButton_->setEnabled(false);
    runner_->Shutdown();
    if (launcher_.joinable()) launcher_.join();
    // Bounded by the run itself: a stopped run ends at its next send or receive.
    while (runner_->Running() && !runner_->WaitIdle(std::chrono::seconds(1))) {
    }
}

void CPage_Debug::ShowLogLine(const QString& line) {
    // A line's own trailing line feed adds no empty line to the log.
    QString text = line;
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r'))) text.chop(1);
    statusLog_->appendPlainText(text);
    // Keep the newest line in view.
    QScrollBar* bar = statusLog_->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void CPage_Debug::AppendLog(std::string_view line, int lineCount) { emit logLine(ToQString(line), lineCount); }

void CPage_Debug::SetProgressRange(int64_t minimum, int64_t maximum) { emit progressRange(minimum, maximum); }

void CPage_Debug::SetProgressPosition(int64_t position) { emit progressPosition(position); }

void CPage_Debug::SetProgressCaption(std::string_view caption) { emit progressCaption(ToQString(caption)); }

void CPage_Debug::SetProgressFigures(const sealbench::ProgressFigures& figures) {
    // A stage not counted in bytes moves the bar by steps: a per cent of those would mislead.
    QString text = ToQString(sealbench::FiguresText(figures));
    if (figures.Counted() || figures.finished) text = QStringLiteral("%p%  ") + text;
    emit progressText(text);
}

void CPage_Debug::ResetProgress() { emit progressReset(); }

void CPage_Debug::Diagnostic(std::string_view text) { emit diagnostic(ToQString(text)); }

void CPage_Debug::Summary(const sealbench::RunSummary& summary) {
    emit runSummary(ToQString(sealbench::SummaryText(summary)));
}

void CPage_Debug::RunEnded(bool success) { emit runFinished(success); }
