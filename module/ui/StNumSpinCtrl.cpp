#include "module/ui/StNumSpinCtrl.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <locale.h>

namespace {

constexpr int kMiddle = 500;
constexpr int kTop = 1000;

// Numbers in the buddy always use "." whatever the user's locale, as every number
// the module reads and writes.
locale_t cLocale() {
    static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

class CLocaleScope {
public:
    CLocaleScope() : previous_(uselocale(cLocale())) {}
    ~CLocaleScope() { uselocale(previous_); }
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

private:
    locale_t previous_;
};

double atofText(const std::string& text) { return strtod_l(text.c_str(), nullptr, cLocale()); }

}  // namespace

void CStNumSpinCtrl::SetRange(double lower, double upper) {
    SetRange32(0, kTop);
    minValue_ = lower;
    maxValue_ = upper;
}

double CStNumSpinCtrl::GetPos() const {
    const CWnd* buddy = GetBuddy();
    return buddy ? atofText(buddy->windowText()) : 0.0;
}

void CStNumSpinCtrl::SetPos(double value) {
    SetPos32(kMiddle);
    if (CWnd* buddy = GetBuddy()) buddy->SetWindowTextA(formatValue(value).c_str());
}

std::string CStNumSpinCtrl::formatValue(double value) {
    CLocaleScope c;
    char shortest[64];
    std::snprintf(shortest, sizeof shortest, "%g", value);
    if (const char* point = std::strchr(shortest, '.')) {
        // Only the digits of the fraction count: in exponent form ("1.5e-07") the
        // exponent is no decimal place, and counting it would depend on the runtime's
        // exponent width.
        const int decimals = static_cast<int>(std::strcspn(point + 1, "eE"));
        if (decimals > maxDecimals_) maxDecimals_ = decimals;
    }
    char format[16];
    std::snprintf(format, sizeof format, "%%.%df", maxDecimals_);
    char text[400];  // the largest double in fixed form has 309 digits before the point
    std::snprintf(text, sizeof text, format, value);
    return text;
}

BOOL CStNumSpinCtrl::OnNotifyReflect(NMHDR* header, LRESULT* result) {
    if (header->code != UDN_DELTAPOS) return FALSE;
    CWnd* buddy = GetBuddy();
    if (!buddy) return FALSE;
    auto* nm = reinterpret_cast<NMUPDOWN*>(header);
    // Keep the integer position away from both ends so the arrows never stop
    // working. The step's size counts, not its sign: a run of down steps must be
    // caught before it reaches 0 as a run of up steps is before 1000.
    const int step = nm->iDelta < 0 ? -nm->iDelta : nm->iDelta;
    if (nm->iPos <= step || nm->iPos >= kTop - step) nm->iPos = kMiddle;
    double value = atofText(buddy->windowText()) + nm->iDelta * delta_;
    if (value > maxValue_) value = maxValue_;
    if (value < minValue_) value = minValue_;
    buddy->SetWindowTextA(formatValue(value).c_str());
    *result = 0;
    return TRUE;
}
