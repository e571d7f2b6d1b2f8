// Safe arrays of variants: what automation passes where one call carries many
// values, such as the values of a block of cells. Bounds are kept per dimension
// with their own lower bound (a range's values count from 1); elements are reached
// only through these calls, never by assuming a memory layout.
#pragma once

#include "platform/WinTypes.h"

// VARTYPE flag: the variant holds a SAFEARRAY of the type in the low bits.
constexpr VARTYPE VT_ARRAY = 0x2000;

struct SAFEARRAYBOUND {
    ULONG cElements;
    LONG lLbound;
};

// Opaque: created, read and destroyed only through the calls below.
struct SAFEARRAY;

namespace platform {

class Variant;

// A new array of cDims dimensions, every element VT_EMPTY; rgsabound[0] describes
// the first dimension (the rows of a block of cells). Only VT_VARIANT elements are
// modelled. Null for no dimensions, another element type, or more elements than a
// 32-bit index can count.
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* rgsabound);
// Frees the array and clears its elements (releasing their objects). A null array
// is S_OK; a locked one DISP_E_ARRAYISLOCKED and stays.
HRESULT SafeArrayDestroy(SAFEARRAY* psa);
// A deep copy: every element copied as a variant is. Null in, null out.
HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut);

UINT SafeArrayGetDim(SAFEARRAY* psa);
// nDim counts from 1; DISP_E_BADINDEX outside 1..cDims. An empty dimension has an
// upper bound one below its lower bound.
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound);
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound);
HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt);

// rgIndices holds one index per dimension, rgIndices[0] for the first. An index
// outside its dimension's bounds is DISP_E_BADINDEX and touches nothing; a locked
// array refuses PutElement with DISP_E_ARRAYISLOCKED. GetElement copies the element
// into *pv (replacing what it held); PutElement copies *pv into the element.
HRESULT SafeArrayGetElement(SAFEARRAY* psa, const LONG* rgIndices, Variant* pv);
HRESULT SafeArrayPutElement(SAFEARRAY* psa, const LONG* rgIndices, const Variant* pv);
// The element itself, for reading or filling without a copy; valid while the array
// lives. Callers that keep the pointer across other calls lock the array.
HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, const LONG* rgIndices, Variant** ppv);
HRESULT SafeArrayLock(SAFEARRAY* psa);
HRESULT SafeArrayUnlock(SAFEARRAY* psa);

}  // namespace platform
