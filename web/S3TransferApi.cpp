#include "S3TransferApi.h"

#include <QDebug>
#include <curl/curl.h>

namespace S3TransferApi {

bool init()
{
    const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (result != CURLE_OK) {
        qWarning() << "[S3TransferApi]"
                   << "initialisation failed:" << curl_easy_strerror(result);
        return false;
    }
    return true;
}

void shutdown()
{
    curl_global_cleanup();
}

} // namespace S3TransferApi
