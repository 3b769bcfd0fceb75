# Writes the console's page (IN) into a C++ file (OUT) as a byte array: a raw string literal of
# its size would exceed what MSVC takes in one literal.
file(READ ${IN} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n"
       bytes "${bytes}")
file(WRITE ${OUT}.new "// Written by console/EmbedPage.cmake from console/page/console.html: do not edit.\n"
     "#include \"console/ConsolePage.h\"\n\nnamespace {\nconst unsigned char kPage[] = {\n${bytes}0x00};\n}  // namespace\n\n"
     "std::string ConsolePageHtml() {\n"
     "    return std::string(reinterpret_cast<const char*>(kPage), sizeof kPage - 1);\n}\n")
# Replaced only when changed, so that an unchanged page recompiles nothing.
file(COPY_FILE ${OUT}.new ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.new)
