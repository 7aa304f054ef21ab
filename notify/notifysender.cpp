#include "notifysender.h"

#include <QFile>
#include <QMetaObject>

#include <curl/curl.h>

#include <memory>

namespace {

struct CurlFree
{
    void operator()(CURL *curl) const { curl_easy_cleanup(curl); }
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};

// The first line of a file kept off the INI file.
QByteArray FirstLine(const QString &path)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    return file.readLine(4096).trimmed();
}

struct Upload
{
    const QByteArray *bytes;
    qsizetype at = 0;
};

size_t ReadUpload(char *buffer, size_t size, size_t count, void *data)
{
    Upload &upload = *static_cast<Upload *>(data);
    const size_t room = size * count;
    const size_t left = size_t(upload.bytes->size() - upload.at);
    const size_t taken = std::min(room, left);
    memcpy(buffer, upload.bytes->constData() + upload.at, taken);
    upload.at += qsizetype(taken);
    return taken;
}

size_t Discard(char *, size_t size, size_t count, void *)
{
    return size * count;
}

void Append(std::unique_ptr<curl_slist, CurlFree> &list, const QByteArray &item)
{
    curl_slist *grown = curl_slist_append(list.get(), item.constData());
    if (grown) {
        (void)list.release();
        list.reset(grown);
    }
}

// A worker living on the sender's thread.
class Worker : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
public slots:
    void Take(const NotifyJob &job) { emit Done(job.id, SendNow(job)); }
signals:
    void Done(qint64 id, const QString &error);
};

} // namespace

QString SendNow(const NotifyJob &job)
{
    const std::unique_ptr<CURL, CurlFree> curl(curl_easy_init());
    if (!curl)
        return QStringLiteral("libcurl cannot start");
    char message[CURL_ERROR_SIZE] = {};
    CURL *handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, message);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, 10L);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, Discard);
    const NotifyChannel &channel = job.channel;
    std::unique_ptr<curl_slist, CurlFree> list;
    Upload upload {&job.payload};
    QByteArray url, user, password, from;
    if (channel.kind == NotifyChannel::Kind::Email) {
        const char *scheme = channel.security == NotifyChannel::Security::Tls ? "smtps" : "smtp";
        url = QByteArray(scheme) + "://" + channel.host.toUtf8() + ':' + QByteArray::number(channel.port);
        curl_easy_setopt(handle, CURLOPT_URL, url.constData());
        if (channel.security == NotifyChannel::Security::StartTls)
            curl_easy_setopt(handle, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
        if (!channel.user.isEmpty()) {
            user = channel.user.toUtf8();
            password = FirstLine(channel.passwordFile);
            curl_easy_setopt(handle, CURLOPT_USERNAME, user.constData());
            curl_easy_setopt(handle, CURLOPT_PASSWORD, password.constData());
        }
        from = '<' + channel.from.toUtf8() + '>';
        curl_easy_setopt(handle, CURLOPT_MAIL_FROM, from.constData());
        for (const QString &to : channel.to)
            Append(list, '<' + to.toUtf8() + '>');
        curl_easy_setopt(handle, CURLOPT_MAIL_RCPT, list.get());
        curl_easy_setopt(handle, CURLOPT_READFUNCTION, ReadUpload);
        curl_easy_setopt(handle, CURLOPT_READDATA, &upload);
        curl_easy_setopt(handle, CURLOPT_UPLOAD, 1L);
    } else {
        url = channel.url.toUtf8();
        curl_easy_setopt(handle, CURLOPT_URL, url.constData());
        curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(handle, CURLOPT_FAILONERROR, 1L);
        for (const QString &header : job.headers + channel.headers)
            Append(list, header.toUtf8());
        const QByteArray token = FirstLine(channel.tokenFile);
        if (!token.isEmpty())
            Append(list, "Authorization: Bearer " + token);
        curl_easy_setopt(handle, CURLOPT_HTTPHEADER, list.get());
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, job.payload.constData());
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE, long(job.payload.size()));
    }
    const CURLcode result = curl_easy_perform(handle);
    if (result == CURLE_OK)
        return QString();
    return QString::fromUtf8(message[0] ? message : curl_easy_strerror(result));
}

NotifySender::NotifySender(QObject *parent)
    : QObject(parent)
    , m_pWorker(new Worker)
{
    qRegisterMetaType<NotifyJob>();
    // Once, before any thread uses libcurl.
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    Q_UNUSED(initialised)
    m_pWorker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_pWorker, &QObject::deleteLater);
    connect(static_cast<Worker *>(m_pWorker), &Worker::Done, this, &NotifySender::Sent, Qt::QueuedConnection);
    m_thread.setObjectName(QStringLiteral("notify"));
    m_thread.start();
}

NotifySender::~NotifySender()
{
    m_thread.quit();
    m_thread.wait();
}

void NotifySender::Send(const NotifyJob &job)
{
    QMetaObject::invokeMethod(static_cast<Worker *>(m_pWorker), "Take", Qt::QueuedConnection, Q_ARG(NotifyJob, job));
}

#include "notifysender.moc"
