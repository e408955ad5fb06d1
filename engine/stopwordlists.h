#pragma once

// The stop-word lists built into the program: the files of engine/stopwords/, made into a source
// file by the build (engine/stopwords/embed.cmake).

#include <cstddef>
#include <span>

namespace corvalen::stopwords {

struct List
{
    const char *code; ///< the language code, the file's name
    const char *text; ///< the file's UTF-8 text
    size_t size;      ///< in bytes
};

/// The lists, by language code in alphabetical order.
std::span<const List> lists();

} // namespace corvalen::stopwords
