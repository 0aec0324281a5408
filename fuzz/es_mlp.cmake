tessel_fuzz_target(es_mlp DEPENDS tessel_es CORPUS tests/data/es)
