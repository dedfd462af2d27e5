#include "archive/batch_progress.h"

#include <algorithm>
#include <cmath>

BatchProgress::BatchProgress(std::vector<std::optional<std::uint64_t>> stream_sizes) : sizes_(std::move(stream_sizes))
{
    for (const std::optional<std::uint64_t>& size : sizes_) {
        if (size)
            in_all_ += *size;
        else
            all_known_ = false;
    }
}

BatchPlace BatchProgress::place(std::size_t number, bool second_look, double seconds) const
{
    BatchPlace place { number, sizes_.size(), second_look, sizes_.at(number - 1), done_ };
    if (!all_known_)
        return place;
    place.bytes_in_all = in_all_;
    if (done_ > 0 && seconds >= seconds_before_a_rate) {
        double rate = static_cast<double>(done_) / seconds;
        double left = static_cast<double>(in_all_ - std::min(done_, in_all_)) / rate;
        place.seconds_left = static_cast<std::uint64_t>(std::ceil(left));
    }
    return place;
}

void BatchProgress::turn_done(std::size_t number, std::uint64_t bytes_worked)
{
    done_ += bytes_worked;
    if (const std::optional<std::uint64_t>& size = sizes_.at(number - 1))
        in_all_ = in_all_ - std::min(*size, in_all_) + bytes_worked;
}
