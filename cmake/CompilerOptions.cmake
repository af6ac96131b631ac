# Compiler settings shared by every target of the project: warnings, threads,
# and whether this is a sanitised build.
find_package(Threads REQUIRED)

add_compile_options(-Wall -Wextra -Wshadow -Wno-unused-parameter)
if(TKPIXMAP_WERROR)
  add_compile_options(-Werror)
endif()

# Set by the asan/tsan presets: the library then needs the sanitizer runtime,
# which only the C++ driver links in.
if(CMAKE_CXX_FLAGS MATCHES "-fsanitize=")
  set(TKPIXMAP_SANITIZED ON)
else()
  set(TKPIXMAP_SANITIZED OFF)
endif()
