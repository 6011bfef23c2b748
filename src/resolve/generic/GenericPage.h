#pragma once

#include "resolve/generic/MediaAddress.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QUrl>

namespace orvello {

// What an answer is, told from its Content-Type and its first bytes before the rest is read.
enum class AnswerKind {
    Html,         // a page to look for the video in
    Media,        // the video (or sound) file itself
    HlsPlaylist,  // an HLS playlist
    DashManifest, // a DASH manifest
};

// How many first bytes ClassifyAnswer looks at; more are not needed.
inline constexpr qsizetype kClassifyBytes = 1024;

// Tells what an answer is from its Content-Type value (parameters and letter case ignored)
// and its first bytes (a byte-order mark and blanks at its start skipped):
//  - HlsPlaylist: application/vnd.apple.mpegurl, application/x-mpegurl, audio/mpegurl,
//    audio/x-mpegurl, or a body that begins with "#EXTM3U";
//  - DashManifest: application/dash+xml, or a body whose root element is <MPD>;
//  - Media: any other video/* or audio/* type;
//  - Html: a body that begins with '<', or a text/html or XHTML type with a body of text (a
//    page may begin with a stray line before its markup; a file in it would not be text);
//  - Media: everything else (a direct file).
AnswerKind ClassifyAnswer(const QByteArray& contentType, QByteArrayView firstBytes);

// The largest page read; the rest of a longer one is not looked at.
inline constexpr qsizetype kMaxPageBytes = 8 * 1024 * 1024;

// A fetched page, as the answer gave it.
struct PageInput {
    QByteArray body;        // at most kMaxPageBytes are read
    QByteArray contentType; // the Content-Type value, its charset parameter included
    QUrl address;           // the page's final address, after redirects
    bool challenge = false; // the answer carried "cf-mitigated: challenge"
};

using generic::MediaKind;

// Where a page's video is, or why it can't be had.
struct PageFinding {
    enum class Outcome {
        Media,   // `address` is the video (`kind` says its form)
        Refresh, // the page sends the reader on to `address` (follow it once)
        Miss,    // `reason` says why there is no video
    };
    Outcome outcome = Outcome::Miss;
    QString address;
    MediaKind kind = MediaKind::Direct;
    // For a miss, in words a user understands. A miss for a DASH-only, protected or live
    // video still names the best `address` and `kind` found.
    QString reason;
    // The page's title: og:title, else the JSON-LD video's name, else <title>; character
    // references decoded, blanks collapsed, not yet made into a file name.
    QString title;
};

// The texts of the misses.
inline const QString kReasonScriptFed =
    QStringLiteral("The page's player is fed by a script; the page holds no video address.");
inline const QString kReasonChallenge = QStringLiteral(
    "The page asks for a browser check (a challenge page), which Orvello can't pass.");
inline const QString kReasonDrm =
    QStringLiteral("The video is protected against copying (DRM), which Orvello can't save.");
inline const QString kReasonLive =
    QStringLiteral("The video is a live stream, which Orvello can't download.");
inline const QString kReasonDashOnly =
    QStringLiteral("The page offers only a DASH manifest, which Orvello can't download yet.");
inline const QString kReasonNoVideo = QStringLiteral("The page holds no video.");

// Finds the video on a page no site knows. A pure function of the page: no network, no files.
//
// The places looked in, in this order; the first that names a video that can be had wins:
//  1. <video> and <video-js> elements with their <source>s (src, data-src, data-video-src,
//     ...), and elements whose data attributes name a media file;
//  2. JSON-LD: the contentUrl of every VideoObject (in @graph, in arrays, as an article's
//     video);
//  3. og:video:secure_url, og:video:url, og:video, then twitter:player:stream;
//  4. player setups in inline scripts: JW Player's .setup({...}), Video.js's .src({...}) and
//     videojs(element, {...}), and data-setup attributes.
// Within a place the best source wins by height, then bitrate, then page order. DASH
// manifests, protected sources and live streams are taken only when nothing else is found,
// and then as a miss that says so. Without a video the page's meta refresh is followed;
// otherwise the miss says why: a browser check, protection, a live stream, a player fed by a
// script, or no video at all.
PageFinding FindVideoOnPage(const PageInput& in);

} // namespace orvello
