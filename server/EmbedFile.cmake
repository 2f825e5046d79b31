# cmake -DINPUT=file -DOUTPUT=source.cpp -DNAME=Function -P EmbedFile.cmake
# Writes a C++ source whose function quorvel::server::NAME() returns the file's bytes.
file(READ ${INPUT} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
file(WRITE ${OUTPUT}.tmp
    "#include <string_view>\n"
    "namespace quorvel::server {\n"
    "namespace { constexpr char kBytes[] = {${bytes}}; }\n"
    "std::string_view ${NAME}() { return {kBytes, sizeof kBytes}; }\n"
    "}\n")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.tmp)
