#include "nativename.h"

#include <QFile>

namespace {

constexpr char16_t kFirstStandIn = 0xDC80;
constexpr char16_t kLastStandIn = 0xDCFF;

bool IsStandIn(QChar c)
{
    return c.unicode() >= kFirstStandIn && c.unicode() <= kLastStandIn;
}

// The length of the valid UTF-8 sequence at `at`, or 0.
int ValidSequenceAt(const QByteArray &bytes, qsizetype at)
{
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80)
        return 1;
    int length = 0;
    unsigned char low = 0x80, high = 0xBF; // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0; // no overlong forms
        if (lead == 0xED)
            high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F; // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (at + length > bytes.size() || byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (int i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF)
            return 0;
    }
    return length;
}

} // namespace

bool QtCanName(const QString &name)
{
#ifdef Q_OS_WIN
    Q_UNUSED(name);
    return true;
#else
    return std::none_of(name.cbegin(), name.cend(), IsStandIn);
#endif
}

QString FromNativeName(const QByteArray &name)
{
#ifdef Q_OS_WIN
    return QString::fromUtf8(name);
#else
    QString out;
    out.reserve(name.size());
    qsizetype runStart = 0; // start of the valid bytes not yet converted
    qsizetype at = 0;
    while (at < name.size()) {
        const int length = ValidSequenceAt(name, at);
        if (length > 0) {
            at += length;
            continue;
        }
        out += QString::fromUtf8(name.constData() + runStart, at - runStart);
        out += QChar(char16_t(0xDC00 + static_cast<unsigned char>(name[at])));
        runStart = ++at;
    }
    out += QString::fromUtf8(name.constData() + runStart, at - runStart);
    return out;
#endif
}

QByteArray ToNativeName(const QString &name)
{
#ifdef Q_OS_WIN
    return name.toUtf8();
#else
    QByteArray out;
    qsizetype runStart = 0;
    for (qsizetype at = 0; at < name.size(); ++at) {
        if (!IsStandIn(name[at]))
            continue;
        out += QStringView(name).sliced(runStart, at - runStart).toUtf8();
        out += static_cast<char>(name[at].unicode() - 0xDC00);
        runStart = at + 1;
    }
    out += QStringView(name).sliced(runStart).toUtf8();
    return out;
#endif
}
