// The generic resolver over any bytes. The whole input is a page's body for FindVideoOnPage;
// split at its first line end, it is a Content-Type value and an answer's first bytes for
// ClassifyAnswer (the type is the page's too, so its charset is read). The script reader gets
// the input as a script, and the name is made from what was found.
#include "FuzzText.h"
#include "resolve/generic/GenericName.h"
#include "resolve/generic/GenericPage.h"
#include "resolve/generic/ScriptValues.h"

#include <QUrl>

namespace {

// A found address is an absolute http or https address.
bool IsWebAddress(const QString& address) {
    const QUrl url(address, QUrl::StrictMode);
    return url.isValid() && !url.host().isEmpty() &&
           (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace orvello;
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype newline = bytes.indexOf('\n');
    const QByteArray type = newline < 0 ? QByteArray() : bytes.left(newline);
    ClassifyAnswer(type,
                   newline < 0 ? QByteArrayView(bytes) : QByteArrayView(bytes).sliced(newline + 1));

    PageInput in;
    in.body = bytes;
    in.contentType = type;
    in.address = QUrl(QStringLiteral("https://www.example.com/dir/page.html?q=1"));
    const PageFinding found = FindVideoOnPage(in);
    switch (found.outcome) {
    case PageFinding::Outcome::Media:
    case PageFinding::Outcome::Refresh:
        fuzz::Require(IsWebAddress(found.address) && found.reason.isEmpty());
        break;
    case PageFinding::Outcome::Miss:
        fuzz::Require(!found.reason.isEmpty());
        fuzz::Require(found.address.isEmpty() || IsWebAddress(found.address));
        break;
    }
    fuzz::Require(
        !GenericFileName(found.title, found.address, ExtensionFor(found.address, type)).isEmpty());

    const QString script = QString::fromUtf8(bytes);
    generic::ReadScriptValue(script);
    generic::FindPlayerCalls(script);
    return 0;
}
