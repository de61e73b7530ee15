# The same Windows build with Debian's clang as the compiler: a second compiler's warnings. It
# compiles against the MinGW-w64 headers and libstdc++ and links with the MinGW-w64 g++.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64.cmake)

set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET x86_64-w64-mingw32)
# The C++ headers of the MinGW-w64 g++ (not its compiler headers, which are GCC's own).
execute_process(COMMAND x86_64-w64-mingw32-g++-posix -print-libgcc-file-name OUTPUT_VARIABLE libgcc
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
get_filename_component(gcc_root "${libgcc}" DIRECTORY)
set(CMAKE_CXX_FLAGS_INIT "-isystem ${gcc_root}/include/c++ -isystem ${gcc_root}/include/c++/x86_64-w64-mingw32 \
-isystem ${gcc_root}/include/c++/backward")
set(CMAKE_AR x86_64-w64-mingw32-ar)
set(CMAKE_RANLIB x86_64-w64-mingw32-ranlib)
# The MinGW-w64 g++ links: it knows where its runtime libraries lie. The rule is set after the
# platform's own, which would have clang link.
set(CMAKE_USER_MAKE_RULES_OVERRIDE_CXX ${CMAKE_CURRENT_LIST_DIR}/clang-mingw-w64-link.cmake)
