tessel_fuzz_target(es_stream_info DEPENDS tessel_es CORPUS tests/data/es/sif)
