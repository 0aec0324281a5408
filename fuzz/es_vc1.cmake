tessel_fuzz_target(es_vc1 DEPENDS tessel_es CORPUS tests/data/es/vc1)
