# Turns the resource manifest into a C++ source with one byte array a
# resource. Run as: cmake -DMANIFEST=<file> -DOUTPUT=<file> -P EmbedResources.cmake
# Manifest lines: <type>|<name>|<absolute path>
file(STRINGS ${MANIFEST} entries)
set(body "")
set(table "")
set(index 0)
foreach(entry IN LISTS entries)
    string(REPLACE "|" ";" parts "${entry}")
    list(GET parts 0 type)
    list(GET parts 1 name)
    list(GET parts 2 path)
    file(READ ${path} hex HEX)
    string(LENGTH "${hex}" hexlen)
    math(EXPR size "${hexlen} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    # One line of 16 bytes keeps the generated file readable for diffs.
    string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n" bytes "${bytes}")
    string(APPEND body "static const unsigned char r${index}[] = {\n${bytes}0};\n")
    string(APPEND table "    {\"${type}\", \"${name}\", r${index}, ${size}},\n")
    math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUTPUT}.tmp
"// Generated from the resource manifest; do not edit.
#include \"platform/base/resources.h\"

${body}
extern const lum::platform::ResourceEntry kLumResources[] = {
${table}    {\"\", \"\", nullptr, 0}};
extern const std::size_t kLumResourceCount = ${index};
")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
