tessel_fuzz_target(index DEPENDS tessel_formats CORPUS tests/data/index)
