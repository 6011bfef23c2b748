#pragma once

#include "transfer/HeaderBlock.h"
#include "transfer/TransferResult.h"

namespace orvello {

// The values the answer to a header request gives (a TransferJob of Kind::Head: HTTP/1.0
// with "Connection: keep-alive", so the transfer that follows can use the connection; the
// header block of the final response, 1024 bytes at most). Every outcome sets all of them, so
// none can describe an earlier address:
//  - a complete answer whose block fits: the values read from it with ReadHeaderBlock;
//  - a complete answer whose block is longer: only the status counts, the file exists when it
//    is 200; "Not Available", -1 and empty names otherwise;
//  - no complete answer (not made, refused, failed, timed out, cancelled): the file does not
//    exist, "Not Available", -1 and empty names.
HeaderValues ReadHeadAnswer(const TransferResult& answer);

} // namespace orvello
