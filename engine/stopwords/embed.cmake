# Writes OUTPUT, a C++ source that defines corvalen::stopwords::lists() with the text of every
# stop-word list in the folder LISTS (<code>.txt, named after its language code).
#   cmake -DOUTPUT=... -DLISTS=... -P embed.cmake
set(arrays "")
set(entries "")
file(GLOB paths "${LISTS}/*.txt")
list(SORT paths)
foreach(path IN LISTS paths)
    get_filename_component(code "${path}" NAME_WE)
    file(READ "${path}" hex HEX)
    string(LENGTH "${hex}" digits)
    math(EXPR bytes "${digits} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," hex "${hex}")
    string(APPEND arrays "const char ${code}Text[] = {${hex}};\n")
    string(APPEND entries "    {\"${code}\", ${code}Text, ${bytes}},\n")
endforeach()
file(WRITE "${OUTPUT}.new" "// Made by engine/stopwords/embed.cmake from engine/stopwords/*.txt; do not edit.
#include \"engine/stopwordlists.h\"

namespace corvalen::stopwords {

namespace {
${arrays}
const List kLists[] = {
${entries}};
} // namespace

std::span<const List> lists()
{
    return kLists;
}

} // namespace corvalen::stopwords
")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
