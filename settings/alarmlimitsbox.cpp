#include "alarmlimitsbox.h"

#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

#include <cmath>

namespace {

QString Text(const std::optional<double> &value)
{
    return value ? QString::number(*value, 'g', 10) : QString();
}

} // namespace

AlarmLimitsBox::AlarmLimitsBox(QWidget *parent)
    : QGroupBox(QStringLiteral("Сигнализация"), parent)
    , m_pHigh(new QLineEdit(this))
    , m_pLow(new QLineEdit(this))
    , m_pRate(new QLineEdit(this))
    , m_pWindow(new QLineEdit(this))
    , m_pHysteresis(new QLineEdit(this))
    , m_pDelay(new QLineEdit(this))
    , m_pSilence(new QLineEdit(this))
    , m_pSound(new QCheckBox(QStringLiteral("Звук"), this))
{
    auto *grid = new QGridLayout(this);
    const auto row = [grid, this](int r, int c, const QString &label, QLineEdit *edit, const QString &tip) {
        auto *text = new QLabel(label, this);
        text->setBuddy(edit);
        grid->addWidget(text, r, c);
        grid->addWidget(edit, r, c + 1);
        edit->setToolTip(tip);
        edit->setMaximumWidth(80);
    };
    row(0, 0, QStringLiteral("Выше, °C"), m_pHigh, QStringLiteral("Тревога, когда температура выше (пусто: нет)"));
    row(1, 0, QStringLiteral("Ниже, °C"), m_pLow,
        QStringLiteral("Тревога, когда температура ниже, после того как была выше (пусто: нет)"));
    row(2, 0, QStringLiteral("Скорость, °C/мин"), m_pRate,
        QStringLiteral("Тревога, когда температура растёт или падает быстрее (пусто: нет)"));
    row(3, 0, QStringLiteral("Нет данных, с"), m_pSilence,
        QStringLiteral("Тревога, когда нет данных прибора дольше (0: нет)"));
    row(0, 2, QStringLiteral("Гистерезис, °C"), m_pHysteresis,
        QStringLiteral("Тревога по пределу снимается, когда температура вернулась на столько"));
    row(1, 2, QStringLiteral("Задержка, с"), m_pDelay, QStringLiteral("Условие держится столько, прежде чем тревога"));
    row(2, 2, QStringLiteral("Окно скорости, с"), m_pWindow, QStringLiteral("За какое время измеряется скорость"));
    grid->addWidget(m_pSound, 3, 2, 1, 2);
}

void AlarmLimitsBox::Show(const AlarmLimits &limits)
{
    m_pHigh->setText(Text(limits.high));
    m_pLow->setText(Text(limits.low));
    m_pRate->setText(Text(limits.rate));
    m_pWindow->setText(QString::number(limits.rateWindowSeconds));
    m_pHysteresis->setText(Text(limits.hysteresis));
    m_pDelay->setText(Text(limits.delaySeconds));
    m_pSilence->setText(QString::number(limits.silenceSeconds));
    m_pSound->setChecked(limits.sound);
}

std::optional<double> AlarmLimitsBox::Number(const QString &text, bool *ok)
{
    QString trimmed = text.trimmed();
    trimmed.replace(QLatin1Char(','), QLatin1Char('.')); // "1,5" as the Russian keyboard gives it
    if (trimmed.isEmpty()) {
        *ok = true;
        return std::nullopt;
    }
    const double value = trimmed.toDouble(ok);
    *ok = *ok && std::isfinite(value);
    return *ok ? std::optional<double>(value) : std::nullopt;
}

std::optional<AlarmLimits> AlarmLimitsBox::Take(Message *notice) const
{
    AlarmLimits limits;
    const auto take = [notice](QLineEdit *edit, double lowest, double highest, bool emptyIsOff,
                               std::optional<double> *out) {
        bool ok = false;
        const std::optional<double> value = Number(edit->text(), &ok);
        if (ok && (value ? *value >= lowest && *value <= highest : emptyIsOff)) {
            *out = value;
            return true;
        }
        *notice = WarningMessage(QStringLiteral("Введите число от %1 до %2%3.")
                                     .arg(lowest)
                                     .arg(highest)
                                     .arg(emptyIsOff ? QStringLiteral(" или оставьте поле пустым") : QString()),
                                 QApplication::applicationName());
        edit->setFocus();
        edit->selectAll();
        return false;
    };
    std::optional<double> window, hysteresis, delay, silence;
    if (!take(m_pHigh, -300, 10000, true, &limits.high) || !take(m_pLow, -300, 10000, true, &limits.low)
        || !take(m_pRate, 0.001, 10000, true, &limits.rate) || !take(m_pSilence, 0, 86400, false, &silence)
        || !take(m_pHysteresis, 0, 1000, false, &hysteresis) || !take(m_pDelay, 0, 3600, false, &delay)
        || !take(m_pWindow, 10, 3600, false, &window))
        return std::nullopt;
    limits.rateWindowSeconds = static_cast<int>(std::lround(*window));
    limits.hysteresis = *hysteresis;
    limits.delaySeconds = *delay;
    limits.silenceSeconds = static_cast<int>(std::lround(*silence));
    limits.sound = m_pSound->isChecked();
    return limits;
}
