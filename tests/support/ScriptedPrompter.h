#pragma once

#include "common/Prompter.h"

#include <deque>
#include <functional>
#include <vector>

namespace orvello::test {

// Answers message boxes from a script and records every request it was shown.
class ScriptedPrompter : public Prompter {
public:
    std::vector<MsgRequest> shown;
    std::deque<MsgAnswer> answers; // taken front first; when empty, the default below
    MsgAnswer defaultAnswer = MsgAnswer::Ok;
    std::function<void(const MsgRequest&)> onShow; // runs while the box is "open"

    MsgAnswer MsgBox(const MsgRequest& request) override {
        shown.push_back(request);
        if (onShow)
            onShow(request);
        if (answers.empty())
            return defaultAnswer;
        MsgAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
};

} // namespace orvello::test
