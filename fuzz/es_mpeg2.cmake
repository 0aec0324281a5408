tessel_fuzz_target(es_mpeg2 DEPENDS tessel_es CORPUS tests/data/es/video)
