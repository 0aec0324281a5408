tessel_fuzz_target(ts_parsers DEPENDS tessel_ts CORPUS tests/data/ts)
