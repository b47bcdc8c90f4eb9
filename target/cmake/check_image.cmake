# Checks a writing program's raw binary (the program alone, before padding) against the
# 1024-byte boot-mode transfer and prints its size.
#   cmake -DRAW=<program.raw> -DNAME=<writer-xxxx.bin> -DLIMIT=1024 -P check_image.cmake
file(SIZE ${RAW} program_bytes)
if(program_bytes GREATER LIMIT)
  message(FATAL_ERROR "${NAME}: ${program_bytes} bytes of program, more than the ${LIMIT} bytes "
                      "the boot mode transfers")
endif()
math(EXPR fill_bytes "${LIMIT} - ${program_bytes}")
message("${NAME}: ${program_bytes} bytes of program, ${fill_bytes} bytes 0xFF")
