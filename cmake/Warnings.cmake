# Compiler settings shared by every target of the project.
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

# Applies the no-C++-runtime rules to a target that goes into a shipped library.
function(tkpixmap_library_code target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:${TKPIXMAP_NO_RUNTIME_FLAGS}>)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/include
                                       PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${target} PRIVATE TKPIXMAP_BUILDING=1
    TKPIXMAP_INSTALL_PREFIX="${CMAKE_INSTALL_PREFIX}")
endfunction()
