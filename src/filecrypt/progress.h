// How far a long piece of file work has got, for the tray hint and the
// command-line tool's progress line: "Encrypting file: compressing... 42%".
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace morvantile {

// The hint changes at most this often: often enough to see it move, seldom
// enough that the tray and a terminal are not flooded.
inline constexpr std::chrono::milliseconds kProgressInterval{250};

// `hint` with the percentage after it.
inline std::string progress_text(std::string_view hint, int percent) {
    return std::string(hint) + " " + std::to_string(percent) + "%";
}

// Passes on whole percentages of `total`, each only once, at most once per
// interval, and never 0 or 100: the start and the end are told by the hints
// around the work, so a short job shows no percentage at all.
class ProgressMeter {
public:
    ProgressMeter(std::uint64_t total, std::function<void(int)> show,
                  std::chrono::milliseconds interval = kProgressInterval)
        : total_(total), show_(std::move(show)), interval_(interval), last_(std::chrono::steady_clock::now()) {}

    void update(std::uint64_t done) {
        if (!show_ || total_ == 0 || done >= total_) return;
        const int percent = static_cast<int>(done * 100 / total_);
        if (percent == 0 || percent == shown_) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - last_ < interval_) return;
        last_ = now;
        shown_ = percent;
        show_(percent);
    }

private:
    std::uint64_t total_;
    std::function<void(int)> show_;
    std::chrono::milliseconds interval_;
    std::chrono::steady_clock::time_point last_;
    int shown_ = 0;
};

}  // namespace morvantile
