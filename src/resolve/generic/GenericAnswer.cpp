#include "resolve/generic/GenericAnswer.h"

namespace orvello {

GenericAnswer ReadGenericAnswer(const PageInput& page) {
    GenericAnswer answer;
    switch (ClassifyAnswer(page.contentType, QByteArrayView(page.body).first(
                                                 std::min(page.body.size(), kClassifyBytes)))) {
    case AnswerKind::Media:
        answer.outcome = GenericAnswer::Outcome::File;
        return answer;
    case AnswerKind::HlsPlaylist:
        answer.outcome = GenericAnswer::Outcome::Hls;
        return answer;
    case AnswerKind::DashManifest:
        answer.reason = kReasonDashManifest;
        return answer;
    case AnswerKind::Html:
        break;
    }
    const PageFinding finding = FindVideoOnPage(page);
    answer.title = finding.title;
    answer.address = finding.address;
    switch (finding.outcome) {
    case PageFinding::Outcome::Refresh:
        answer.outcome = GenericAnswer::Outcome::Refresh;
        break;
    case PageFinding::Outcome::Media:
        if (finding.kind == MediaKind::Direct)
            answer.outcome = GenericAnswer::Outcome::Media;
        else if (finding.kind == MediaKind::Hls)
            answer.outcome = GenericAnswer::Outcome::Hls;
        else
            answer.reason = kReasonDashManifest;
        break;
    case PageFinding::Outcome::Miss:
        answer.reason = finding.reason == kReasonDashOnly ? kReasonDashManifest : finding.reason;
        break;
    }
    return answer;
}

} // namespace orvello
