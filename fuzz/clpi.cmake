tessel_fuzz_target(clpi DEPENDS tessel_formats CORPUS tests/data/clpi)
