tessel_fuzz_target(ts_pipe DEPENDS tessel_mux CORPUS tests/data/es/sif/pipe)
