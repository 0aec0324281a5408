tessel_fuzz_target(es_dts DEPENDS tessel_es CORPUS tests/data/es)
