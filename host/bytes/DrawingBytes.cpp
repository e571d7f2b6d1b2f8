#include "host/bytes/DrawingBytes.h"

#include <utility>

namespace hostbytes {

DrawingBytes::~DrawingBytes() = default;

std::optional<DrawingBytes> DrawingBytes::map(const std::string& path, std::uint64_t maxBytes,
                                              platform::FileStamp& stamp, std::size_t minBytes) {
    std::unique_ptr<LeasedMapping> mapping = LeasedMapping::open(path, maxBytes, minBytes, stamp);
    if (!mapping) return std::nullopt;
    DrawingBytes bytes;
    bytes.mapped_ = std::move(mapping);
    return bytes;
}

std::string DrawingBytes::intoString() && {
    std::string bytes = mapped_ ? std::string(mapped_->text()) : std::move(held_);
    mapped_.reset();
    held_.clear();
    return bytes;
}

platform::FileStatus DrawingBytes::writeRange(platform::AtomicFile& file, std::string_view range) const {
    const std::string_view all = text();
    if (range.data() < all.data() || range.data() >= all.data() + all.size()) return file.write(range);
    // In pieces, so that the pages of a mapping read for the save are dropped as it
    // goes instead of all becoming resident.
    constexpr std::size_t kPiece = 8u << 20;
    platform::FileStatus status;
    for (std::size_t at = 0; status && at < range.size(); at += kPiece) {
        const std::string_view piece = range.substr(at, kPiece);
        const auto offset = static_cast<std::size_t>(piece.data() - all.data());
        if (mapped_) {
            // The file's own pages serve until another program went to write the file
            // and the mapping became a copy of it as it was.
            if (!file.copiesInKernel()) mapped_->populate(offset, piece.size());
            const LeasedMapping* mapping = mapped_.get();
            status = file.copyFrom(mapping->fd(), offset, piece, [mapping] { return !mapping->isPrivateCopy(); });
        } else {
            status = file.write(piece);
        }
        noteRead(offset, piece.size());
    }
    return status;
}

}  // namespace hostbytes
