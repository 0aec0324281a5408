tessel_fuzz_target(mpls DEPENDS tessel_formats CORPUS tests/data/mpls)
