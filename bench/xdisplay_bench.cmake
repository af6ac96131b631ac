# xdisplay_bench: one image on 1,000 canvas items against Tk's photo images,
# on Xvfb (scripts/bench-report.sh starts the servers).  It embeds Tcl and Tk
# and loads the shipped library as an application would.
bench_embeds_tk()
