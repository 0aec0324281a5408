tessel_fuzz_target(mux_raw_track DEPENDS tessel_mux CORPUS tests/data/es/mux_seeds)
