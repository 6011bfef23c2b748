#include "transfer/HeadRequest.h"

#include "common/WireText.h"
#include "transfer/CurlSession.h"

#include <algorithm>

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

bool HeadRequest::Start(CurlSession& session, const QString& url, const Settings& settings) {
    capture_ = Capture{};
    if (!easy_.Make(WireUrl(url), session.userAgent(), settings.connect))
        return false;
    CURL* easy = easy_.get();
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_0));
    if (!extraHeaders_)
        extraHeaders_.reset(curl_slist_append(nullptr, "Connection: keep-alive"));
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, extraHeaders_.get());
    // The whole answer of a header request is its headers.
    curl_easy_setopt(
        easy, CURLOPT_TIMEOUT_MS,
        static_cast<long>(std::max<std::chrono::milliseconds::rep>(settings.headers.count(), 1)));
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &HeadRequest::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &capture_);
    if (!settings.user.isEmpty()) { // libcurl keeps copies of both
        curl_easy_setopt(easy, CURLOPT_USERNAME, settings.user.toUtf8().constData());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, settings.password.toUtf8().constData());
    }
    return easy_.Start(session);
}

HeaderValues HeadRequest::Finish() {
    const bool answered = Done() && easy_.end().result == CURLE_OK && capture_.complete;
    const long status = answered ? easy_.ResponseCode() : 0;
    easy_.Release();
    if (!answered)
        return NoAnswer(false);
    if (capture_.tooLong)
        return NoAnswer(status == 200);
    return ReadHeaderBlock(capture_.block);
}

size_t HeadRequest::OnHeader(char* data, size_t size, size_t count, void* user) {
    auto& c = *static_cast<Capture*>(user);
    const size_t length = size * count;
    if (c.complete) // a further response follows a redirect or an interim one
        c = Capture{};
    if (IsHeaderBlockEnd(data, length)) {
        c.complete = true;
    } else if (!c.tooLong) {
        if (c.block.size() + qsizetype(length) > kHeaderBlockLimit) {
            c.tooLong = true;
            c.block.clear();
        } else {
            c.block.append(data, qsizetype(length));
        }
    }
    return length;
}

} // namespace orvello
