// Picks the size full-screen 3D is drawn at: the largest the desktop wants to
// start with, one step smaller whenever 3D passes take longer than a display
// frame three times running, and one step larger again only after two seconds
// of passes that would still fit at the larger size.
#pragma once
#include <vector>

class ScaleChooser {
public:
    // Sizes from `largest` (1 to 4) down by a fifth at a time, then 1.
    explicit ScaleChooser(double largest) {
        for (double s = largest; s > 1.0; s *= 0.8) ladder_.push_back(s);
        ladder_.push_back(1.0);
    }
    double scale() const { return ladder_[step_]; }

    // A 3D pass drew for `workMs` of a display frame of `frameMs`.
    void passed(double workMs, double frameMs) {
        if (workMs > frameMs * kBusy) {
            calmMs_ = 0;
            if (++late_ >= kLateToStepDown && step_ + 1 < ladder_.size()) {
                step_++;
                late_ = 0;
            }
            return;
        }
        late_ = 0;
        // Drawing time grows with the area: would the larger size still fit?
        if (step_ == 0) return;
        const double grow = ladder_[step_ - 1] / ladder_[step_];
        if (workMs * grow * grow < frameMs * kRoom) {
            calmMs_ += frameMs;
            if (calmMs_ >= kCalmToStepUpMs) {
                step_--;
                calmMs_ = 0;
            }
        } else {
            calmMs_ = 0;
        }
    }

private:
    static constexpr double kBusy = 0.9;            // of a frame: a pass this long is late
    static constexpr double kRoom = 0.75;           // a larger size must leave this much
    static constexpr int kLateToStepDown = 3;
    static constexpr double kCalmToStepUpMs = 2000;
    std::vector<double> ladder_;
    size_t step_ = 0;
    int late_ = 0;
    double calmMs_ = 0;
};
