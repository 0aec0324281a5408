tessel_fuzz_target(es_graphics DEPENDS tessel_es CORPUS tests/data/es)
