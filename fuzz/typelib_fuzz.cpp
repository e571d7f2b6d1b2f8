// libFuzzer target for type library descriptions: any text is read or refused with a
// reason and a line within the text, and whatever reads answers every question about
// every type and member, and every call its description allows, without fault.
#include "platform/TypeLib.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Answering : platform::IDescribedMethods {
    HRESULT callDescribedMethod(UINT, std::span<const platform::Variant>, platform::Variant* result) override {
        *result = platform::Variant::i4(1);
        return S_OK;
    }
};

void exercise(ITypeInfo* info, UINT typeCount) {
    TYPEATTR attr{};
    if (FAILED(info->GetTypeAttr(&attr))) __builtin_trap();
    Answering object;
    for (UINT i = 0; i < attr.cFuncs; ++i) {
        FUNCDESC func{};
        if (FAILED(info->GetFuncDesc(i, &func))) __builtin_trap();
        std::u16string name, doc;
        if (FAILED(info->GetDocumentation(func.memid, &name, &doc))) __builtin_trap();
        DISPID id = DISPID_UNKNOWN;
        if (FAILED(info->GetIDsOfNames(&name, 1, &id))) __builtin_trap();
        const WORD flags = func.invkind == INVOKE_FUNC          ? DISPATCH_METHOD
                           : func.invkind == INVOKE_PROPERTYGET ? DISPATCH_PROPERTYGET
                                                                : DISPATCH_PROPERTYPUT;
        std::vector<platform::Variant> args(static_cast<std::size_t>(func.cParams));
        if (info->Invoke(&object, func.memid, flags, args, nullptr, nullptr) != S_OK) __builtin_trap();
    }
    for (UINT i = 0; i < attr.cImplTypes; ++i) {
        HREFTYPE ref = 0;
        platform::ComPtr<ITypeInfo> other;
        if (FAILED(info->GetRefTypeOfImplType(i, &ref)) || ref >= typeCount ||
            FAILED(info->GetRefTypeInfo(ref, other.put())))
            __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    platform::ComPtr<ITypeLib> lib;
    platform::TypeLibError error{};
    HRESULT hr = platform::loadTypeLibFromText(text, lib, &error);
    if (FAILED(hr)) {
        const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
        if (lib || error.reason.empty() || error.line > lines || error.code != hr) __builtin_trap();
        return 0;
    }
    const UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        platform::ComPtr<ITypeInfo> info;
        if (FAILED(lib->GetTypeInfo(i, info.put()))) __builtin_trap();
        exercise(info.get(), count);
    }
    return 0;
}
