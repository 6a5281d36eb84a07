#pragma once

#include "FakeS3Server.h"
#include "FakeWebService.h"

#include <QString>

namespace TestServices {

// Starts the fake web service and a fake S3 server that accepts the answer's credentials and
// bucket, and points the program in this process at both (QUILLORA_API_URL,
// QUILLORA_S3_ENDPOINT). Empty on success, else what went wrong.
QString start(FakeWebService &service, FakeS3Server &s3,
              const FakeWebService::StreamAnswer &answer);

} // namespace TestServices
