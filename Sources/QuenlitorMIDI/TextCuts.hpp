#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quenlitor {

// The first `count` user-perceived characters of `text` (UTF-8): a cut never splits an accented
// letter, an emoji sequence or a quotation mark from its combining marks.
std::string firstCharacters(std::string_view text, std::size_t count);

// True when `text` has more than `count` user-perceived characters.
bool longerThan(std::string_view text, std::size_t count);

// `text` cut to its first `count` user-perceived characters followed by "…" when it is longer.
std::string shortened(std::string_view text, std::size_t count);

} // namespace quenlitor
