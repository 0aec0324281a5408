tessel_fuzz_target(es_h264 DEPENDS tessel_es CORPUS tests/data/es/video)
