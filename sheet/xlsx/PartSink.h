// Where a part's writer hands its text on in pieces as it goes, so that a large
// part is never whole in memory.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace sheet::xlsx {

// Takes the piece and leaves the string empty for the writer to go on with.
using PartSink = std::function<void(std::string& piece)>;

// The writers hand a piece on once it holds about this much.
inline constexpr std::size_t kPartPieceBytes = 1u << 20;

}  // namespace sheet::xlsx
