tessel_fuzz_target(ts_demux DEPENDS tessel_mux CORPUS tests/data/ts tests/data/demux)
