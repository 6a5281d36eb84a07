#include "S3TransferManager.h"

#include <QByteArray>
#include <QFile>
#include <QXmlStreamReader>

#include <curl/curl.h>

#include <algorithm>

namespace {

struct CurlEasyDeleter
{
    void operator()(CURL *curl) const { curl_easy_cleanup(curl); }
};
struct CurlSlistDeleter
{
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;
using CurlSlist = std::unique_ptr<curl_slist, CurlSlistDeleter>;

size_t readFromFile(char *buffer, size_t size, size_t count, void *userData)
{
    auto *file = static_cast<QFile *>(userData);
    const qint64 read = file->read(buffer, static_cast<qint64>(size * count));
    return read < 0 ? CURL_READFUNC_ABORT : static_cast<size_t>(read);
}

size_t appendToBuffer(char *data, size_t size, size_t count, void *userData)
{
    static_cast<QByteArray *>(userData)->append(data, static_cast<qsizetype>(size * count));
    return size * count;
}

struct ProgressData
{
    const S3TransferManager *manager;
    const S3TransferHandle *handle;
    std::shared_ptr<const S3TransferHandle> sharedHandle;
    const S3TransferManager::TransferCallback *callback;
    curl_off_t lastUploaded = 0;
};

int onProgress(void *userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded)
{
    auto *progress = static_cast<ProgressData *>(userData);
    if (!progress->handle->ShouldContinue())
        return 1;
    if (uploaded != progress->lastUploaded) {
        progress->lastUploaded = uploaded;
        if (*progress->callback)
            (*progress->callback)(progress->manager, progress->sharedHandle);
    }
    return 0;
}

// S3 explains a refused request in an XML body: <Error><Code>…</Code><Message>…</Message></Error>.
S3Error errorFromResponse(long httpStatus, const QByteArray &body)
{
    S3Error error;
    QXmlStreamReader xml(body);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("Code"))
            error.exceptionName = xml.readElementText();
        else if (xml.name() == QLatin1String("Message"))
            error.message = xml.readElementText();
    }
    if (error.exceptionName.isEmpty())
        error.exceptionName = QStringLiteral("HttpError");
    if (error.message.isEmpty())
        error.message = QStringLiteral("HTTP status %1").arg(httpStatus);
    return error;
}

QByteArray header(const char *name, const QString &value)
{
    return QByteArray(name) + ": " + value.toUtf8();
}

} // namespace

S3TransferManager::S3TransferManager(Config config) : m_config(std::move(config)) {}

S3TransferManager::~S3TransferManager()
{
    std::vector<std::pair<std::thread, std::shared_ptr<S3TransferHandle>>> transfers;
    {
        const std::lock_guard lock(m_transfersMutex);
        transfers.swap(m_transfers);
    }
    for (auto &[thread, handle] : transfers) {
        handle->Cancel();
        thread.join();
    }
}

void S3TransferManager::CancelAll()
{
    const std::lock_guard lock(m_transfersMutex);
    for (auto &transfer : m_transfers)
        transfer.second->Cancel();
}

QString S3TransferManager::endpointFromEnvironment()
{
    return qEnvironmentVariable("QUILLORA_S3_ENDPOINT");
}

QUrl S3TransferManager::objectUrl(const QString &bucketName, const QString &key) const
{
    const QString encodedKey = QString::fromLatin1(QUrl::toPercentEncoding(key, "/~"));
    if (!m_config.endpointOverride.isEmpty()) {
        QString endpoint = m_config.endpointOverride;
        while (endpoint.endsWith(QLatin1Char('/')))
            endpoint.chop(1);
        const QString bucket = QString::fromLatin1(QUrl::toPercentEncoding(bucketName));
        return QUrl(endpoint + QLatin1Char('/') + bucket + QLatin1Char('/') + encodedKey,
                    QUrl::StrictMode);
    }
    if (m_config.useVirtualAddressing && !bucketName.contains(QLatin1Char('.'))) {
        return QUrl(QStringLiteral("%1://%2.s3.amazonaws.com/%3")
                        .arg(m_config.scheme, bucketName, encodedKey),
                    QUrl::StrictMode);
    }
    return QUrl(
        QStringLiteral("%1://s3.amazonaws.com/%2/%3").arg(m_config.scheme, bucketName, encodedKey),
        QUrl::StrictMode);
}

std::shared_ptr<S3TransferHandle>
S3TransferManager::UploadFile(const QString &localPath, const QString &bucketName,
                              const QString &key, const QString &contentType,
                              std::shared_ptr<const S3TransferContext> context)
{
    reapFinishedTransfers();
    auto handle = std::make_shared<S3TransferHandle>(bucketName, key, localPath, contentType,
                                                     std::move(context));
    if (m_config.transferInitiatedCallback)
        m_config.transferInitiatedCallback(this, handle);
    const std::lock_guard lock(m_transfersMutex);
    m_transfers.emplace_back(std::thread([this, handle] { runUpload(handle); }), handle);
    return handle;
}

void S3TransferManager::reapFinishedTransfers()
{
    const std::lock_guard lock(m_transfersMutex);
    for (auto it = m_transfers.begin(); it != m_transfers.end();) {
        if (it->second->IsFinished()) {
            it->first.join();
            it = m_transfers.erase(it);
        } else {
            ++it;
        }
    }
}

void S3TransferManager::fail(const std::shared_ptr<S3TransferHandle> &handle, const S3Error &error)
{
    handle->SetError(error);
    handle->UpdateStatus(S3TransferStatus::Failed);
    if (m_config.errorCallback)
        m_config.errorCallback(this, handle, error);
    if (m_config.transferStatusUpdatedCallback)
        m_config.transferStatusUpdatedCallback(this, handle);
    handle->MarkFinished();
}

void S3TransferManager::runUpload(const std::shared_ptr<S3TransferHandle> &handle)
{
    handle->UpdateStatus(S3TransferStatus::InProgress);
    if (m_config.transferStatusUpdatedCallback)
        m_config.transferStatusUpdatedCallback(this, handle);

    QFile file(handle->GetTargetFilePath());
    if (!file.open(QIODevice::ReadOnly)) {
        fail(handle, {QStringLiteral("FileError"),
                      QStringLiteral("Cannot open %1: %2")
                          .arg(handle->GetTargetFilePath(), file.errorString())});
        return;
    }

    CurlEasy curl(curl_easy_init());
    if (!curl) {
        fail(handle, {QStringLiteral("NetworkError"), QStringLiteral("curl_easy_init failed")});
        return;
    }
    CURL *easy = curl.get();

    const QByteArray url = objectUrl(handle->GetBucketName(), handle->GetKey()).toEncoded();
    const QByteArray signing = "aws:amz:" + m_config.region.toUtf8() + ":s3";
    const QByteArray user = m_config.accessKeyId.toUtf8();
    const QByteArray secret = m_config.secretAccessKey.toUtf8();

    // libcurl signs every header given here (an "Expect:" that only suppresses a header would be
    // signed too and break the signature), but does not add the payload hash itself.
    CurlSlist headers;
    const auto addHeader = [&headers](const QByteArray &line) {
        if (curl_slist *list = curl_slist_append(headers.get(), line.constData())) {
            (void)headers.release();
            headers.reset(list);
        }
    };
    addHeader(header("Content-Type", handle->GetContentType()));
    addHeader("x-amz-content-sha256: UNSIGNED-PAYLOAD");
    if (!m_config.sessionToken.isEmpty())
        addHeader(header("x-amz-security-token", m_config.sessionToken));

    QByteArray responseBody;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    ProgressData progress{this, handle.get(), handle, &m_config.uploadProgressCallback};

    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(easy, CURLOPT_READFUNCTION, readFromFile);
    curl_easy_setopt(easy, CURLOPT_READDATA, &file);
    curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(file.size()));
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(easy, CURLOPT_AWS_SIGV4, signing.constData());
    curl_easy_setopt(easy, CURLOPT_USERNAME, user.constData());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, secret.constData());
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, m_config.connectTimeoutMs);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT,
                     std::max(1L, m_config.lowSpeedLimitBytesPerSecond));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, std::max(1L, m_config.requestTimeoutMs / 1000));
    curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, m_config.enableTcpKeepAlive ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, appendToBuffer);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &responseBody);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &progress);

    const CURLcode result = curl_easy_perform(easy);
    if (result == CURLE_ABORTED_BY_CALLBACK && !handle->ShouldContinue()) {
        handle->UpdateStatus(S3TransferStatus::Canceled);
        if (m_config.transferStatusUpdatedCallback)
            m_config.transferStatusUpdatedCallback(this, handle);
        handle->MarkFinished();
        return;
    }
    if (result != CURLE_OK) {
        const QString detail = errorBuffer[0] ? QString::fromUtf8(errorBuffer)
                                              : QString::fromUtf8(curl_easy_strerror(result));
        fail(handle, {QStringLiteral("NetworkError"),
                      QStringLiteral("curlCode: %1, %2").arg(int(result)).arg(detail)});
        return;
    }

    long httpStatus = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &httpStatus);
    if (httpStatus < 200 || httpStatus >= 300) {
        fail(handle, errorFromResponse(httpStatus, responseBody));
        return;
    }
    handle->UpdateStatus(S3TransferStatus::Completed);
    if (m_config.transferStatusUpdatedCallback)
        m_config.transferStatusUpdatedCallback(this, handle);
    handle->MarkFinished();
}
