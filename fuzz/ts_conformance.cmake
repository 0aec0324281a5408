tessel_fuzz_target(ts_conformance DEPENDS tessel_ts_conformance CORPUS tests/data/ts)
