# xicons_bench: 500 small GIF files loaded and shown, against Tk photo images,
# on Xvfb (scripts/bench-report.sh starts the servers).  It embeds Tcl and Tk
# and loads the shipped library as an application would.
bench_embeds_tk()
