# Writes the C++ source that embeds the three 1024-byte writing program images.
#   cmake -DOUT=<writer_images.cc> -DIMAGE_3067F=<bin> -DIMAGE_3068F=<bin> -DIMAGE_3664F=<bin>
#         -P embed_images.cmake
set(body "")
foreach(chip 3067f 3068f 3664f)
  string(TOUPPER ${chip} key)
  set(path ${IMAGE_${key}})
  file(SIZE ${path} size)
  if(NOT size EQUAL 1024)
    message(FATAL_ERROR "${path}: ${size} bytes, a writing program image has 1024")
  endif()
  file(READ ${path} hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  # 16 bytes per line.
  string(REPEAT "0x..," 16 line)
  string(REGEX REPLACE "(${line})" "\\1\n    " bytes "${bytes}")
  string(APPEND body "const WriterImage kWriterImage${chip} = {\n    ${bytes}};\n\n")
endforeach()
set(text "// Generated at build time from the writing program images; do not edit.\n")
string(APPEND text "#include \"writer_images.h\"\n\nnamespace vexlo {\n\n${body}}  // namespace vexlo\n")
file(WRITE ${OUT} "${text}")
