#include "TestServices.h"

namespace TestServices {

QString start(FakeWebService &service, FakeS3Server &s3, const FakeWebService::StreamAnswer &answer)
{
    if (!service.listen())
        return QStringLiteral("the fake web service does not listen");
    qputenv("QUILLORA_API_URL", service.url().toUtf8());
    if (!s3.start({{answer.accessKeyId, answer.secretAccessKey, answer.sessionToken}},
                  {answer.bucket}))
        return s3.errorOutput();
    qputenv("QUILLORA_S3_ENDPOINT", s3.endpoint().toUtf8());
    return {};
}

} // namespace TestServices
