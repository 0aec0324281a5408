tessel_fuzz_target(es_lpcm DEPENDS tessel_es CORPUS tests/data/es)
