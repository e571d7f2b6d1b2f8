// Fuzz target for the package XML reader on its own (the .xlsx target mostly meets
// zip checksums): any bytes either read or fail with XlsxError, and what the part
// readers are handed stays consistent — positions inside the document and in
// order, depths that nest, text only while asked for.
#include "sheet/xlsx/XlsxError.h"
#include "sheet/xlsx/XmlReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

class Checker : public sheet::xlsx::XmlReader {
public:
    explicit Checker(std::size_t size) : size_(size) {}

private:
    void onStart(const sheet::xlsx::XmlElement& e) override {
        if (e.depth != static_cast<int>(open_.size()) + 1) std::abort();
        if (e.offset >= e.startTagEnd || e.startTagEnd > size_ || e.offset < last_) std::abort();
        if (document()[e.offset] != '<' || document()[e.startTagEnd - 1] != '>') std::abort();
        last_ = e.offset;
        open_.push_back(e.startTagEnd);
        for (const auto& a : *e.attributes)
            if (a.name.empty()) std::abort();
        collectText = (e.offset & 1) != 0;
    }
    void onEnd(std::string_view, std::string_view, int depth, std::size_t endOffset) override {
        if (open_.empty() || depth != static_cast<int>(open_.size())) std::abort();
        if (endOffset < open_.back() || endOffset > size_) std::abort();
        open_.pop_back();
    }
    void onText(std::string_view text) override {
        if (!collectText || text.empty()) std::abort();
    }
    std::size_t size_;
    std::size_t last_ = 0;
    std::vector<std::size_t> open_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view doc(reinterpret_cast<const char*>(data), size);
    Checker checker(size);
    try {
        checker.parse(doc, "fuzz.xml", 64);
    } catch (const sheet::xlsx::XlsxError&) {
    }
    return 0;
}
