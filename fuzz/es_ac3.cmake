tessel_fuzz_target(es_ac3 DEPENDS tessel_es CORPUS tests/data/es)
