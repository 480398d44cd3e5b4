// Recording fakes of the small interfaces the core reports through.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_file.h"
#include "config/settings.h"
#include "textcrypt/error_reporter.h"

namespace morvantile::test {

struct RecordingErrors : ErrorReporter {
    std::vector<std::string> shown;
    void show_error(std::string_view message) override { shown.emplace_back(message); }
};

// Answers the list-password prompt from a script: a text is typed and
// confirmed with OK, nullopt is Cancel. An exhausted script cancels.
struct ScriptedListPrompt : ListPasswordPrompt {
    explicit ScriptedListPrompt(RuntimeState& runtime) : runtime(runtime) {}
    RuntimeState& runtime;
    std::deque<std::optional<std::string>> answers;
    std::vector<int> kinds;
    std::vector<std::string> prompts;

    bool setpasswordpasswordlist(int kind) override {
        kinds.push_back(kind);
        prompts.push_back(runtime.PromptText);
        if (answers.empty()) return false;
        std::optional<std::string> answer = answers.front();
        answers.pop_front();
        if (!answer) return false;
        runtime.ListPassword = *answer;
        return true;
    }
};

}  // namespace morvantile::test
