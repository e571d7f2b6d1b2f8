// Safe arrays of variants. Elements are stored with the last dimension varying
// fastest, so the cells of one row of a block lie together; nothing outside this
// file depends on that.
#include "platform/SafeArray.h"

#include "platform/Variant.h"

#include <limits>
#include <new>
#include <vector>

struct SAFEARRAY {
    std::vector<SAFEARRAYBOUND> bounds;  // bounds[0] is the first dimension
    std::vector<platform::Variant> elements;
    ULONG locks = 0;
};

namespace platform {
namespace {

// The element's position, or false when an index is outside its dimension.
bool offsetOf(const SAFEARRAY& a, const LONG* indices, std::size_t& offset) {
    std::size_t at = 0;
    for (std::size_t d = 0; d < a.bounds.size(); ++d) {
        const std::int64_t i = static_cast<std::int64_t>(indices[d]) - a.bounds[d].lLbound;
        if (i < 0 || i >= static_cast<std::int64_t>(a.bounds[d].cElements)) return false;
        at = at * a.bounds[d].cElements + static_cast<std::size_t>(i);
    }
    offset = at;
    return true;
}

// The element storage of the last large array destroyed on this thread, kept for
// the next one. A caller that lends a block of values for each call (a block of
// cells a call) would otherwise have fresh memory mapped for every block and
// every page of it faulted in; up to 4 MB of elements are kept.
constexpr std::size_t kLargestSpare = std::size_t{1} << 16;
thread_local std::vector<Variant> spareElements;

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* rgsabound) {
    if (vt != VT_VARIANT || cDims == 0 || !rgsabound) return nullptr;
    std::uint64_t count = 1;
    for (UINT d = 0; d < cDims; ++d) {
        count *= rgsabound[d].cElements;
        // The upper bound of each dimension must stay a LONG, and the whole within
        // what one index can count.
        if (count > static_cast<std::uint64_t>(std::numeric_limits<LONG>::max()) ||
            static_cast<std::int64_t>(rgsabound[d].lLbound) + rgsabound[d].cElements - 1 >
                std::numeric_limits<LONG>::max())
            return nullptr;
    }
    try {
        auto* array = new SAFEARRAY;
        array->bounds.assign(rgsabound, rgsabound + cDims);
        try {
            if (spareElements.capacity() >= count && spareElements.capacity() / 4 <= count)
                array->elements.swap(spareElements);
            array->elements.resize(static_cast<std::size_t>(count));
        } catch (...) {
            delete array;
            return nullptr;
        }
        return array;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
    if (!psa) return S_OK;
    if (psa->locks != 0) return DISP_E_ARRAYISLOCKED;
    psa->elements.clear();
    const std::size_t capacity = psa->elements.capacity();
    if (capacity <= kLargestSpare && capacity > spareElements.capacity()) spareElements.swap(psa->elements);
    delete psa;
    return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
    if (!ppsaOut) return E_INVALIDARG;
    *ppsaOut = nullptr;
    if (!psa) return S_OK;
    try {
        *ppsaOut = new SAFEARRAY{psa->bounds, psa->elements, 0};
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

UINT SafeArrayGetDim(SAFEARRAY* psa) { return psa ? static_cast<UINT>(psa->bounds.size()) : 0; }

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
    if (!psa || !plLbound) return E_INVALIDARG;
    if (nDim < 1 || nDim > psa->bounds.size()) return DISP_E_BADINDEX;
    *plLbound = psa->bounds[nDim - 1].lLbound;
    return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
    if (!psa || !plUbound) return E_INVALIDARG;
    if (nDim < 1 || nDim > psa->bounds.size()) return DISP_E_BADINDEX;
    const SAFEARRAYBOUND& b = psa->bounds[nDim - 1];
    *plUbound = static_cast<LONG>(static_cast<std::int64_t>(b.lLbound) + b.cElements - 1);
    return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
    if (!psa || !pvt) return E_INVALIDARG;
    *pvt = VT_VARIANT;
    return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, const LONG* rgIndices, Variant* pv) {
    if (!psa || !rgIndices || !pv) return E_INVALIDARG;
    std::size_t at = 0;
    if (!offsetOf(*psa, rgIndices, at)) return DISP_E_BADINDEX;
    try {
        *pv = psa->elements[at];
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, const LONG* rgIndices, const Variant* pv) {
    if (!psa || !rgIndices || !pv) return E_INVALIDARG;
    if (psa->locks != 0) return DISP_E_ARRAYISLOCKED;
    std::size_t at = 0;
    if (!offsetOf(*psa, rgIndices, at)) return DISP_E_BADINDEX;
    try {
        psa->elements[at] = *pv;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, const LONG* rgIndices, Variant** ppv) {
    if (!psa || !rgIndices || !ppv) return E_INVALIDARG;
    std::size_t at = 0;
    if (!offsetOf(*psa, rgIndices, at)) return DISP_E_BADINDEX;
    *ppv = &psa->elements[at];
    return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
    if (!psa) return E_INVALIDARG;
    if (psa->locks == std::numeric_limits<ULONG>::max()) return E_UNEXPECTED;
    ++psa->locks;
    return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
    if (!psa) return E_INVALIDARG;
    if (psa->locks == 0) return E_UNEXPECTED;
    --psa->locks;
    return S_OK;
}

SAFEARRAY* Variant::copyArray(SAFEARRAY* array) {
    SAFEARRAY* copy = nullptr;
    if (FAILED(SafeArrayCopy(array, &copy))) throw std::bad_alloc();
    return copy;
}

}  // namespace platform
