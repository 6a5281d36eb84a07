#pragma once

// What the caller of an upload hands to the transfer manager to find again in the transfer's
// callbacks. Callers derive from it and cast the handle's context back to their own type.
class S3TransferContext
{
public:
    S3TransferContext() = default;
    S3TransferContext(const S3TransferContext &) = default;
    S3TransferContext &operator=(const S3TransferContext &) = default;
    virtual ~S3TransferContext() = default;
};
