tessel_fuzz_target(movie_object DEPENDS tessel_formats CORPUS tests/data/movieobject)
