tessel_fuzz_target(disc_model DEPENDS tessel_model CORPUS tests/data/discs)
