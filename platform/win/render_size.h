// Picks the size full-screen 3D is drawn at: the largest the desktop wants to
// start with, one step smaller whenever 3D passes take longer than a display
// frame three times running, and one step larger again only after two seconds
// of passes that would still fit at the larger size.
#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/render_scale.h"
#include "platform/win/env.h"

class ScaleChooser {
public:
    // Sizes from `largest` (1 to kMaxRenderScale) down by a fifth at a time,
    // then 1.
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

// The backends' part of sysRenderScale and sysRenderSamples where there is a
// real display: full-screen 3D drawn at the display's own size (2.25 times
// 640 x 480 on a 1080-line screen, 4.5 on a 2160-line one), smaller while
// passes run long (ScaleChooser); VELKOR_SCALE (1 to 4.5) fixes the size and
// VELKOR_AA=1 smooths the edges (four coverage samples a pixel). Both are read, and a
// value not understood is named, when the program starts.
class RenderSize {
public:
    RenderSize()
        : fixed_(envSetting("VELKOR_SCALE", 1, kMaxRenderScale, false, 0,
                            "the size follows the display and the drawing time")),
          samples_(envSetting("VELKOR_AA", 0, 1, true, 0, "edges are not smoothed") == 1 ? 2 : 1) {}

    // At the start of a pass (`now` in ticks): the size to draw at. The
    // display's size is asked of `desktop` once, for the largest.
    template <class Desktop>
    double startPass(int64_t now, Desktop desktop) {
        passStart_ = now;
        if (fixed_ > 0) return fixed_;
        if (!chooser_) {
            int w = 0, h = 0;
            double largest = 1.0;
            if (desktop(&w, &h)) largest = displayScale(w, h);
            chooser_ = new ScaleChooser(largest);
        }
        return chooser_->scale();
    }
    // The largest size for a `width` x `height` display: 640 x 480 enlarged
    // as far as it fits (2.25 on 1920 x 1080, 4.5 on 3840 x 2160), from 1 to
    // kMaxRenderScale.
    static double displayScale(int width, int height) {
        return std::clamp(std::min(width / 640.0, height / 480.0), 1.0, kMaxRenderScale);
    }
    int samples() const { return samples_; }

    // The pass that started last is presented now, on a display whose frame
    // lasts `frameMs`.
    void presented(int64_t now, double frameMs) {
        if (chooser_ && passStart_ != 0) chooser_->passed((now - passStart_) / 10000.0, frameMs);
    }

private:
    double fixed_;
    int samples_;
    ScaleChooser* chooser_ = nullptr;  // kept for the whole run
    int64_t passStart_ = 0;
};
