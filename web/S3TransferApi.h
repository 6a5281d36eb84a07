#pragma once

// Process-wide set-up of the S3 transfer layer (libcurl underneath). init() runs once before any
// transfer thread exists and shutdown() after the last one has ended.
namespace S3TransferApi {

bool init();
void shutdown();

} // namespace S3TransferApi
