# xbuild_bench: building server pixmaps on Xvfb (scripts/bench-report.sh
# starts the servers).  It embeds Tcl and Tk, and takes the library's objects
# instead of the shared library, to call the colour-map and packing code
# alone; what runs is the same code the shared library holds.
bench_embeds_tk()
if(NOT bench_skip)
  set(bench_libraries tkp_tcl tkp_image tkp_pack tkp_colours tkp_gif tkp_byteorder)
  list(PREPEND bench_extra_libraries ${TCL_STUB_LIBRARY} ${TK_STUB_LIBRARY})
endif()
