# Links the clang build with the MinGW-w64 g++ (see clang-mingw-w64-x86_64.cmake).
set(CMAKE_CXX_LINK_EXECUTABLE
    "x86_64-w64-mingw32-g++-posix <FLAGS> <CMAKE_CXX_LINK_FLAGS> <LINK_FLAGS> <OBJECTS> -o <TARGET> <LINK_LIBRARIES>")
