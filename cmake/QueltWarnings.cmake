# Compiler flags shared by every target of the project.
#
# -ffp-contract=off keeps floating-point results independent of whether the
# target has fused multiply-add: encoding rounds scaled doubles to integers, and
# a contracted a*b+c can round differently from the separate operations.
add_compile_options(-ffp-contract=off)

if(QUELT_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()
if(QUELT_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

function(quelt_set_warnings target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra>)
  if(QUELT_WERROR)
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Werror>)
  endif()
endfunction()
