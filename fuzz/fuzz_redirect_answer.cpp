// The first portion of a redirect answer, one character per byte. The first two bytes give a
// count of filler characters put in front of the rest, so the positions around the 16-bit
// limit are reached without inputs of that size.
#include "FuzzText.h"
#include "resolve/YoutubeRedirect.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const qsizetype filler = qsizetype(data[0]) << 8 | data[1];
    const QString answer =
        QString(filler, QLatin1Char('x')) + orvello::fuzz::Latin1Text(data + 2, size - 2);
    QString videoPath = QStringLiteral("untouched");
    const orvello::RedirectEnd end = orvello::ParseRedirectAnswer(answer, videoPath);
    orvello::fuzz::Require(end == orvello::RedirectEnd::Found
                               ? videoPath.startsWith(QLatin1String("/get_video?"))
                               : videoPath == QLatin1String("untouched"));
    return 0;
}
