#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quenlitor {

// The first `count` user-perceived characters of `text` (UTF-8): a cut never splits an accented
// letter, an emoji sequence or a quotation mark from its combining marks.
std::string firstCharacters(std::string_view text, std::size_t count);

// True when `text` has more than `count` user-perceived characters.
bool longerThan(std::string_view text, std::size_t count);

// `text` cut to its first `count` user-perceived characters followed by "…" when it is longer.
std::string shortened(std::string_view text, std::size_t count);

// `text` in lines of at most `width` user-perceived characters, broken at spaces and line breaks
// (runs of them count as one); a word longer than a line is cut into pieces of `width`.
std::vector<std::string> wrappedLines(std::string_view text, std::size_t width);

} // namespace quenlitor
