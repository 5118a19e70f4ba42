# Cross-build of the same console program for 64-bit Windows. Only the tests
# use it, where the kernel starts no 32-bit programs; the product is the
# 32-bit build.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
