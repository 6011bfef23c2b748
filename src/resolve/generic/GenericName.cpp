#include "resolve/generic/GenericName.h"

#include <QUrl>

namespace orvello {

namespace {

// Extensions a direct file keeps from its address.
constexpr const char* kFileExtensions[] = {
    "mp4",  "m4v", "webm", "mkv", "mov", "avi", "flv", "f4v", "wmv", "asf", "mpg",  "mpeg", "ts",
    "m2ts", "mts", "3gp",  "3g2", "ogv", "ogg", "oga", "mp3", "m4a", "aac", "opus", "wav",  "flac"};

// The extensions a name from an address loses: the file saved is not a playlist or a page.
constexpr const char* kDroppedExtensions[] = {"m3u8", "m3u", "mpd", "php",  "asp",
                                              "aspx", "jsp", "cgi", "html", "htm"};

// The extension of each media type that names one.
constexpr struct {
    const char* type;
    const char* extension;
} kTypeExtensions[] = {
    {"video/mp4", ".mp4"},        {"video/x-m4v", ".m4v"},     {"video/webm", ".webm"},
    {"video/x-matroska", ".mkv"}, {"video/quicktime", ".mov"}, {"video/x-msvideo", ".avi"},
    {"video/x-flv", ".flv"},      {"video/x-ms-wmv", ".wmv"},  {"video/x-ms-asf", ".asf"},
    {"video/mpeg", ".mpg"},       {"video/mp2t", ".ts"},       {"video/3gpp", ".3gp"},
    {"video/3gpp2", ".3g2"},      {"video/ogg", ".ogv"},       {"audio/mpeg", ".mp3"},
    {"audio/mp4", ".m4a"},        {"audio/x-m4a", ".m4a"},     {"audio/aac", ".aac"},
    {"audio/ogg", ".ogg"},        {"audio/opus", ".opus"},     {"audio/webm", ".webm"},
    {"audio/wav", ".wav"},        {"audio/x-wav", ".wav"},     {"audio/flac", ".flac"},
    {"audio/x-flac", ".flac"},    {"application/mp4", ".mp4"},
};

// The extension of a name's last part, with its dot, in lower case; the empty text for none.
QString ExtensionOfName(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.mid(dot).toLower() : QString();
}

template <std::size_t N> bool Listed(const QString& extension, const char* const (&list)[N]) {
    for (const char* e : list) {
        if (extension == QLatin1Char('.') + QLatin1String(e))
            return true;
    }
    return false;
}

// The address's last path segment, percent-decoded, without query or fragment. It is decoded
// after it was cut from the path, so an encoded '/' stays in it.
QString TailOf(const QString& address) {
    const QUrl url(address, QUrl::TolerantMode);
    return QUrl::fromPercentEncoding(url.fileName(QUrl::FullyEncoded).toUtf8());
}

} // namespace

QString GenericFileName(const QString& title, const QString& mediaAddress,
                        const QString& extension) {
    auto trimEnd = [](QString name) {
        while (!name.isEmpty() && (name.back() == QLatin1Char('.') || name.back().isSpace()))
            name.chop(1);
        return name;
    };
    QString name = trimEnd(title.simplified());
    if (name.isEmpty()) {
        name = TailOf(mediaAddress).simplified();
        const QString own = ExtensionOfName(name);
        if (!own.isEmpty() && (Listed(own, kDroppedExtensions) || own == extension.toLower()))
            name.chop(own.size());
        name = trimEnd(name);
    }
    if (name.isEmpty())
        name = QUrl(mediaAddress, QUrl::TolerantMode).host();
    if (name.isEmpty())
        name = QStringLiteral("video");
    if (!extension.isEmpty() && !name.endsWith(extension, Qt::CaseInsensitive))
        name += extension;
    return name;
}

QString ExtensionFor(const QString& mediaAddress, const QByteArray& contentType) {
    const QString own = ExtensionOfName(TailOf(mediaAddress));
    if (Listed(own, kFileExtensions))
        return own;
    const qsizetype semicolon = contentType.indexOf(';');
    const QByteArray type =
        (semicolon < 0 ? contentType : contentType.left(semicolon)).trimmed().toLower();
    for (const auto& known : kTypeExtensions) {
        if (type == known.type)
            return QLatin1String(known.extension);
    }
    return QStringLiteral(".mp4");
}

} // namespace orvello
