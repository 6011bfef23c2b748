#include "transfer/EasyHandle.h"

#include <algorithm>

namespace orvello {

namespace {

constexpr long kMaxRedirects = 20;

} // namespace

bool EasyHandle::Make(const QByteArray& wireUrl, const QByteArray& agent,
                      std::chrono::milliseconds connectTimeout) {
    Release();
    if (wireUrl.contains('\0'))
        return false;
    easy_ = curl_easy_init();
    if (!easy_)
        return false;
    curl_easy_setopt(easy_, CURLOPT_URL, wireUrl.constData());
    curl_easy_setopt(easy_, CURLOPT_USERAGENT, agent.constData());
    curl_easy_setopt(easy_, CURLOPT_PROXY, ""); // never a proxy, whatever the environment says
    curl_easy_setopt(easy_, CURLOPT_DEFAULT_PROTOCOL, "http");
    curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(
        easy_, CURLOPT_CONNECTTIMEOUT_MS,
        static_cast<long>(std::max<std::chrono::milliseconds::rep>(connectTimeout.count(), 1)));
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    return true;
}

bool EasyHandle::Start(CurlSession& session, std::function<void()> activity,
                       std::function<void()> finished) {
    if (!easy_)
        return false;
    session_ = &session;
    end_.activity = std::move(activity);
    end_.finished = std::move(finished);
    if (session.add(easy_, &end_))
        return true;
    Release();
    return false;
}

void EasyHandle::Release() {
    if (!easy_)
        return;
    if (session_)
        session_->remove(easy_); // safe for a handle that never got onto it
    curl_easy_cleanup(easy_);
    easy_ = nullptr;
    session_ = nullptr;
}

long EasyHandle::ResponseCode() const {
    long code = 0;
    if (easy_)
        curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
    return code;
}

std::int64_t EasyHandle::ContentLength() const {
    curl_off_t length = -1;
    if (!easy_ || curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK)
        return -1;
    return std::int64_t(length);
}

} // namespace orvello
