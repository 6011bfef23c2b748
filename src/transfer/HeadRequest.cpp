#include "transfer/HeadRequest.h"

namespace orvello {

namespace {

HeaderValues NoAnswer(bool fileExists) {
    HeaderValues v;
    v.fileExists = fileExists;
    v.lastModified = QStringLiteral("Not Available");
    v.fileSize = -1;
    return v;
}

} // namespace

HeaderValues ReadHeadAnswer(const TransferResult& answer) {
    if (!answer.complete() || !answer.headersComplete)
        return NoAnswer(false);
    if (answer.headerBlockTooLong)
        return NoAnswer(answer.status == 200);
    return ReadHeaderBlock(answer.headerBlock);
}

} // namespace orvello
