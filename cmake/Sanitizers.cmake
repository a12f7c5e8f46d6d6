# ASan+UBSan for the whole build when TOLVEX_SANITIZE is on. UBSan findings abort so that
# a test with undefined behaviour fails instead of printing and passing.
if(TOLVEX_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
