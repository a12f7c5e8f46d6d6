# Warnings for every target of ours; -Werror when TOLVEX_WERROR is on (CI presets).
function(tolvex_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${TOLVEX_WERROR}>:/WX>)
    else()
        target_compile_options(${target} PRIVATE
            -Wall -Wextra -Wshadow -Wconversion -Wsign-conversion -Wnon-virtual-dtor
            -Wold-style-cast -Woverloaded-virtual -Wnull-dereference -Wdouble-promotion
            -Wformat=2 -Wimplicit-fallthrough
            $<$<BOOL:${TOLVEX_WERROR}>:-Werror>)
    endif()
endfunction()
