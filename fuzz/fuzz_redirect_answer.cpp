// The first portion of a redirect answer, one character per byte. The first two bytes choose
// filler characters put in front of the rest: none for three in four inputs, else 32,640 to
// 32,895 of them, so the 16-bit position limit is crossed without inputs of that size.
#include "FuzzText.h"
#include "resolve/YoutubeRedirect.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const qsizetype filler = data[0] % 4 == 0 ? 32640 + data[1] : 0;
    const QString answer =
        QString(filler, QLatin1Char('x')) + orvello::fuzz::Latin1Text(data + 2, size - 2);
    QString videoPath = QStringLiteral("untouched");
    const orvello::RedirectEnd end = orvello::ParseRedirectAnswer(answer, videoPath);
    orvello::fuzz::Require(end == orvello::RedirectEnd::Found
                               ? videoPath.startsWith(QLatin1String("/get_video?"))
                               : videoPath == QLatin1String("untouched"));
    return 0;
}
