#pragma once

#include <QString>
#include <QStringView>
#include <QUrl>

#include <optional>

namespace orvello::generic {

// The form a media address takes: a file fetched whole, an HLS playlist, or a DASH manifest.
enum class MediaKind { Direct, Hls, Dash };

// What a `type` text ("video/mp4", "application/x-mpegURL", or a player's short "hls",
// "dash", "mp4") says of a source. Unknown when it says nothing; NotMedia when it names
// something that is not a video file (a page, a flash or embedded player, a stream over a
// protocol other than HTTP).
enum class TypeVerdict { Unknown, Direct, Hls, Dash, NotMedia };
TypeVerdict VerdictOfType(QStringView type);

// Decodes character references (&amp; &#38; &#x26; and every named one of HTML 4, plus
// &apos;). A reference counts only with its closing ';'; anything else stays as written.
QString DecodeEntities(const QString& text);

// The address a page's text names, made absolute: entities decoded, "\/" unescaped, blanks
// around it and line breaks and tabs inside it removed, resolved against `base`. Nothing
// unless the result is an http or https address with a host whose path does not end in the
// extension of an image, a script, a style sheet, a subtitle, a page or a flash player.
std::optional<QUrl> MediaAddress(const QString& text, const QUrl& base);

// Whether the address's path ends in the extension of a media file, a playlist or a manifest
// (".mp4", ".m3u8", ".mpd", ...): a data attribute of any element is taken for a video only so.
bool HasMediaExtension(const QUrl& address);

// The kind of a source: a type that names HLS or DASH decides, else an address ending in
// ".m3u8"/".m3u" or ".mpd", else a file.
MediaKind KindOf(const QUrl& address, TypeVerdict type);

// The picture height a quality text gives: "720p", "1080p60", "1280x720", "720", "4K", "HD"
// (720), "Full HD" (1080), "SD" (480); 0 when it gives none.
int HeightOfText(QStringView text);

// The bitrate a text gives, in bits a second: "1200kbps", "1.5 Mbps", "800k", or a bare
// number taken as it is; 0 when it gives none.
double BitrateOfText(QStringView text);

} // namespace orvello::generic
