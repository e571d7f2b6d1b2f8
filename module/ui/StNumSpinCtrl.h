// A spin control that edits a floating-point number kept as text in its buddy edit
// box. The spin's own integer position only keeps the arrows working; the number
// lives in the buddy, is stepped by `delta` within the range and written with as
// many decimals as the most precise value shown so far.
#pragma once

#include "platform/ui/SpinButton.h"

#include <limits>
#include <string>

// Owned by its dialog page; main thread only.
class CStNumSpinCtrl : public CSpinButtonCtrl {
public:
    virtual void SetDelta(double delta) { delta_ = delta; }
    virtual double GetDelta() const { return delta_; }
    virtual void GetRange(double& lower, double& upper) const {
        lower = minValue_;
        upper = maxValue_;
    }
    // The spin's integer range becomes 0..1000; the buddy's text is left as it is,
    // even when it lies outside the new bounds.
    virtual void SetRange(double lower, double upper);
    // The buddy's text read as atof reads it ("12abc" is 12, "abc" 0); 0.0 without
    // a buddy.
    virtual double GetPos() const;
    // Writes the value to the buddy (unclamped); without a buddy only the spin's
    // integer position changes.
    virtual void SetPos(double value);

    int maxDecimals() const noexcept { return maxDecimals_; }
    // The text the control writes for `value`; raises maxDecimals as a side effect.
    std::string formatValue(double value);

    // UDN_DELTAPOS: steps the buddy's number.
    BOOL OnNotifyReflect(NMHDR* header, LRESULT* result) override;

private:
    // The smallest positive double, not the most negative one: a control left at
    // its default range cannot step below zero.
    double minValue_ = std::numeric_limits<double>::min();
    double maxValue_ = std::numeric_limits<double>::max();
    double delta_ = 1.0;
    int maxDecimals_ = 0;
};
