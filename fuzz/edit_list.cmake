tessel_fuzz_target(edit_list DEPENDS tessel_model CORPUS tests/data/edit_lists)
