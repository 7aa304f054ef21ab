#include "runwindow.h"

#include "exportjob.h"
#include "folderdlg.h"
#include "messageseam.h"
#include "nativefs.h"
#include "runreport.h"

#include <QApplication>
#include <QtConcurrent/QtConcurrentRun>
#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

#include <cerrno>
#include <cstring>

namespace {

const QString kCaption = QStringLiteral("Просмотр записи");
constexpr int kStatisticsDelayMs = 150;

QString Clock(qint64 utcMs)
{
    return QDateTime::fromMSecsSinceEpoch(utcMs).toString(QStringLiteral("dd.MM.yyyy HH:mm:ss.zzz"));
}

// The time of a mark of the folder: the one with this text, or the first; none without marks.
std::optional<qint64> MarkTime(const FolderSeries &run, const QString &text)
{
    for (const FolderEvent &event : run.Events())
        if (event.event == QLatin1String("mark") && (text.isEmpty() || event.text == text))
            return event.utcMs;
    return std::nullopt;
}

QStringList MarkTexts(const FolderSeries &run)
{
    QStringList texts;
    for (const FolderEvent &event : run.Events())
        if (event.event == QLatin1String("mark"))
            texts << event.text;
    return texts;
}

} // namespace

RunWindow::RunWindow(MessageSeam &messages, QWidget *parent)
    : QMainWindow(parent)
    , m_messages(messages)
    , m_pChart(new RunChart)
    , m_pReadout(new QLabel)
    , m_pStatistics(new QLabel)
    , m_pThreshold(new QLineEdit)
{
    setWindowTitle(kCaption);
    setAttribute(Qt::WA_DeleteOnClose, false);
    resize(1200, 700);

    QToolBar *tools = addToolBar(kCaption);
    tools->setMovable(false);
    tools->addAction(QStringLiteral("Открыть..."), this, &RunWindow::OnOpen);
    tools->addAction(QStringLiteral("Сравнить с..."), this, &RunWindow::OnCompare);
    tools->addAction(QStringLiteral("Весь график"), m_pChart, &RunChart::ShowAll);
    tools->addSeparator();
    tools->addAction(QStringLiteral("Экспорт CSV..."), this, &RunWindow::OnExportCsv);
    tools->addAction(QStringLiteral("Экспорт PNG..."), this, &RunWindow::OnExportPng);
    tools->addAction(QStringLiteral("Отчёт PDF..."), this, &RunWindow::OnReport);

    auto *side = new QWidget;
    side->setMinimumWidth(380); // the figures with their times on one line each
    auto *sideLayout = new QVBoxLayout(side);
    auto *thresholdRow = new QFormLayout;
    m_pThreshold->setPlaceholderText(QStringLiteral("не задан"));
    thresholdRow->addRow(QStringLiteral("Порог, °C:"), m_pThreshold);
    sideLayout->addLayout(thresholdRow);
    m_pStatistics->setTextFormat(Qt::RichText);
    m_pStatistics->setWordWrap(true);
    m_pStatistics->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_pStatistics->setTextInteractionFlags(Qt::TextSelectableByMouse);
    sideLayout->addWidget(m_pStatistics, 1);
    auto *hint = new QLabel(QStringLiteral("Колесо: масштаб · перетаскивание: сдвиг · правая кнопка или Ctrl: "
                                           "увеличить участок · Shift: выделить участок · Home: весь график"));
    hint->setWordWrap(true);
    hint->setStyleSheet(QStringLiteral("color: #666"));
    sideLayout->addWidget(hint);

    auto *splitter = new QSplitter;
    splitter->addWidget(m_pChart);
    splitter->addWidget(side);
    splitter->setStretchFactor(0, 1);
    splitter->setSizes({900, 300});
    setCentralWidget(splitter);
    statusBar()->addWidget(m_pReadout, 1);
    m_pRecordState = new QLabel(this);
    statusBar()->addPermanentWidget(m_pRecordState);
    connect(&m_recordCheck, &QFutureWatcher<FolderCheck>::finished, this, [this] {
        const FolderCheck check = m_recordCheck.result();
        const bool changed = check.outcome == FolderCheck::Outcome::Changed;
        m_pRecordState->setStyleSheet(changed ? QStringLiteral("color: rgb(220, 0, 0); font-weight: bold;") : QString());
        const QString summary = check.RussianSummary();
        m_pRecordState->setText(m_pRecordState->fontMetrics().elidedText(summary, Qt::ElideRight, 600));
        m_pRecordState->setToolTip(summary);
        if (std::exchange(m_bCheckAgain, false))
            CheckRecords();
    });
    m_recordCheckDelay.setSingleShot(true);
    m_recordCheckDelay.setInterval(0);
    connect(&m_recordCheckDelay, &QTimer::timeout, this, &RunWindow::StartRecordCheck);

    m_statisticsDelay.setSingleShot(true);
    m_statisticsDelay.setInterval(kStatisticsDelayMs);
    connect(&m_statisticsDelay, &QTimer::timeout, this, &RunWindow::RefreshStatistics);
    connect(m_pChart, &RunChart::CursorMoved, this, &RunWindow::ShowCursor);
    connect(m_pChart, &RunChart::SelectionChanged, &m_statisticsDelay, qOverload<>(&QTimer::start));
    connect(m_pThreshold, &QLineEdit::editingFinished, this, [this] {
        QString text = m_pThreshold->text().trimmed();
        text.replace(QLatin1Char(','), QLatin1Char('.'));
        bool number = false;
        const double value = text.toDouble(&number);
        SetThreshold(number ? std::optional<double>(value) : std::nullopt);
        if (!number && !text.isEmpty())
            m_pThreshold->clear();
    });
}

RunWindow::~RunWindow() = default;

std::unique_ptr<FolderSeries> RunWindow::ReadFolder(const QString &folder)
{
    auto run = std::make_unique<FolderSeries>(folder);
    QProgressDialog progress(QStringLiteral("Чтение записи…"), QStringLiteral("Отмена"), 0, 100, this);
    progress.setWindowTitle(kCaption);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300); // only a long run shows it
    QString error;
    const bool read = run->ReadNew(&error, [&progress](int done, int total) {
        progress.setMaximum(total);
        progress.setValue(done);
        QApplication::processEvents();
        return !progress.wasCanceled();
    });
    progress.reset();
    if (!read) {
        if (!error.isEmpty())
            m_messages.Show(ErrorMessage(QStringLiteral("Не удалось прочитать папку %1").arg(QDir::toNativeSeparators(folder)), kCaption));
        return nullptr;
    }
    run->ReadEvents();
    return run;
}

bool RunWindow::OpenFolder(const QString &folder)
{
    std::unique_ptr<FolderSeries> run = ReadFolder(folder);
    if (!run)
        return false;
    if (run->Series().IsEmpty())
        m_messages.Show(WarningMessage(QStringLiteral("В папке %1 нет показаний").arg(QDir::toNativeSeparators(folder)), kCaption));
    m_pCompared.reset();
    m_tail.clear();
    m_pRun = std::move(run);
    m_pChart->Plot().SetRun(&m_pRun->Series(), &m_pRun->Events());
    m_pChart->Plot().SetCompared(nullptr, 0);
    m_pChart->Plot().SetTail(&m_tail);
    setWindowTitle(kCaption + QStringLiteral(" — ") + QDir::toNativeSeparators(folder));
    m_pChart->SetSelection(std::nullopt);
    m_pChart->ShowAll();
    RefreshStatistics();
    m_pRecordState->clear();
    CheckRecords();
    return true;
}

void RunWindow::StartRecordCheck()
{
    if (!m_pRun)
        return;
    if (m_recordCheck.isRunning()) {
        m_bCheckAgain = true;
        return;
    }
    // Hashing 8 h of files takes about half a second: never on this thread.
    const QString folder = m_pRun->Folder();
    m_recordCheck.setFuture(QtConcurrent::run([folder] { return CheckFolder(folder); }));
}

QString RunWindow::RecordState() const
{
    return m_pRecordState->toolTip();
}

std::unique_ptr<FolderSeries> RunWindow::ReadCompared(const QString &folder)
{
    std::unique_ptr<FolderSeries> other = ReadFolder(folder);
    if (other && other->Series().IsEmpty()) {
        // A parent folder, say: nothing to lay over the run, and the operator is told.
        m_messages.Show(WarningMessage(QStringLiteral("В папке %1 нет файлов данных: сравнивать не с чем.")
                                           .arg(QDir::toNativeSeparators(folder)),
                                       kCaption));
        return nullptr;
    }
    return other;
}

bool RunWindow::CompareWith(const QString &folder, Align align, const QString &ownMark, const QString &otherMark)
{
    if (!m_pRun)
        return false;
    std::unique_ptr<FolderSeries> other = ReadCompared(folder);
    if (!other)
        return false;
    m_pCompared = std::move(other);
    m_align = align;
    m_strOwnMark = ownMark;
    m_strOtherMark = otherMark;
    AlignCompared();
    m_pChart->ShowAll();
    return true;
}

void RunWindow::AlignCompared()
{
    if (!m_pCompared)
        return;
    qint64 shift = m_pRun->Series().FirstMs() - m_pCompared->Series().FirstMs();
    if (m_align == Align::Marks) {
        const std::optional<qint64> own = MarkTime(*m_pRun, m_strOwnMark);
        const std::optional<qint64> other = MarkTime(*m_pCompared, m_strOtherMark);
        if (own && other)
            shift = *own - *other;
    }
    m_pChart->Plot().SetCompared(&m_pCompared->Series(), shift);
    m_pChart->Plot().SetLegend(QDir::toNativeSeparators(m_pRun->Folder()), QDir::toNativeSeparators(m_pCompared->Folder()));
    m_pChart->update();
}

void RunWindow::TakeLiveReadings(std::span<const std::pair<qint64, float>> readings)
{
    if (!m_pRun || readings.empty())
        return;
    const double end = m_pChart->Plot().FromMs() + m_pChart->Plot().SpanMs();
    const qint64 lastBefore = m_tail.empty() ? m_pRun->Series().LastMs() : m_tail.back().first;
    m_tail.insert(m_tail.end(), readings.begin(), readings.end());
    // The whole run stays the whole run; a view that showed the newest reading keeps showing it.
    if (m_pChart->ShowsAll()) {
        m_pChart->ShowAll();
    } else if (end >= double(lastBefore)) {
        const double grown = double(m_tail.back().first - lastBefore);
        m_pChart->ShowSpan(m_pChart->Plot().FromMs() + grown, end + grown);
    } else {
        m_pChart->update();
    }
}

void RunWindow::FilesWritten()
{
    if (!m_pRun)
        return;
    if (m_pRun->FilesChanged()) {
        // Files written again: the folder is read afresh, the view kept.
        std::unique_ptr<FolderSeries> again = ReadFolder(m_pRun->Folder());
        if (!again)
            return;
        m_pRun = std::move(again);
        m_pChart->Plot().SetRun(&m_pRun->Series(), &m_pRun->Events());
    } else {
        QString error;
        m_pRun->ReadNew(&error);
    }
    const RunSeries &series = m_pRun->Series();
    if (series.IsEmpty())
        return;
    // The tail's readings now in a file go: those before the file's last
    // instant, and as many at that instant as the file has there.
    const qint64 lastMs = series.LastMs();
    qint64 atLast = 0;
    for (qint64 i = series.Size() - 1; i >= 0 && series.TimeAt(i) == lastMs; --i)
        ++atLast;
    auto keep = std::find_if(m_tail.begin(), m_tail.end(), [&](const auto &reading) {
        if (reading.first < lastMs)
            return false;
        if (reading.first == lastMs && atLast > 0) {
            --atLast;
            return false;
        }
        return true;
    });
    m_tail.erase(m_tail.begin(), keep);
    CheckRecords(); // the save has just entered its files
    if (m_pChart->ShowsAll())
        m_pChart->ShowAll();
    else
        m_pChart->update();
    m_statisticsDelay.start();
}

void RunWindow::EventsChanged()
{
    if (!m_pRun)
        return;
    m_pRun->ReadEvents();
    // Between saves a run's events are ahead of its chain; at its stop they are entered.
    if (!m_pRun->Events().isEmpty() && m_pRun->Events().back().event == QLatin1String("run-stop"))
        CheckRecords();
    if (m_pChart->ShowsAll())
        m_pChart->ShowAll(); // a stop ends the whole run
    else
        m_pChart->update();
    m_statisticsDelay.start();
}

std::pair<qint64, qint64> RunWindow::Span() const
{
    if (const auto selection = m_pChart->Selection())
        return *selection;
    if (!m_pRun)
        return {0, 0};
    return m_pRun->WholeSpan();
}

void RunWindow::SetLimits(std::vector<double> limits)
{
    m_limits = limits;
    m_pChart->Plot().SetLimits(std::move(limits));
    m_pChart->update();
}

void RunWindow::SetThreshold(std::optional<double> celsius)
{
    m_threshold = celsius;
    if (celsius && m_pThreshold->text().isEmpty())
        m_pThreshold->setText(QString::number(*celsius));
    RefreshStatistics();
}

void RunWindow::RefreshStatistics()
{
    m_statisticsDelay.stop(); // a refresh now supersedes a delayed one: a run's statistics are reckoned once
    if (!m_pRun) {
        m_pStatistics->clear();
        return;
    }
    const auto [from, to] = Span();
    m_statistics = FolderStatistics(*m_pRun, from, to, m_threshold);
    QString html = QStringLiteral("<b>%1</b><table cellspacing=\"3\">")
                       .arg(m_pChart->Selection() ? QStringLiteral("Выделенный участок") : QStringLiteral("Вся запись"));
    for (const auto &[label, value] : StatisticsRows(m_statistics))
        html += QStringLiteral("<tr><td>%1</td><td>%2</td></tr>").arg(label.toHtmlEscaped(), value.toHtmlEscaped());
    html += QStringLiteral("</table>");
    html += QStringLiteral("<p>Папка: %1</p>").arg(QDir::toNativeSeparators(m_pRun->Folder()).toHtmlEscaped());
    const QStringList comments = RunComments(*m_pRun);
    if (!comments.isEmpty())
        html += QStringLiteral("<p>Комментарий: %1</p>").arg(comments.join(QStringLiteral("; ")).toHtmlEscaped());
    if (!m_pRun->Problems().isEmpty())
        html += QStringLiteral("<p style=\"color:#b00\">Пропущено при чтении: %1 (строки или файлы, которые не удалось прочитать)</p>")
                    .arg(m_pRun->Problems().size());
    m_pStatistics->setText(html);
}

void RunWindow::ShowCursor(std::optional<qint64> utcMs)
{
    m_strReadout.clear();
    if (!utcMs || !m_pRun) {
        m_pChart->SetCursorReading(std::nullopt);
        m_pReadout->clear();
        return;
    }
    const RunSeries &series = m_pRun->Series();
    std::optional<std::pair<qint64, double>> nearest;
    const qint64 index = series.Nearest(*utcMs);
    const auto tailAfter = std::lower_bound(m_tail.begin(), m_tail.end(), *utcMs,
                                            [](const auto &reading, qint64 ms) { return reading.first < ms; });
    bool inTail = false;
    for (auto candidate : {tailAfter, tailAfter == m_tail.begin() ? m_tail.end() : std::prev(tailAfter)}) {
        if (candidate == m_tail.end())
            continue;
        const qint64 distance = std::abs(candidate->first - *utcMs);
        if (index < 0 || distance < std::abs(series.TimeAt(index) - *utcMs)) {
            if (!nearest || distance < std::abs(nearest->first - *utcMs)) {
                nearest = std::pair<qint64, double>(candidate->first, candidate->second);
                inTail = true;
            }
        }
    }
    if (!inTail && index >= 0) {
        nearest = std::pair<qint64, double>(series.TimeAt(index), series.CelsiusAt(index));
        const ReadingPlace place = series.PlaceOf(index);
        m_strReadout = QStringLiteral("%1   %2 °C   файл %3, строка %4")
                           .arg(Clock(nearest->first), QString::number(nearest->second, 'f', 1), place.file)
                           .arg(place.line);
    } else if (nearest) {
        m_strReadout = QStringLiteral("%1   %2 °C   ещё не записано в файл")
                           .arg(Clock(nearest->first), QString::number(nearest->second, 'f', 1));
    }
    const RunSeries *compared = m_pCompared ? &m_pCompared->Series() : nullptr;
    if (nearest && compared && !compared->IsEmpty()) {
        const qint64 shift = m_pChart->Plot().ComparedShiftMs();
        const qint64 other = compared->Nearest(*utcMs - shift);
        const double difference = nearest->second - compared->CelsiusAt(other);
        m_strReadout += QStringLiteral("   ·   сравнение: %1 °C (%2), разница %3%4 °C")
                            .arg(QString::number(compared->CelsiusAt(other), 'f', 1), Clock(compared->TimeAt(other)),
                                 difference >= 0 ? QStringLiteral("+") : QString(), QString::number(difference, 'f', 1));
    }
    m_pChart->SetCursorReading(nearest);
    m_pReadout->setText(m_strReadout);
}

QString RunWindow::Readout() const
{
    return m_strReadout;
}

std::optional<QString> RunWindow::ChooseFolder()
{
    if (m_folderSource)
        return m_folderSource(this);
    // The chooser works in the working folder: it is put back afterwards.
    const QString before = CurrentFolder();
    if (m_pRun)
        SetCurrentFolder(QFileInfo(m_pRun->Folder()).absolutePath());
    CFolderDlg chooser(m_messages, this);
    chooser.m_bSubfolder = false;
    std::optional<QString> chosen;
    if (m_messages.Exec(chooser) == QDialog::Accepted)
        chosen = CurrentFolder();
    SetCurrentFolder(before);
    return chosen;
}

void RunWindow::OnOpen()
{
    if (const std::optional<QString> folder = ChooseFolder())
        OpenFolder(*folder);
}

void RunWindow::OnCompare()
{
    if (!m_pRun) {
        OnOpen();
        return;
    }
    const std::optional<QString> folder = ChooseFolder();
    if (!folder)
        return;
    std::unique_ptr<FolderSeries> other = ReadCompared(*folder);
    if (!other)
        return;
    // How to lay the two over each other.
    QDialog ask(this);
    ask.setWindowTitle(QStringLiteral("Сравнение"));
    auto *form = new QFormLayout(&ask);
    auto *how = new QComboBox;
    how->addItems({QStringLiteral("по началу записей"), QStringLiteral("по отметкам")});
    auto *ownMark = new QComboBox;
    ownMark->addItems(MarkTexts(*m_pRun));
    auto *otherMark = new QComboBox;
    otherMark->addItems(MarkTexts(*other));
    const bool marks = ownMark->count() > 0 && otherMark->count() > 0;
    how->setEnabled(marks);
    form->addRow(QStringLiteral("Совместить:"), how);
    form->addRow(QStringLiteral("Отметка этой записи:"), ownMark);
    form->addRow(QStringLiteral("Отметка второй записи:"), otherMark);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, &ask, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &ask, &QDialog::reject);
    form->addRow(buttons);
    if (m_messages.Exec(ask) != QDialog::Accepted)
        return;
    m_pCompared = std::move(other);
    m_align = marks && how->currentIndex() == 1 ? Align::Marks : Align::Starts;
    m_strOwnMark = ownMark->currentText();
    m_strOtherMark = otherMark->currentText();
    AlignCompared();
    m_pChart->ShowAll();
}

bool RunWindow::ExportCsv(const QString &path)
{
    QFile csv;
    if (!m_pRun || !OpenNamedFile(csv, path, QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    ExportRequest request;
    request.folder = m_pRun->Folder();
    request.csv = &csv;
    if (m_pChart->Selection()) {
        request.fromMs = Span().first;
        request.toMs = Span().second;
    }
    const ExportResult result = ExportRecordFolder(request);
    csv.close();
    const bool written = result.error.isEmpty() && !result.cancelled && csv.error() == QFileDevice::NoError;
    if (!written)
        RemoveFile(path); // half an export is no export
    return written;
}

bool RunWindow::ExportPng(const QString &path)
{
    if (!m_pRun)
        return false;
    ExportRequest request;
    request.folder = m_pRun->Folder();
    request.pngPath = path;
    if (m_pChart->Selection()) {
        request.fromMs = Span().first;
        request.toMs = Span().second;
    }
    const ExportResult result = ExportRecordFolder(request);
    return result.error.isEmpty() && !result.cancelled;
}

bool RunWindow::WriteReport(const QString &path, QString *error)
{
    if (!m_pRun)
        return false;
    RunReportContent content;
    content.run = m_pRun.get();
    std::tie(content.fromMs, content.toMs) = Span();
    content.statistics = FolderStatistics(*m_pRun, content.fromMs, content.toMs, m_threshold);
    content.limits = m_limits;
    content.check = CheckFolder(m_pRun->Folder());
    QString reason;
    return WriteRunReport(path, content, error ? error : &reason);
}

namespace {

// "<folder name><suffix>" beside the folder: a file inside it would join its data.
QString Beside(const QString &folder, const QString &suffix)
{
    const QFileInfo info(folder);
    return QDir(info.absolutePath()).filePath(info.fileName() + suffix);
}

QString WithSuffix(QString path, const QString &suffix)
{
    if (QFileInfo(path).suffix().isEmpty())
        path += suffix;
    return path;
}

} // namespace

void RunWindow::AskAndWrite(const QString &caption, const QString &suffix, const std::function<bool(const QString &, QString *)> &write)
{
    if (!m_pRun)
        return;
    const QString path = m_messages.AskFileToSave(this, caption, Beside(m_pRun->Folder(), suffix),
                                                  suffix.mid(1).toUpper() + QStringLiteral(" (*") + suffix + QLatin1Char(')'));
    if (path.isEmpty())
        return;
    QString error;
    const QString written = WithSuffix(path, suffix);
    if (!write(written, &error)) {
        QString text = QStringLiteral("Не удалось записать %1").arg(QDir::toNativeSeparators(written));
        if (!error.isEmpty())
            text += QStringLiteral(": ") + error;
        m_messages.Show(ErrorMessage(text, kCaption));
        return;
    }
    m_messages.Show(InformationMessage(QStringLiteral("Записано: %1").arg(QDir::toNativeSeparators(written)), kCaption));
}

void RunWindow::OnExportCsv()
{
    AskAndWrite(QStringLiteral("Экспорт в CSV"), QStringLiteral(".csv"), [this](const QString &path, QString *) { return ExportCsv(path); });
}

void RunWindow::OnExportPng()
{
    AskAndWrite(QStringLiteral("Экспорт в PNG"), QStringLiteral(".png"), [this](const QString &path, QString *) { return ExportPng(path); });
}

void RunWindow::OnReport()
{
    AskAndWrite(QStringLiteral("Отчёт PDF"), QStringLiteral(".pdf"), [this](const QString &path, QString *error) { return WriteReport(path, error); });
}
