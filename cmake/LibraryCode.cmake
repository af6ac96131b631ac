# What the code of a shipped library is compiled with.

# The library must not need a C++ runtime: no exceptions, no RTTI, and it is
# linked by the C driver so that a stray libstdc++ reference fails the link.
set(TKPIXMAP_NO_RUNTIME_FLAGS -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables)

# Applies the no-C++-runtime rules to a target that goes into a shipped library.
function(tkpixmap_library_code target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:${TKPIXMAP_NO_RUNTIME_FLAGS}>)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/include
                                       PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${target} PRIVATE TKPIXMAP_BUILDING=1
    TKPIXMAP_INSTALL_PREFIX="${CMAKE_INSTALL_PREFIX}")
endfunction()
