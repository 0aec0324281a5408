tessel_fuzz_target(sound DEPENDS tessel_formats CORPUS tests/data/sound)
