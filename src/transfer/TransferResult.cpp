#include "transfer/TransferResult.h"

#include "common/Files.h"

#include <QUrl>

#include <curl/curl.h>

#include <utility>

namespace orvello {

QString HttpStatusReason(int code) {
    static const std::pair<int, const char*> kNames[] = {
        {400, "Bad Request"},
        {401, "Unauthorized"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {405, "Method Not Allowed"},
        {408, "Request Timeout"},
        {410, "Gone"},
        {416, "Range Not Satisfiable"},
        {429, "Too Many Requests"},
        {500, "Internal Server Error"},
        {502, "Bad Gateway"},
        {503, "Service Unavailable"},
        {504, "Gateway Timeout"},
    };
    for (const auto& [number, name] : kNames) {
        if (number == code)
            return QStringLiteral("The server answered %1 (%2).")
                .arg(code)
                .arg(QLatin1String(name));
    }
    return QStringLiteral("The server answered %1.").arg(code);
}

bool MayPass(long httpStatus) {
    switch (httpStatus) {
    case 408:
    case 429:
    case 500:
    case 502:
    case 503:
    case 504:
        return true;
    default:
        return false;
    }
}

bool MayPass(const TransferResult& result) {
    if (result.complete())
        return MayPass(result.status);
    if (result.cancelled())
        return false;
    switch (result.failure) {
    case TransferFailure::TooSlow:
    case TransferFailure::Read:
        return true;
    case TransferFailure::NotFound:
        return result.curlCode == CURLE_COULDNT_CONNECT ||
               result.curlCode == CURLE_OPERATION_TIMEDOUT || result.curlCode == CURLE_SEND_ERROR ||
               result.curlCode == CURLE_RECV_ERROR || result.curlCode == CURLE_GOT_NOTHING;
    default:
        return false;
    }
}

QString TransferFailureReason(const TransferResult& result, const Limits& limits) {
    const QString host = QUrl::fromUserInput(result.url).host();
    switch (result.failure) {
    case TransferFailure::None:
        return QString();
    case TransferFailure::NotFound:
        switch (result.curlCode) {
        case CURLE_COULDNT_RESOLVE_HOST:
            return QStringLiteral("The host %1 was not found.").arg(host);
        case CURLE_COULDNT_CONNECT:
            return QStringLiteral("The connection to %1 was refused.").arg(host);
        case CURLE_OPERATION_TIMEDOUT:
            return QStringLiteral("The connection to %1 timed out.").arg(host);
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
            return QStringLiteral("The address is not a web address.");
        default:
            return QStringLiteral("The address could not be opened (%1).")
                .arg(QString::fromUtf8(curl_easy_strerror(CURLcode(result.curlCode))));
        }
    case TransferFailure::Read:
        return QStringLiteral("The server broke off the transfer.");
    case TransferFailure::TooSlow:
        return QStringLiteral("The server was too slow: its answer did not begin within %1 s, or "
                              "it sent less than %2 bytes a second for %3 s.")
            .arg(limits.headers.count() / 1000.0)
            .arg(limits.lowSpeedBytesPerSecond)
            .arg(limits.lowSpeedTime.count() / 1000.0);
    case TransferFailure::TooLarge:
        return QStringLiteral("The answer was larger than the %1 MiB allowed.")
            .arg(double(limits.maxBytes) / (1 << 20), 0, 'g', 4);
    case TransferFailure::Write:
        return result.error == 0 ? QStringLiteral("The file name can't be used.")
                                 : FileErrorReason(result.error);
    }
    return QString();
}

} // namespace orvello
