#include "runreport.h"

#include "nativefs.h"
#include "reportheader.h"
#include "runplot.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QPdfWriter>

namespace {

QString Clock(qint64 utcMs)
{
    return QDateTime::fromMSecsSinceEpoch(utcMs).toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

QString Celsius(double celsius)
{
    return QString::number(celsius, 'f', 1) + QStringLiteral(" °C");
}

QString Duration(qint64 ms)
{
    const qint64 seconds = ms / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString EventWords(const FolderEvent &event)
{
    if (event.event == QLatin1String("run-start"))
        return QStringLiteral("Пуск");
    if (event.event == QLatin1String("run-stop"))
        return QStringLiteral("Стоп");
    // Who did it, where the operator acted.
    const QString by = event.user.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(event.user);
    if (event.event == QLatin1String("mark"))
        return QStringLiteral("Отметка: ") + event.text + by;
    if (event.event == QLatin1String("settings"))
        return QStringLiteral("Настройки: ") + event.text;
    if (event.event == QLatin1String("settings-changed"))
        return QStringLiteral("Настройки изменены: ") + event.text + by;
    if (event.event == QLatin1String("alarm-clear"))
        return QStringLiteral("Снято: ") + event.text;
    if (event.event == QLatin1String("alarm-ack"))
        return QStringLiteral("Квитировано: ") + event.text + by;
    if (event.event.startsWith(QLatin1String("alarm-")))
        return QStringLiteral("Сигнал: ") + event.text;
    if (event.event == QLatin1String("line-lost"))
        return QStringLiteral("Связь потеряна: ") + event.text;
    if (event.event == QLatin1String("line-back"))
        return QStringLiteral("Связь восстановлена");
    if (event.event == QLatin1String("save-failed"))
        return QStringLiteral("Не удалось записать файл ") + event.text;
    return event.event + QLatin1Char(' ') + event.text;
}

} // namespace

QStringList RunComments(const FolderSeries &run)
{
    QStringList comments;
    const QString folderComment = run.Comment().trimmed();
    if (!folderComment.isEmpty())
        comments << folderComment;
    for (const FolderEvent &event : run.Events()) {
        if (event.event != QLatin1String("run-start"))
            continue;
        const QString comment = event.text.section(QLatin1Char(' '), 1).trimmed(); // after the first file's number
        if (!comment.isEmpty() && !comments.contains(comment))
            comments << comment;
    }
    return comments;
}

QList<std::pair<QString, QString>> StatisticsRows(const RunStatistics &s)
{
    // Times on the start's day by the clock alone.
    const QDate startDay = QDateTime::fromMSecsSinceEpoch(s.startMs).date();
    const auto at = [&](qint64 utcMs) {
        const QDateTime time = QDateTime::fromMSecsSinceEpoch(utcMs);
        return time.date() == startDay ? time.toString(QStringLiteral("HH:mm:ss")) : Clock(utcMs);
    };
    QList<std::pair<QString, QString>> rows;
    if (s.readings == 0) {
        rows.append({QStringLiteral("Показаний"), QStringLiteral("0")});
        return rows;
    }
    rows.append({QStringLiteral("Начало"), Clock(s.startMs)});
    rows.append({QStringLiteral("Конец"), Clock(s.endMs)});
    rows.append({QStringLiteral("Длительность"), Duration(s.DurationMs())});
    rows.append({QStringLiteral("Показаний"), QString::number(s.readings)});
    rows.append({QStringLiteral("Пропусков"),
                 s.gaps == 0 ? QStringLiteral("0")
                             : QStringLiteral("%1, самый длинный %2").arg(s.gaps).arg(Duration(s.longestGapMs))});
    rows.append({QStringLiteral("Минимум"), Celsius(s.lowest) + QStringLiteral(" в ") + at(s.lowestMs)});
    rows.append({QStringLiteral("Максимум"), Celsius(s.highest) + QStringLiteral(" в ") + at(s.highestMs)});
    rows.append({QStringLiteral("Среднее"), QString::number(s.mean, 'f', 2) + QStringLiteral(" °C")});
    if (s.threshold)
        rows.append({QStringLiteral("Выше %1").arg(Celsius(*s.threshold)), Duration(s.aboveMs)});
    rows.append({QStringLiteral("Наибольший рост за минуту"),
                 s.largestRise ? Celsius(*s.largestRise) + QStringLiteral(" к ") + at(s.riseEndMs) : QStringLiteral("—")});
    rows.append({QStringLiteral("Наибольшее падение за минуту"),
                 s.largestFall ? Celsius(*s.largestFall) + QStringLiteral(" к ") + at(s.fallEndMs) : QStringLiteral("—")});
    static const std::pair<const char *, const char *> kKinds[] = {
        {"alarm-high", "Сигналы «выше»"},     {"alarm-low", "Сигналы «ниже»"},
        {"alarm-rate", "Сигналы «быстрее»"}, {"alarm-silence", "Сигналы «нет данных»"}};
    int alarms = 0;
    for (const auto &[kind, words] : kKinds) {
        const auto found = s.alarms.find(QString::fromLatin1(kind));
        if (found != s.alarms.end()) {
            rows.append({QString::fromUtf8(words), QString::number(found->second)});
            alarms += found->second;
        }
    }
    if (alarms == 0)
        rows.append({QStringLiteral("Сигналов"), QStringLiteral("0")});
    return rows;
}

bool WriteRunReport(const QString &pdfPath, const RunReportContent &content, QString *error)
{
    QFile file;
    if (!OpenNamedFile(file, pdfPath, QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = file.errorString();
        return false;
    }
    {
        QPdfWriter pdf(&file);
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageMargins(QMarginsF(15, 12, 15, 12), QPageLayout::Millimeter);
        pdf.setResolution(96); // the page in screen pixels: the chart draws as on screen
        pdf.setTitle(QStringLiteral("Calorivista: ") + QDir::toNativeSeparators(content.run->Folder()));
        pdf.setCreator(QStringLiteral("Calorivista"));
        QPainter painter(&pdf);
        const QRect page = painter.viewport();
        QFont font = painter.font();
        font.setPointSizeF(9);
        painter.setFont(font);
        const int line = painter.fontMetrics().height();
        int y = page.top();

        QFont title = font;
        title.setPointSizeF(13);
        title.setBold(true);
        painter.setFont(title);
        painter.drawText(QRect(page.left(), y, page.width(), 2 * line), Qt::AlignLeft | Qt::AlignTop,
                         QStringLiteral("Отчёт о записи"));
        y += painter.fontMetrics().height() + 4;
        painter.setFont(font);
        const auto paragraph = [&](const QString &text) {
            const QRect needed = painter.boundingRect(QRect(page.left(), y, page.width(), 10 * line),
                                                      Qt::AlignLeft | Qt::TextWordWrap, text);
            painter.drawText(QRect(page.left(), y, page.width(), needed.height()), Qt::AlignLeft | Qt::TextWordWrap, text);
            y += needed.height() + 2;
        };
        paragraph(QStringLiteral("Папка: ") + QDir::toNativeSeparators(content.run->Folder()));
        const QStringList comments = RunComments(*content.run);
        if (!comments.isEmpty())
            paragraph(QStringLiteral("Комментарий: ") + comments.join(QStringLiteral("; ")));
        paragraph(QStringLiteral("Интервал: %1 — %2").arg(Clock(content.fromMs), Clock(content.toMs)));
        int labelWidth = page.width() * 26 / 100; // the chain's hash is 64 digits long
        const auto table = [&](const QList<std::pair<QString, QString>> &rows) {
            for (const auto &[label, value] : rows) {
                painter.drawText(QRect(page.left(), y, labelWidth, line), Qt::AlignLeft | Qt::AlignVCenter, label);
                painter.drawText(QRect(page.left() + labelWidth, y, page.width() - labelWidth, line),
                                 Qt::AlignLeft | Qt::AlignVCenter,
                                 painter.fontMetrics().elidedText(value, Qt::ElideMiddle, page.width() - labelWidth));
                y += line;
            }
        };
        table(ReportHeaderRows(content.run->Events(), content.fromMs, content.toMs, content.check,
                               QDateTime::currentMSecsSinceEpoch()));

        // The chart of the span.
        RunPlot plot;
        plot.SetRun(&content.run->Series(), &content.run->Events());
        plot.SetLimits(content.limits);
        plot.ShowSpan(double(content.fromMs), double(content.toMs));
        const QRect chart(page.left(), y + 4, page.width(), page.height() * 40 / 100);
        plot.Render(painter, chart);
        y = chart.bottom() + 10;

        // The figures, in two columns.
        labelWidth = page.width() * 38 / 100;
        table(StatisticsRows(content.statistics));
        y += line / 2;

        // The events of the span, as many as the page holds.
        QList<FolderEvent> events;
        for (const FolderEvent &event : content.run->Events())
            if (event.utcMs >= content.fromMs && event.utcMs <= content.toMs)
                events.append(event);
        QFont bold = font;
        bold.setBold(true);
        painter.setFont(bold);
        painter.drawText(QRect(page.left(), y, page.width(), line), Qt::AlignLeft | Qt::AlignVCenter,
                         events.isEmpty() ? QStringLiteral("Событий нет") : QStringLiteral("События"));
        painter.setFont(font);
        y += line;
        // The signatures' lines at the page's foot, below the events.
        const int signatures = page.bottom() - 2 * line;
        const int room = std::max(0, (signatures - line - y) / line);
        for (qsizetype i = 0; i < events.size(); ++i) {
            if (i + 1 == room && events.size() > room) {
                painter.drawText(QRect(page.left(), y, page.width(), line), Qt::AlignLeft | Qt::AlignVCenter,
                                 QStringLiteral("… и ещё %1").arg(events.size() - i));
                break;
            }
            const QString text = Clock(events[i].utcMs) + QStringLiteral("   ") + EventWords(events[i]);
            painter.drawText(QRect(page.left(), y, page.width(), line), Qt::AlignLeft | Qt::AlignVCenter,
                             painter.fontMetrics().elidedText(text, Qt::ElideRight, page.width()));
            y += line;
        }
        const int half = page.width() / 2;
        for (const auto &[x, who] : {std::pair {page.left(), QStringLiteral("Оператор")}, std::pair {page.left() + half, QStringLiteral("Проверил")}})
            painter.drawText(QRect(x, signatures, half - 20, 2 * line), Qt::AlignLeft | Qt::AlignBottom,
                             who + QStringLiteral(": ______________________  / ______________ /"));
    }
    file.close();
    if (file.error() != QFileDevice::NoError) {
        *error = file.errorString();
        RemoveFile(pdfPath); // half a report is no report
        return false;
    }
    return true;
}
